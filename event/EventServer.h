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
//                    published_at, class (the class's name at measuring
//                    time, '' for none)
//   korvane_station  event, station as key; instance (the instance id of
//                    the station's SQLite file that first published under
//                    the name), first_seen
//   korvane_best     event, overall, class, tpid as key; station,
//                    attempt_id, name, speed, speed_text, measured_at: the
//                    best ok or accepted attempt of the transponder within
//                    the class (overall false) or over all classes (overall
//                    true, class ''), kept by a trigger on korvane_attempt in
//                    the transaction that changes an attempt. A change of a
//                    best is told by NOTIFY on channelFor(event), with the
//                    payload {"class": name or null for overall, "tpid": …}.
//   korvane_ranking  view: the overall rows of korvane_best
//   korvane_head     event, station, seq as key; hash, at, signature,
//                    public_key: the stations' signed chain heads, so that
//                    a copy lives outside the station
//
// Every function raises DbError with the server's message.
namespace EventServer {

inline constexpr int kSchemaVersion = 4;

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
    QString className;              // empty: in no class
};

// Inserts or replaces the attempts of the station in one statement, keyed
// by (event, station, id): sending the same attempt twice leaves one row.
// The caller commits; the bests follow in the same transaction.
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
// The best per transponder of the event, fastest first: over all classes
// when className is empty, else within that class. limit 0: all of them.
QList<RankingEntry> ranking(QSqlDatabase pg, const QString& event, const QString& className = {},
                            int limit = 0);
// The same from the attempts measured at sinceMs (UTC milliseconds) or later.
QList<RankingEntry> periodRanking(QSqlDatabase pg, const QString& event, const QString& className,
                                  qint64 sinceMs, int limit = 0);
// The names of the classes the event's counting attempts are in, sorted.
QStringList classes(QSqlDatabase pg, const QString& event);

// A station's signed chain head (records/Chain).
struct Head {
    qint64 seq = 0;
    QByteArray hash;
    qint64 atMs = 0;
    QByteArray signature;
    QByteArray publicKey;
};
// Inserts or replaces by (event, station, seq). The caller commits.
void upsertHeads(QSqlDatabase pg, const QString& event, const QString& station,
                 const QList<Head>& heads);
// The highest seq of the station's heads on the server, 0 for none.
qint64 lastHeadSeq(QSqlDatabase pg, const QString& event, const QString& station);

// The LISTEN/NOTIFY channel of an event. Event names are free text and a
// channel is an identifier of at most 63 bytes, so the name is hashed:
// "korvane_ev_" and the first 8 bytes of the SHA-256 of its UTF-8, in hex.
QString channelFor(const QString& event);

// The event's results sheet, parts apart by a blank line, each with its
// heading: the combined ranking, the ranking of each class, every attempt
// of every station, and each station's last signed chain head. With a
// className: that class's ranking and its attempts only.
QByteArray exportCsv(QSqlDatabase pg, const QString& event, const QString& className = {});

} // namespace EventServer
