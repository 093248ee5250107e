#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>
#include <optional>

// Every statement on table `speed`, one row per transponder:
//   tpid   the transponder ID as the decoder sent it
//   time1  its latest passing time on loop 1, time2 on loop 2 (decoder seconds)
//   speed  its best speed as text ("0" once cleared)
//   sumi   '0' pending, '1' processed
//   pname  the driver's name
//
// The pending rows are a queue between decoder input and measuring, which
// never call each other: a loop-2 passing stores time2 and sets sumi '0'
// (enqueue); measuring takes the pending row with the smallest time2 (head of
// the queue, found by index speed_pending) and sets sumi '1' (dequeue). A
// loop-1 passing only updates time1 and leaves sumi alone, except that a new
// transponder's row starts pending.
//
// All statements bind their values and raise DbError on a database failure.
namespace SpeedTable {

// Creates the table with its five base columns on a fresh file and the
// indexes on tpid (unique where the rows allow it) and on the queue.
void createSchema(QSqlDatabase db);

// --- decoder input: enqueue --------------------------------------------------

bool contains(const QString& tpid);

// Loop 1 sets time1 (a new transponder's row is created pending), loop 2 sets
// time2 and marks the row pending. True when a loop-2 passing made pending a
// row that has a loop-1 time (its speed can be measured at once).
bool storePassing(int loop, const QString& tpid, const QString& time);

// Runs `work` (statements of one notification) as one durable commit. What
// succeeded before an error is committed, then the error goes on.
template <class Work> void inOneCommit(Work&& work);

// --- measuring: dequeue ------------------------------------------------------

// The head of the queue: the pending row (non-empty ID) with the smallest time2.
struct PendingRow {
    QString tpid;
    double time1 = 0;
    double time2 = 0;
    QString bestSpeed = QStringLiteral("0"); // the stored best as text, "0" when empty
    bool convertible = true;                 // false when a passing time is no number
    bool hasTime1 = false;                   // a loop-1 passing is stored
    bool hasTime2 = false;                   // a loop-2 passing is stored
};

// A row whose passing times do not read as numbers comes back with
// convertible false, so that it can be marked processed and never blocks the
// queue. Rows for which passOver answers true (measured already, their mark
// not yet stored) are passed over for the next in the queue.
using PassOver = std::function<bool(const PendingRow&)>;
std::optional<PendingRow> nextPending(const PassOver& passOver = {});

// Marks the row processed, keeping its best speed.
void markProcessed(const QString& tpid);
// Marks the row processed with a new best speed.
void markProcessed(const QString& tpid, const QString& newBestText);

// --- reference page ----------------------------------------------------------

// Every transponder with a best speed (0 included), fastest first; equal
// speeds in a fixed order (latest row first), so that the list can be read
// in pages.
QString rankingStatement();

struct RankedRow {
    QString tpid;
    QString name;
    double speed = 0;
    QString speedText;
    QVariant speedValue; // as stored: with rowid the row's place in the order
    qint64 rowid = 0;
};
QVector<RankedRow> ranking();

// At most `limit` rows of the ranking that follow `after` (from the top when
// null), found through index speed_rank without reading the rows before.
QVector<RankedRow> rankingPage(const RankedRow* after, int limit);

// One transponder as the lookup shows it; both empty when the ID has no row.
struct Lookup {
    QString name;
    QString speedText;
};
Lookup lookup(const QString& tpid);

// Sets the transponder's best speed to 0; the row stays.
void clearBest(const QString& tpid);

// The stored best as text ("0" when empty); nothing when the ID has no row.
std::optional<QString> storedBest(const QString& tpid);
// Stores a best speed derived anew (after a review).
void setBest(const QString& tpid, const QString& best);

// --- live page, on the reader's own connection -------------------------------
// Only rows with a speed above 0 are shown there.

// At most `limit` shown rows after the one of `afterSpeed` (as stored) and
// `afterRowid` (from the top when afterSpeed is invalid), in the reference page's order, of IDs
// or names matching the LIKE pattern `like` (escaped by a backslash; all when
// empty). Each row with tpid, name, speedValue and rowid.
QVector<RankedRow> shownPage(QSqlDatabase db, const QVariant& afterSpeed, qint64 afterRowid,
                             const QString& like, int limit);
// Shown rows faster than `speed`.
int shownFaster(QSqlDatabase db, const QVariant& speed);
// Shown rows before the one of `speed` and `rowid` in the ranking's order.
qint64 shownBefore(QSqlDatabase db, const QVariant& speed, qint64 rowid);
// The transponder's row (name and speedValue); nothing when it has none.
std::optional<RankedRow> row(QSqlDatabase db, const QString& tpid);

// --- registration page -------------------------------------------------------

struct NameRow {
    QString tpid;
    QString name;
    qint64 rowid = 0; // with tpid the row's place in the order
};
// Every transponder sorted by ID as text.
QVector<NameRow> names();

// At most `limit` rows of that list that follow the row with ID `afterTpid`
// and `afterRowid` (from the top when afterRowid is 0), found through the
// index on tpid without reading the rows before.
QVector<NameRow> namesPage(const QString& afterTpid, qint64 afterRowid, int limit);

// Gives the transponder a name; an ID without a row changes nothing.
void rename(const QString& tpid, const QString& name);

// Changes the row of `oldTpid` to the ID and name given.
void changeIdAndName(const QString& oldTpid, const QString& tpid, const QString& name);

} // namespace SpeedTable

#include "Database.h"

template <class Work> void SpeedTable::inOneCommit(Work&& work) {
    Batch batch;
    try {
        work();
    } catch (...) {
        batch.commit();
        throw;
    }
    batch.commit();
}
