#pragma once

#include <QByteArray>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

// The event's tables on the PostgreSQL server, shared by every station.
//
//   korvane_schema   version: the last migration applied
//   korvane_attempt  event, station, attempt_id (the station's own journal
//                    id) as key; tpid, name, speed, speed_text, dist_cm,
//                    flags, status, time1, time2, measured_at, changed_at,
//                    published_at
//   korvane_station  event, station as key; instance (the instance id of
//                    the station's SQLite file that first published under
//                    the name), first_seen
//   korvane_ranking  view: the best ok or accepted attempt per transponder
//                    per event, with the station that measured it
//
// Every function raises DbError with the server's message.
namespace EventServer {

inline constexpr int kSchemaVersion = 2;

// Brings the tables up to this program's version, each migration once,
// under a lock so that stations connecting together do not race. A server
// already on a newer version is refused: this program would write rows that
// version does not expect.
void migrate(QSqlDatabase pg);
// The same with other migrations: migration n (from version n-1 to n) is
// the list's n-th entry, one statement per text.
void migrate(QSqlDatabase pg, const QList<QStringList>& migrations);

// The version on the server, 0 when it holds no tables of ours.
int schemaVersion(QSqlDatabase pg);

// Claims the station's name in the event for `instance` when no one holds
// it yet, and returns the instance that holds it now. Attempt ids are the
// station's own, so a second file publishing under the same name would
// overwrite the first one's attempts: the caller publishes only when the
// answer is its own instance. Commits by itself.
QString claimStation(QSqlDatabase pg, const QString& event, const QString& station,
                     const QString& instance);

// One attempt as the station's journal holds it now.
struct Attempt {
    qint64 id = 0;
    QString tpid;
    QString name;
    QVariant speed; // null when the attempt has none
    QString speedText;
    QVariant distCm;
    qint64 flags = 0;
    QString status;
    QVariant time1, time2;
    QVariant measuredMs, changedMs; // UTC milliseconds or null
};

// Inserts or replaces the attempts of the station in one statement, keyed
// by (event, station, id): sending the same attempt twice leaves one row.
// The caller commits.
void upsert(QSqlDatabase pg, const QString& event, const QString& station,
            const QList<Attempt>& attempts);

struct RankingEntry {
    int rank = 0; // equal speeds share a rank
    QString tpid;
    QString name;
    QString speedText;
    double speed = 0;
    QString station;
};
QList<RankingEntry> ranking(QSqlDatabase pg, const QString& event);

// The LISTEN/NOTIFY channel of an event. Event names are free text and a
// channel is an identifier of at most 63 bytes, so the name is hashed:
// "korvane_ev_" and the first 8 bytes of the SHA-256 of its UTF-8, in hex.
QString channelFor(const QString& event);

// The event's results sheet: the combined ranking, a blank line, then every
// attempt of every station, each part with its heading.
QByteArray exportCsv(QSqlDatabase pg, const QString& event);

} // namespace EventServer
