#include "History.h"

#include "Csv.h"
#include "Database.h"
#include "Journal.h"
#include "Names.h"
#include "Plausibility.h"
#include "Review.h"
#include "Uncertainty.h"
#include "WholeFile.h"

#include <QCoreApplication>
#include <QDateTime>

QVector<HistoryRow> historyPage(const QString& tpid, qint64 beforeId, int limit) {
    return Journal::listed(tpid, beforeId, limit);
}

HistoryModel::HistoryModel(QObject* parent) : PagedModel(parent) {}

void HistoryModel::refresh() {
    QVector<HistoryRow> first = Journal::listed(listFilter(), 0, kPageRows);
    const qint64 count = Journal::countForReview(filter_);
    beginResetModel();
    more_ = first.size() == kPageRows;
    rows_ = std::move(first);
    forReviewCount_ = count;
    endResetModel();
}

bool HistoryModel::forReview(const HistoryRow& row) {
    return row.status == Journal::kSuspect || row.status == Journal::kNotMeasurement;
}

int HistoryModel::followNewest() {
    const QVector<HistoryRow> newer =
        Journal::listedNewer(listFilter(), rows_.isEmpty() ? 0 : rows_.front().id, kPageRows);
    if (newer.size() == kPageRows) {
        // Some may lie between them and the rows held.
        refresh();
        return -1;
    }
    if (newer.isEmpty())
        return 0;
    const int n = int(newer.size());
    beginInsertRows(QModelIndex(), 0, n - 1);
    rows_ = newer + rows_;
    endInsertRows();
    // A new attempt is counted from what it is; those held cannot have
    // changed without a review, which counts anew.
    forReviewCount_ += std::count_if(newer.begin(), newer.end(), forReview);
    return n;
}

void HistoryModel::reread(const QVector<qint64>& ids) {
    for (qint64 id : ids) {
        // Newest first: the row of an id is found by halving.
        const auto it = std::lower_bound(rows_.begin(), rows_.end(), id,
                                         [](const HistoryRow& r, qint64 v) { return r.id > v; });
        if (it == rows_.end() || it->id != id)
            continue;
        const std::optional<HistoryRow> now = Journal::listedOne(id);
        if (!now)
            continue;
        *it = *now;
        const int row = int(it - rows_.begin());
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
    forReviewCount_ = Journal::countForReview(filter_);
}

void HistoryModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid())
        return;
    appendPage(rows_, kPageRows, [this] {
        return Journal::listed(listFilter(), rows_.isEmpty() ? 0 : rows_.back().id, kPageRows);
    });
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}
int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString HistoryModel::statusWord(const QString& status) {
    if (status == Journal::kOk)
        return tr("正常");
    if (status == Journal::kSuspect)
        return tr("要確認");
    if (status == Journal::kAccepted)
        return tr("承認");
    if (status == Journal::kRejected)
        return tr("却下");
    if (status == Journal::kNotMeasurement)
        return tr("計測不能");
    return status;
}

