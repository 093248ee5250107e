#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <optional>

// What the event's live pages read from the server besides the ranking:
// the attempts that count (status ok or accepted, with a speed), each as a
// result a spectator sees. Only reads; raises DbError with the server's
// message.
namespace EventRead {

struct Result {
    QString station;
    qint64 attemptId = 0;
    QString tpid;
    QString name;
    QString speedText;
    double speed = 0;
    qint64 measuredMs = 0;  // UTC milliseconds, 0 when the station sent none
    qint64 publishedUs = 0; // the server's time of the row's last write, µs since 1970
    bool best = false;      // the transponder's best in the event, as of this read
};

// Results written (first or again) at or after `sinceUs`, oldest write
// first. A write is stamped with its transaction's start and becomes
// visible at its commit, so a reader that moves its mark forward must
// read back some way before its newest one.
QList<Result> writtenSince(QSqlDatabase pg, const QString& event, qint64 sinceUs);

// The server's time of the newest write of the event, 0 when none.
qint64 newestWrite(QSqlDatabase pg, const QString& event);

// The newest result by measuring time.
std::optional<Result> latest(QSqlDatabase pg, const QString& event);

// The transponder's newest results (at most `limit`), oldest first.
QList<Result> attemptsOf(QSqlDatabase pg, const QString& event, const QString& tpid, int limit);

} // namespace EventRead
