#pragma once

#include "PagedModel.h"
#include "SpeedTable.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The ranking of best speeds, fastest first: every transponder that has a
// best speed (0 included). Speeds read in general decimal form ("36",
// "14.586", "0"), as the rest of the program writes them.
//
// The rows are read a page at a time as the grid scrolls to them, each page
// by a short statement that starts after the last row held (by speed and
// row, not by counting rows), so that a table of a million cars shows at
// once, holds no more rows in memory than were seen, and keeps no statement
// open while the page is shown.
class RankingModel : public PagedModel {
    Q_OBJECT
public:
    enum Column { ColTpid, ColName, ColSpeed, ColumnCount };
    static constexpr int kPageRows = 256;

    explicit RankingModel(QObject* parent = nullptr);

    static QString statement(); // SpeedTable::rankingStatement()

    // Reads the ranking anew from its top (the first page) on connection
    // "DB"; raises DbError.
    void refresh();

    QString tpid(int row) const;
    QString name(int row) const;
    QString speedText(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QVector<SpeedTable::RankedRow> rows_;
};

// Lookup and clearing of one transponder: SpeedTable::lookup, clearBest.

struct RankingEntry {
    int rank = 0; // equal speeds share a rank (1, 2, 2, 4)
    QString tpid;
    QString name;
    QString speedText;
};

QVector<RankingEntry> rankingEntries();

// The ranking as CSV: UTF-8 with a byte order mark, a header row, CRLF line
// ends, fields quoted where a comma, quote or line break requires it, and an
// apostrophe before a field that begins with "=", "+", "-" or "@".
QByteArray rankingCsv(const QVector<RankingEntry>& entries);

// Writes rankingCsv() of the current ranking to path; the file is replaced
// as a whole or not at all. Raises RecordError naming the file.
void exportRankingCsv(const QString& path);
