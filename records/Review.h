#pragma once

#include "Plausibility.h"

#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <optional>

// The operator's review of attempts: accepting, rejecting and correcting the
// section length, each with what it does to the best speed in table `speed`.
//
// A best speed is derived from the transponder's attempts since its record
// was last cleared and from a base value that no attempt explains. Table
// `best_base` holds both, one row per transponder that has either:
//   tpid           the transponder ID
//   after_attempt  only attempts with a greater id count for the best
//   base_speed     the best that stood before there were attempts to explain it
// A transponder without a row counts every attempt on a base of 0.
//
// Every function works in one transaction: all of it is written or nothing.
// A database failure raises DbError.
namespace Review {

// The ranking page cleared the transponder's record: from now on only later
// attempts count, on a base of 0. Called in the transaction that clears it.
void markCleared(const QString& tpid);

// The transponder's row took a new ID (the registration page): the best it
// carries becomes the new ID's base, and only later attempts count. Called in
// the transaction that changes the ID.
void markMoved(const QString& tpid, const QString& oldTpid = {});

// How attempts count. A suspect attempt counts for the best unless suspect
// attempts are held for the operator; the limits flag a corrected speed.
struct Rules {
    bool suspectCounts = true;
    PlausibilityLimits limits;
};

struct Outcome {
    int attempts = 0;     // attempts whose status or values changed
    int transponders = 0; // transponders those attempts belong to
    int bests = 0;        // of them, those whose best speed changed
};

// Suspect or rejected attempts become accepted (one already ok stays so);
// one that beats its transponder's best becomes the best. Nothing is shown
// or sent: the attempt's moment has passed.
// The operator's reason, if any, goes into the chain with each.
Outcome accept(const QVector<qint64>& ids, const Rules& rules, const QString& reason = {});

// The attempts become rejected; where one of them was its transponder's
// best, the best is derived anew from the attempts that remain.
Outcome reject(const QVector<qint64>& ids, const Rules& rules, const QString& reason = {});

// A section length as the operator typed it: whole centimetres from 1 to
// 5000, as on the measurement page; nothing for any other text.
std::optional<int> sectionLength(const QString& text);

// The ids of the attempts measured from fromMs to toMs (both included), of
// one transponder when tpid is not empty.
QVector<qint64> attemptsBetween(qint64 fromMs, qint64 toMs, const QString& tpid);

// Gives the attempts the section length distCm: their speeds and speed texts
// are computed anew by the measuring rules, the speed flags follow the new
// speed, the first original speed and length are kept, and the best of each
// transponder concerned is derived anew. With write false nothing stays
// written: the outcome tells what writing would change. The operator's reason
// goes into the chain with each corrected attempt.
Outcome correct(const QVector<qint64>& ids, int distCm, qint64 nowMs, const Rules& rules,
                bool write, const QString& reason = {});

// The reason given with the attempt's last correction (the chain's review
// rows); empty for none.
QString correctionReason(qint64 attemptId);

} // namespace Review
