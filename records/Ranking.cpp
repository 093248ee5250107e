#include "Ranking.h"

#include "Csv.h"
#include "Database.h"
#include "FloatText.h"
#include "Names.h"
#include "NumberText.h"
#include "SpeedTable.h"
#include "WholeFile.h"

#include <QCoreApplication>
#include <QSqlRecord>

RankingModel::RankingModel(QObject* parent) : PagedModel(parent) {}

QString RankingModel::statement() {
    return SpeedTable::rankingStatement();
}

void RankingModel::refresh() {
    QVector<SpeedTable::RankedRow> first = SpeedTable::rankingPage(nullptr, kPageRows);
    beginResetModel();
    more_ = first.size() == kPageRows;
    rows_ = std::move(first);
    endResetModel();
}

void RankingModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid())
        return;
    appendPage(rows_, kPageRows, [this] {
        return SpeedTable::rankingPage(rows_.isEmpty() ? nullptr : &rows_.back(), kPageRows);
    });
}

int RankingModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}
int RankingModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString RankingModel::tpid(int row) const {
    return row >= 0 && row < rows_.size() ? rows_[row].tpid : QString();
}
QString RankingModel::name(int row) const {
    return row >= 0 && row < rows_.size() ? rows_[row].name : QString();
}

QString RankingModel::speedText(int row) const {
    if (row < 0 || row >= rows_.size() || rows_[row].speedValue.isNull())
        return {};
    // A best speed that is no number by the table's rule is shown as stored.
    const QVariant& v = rows_[row].speedValue;
    const std::optional<double> d = v.metaType().id() == QMetaType::QString
                                        ? TextToFloat(v.toString())
                                        : FiniteFloat(v.toDouble());
    return d ? FloatToStr(*d) : v.toString();
}

QVariant RankingModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    if (role == Qt::TextAlignmentRole) {
        if (index.column() == ColTpid)
            return int(Qt::AlignCenter);
        if (index.column() == ColSpeed)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    switch (index.column()) {
    case ColTpid:
        return tpid(index.row());
    case ColName:
        return name(index.row());
    case ColSpeed:
        return speedText(index.row());
    default:
        return {};
    }
}

QVariant RankingModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role == Qt::DisplayRole) {
        switch (section) {
        case ColTpid:
            return tr("ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID");
        case ColName:
            return tr("名前");
        case ColSpeed:
            return tr("スピード");
        default:
            break;
        }
    }
    return {};
}

QVector<RankingEntry> rankingEntries() {
    QVector<RankingEntry> out;
    double previous = 0;
    for (const SpeedTable::RankedRow& row : SpeedTable::ranking()) {
        RankingEntry e;
        const double speed = row.speed;
        e.rank = (!out.isEmpty() && speed == previous) ? out.back().rank : int(out.size()) + 1;
        previous = speed;
        e.tpid = row.tpid;
        e.name = row.name;
        e.speedText = row.speedText;
        out.push_back(e);
    }
    return out;
}

QByteArray rankingCsv(const QVector<RankingEntry>& entries) {
    // The byte order mark makes spreadsheets on Japanese systems read UTF-8
    // instead of their own code page.
    QString text = QStringLiteral("\uFEFF順位,ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID,名前,スピード\r\n");
    for (const RankingEntry& e : entries) {
        text += QString::number(e.rank) + QLatin1Char(',') + csvField(e.tpid) + QLatin1Char(',') +
                csvField(e.name) + QLatin1Char(',') + csvField(e.speedText) + QLatin1String("\r\n");
    }
    return text.toUtf8();
}

void exportRankingCsv(const QString& path) {
    const QByteArray csv = rankingCsv(rankingEntries());
    QString why;
    if (!WholeFile::write(path, csv, &why))
        throw RecordError(
            QCoreApplication::translate("RankingModel", "%1 に書き込めません: %2").arg(path, why));
}
