#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QVector>

// The registration list: every transponder sorted by ID as text, with its
// ID and driver name, editable in place. An edited row is held until the
// row is left (submit()) and then written with one statement; Escape
// (revert()) drops it. Refusals and failed writes are reported through
// refused() and never leave the grid showing what the table does not hold.
//
// The rows are read a page at a time as the grid scrolls to them, each page
// starting after the last row read (by ID and row, not by counting rows).
class RegistrationModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColTpid, ColName, ColumnCount };
    static constexpr int kPageRows = 256;

    explicit RegistrationModel(QObject* parent = nullptr);

    // Reads the list anew from its top on connection "DB" (a pending edit
    // is dropped: submit first). Raises DbError.
    void open();
    void close();
    bool isOpen() const { return open_; }

    // Row of the first transponder whose ID equals tpid exactly, or -1;
    // reads the pages up to where the ID belongs. Raises DbError.
    int locate(const QString& tpid);
    QString tpid(int row) const;
    QString name(int row) const;
    bool hasPendingEdit() const { return pendingRow_ >= 0; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

public slots:
    bool submit() override;
    void revert() override;

signals:
    void refused(const QString& message);

private:
    struct Row {
        QString tpid;
        QString name;
        QString keyTpid; // the ID as read: the row's place for the next page
        qint64 rowid = 0;
    };
    QString idProblem(int row, const QString& id) const;
    void refuse(const QString& message);
    bool readPage(); // raises DbError; false when nothing came

    QVector<Row> rows_;
    bool open_ = false;
    bool more_ = false;
    int pendingRow_ = -1;
    Row pendingOriginal_;
};

// Gives the transponder a driver name. The name is checked first
// (RecordError); an ID without a row changes nothing. Raises DbError.
void renameTransponder(const QString& tpid, const QString& name);
