#include "EventRead.h"

#include "Database.h"

#include <QSqlQuery>

#include <algorithm>

namespace {

// The columns every read of results takes, in Result's order; "best" holds
// when no attempt of the transponder that counts is faster.
const QString kColumns = QStringLiteral(
    "a.station, a.attempt_id, a.tpid, a.name, a.speed_text, a.speed,"
    " coalesce((extract(epoch from a.measured_at) * 1000)::bigint, 0),"
    " (extract(epoch from a.published_at) * 1000000)::bigint,"
    " not exists (select 1 from korvane_attempt b where b.event = a.event and b.tpid = a.tpid"
    "  and b.status in ('ok', 'accepted') and b.speed > a.speed)"
    " from korvane_attempt a where a.event = ? and a.status in ('ok', 'accepted')"
    " and a.speed is not null");

QList<EventRead::Result> results(QSqlQuery q) {
    QList<EventRead::Result> out;
    while (q.next()) {
        EventRead::Result r;
        r.station = q.value(0).toString();
        r.attemptId = q.value(1).toLongLong();
        r.tpid = q.value(2).toString();
        r.name = q.value(3).toString();
        r.speedText = q.value(4).toString();
        r.speed = q.value(5).toDouble();
        r.measuredMs = q.value(6).toLongLong();
        r.publishedUs = q.value(7).toLongLong();
        r.best = q.value(8).toBool();
        out << r;
    }
    return out;
}

} // namespace

QList<EventRead::Result> EventRead::writtenSince(QSqlDatabase pg, const QString& event,
                                                 qint64 sinceUs) {
    return results(runBound(pg,
                            QStringLiteral("select ") + kColumns +
                                QStringLiteral(" and a.published_at >= to_timestamp(?::bigint /"
                                               " 1000000.0) order by a.published_at, a.station,"
                                               " a.attempt_id"),
                            {event, sinceUs}));
}

qint64 EventRead::newestWrite(QSqlDatabase pg, const QString& event) {
    QSqlQuery q = runBound(pg,
                           QStringLiteral("select coalesce((extract(epoch from max(published_at))"
                                          " * 1000000)::bigint, 0) from korvane_attempt"
                                          " where event = ?"),
                           {event});
    return q.next() ? q.value(0).toLongLong() : 0;
}

std::optional<EventRead::Result> EventRead::latest(QSqlDatabase pg, const QString& event) {
    const QList<Result> r = results(runBound(
        pg,
        QStringLiteral("select ") + kColumns +
            QStringLiteral(" order by a.measured_at desc nulls last, a.published_at desc limit 1"),
        {event}));
    return r.isEmpty() ? std::nullopt : std::optional<Result>(r.first());
}

QList<EventRead::Result> EventRead::attemptsOf(QSqlDatabase pg, const QString& event,
                                               const QString& tpid, int limit) {
    QList<Result> r = results(
        runBound(pg,
                 QStringLiteral("select ") + kColumns +
                     QStringLiteral(" and a.tpid = ? order by a.measured_at desc nulls last,"
                                    " a.published_at desc limit ?"),
                 {event, tpid, limit}));
    std::reverse(r.begin(), r.end());
    return r;
}