QString HistoryModel::flagsText(unsigned flags) {
    QStringList words = FlagWords(flags);
    for (QString& w : words)
        w = tr(w.toUtf8().constData());
    return words.join(tr("・"));
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const HistoryRow& r = rows_[index.row()];
    const bool corrected = r.origDistCm > 0;
    switch (role) {
    case Qt::TextAlignmentRole:
        if (index.column() == ColSpeed || index.column() == ColDist ||
            index.column() == ColUncertainty)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (index.column() == ColTpid || index.column() == ColTime)
            return int(Qt::AlignCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case MarkRole:
        if (r.status == Journal::kSuspect)
            return int(Mark::ForReview);
        if (r.status == Journal::kNotMeasurement)
            return int(Mark::NotMeasured);
        if (r.status == Journal::kRejected)
            return int(Mark::Rejected);
        return int(Mark::None);
    case Qt::ToolTipRole: {
        // The flags and status words, whole: three of them do not fit the
        // column.
        QString tip;
        if (index.column() == ColFlags && r.flags)
            return flagsText(r.flags);
        if (index.column() == ColStatus)
            tip = data(index, Qt::DisplayRole).toString();
        if (index.column() == ColSpeed && r.status == Journal::kNotMeasurement &&
            r.speedText.toDouble() > 0)
            tip = tr("計測ではありません（計算上の値 %1 Km/h）").arg(r.speedText);
        if (index.column() == ColUncertainty && !r.uPct.isNull())
            return tr("拡張不確かさ (k=2): ±%1 Km/h（%2 %）")
                .arg(UncertaintyText(r.uKmh.toDouble()),
                     QString::number(r.uPct.toDouble(), 'f', 2));
        if (index.column() == ColSpeed && r.reverse)
            tip = tr("逆方向の走行（ループ2からループ1）");
        if (corrected) {
            tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) +
                   tr("訂正前: %1 Km/h、%2 cm").arg(r.origSpeedText).arg(r.origDistCm);
            // Read when asked: a tooltip is one row at a time.
            QString reason;
            try {
                reason = Review::correctionReason(r.id);
            } catch (const DbError&) {
                // The tooltip goes without it.
            }
            if (!reason.isEmpty())
                tip += QStringLiteral("\n") + tr("訂正の理由: %1").arg(reason);
        }
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    case Qt::DisplayRole:
    case Qt::EditRole:
        break;
    default:
        return {};
    }
    switch (index.column()) {
    case ColTime:
        return QDateTime::fromMSecsSinceEpoch(r.measuredMs).toString(QStringLiteral("HH:mm:ss"));
    case ColTpid:
        return r.tpid;
    case ColName:
        return r.name;
    case ColSpeed:
        // An attempt that is not a measurement has no speed to show: its
        // stored figure is a zero or what its two times give (a loop-1 time
        // from an earlier lap, none at all), which no car drove. The figure
        // stays in the tooltip for whoever reviews it.
        return r.speedText.toDouble() > 0 && r.status != Journal::kNotMeasurement
                   ? r.speedText
                   : QStringLiteral("—");
    case ColDist:
        return QString::number(r.distCm);
    case ColFlags:
        return flagsText(r.flags);
    case ColStatus:
        return corrected ? statusWord(r.status) + tr("・訂正") : statusWord(r.status);
    case ColClass:
        return r.className;
    case ColUncertainty:
        return r.uKmh.isNull() || r.speedText.toDouble() <= 0 ? QString()
                                                              : UncertaintyText(r.uKmh.toDouble());
    default:
        return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColTime:
        return tr("時刻");
    case ColTpid:
        return tr("ID");
    case ColName:
        return tr("名前");
    case ColSpeed:
        return tr("スピード");
    case ColDist:
        return tr("区間");
    case ColFlags:
        return tr("判定");
    case ColStatus:
        return tr("状態");
    case ColClass:
        return tr("クラス");
    case ColUncertainty:
        return tr("±");
    default:
        return {};
    }
}

QByteArray attemptsCsv(const QVector<HistoryRow>& rows, bool header) {
    QString text;
    if (header)
        // The byte order mark makes spreadsheets on Japanese systems read
        // UTF-8 instead of their own code page.
        text = QChar(0xFEFF) +
               QStringList{HistoryModel::tr("日時"),
                           HistoryModel::tr("ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID"),
                           HistoryModel::tr("名前"),
                           HistoryModel::tr("スピード"),
                           HistoryModel::tr("区間長(cm)"),
                           HistoryModel::tr("判定"),
                           HistoryModel::tr("状態"),
                           HistoryModel::tr("訂正前のスピード"),
                           HistoryModel::tr("訂正前の区間長(cm)"),
                           HistoryModel::tr("クラス")}
                   .join(QLatin1Char(',')) +
               QStringLiteral("\r\n");
    for (const HistoryRow& r : rows) {
        const QStringList fields{QDateTime::fromMSecsSinceEpoch(r.measuredMs)
                                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
                                 r.tpid,
                                 r.name,
                                 r.speedText,
                                 QString::number(r.distCm),
                                 HistoryModel::flagsText(r.flags),
                                 HistoryModel::statusWord(r.status),
                                 r.origSpeedText,
                                 r.origDistCm > 0 ? QString::number(r.origDistCm) : QString(),
                                 r.className};
        for (int i = 0; i < fields.size(); ++i) {
            if (i > 0)
                text += QLatin1Char(',');
            text += csvField(fields[i]);
        }
        text += QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

qint64 exportAttemptsCsv(const QString& path, const QString& tpid) {
    WholeFile f(path);
    const auto fail = [&] {
        throw RecordError(HistoryModel::tr("%1 に書き込めません: %2").arg(path, f.errorString()));
    };
    const auto put = [&](const QByteArray& bytes) {
        if (!f.write(bytes))
            fail();
    };
    put(attemptsCsv({}, true));
    qint64 written = 0;
    const int pageRows = 4096;
    for (qint64 before = 0;;) {
        const QVector<HistoryRow> page = historyPage(tpid, before, pageRows);
        put(attemptsCsv(page, false));
        written += page.size();
        if (page.size() < pageRows)
            break;
        before = page.back().id;
    }
    if (!f.commit())
        fail();
    return written;
}
