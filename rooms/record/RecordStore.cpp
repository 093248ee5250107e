#include "RecordStore.h"

#include "Database.h"

#include <QSqlQuery>
#include <QVariant>

namespace {

RecordStore::RecordAttempt attemptOf(const QSqlQuery& q) {
    RecordStore::RecordAttempt a;
    a.id = q.value(0).toLongLong();
    a.tpid = q.value(1).toString();
    a.run1 = q.value(2).toLongLong();
    a.run2 = q.value(3).toLongLong();
    a.state = q.value(4).toString();
    a.reason = q.value(5).toString();
    a.mean = q.value(6).toDouble();
    a.uKmh = q.value(7).isNull() ? -1 : q.value(7).toDouble();
    a.beats = q.value(8).toInt() != 0;
    a.openedMs = q.value(9).toLongLong();
    a.closedMs = q.value(10).toLongLong();
    return a;
}

const QString kColumns = QStringLiteral(
    "select id, tpid, run1, run2, state, reason, mean, u_kmh, beats, opened_ms, closed_ms "
    "from record_attempt ");

QVariant orNull(qint64 v) {
    return v > 0 ? QVariant(v) : QVariant();
}

} // namespace

void RecordStore::createSchema(QSqlDatabase db) {
    runBound(
        db, QStringLiteral("create table if not exists record_attempt (id integer primary key, "
                           "tpid text not null, run1 integer references attempt(id), "
                           "run2 integer references attempt(id), state text not null, reason text, "
                           "mean real, u_kmh real, beats integer not null default 0, "
                           "opened_ms integer, closed_ms integer)"));
    runBound(db, QStringLiteral("create index if not exists record_attempt_tpid on "
                                "record_attempt(tpid, state, id)"));
}

std::optional<RecordStore::RecordAttempt> RecordStore::openOf(const QString& tpid) {
    QSqlQuery q = runBound(SpeedDb::database(),
                           kColumns + QStringLiteral("where tpid=? and state=? order by id desc "
                                                     "limit 1"),
                           {tpid, kOpen});
    if (!q.next())
        return std::nullopt;
    return attemptOf(q);
}

std::optional<RecordStore::RecordAttempt> RecordStore::byId(qint64 id) {
    QSqlQuery q = runBound(SpeedDb::database(), kColumns + QStringLiteral("where id=?"), {id});
    if (!q.next())
        return std::nullopt;
    return attemptOf(q);
}

qint64 RecordStore::open(const QString& tpid, qint64 run1, qint64 openedMs) {
    QSqlQuery q = runBound(SpeedDb::database(),
                           QStringLiteral("insert into record_attempt (tpid, run1, state, "
                                          "reason, opened_ms) values (?,?,?,'',?)"),
                           {tpid, run1, kOpen, openedMs});
    return q.lastInsertId().toLongLong();
}

void RecordStore::update(const RecordAttempt& a) {
    runBound(SpeedDb::database(),
             QStringLiteral("update record_attempt set run1=?, run2=?, state=?, reason=?, mean=?, "
                            "u_kmh=?, beats=?, opened_ms=?, closed_ms=? where id=?"),
             {orNull(a.run1), orNull(a.run2), a.state, a.reason,
              a.run2 > 0 ? QVariant(a.mean) : QVariant(),
              a.uKmh >= 0 && a.run2 > 0 ? QVariant(a.uKmh) : QVariant(), a.beats ? 1 : 0,
              a.openedMs, orNull(a.closedMs), a.id});
}

QVector<RecordStore::RecordAttempt> RecordStore::newest(int limit, const QString& state) {
    QSqlQuery q =
        state.isEmpty()
            ? runBound(SpeedDb::database(), kColumns + QStringLiteral("order by id desc limit ?"),
                       {limit})
            : runBound(SpeedDb::database(),
                       kColumns + QStringLiteral("where state=? order by id desc limit ?"),
                       {state, limit});
    QVector<RecordAttempt> out;
    while (q.next())
        out << attemptOf(q);
    return out;
}

std::optional<double> RecordStore::bestMean(qint64 exceptId) {
    QSqlQuery q =
        runBound(SpeedDb::database(),
                 QStringLiteral("select max(mean) from record_attempt where state=? and id<>?"),
                 {kCompleted, exceptId});
    if (!q.next() || q.value(0).isNull())
        return std::nullopt;
    return q.value(0).toDouble();
}
