#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>
#include <optional>

// Tables `passing` and `attempt`: every passing as it reached table `speed`,
// and every measured attempt, kept for review after the best speed in
// `speed` has moved on.
//
//   passing  id, received_ms (PC receive time, UTC ms), loop (1 or 2), tpid
//            and time exactly as stored in `speed`, raw (the line's bytes)
//   attempt  id, tpid, passing1/passing2 (the journal rows it pairs), time1,
//            time2, dist_cm, speed, speed_text, flags (PlausibilityFlag
//            bits), status, measured_ms; after a correction orig_speed,
//            orig_speed_text, orig_dist_cm and changed_ms; class_id and
//            class_name, the class it was measured in (empty: none)
//   attempt_run  attempt_id, direction ('reverse' for a run from loop 2 to
//            loop 1, empty for the usual way), u_kmh and u_pct (the speed's
//            expanded uncertainty, k = 2); no row: the usual way, not computed
//
// A passing row is written with the statement on `speed` it mirrors, and an
// attempt with the statement that marks its pending row processed, each in
// the same commit, so that a killed process leaves the tables agreeing.
// Statements are prepared once per connection (KeptStatement) and bind their
// values; a database failure raises DbError.
namespace Journal {

// Creates the tables and their indexes where they are missing: a fresh file
// and a file of an older version alike. Table best_base (see Review) made on
// a file that had best speeds keeps each of them as its transponder's base.
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

// The class of a transponder's current entry as it stands now: id and name.
struct AttemptClass {
    qint64 id = 0; // 0: in no class
    QString name;
};
// Returns the new attempt's id. The class it was measured in (classAt at
// measuring time) goes in with the row itself.
qint64 recordAttempt(const Attempt& a, const AttemptClass& inClass = {});
// Set once by whoever keeps the classes, answered from memory (measuring
// asks it for every attempt); an empty function: nobody, every attempt is
// in no class.
void setClassResolver(std::function<AttemptClass(const QString& tpid)> resolver);
AttemptClass classAt(const QString& tpid);

// --- the history page ---------------------------------------------------------

// An attempt as the history page lists it, with its driver's name from `speed`.
struct ListedAttempt {
    qint64 id = 0;
    qint64 measuredMs = 0; // PC time, UTC milliseconds
    QString tpid;
    QString name;
    QString speedText;
    int distCm = 0;
    unsigned flags = 0;
    QString status;
    // After a correction: the values first measured; empty and 0 before.
    QString origSpeedText;
    int origDistCm = 0;
    QString className; // the class it was measured in; empty: none
    // The expanded uncertainty of the speed; null when not computed.
    QVariant uKmh;
    QVariant uPct;
    bool reverse = false; // a run from loop 2 to loop 1
};
// At most `limit` attempts older than `beforeId` (from the newest when 0), of
// `tpid` when it is not empty, newest first.
QVector<ListedAttempt> listed(const QString& tpid, qint64 beforeId, int limit);
std::optional<ListedAttempt> listedOne(qint64 id);
// Which attempts the history lists: those of `tpid` (all when it is empty),
// and with forReviewOnly only those for the operator's eye (suspect, not a
// measurement).
struct ListFilter {
    QString tpid;
    bool forReviewOnly = false;
};
QVector<ListedAttempt> listed(const ListFilter& filter, qint64 beforeId, int limit);
// At most `limit` attempts newer than `afterId` (the newest of them when
// there are more), newest first.
QVector<ListedAttempt> listedNewer(const ListFilter& filter, qint64 afterId, int limit);
// The attempts for the operator's eye, of `tpid` or of all when it is empty.
qint64 countForReview(const QString& tpid);

// --- review --------------------------------------------------------------------

// An attempt as stored; times and speed as the engine holds them.
struct StoredAttempt {
    qint64 id = 0;
    QString tpid;
    QVariant time1;
    QVariant time2;
    int distCm = 0;
    QVariant speed; // not read by attemptsAfter
    QString speedText;
    unsigned flags = 0;
    QString status;
    qint64 measuredMs = 0; // read by attemptsAfter only
};
std::optional<StoredAttempt> attempt(qint64 id);
void setStatus(qint64 id, const QString& status);
// A new section length and what it gives; the first measured values are kept.
void correct(qint64 id, int distCm, double speed, const QString& speedText, unsigned flags,
             const QString& status, qint64 changedMs);
// The ids of the attempts measured from `fromMs` to `toMs` (of `tpid` when
// it is not empty), oldest first.
QVector<qint64> attemptsBetween(qint64 fromMs, qint64 toMs, const QString& tpid);

// The transponder's row of best_base.
struct Base {
    qint64 afterAttempt = 0;
    QVariant speed;
};
std::optional<Base> base(const QString& tpid);
// The fastest attempt after `afterAttempt` that counts (ok or accepted, and
// suspect when suspectCounts).
struct Counted {
    QVariant speed;
    QString speedText;
};
std::optional<Counted> bestCounted(const QString& tpid, qint64 afterAttempt, bool suspectCounts);
// Only attempts from now on count, on a base of 0.
void baseCleared(const QString& tpid);
// Only attempts from now on count, on the best stored in `speed` as the base.
void baseMoved(const QString& tpid);

// --- korvane-replay ----------------------------------------------------------

qint64 lastAttemptId();                             // 0 when there is none
QVector<StoredAttempt> attemptsAfter(qint64 after); // oldest first

// --- live page and event link, on the caller's own connection ----------------

struct ShownAttempt {
    qint64 id = 0;
    QString tpid;
    QString name;      // latestShown only
    QString className; // latestShown only: the class it was measured in
    QString speedText;
    double kmh = 0; // shownAttempts only
    qint64 measuredMs = 0;
    QString uText; // shownAttempts only: the uncertainty as shown, empty when not computed
};
// The newest ok or accepted attempt (or suspect one when suspectShown).
std::optional<ShownAttempt> latestShown(QSqlDatabase db, bool suspectShown);
// The transponder's newest `limit` attempts that count as latestShown's do,
// oldest first.
QVector<ShownAttempt> shownAttempts(QSqlDatabase db, const QString& tpid, bool suspectShown,
                                    int limit);

// --- classes (rooms/classes keeps the classes; the journal their attempts) ----

// The class an attempt was measured in (0: none), kept with the attempt so
// that a review's new status or speed reaches the class's ranking at once.
void setClass(qint64 attemptId, qint64 classId);
std::optional<qint64> classOf(qint64 attemptId); // nullopt: no such attempt
qint64 countInClass(qint64 classId);

// The bests of a period: per transponder its fastest attempt measured at
// `sinceMs` or later that counts (ok or accepted, and suspect when
// suspectCounts), fastest first; name is the one of `speed`. Of the attempts
// of class `classId`, or of every attempt when classId is 0.
struct PeriodBest {
    QString tpid;
    QString name;
    double speed = 0;
    QString speedText;
};
QVector<PeriodBest> periodBests(QSqlDatabase db, qint64 classId, qint64 sinceMs,
                                bool suspectCounts);

// The ranking of a class over a period as every view of it shows it (the
// ranking page's class view, the live page): periodBests with equal speeds
// sharing a rank, and the name the transponder's entry gives (of that class;
// of its current one for every class) before the registration page's.
struct RankedBest {
    int rank = 0;
    QString tpid;
    QString name;
    QString speedText;
};
QVector<RankedBest> classRanking(QSqlDatabase db, qint64 classId, qint64 sinceMs,
                                 bool suspectCounts);
// The class the transponder's newest attempt was measured in; empty: none.
QString latestClass(QSqlDatabase db, const QString& tpid);
// The classes in their order (id, name); none on a file without them.
struct ClassName {
    qint64 id = 0;
    QString name;
};
QVector<ClassName> classNames(QSqlDatabase db);
// The class of that name; nothing when there is none.
std::optional<qint64> classNamed(QSqlDatabase db, const QString& name);

// The outbox's oldest rows (limit bound) with the attempts they name as they
// stand: seq, id, tpid, name, speed, speed_text, dist_cm, flags, status,
// time1, time2, measured_ms, changed_ms, class_name; the attempt's columns
// empty when it is gone. One statement, so that both are read together; the
// caller prepares it once on its connection.
QString publishStatement();

// --- two-way runs and uncertainty (rooms/record) -------------------------------

inline const QString kReverse = QStringLiteral("reverse");
// The attempt's expanded uncertainty; in the caller's transaction.
void setUncertainty(qint64 attemptId, double uKmh, double uPct);
// A run from loop 2 to loop 1: the attempt with its chain link (passing1 and
// time1 of loop 1 as always, so time1 is after time2), direction 'reverse'.
// In the caller's transaction.
qint64 recordReverseAttempt(const Attempt& a);

struct PassingRow {
    qint64 id = 0;
    qint64 receivedMs = 0;
    int loop = 0;
    QString tpid;
    QVariant time;
    QByteArray raw;
};
qint64 lastPassingId();                                       // 0 when there is none
QVector<PassingRow> passingsAfter(qint64 afterId, int limit); // oldest first
// The transponder's newest passings on `loop`, newest first.
QVector<PassingRow> latestPassings(const QString& tpid, int loop, int limit);
// Among the transponder's recent attempts, one already pairs the passing: a
// reverse run that starts or ends with it, or an attempt of the usual way
// that is a measurement and ends with it.
bool passingPaired(const QString& tpid, qint64 passingId);

// An attempt as the record attempts weigh it.
struct Run {
    qint64 id = 0;
    QString tpid;
    double time1 = 0;
    double time2 = 0;
    int distCm = 0;
    double speed = 0;
    QString speedText;
    QString status;
    qint64 measuredMs = 0;
    bool reverse = false;
    double uKmh = -1; // -1: not computed
    double uPct = -1;
    qint64 passing1 = 0; // the passings it was measured from (0: none)
    qint64 passing2 = 0;
};
std::optional<Run> runFacts(qint64 attemptId);
// Whether the transponder has a passing on `loop` that arrived between the
// two passings (by their ids, both excluded).
bool passingBetween(const QString& tpid, int loop, qint64 afterId, qint64 beforeId);

} // namespace Journal
