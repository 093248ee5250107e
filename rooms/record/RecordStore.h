#pragma once

// The record room's table, beside `speed` in the same file:
//
//   record_attempt  id, tpid, run1 (the first run's attempt id), run2 (the
//                   return run's; empty while open), state ('open',
//                   'completed', 'void'), reason (why it is open again or
//                   void, or why a return run did not complete it), mean
//                   (km/h, the mean of the two runs), u_kmh (its expanded
//                   uncertainty), beats (1: it beat the best mean before it
//                   by the margin), opened_ms, closed_ms (PC time, UTC ms)
//
// Every statement binds its values and raises DbError on a failure.

#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <optional>

namespace RecordStore {

inline const QString kOpen = QStringLiteral("open");
inline const QString kCompleted = QStringLiteral("completed");
inline const QString kVoid = QStringLiteral("void");

void createSchema(QSqlDatabase db);

struct RecordAttempt {
    qint64 id = 0;
    QString tpid;
    qint64 run1 = 0;
    qint64 run2 = 0; // 0: none yet
    QString state;
    QString reason;
    double mean = 0;
    double uKmh = -1; // -1: not known
    bool beats = false;
    qint64 openedMs = 0;
    qint64 closedMs = 0;
};

std::optional<RecordAttempt> openOf(const QString& tpid);
std::optional<RecordAttempt> byId(qint64 id);
qint64 open(const QString& tpid, qint64 run1, qint64 openedMs);
// Writes every column of the row `a.id`.
void update(const RecordAttempt& a);
// The newest `limit` record attempts, newest first; of `state` when it is
// not empty.
QVector<RecordAttempt> newest(int limit, const QString& state = {});
// The best mean of the completed record attempts other than `exceptId`.
std::optional<double> bestMean(qint64 exceptId);

} // namespace RecordStore
