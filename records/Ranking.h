#pragma once

#include <QByteArray>
#include <QSqlQueryModel>
#include <QString>
#include <QVector>

// The ranking of best speeds, fastest first: every transponder that has a
// best speed (0 included). Speeds read in general decimal form ("36",
// "14.586", "0"), as the rest of the program writes them.
class RankingModel : public QSqlQueryModel {
    Q_OBJECT
public:
    enum Column { ColTpid, ColName, ColSpeed };

    explicit RankingModel(QObject* parent = nullptr);

    static QString statement(); // SpeedTable::rankingStatement()

    // Re-runs the ranking on connection "DB"; raises DbError.
    void refresh();

    QString tpid(int row) const;
    QString name(int row) const;
    QString speedText(int row) const;

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
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
