#include "Measurement.h"

#include "SpeedText.h"

#include "Database.h"

std::optional<PendingPassing> NextPending() {
    Query q;
    q.setSql({QStringLiteral("select * from speed where sumi='0' and tpid<>''"),
              QStringLiteral("order by time2 limit 1")});
    q.open();
    if (q.isEmpty())
        return std::nullopt;
    PendingPassing p;
    p.tpid = q.asText(QStringLiteral("tpid"));
    p.bestSpeed = q.asText(QStringLiteral("speed"));
    if (p.bestSpeed.isEmpty())
        p.bestSpeed = QStringLiteral("0");
    try {
        p.time1 = q.asFloat(QStringLiteral("time1"));
        p.time2 = q.asFloat(QStringLiteral("time2"));
    } catch (const DbError&) {
        p.convertible = false;
    }
    return p;
}

SpeedResult EvaluatePassing(const PendingPassing& p, int dist) {
    SpeedResult r;
    if (!p.convertible)
        return r;
    const double e = p.time2 - p.time1;
    if (!(e > 0))
        return r;
    r.measured = true;
    r.v = ComputeSpeed(e, dist);
    r.text = SpeedText(r.v);
    r.boardLine = BoardSpeedLine(r.text);
    r.newBest = IsNewBest(p.bestSpeed, r.v);
    return r;
}

void MarkProcessed(const QString& tpid, const SpeedResult& r) {
    if (r.measured && r.newBest)
        execSql({QStringLiteral("update speed set sumi='1',speed=? where tpid=?")}, {r.text, tpid});
    else
        execSql({QStringLiteral("update speed set sumi='1' where tpid=?")}, {tpid});
}
