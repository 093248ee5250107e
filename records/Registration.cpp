#include "Registration.h"

#include "Database.h"
#include "Names.h"
#include "SpeedTable.h"

RegistrationModel::RegistrationModel(QObject* parent) : QAbstractTableModel(parent) {}

namespace {

QVector<SpeedTable::NameRow> pageAfter(const QString& tpid, qint64 rowid) {
    return SpeedTable::namesPage(tpid, rowid, RegistrationModel::kPageRows);
}

} // namespace

void RegistrationModel::open() {
    QVector<Row> rows;
    const QVector<SpeedTable::NameRow> first = pageAfter(QString(), 0);
    for (const SpeedTable::NameRow& r : first)
        rows.push_back({r.tpid, r.name, r.tpid, r.rowid});
    beginResetModel();
    rows_ = std::move(rows);
    open_ = true;
    more_ = first.size() == kPageRows;
    pendingRow_ = -1;
    endResetModel();
}

void RegistrationModel::close() {
    beginResetModel();
    rows_.clear();
    open_ = false;
    more_ = false;
    pendingRow_ = -1;
    endResetModel();
}

bool RegistrationModel::readPage() {
    if (!more_ || rows_.isEmpty())
        return false;
    const QVector<SpeedTable::NameRow> page = pageAfter(rows_.back().keyTpid, rows_.back().rowid);
    more_ = page.size() == kPageRows;
    if (page.isEmpty())
        return false;
    const int first = int(rows_.size());
    beginInsertRows(QModelIndex(), first, first + int(page.size()) - 1);
    for (const SpeedTable::NameRow& r : page)
        rows_.push_back({r.tpid, r.name, r.tpid, r.rowid});
    endInsertRows();
    return true;
}

bool RegistrationModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && more_;
}

void RegistrationModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid())
        return;
    try {
        readPage();
    } catch (const std::exception& e) {
        // Called from inside the grid's scrolling, which must not be left
        // by an exception; the grid keeps the rows it has.
        more_ = false;
        refuse(QString::fromUtf8(e.what()));
    }
}

int RegistrationModel::locate(const QString& tpid) {
    for (int i = 0;; ++i) {
        if (i == rows_.size()) {
            // The list is in ID order: past the last row read, the ID can
            // only be in the pages still to come.
            if (rows_.isEmpty() || rows_.back().keyTpid.toUtf8() > tpid.toUtf8() || !readPage())
                return -1;
        }
        if (rows_[i].tpid == tpid)
            return i;
    }
}

QString RegistrationModel::tpid(int row) const {
    return row >= 0 && row < rows_.size() ? rows_[row].tpid : QString();
}

QString RegistrationModel::name(int row) const {
    return row >= 0 && row < rows_.size() ? rows_[row].name : QString();
}

int RegistrationModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int RegistrationModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RegistrationModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == ColTpid ? int(Qt::AlignCenter)
                                         : int(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    const Row& r = rows_[index.row()];
    return index.column() == ColTpid ? r.tpid : r.name;
}

QVariant RegistrationModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role == Qt::DisplayRole) {
        if (section == ColTpid)
            return tr("ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID");
        if (section == ColName)
            return tr("名前");
    }
    return {};
}

Qt::ItemFlags RegistrationModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

QString RegistrationModel::idProblem(int row, const QString& id) const {
    if (id.isEmpty())
        return tr("トランスポンダーIDを空にすることはできません。");
    // The row's own stored ID is not a clash: the edit may go back to it.
    const QString own = row == pendingRow_ ? pendingOriginal_.tpid : rows_[row].tpid;
    if (id == own)
        return {};
    if (SpeedTable::contains(id))
        return tr("トランスポンダーID「%1」は既に登録されています。").arg(id);
    return {};
}

void RegistrationModel::refuse(const QString& message) {
    emit refused(message);
}

bool RegistrationModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || index.row() >= rows_.size())
        return false;
    const int row = index.row();
    if (pendingRow_ >= 0 && pendingRow_ != row && !submit())
        return false;
    const QString text = value.toString();
    Row& r = rows_[row];
    if ((index.column() == ColTpid ? r.tpid : r.name) == text)
        return true;
    QString problem;
    try {
        problem = index.column() == ColTpid ? idProblem(row, text) : nameProblem(text);
    } catch (const std::exception& e) {
        problem = QString::fromUtf8(e.what());
    }
    if (!problem.isEmpty()) {
        refuse(problem);
        return false;
    }
    if (pendingRow_ < 0) {
        pendingRow_ = row;
        pendingOriginal_ = r;
    }
    (index.column() == ColTpid ? r.tpid : r.name) = text;
    emit dataChanged(index, index);
    return true;
}

bool RegistrationModel::submit() {
    if (pendingRow_ < 0)
        return true;
    const Row now = rows_[pendingRow_];
    try {
        SpeedTable::changeIdAndName(pendingOriginal_.tpid, now.tpid, now.name);
    } catch (const std::exception& e) {
        const QString why = QString::fromUtf8(e.what());
        revert();
        refuse(tr("変更を保存できませんでした: %1").arg(why));
        return false;
    }
    pendingRow_ = -1;
    return true;
}

void RegistrationModel::revert() {
    if (pendingRow_ < 0)
        return;
    const int row = pendingRow_;
    rows_[row] = pendingOriginal_;
    pendingRow_ = -1;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void renameTransponder(const QString& tpid, const QString& name) {
    checkName(name);
    SpeedTable::rename(tpid, name);
}
