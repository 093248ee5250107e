#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>

// Tables `passing` and `attempt`: every passing as it reached table `speed`,
// and every measured attempt, kept for review after the best speed in
// `speed` has moved on.
//
//   passing  id, received_ms (PC receive time, UTC ms), loop (1 or 2), tpid
//            and time exactly as stored in `speed`, raw (the line's bytes)
//   attempt  id, tpid, passing1/passing2 (the journal rows it pairs), time1,
//            time2, dist_cm, speed, speed_text, flags (PlausibilityFlag
//            bits), status, measured_ms; after a correction orig_speed,
//            orig_speed_text, orig_dist_cm and changed_ms
//
// A passing row is written with the statement on `speed` it mirrors, and an
// attempt with the statement that marks its pending row processed, each in
// the same commit, so that a killed process leaves the tables agreeing.
// Statements are prepared once per connection (KeptStatement) and bind their
// values; a database failure raises DbError.
namespace Journal {

// Creates the tables and their indexes where they are missing: a fresh file
// and a file of an older version alike.
void createSchema(QSqlDatabase db);

void recordPassing(qint64 receivedMs, int loop, const QString& tpid, const QString& time,
                   const QByteArray& raw);

// What the journal tells about the transponder's current pair of passings
// (its latest passing on each loop).
struct PairFacts {
    qint64 passing1 = 0; // journal id of the latest loop-1 passing, 0 for none
    qint64 passing2 = 0;
    // The latest loop-1 passing is not the one the previous attempt paired
    // (or there is no previous attempt and there is a loop-1 passing). Compared
    // by the loop-1 passing rather than by order of arrival: the two decoders'
    // lines of one crossing may reach the program in either order.
    bool loop1SincePrevious = false;
    // PC milliseconds from the passing before to the latest, per loop; -1
    // when the loop has fewer than two passings.
    qint64 loop1RepeatMs = -1;
    qint64 loop2RepeatMs = -1;
    // The journal knows no loop-1 passing and no attempt of the transponder:
    // a loop-1 time in `speed` is from a file older than the journal.
    bool loop1Unknown = false;
    // PC receive times of passing1 and passing2; 0 for none.
    qint64 received1Ms = 0;
    qint64 received2Ms = 0;
};
PairFacts pairFacts(const QString& tpid);

inline const QString kOk = QStringLiteral("ok");
inline const QString kSuspect = QStringLiteral("suspect");
inline const QString kAccepted = QStringLiteral("accepted");
inline const QString kRejected = QStringLiteral("rejected");
// Not a measurement (IsMeasurement): kept, but nowhere shown or counted
// until the operator accepts it.
inline const QString kNotMeasurement = QStringLiteral("unmeasured");

struct Attempt {
    QString tpid;
    qint64 passing1 = 0; // 0 is stored as empty
    qint64 passing2 = 0;
    double time1 = 0;
    double time2 = 0;
    int distCm = 0;
    double speed = 0;
    QString speedText;
    unsigned flags = 0;
    QString status = kOk;
    qint64 measuredMs = 0;
};
// Returns the new attempt's id.
qint64 recordAttempt(const Attempt& a);

} // namespace Journal
