#include "Ingest.h"

#include "Database.h"
#include "Plausibility.h"

namespace {

PlausibilityLimits limitsOf(const SuspectChecks& c) {
    PlausibilityLimits l;
    l.minKmh = c.MinKmh;
    l.maxKmh = c.MaxKmh;
    l.doubleReadMs = c.DoubleReadMs;
    l.maxSectionS = c.MaxSectionS;
    return l;
}

} // namespace

bool ingest::storePassing(const QueuedPassing& p) {
    // The journal row and the statement on speed it mirrors need no
    // savepoint of their own: the backlog commits everything it holds or
    // rolls all of it back, so both reach the disk or neither does.
    Journal::recordPassing(p.receivedMs, p.loop, p.tpid, p.time, p.raw);
    return SpeedTable::storePassing(p.loop, p.tpid, p.time);
}

ingest::MeasureRun ingest::evaluate(const SpeedTable::PendingRow& row, int dist,
                                    const SuspectChecks& checks, qint64 nowMs,
                                    const ClockSets* clockSets) {
    MeasureRun run;
    run.tpid = row.tpid;
    run.result =
        EvaluatePassing({row.tpid, row.time1, row.time2, row.bestSpeed, row.convertible}, dist);
    const SpeedResult& r = run.result;
    // A car so far seen only on loop 1 has made no attempt yet.
    if (!row.convertible || !row.hasTime2)
        return run;
    const Journal::PairFacts pair = Journal::pairFacts(row.tpid);
    AttemptFacts facts;
    facts.kmh = r.v;
    facts.elapsedS = row.time2 - row.time1;
    facts.hasTime1 = row.hasTime1;
    // A loop-1 time from before the journal stands: nothing says it is old.
    facts.loop1SincePrevious = pair.loop1SincePrevious || (row.hasTime1 && pair.loop1Unknown);
    facts.loop1RepeatMs = pair.loop1RepeatMs;
    facts.loop2RepeatMs = pair.loop2RepeatMs;
    facts.clockSetBetween = clockSets && pair.passing1 > 0 && pair.passing2 > 0 &&
                            clockSets->within(pair.received1Ms, pair.received2Ms);
    const unsigned flags = PlausibilityFlags(facts, limitsOf(checks));
    const bool measurement = IsMeasurement(flags);
    const QString status = !measurement ? Journal::kNotMeasurement
                           : flags      ? Journal::kSuspect
                                        : Journal::kOk;
    run.attempt =
        Journal::Attempt{row.tpid, pair.passing1, pair.passing2, row.time1, row.time2, dist,
                         r.v,      r.text,        flags,         status,    nowMs};
    // The class in force now, at measuring time: a switch after this does
    // not move the attempt, and an attempt that waits to be stored keeps it.
    run.attemptClass = Journal::classAt(row.tpid);
    run.held = !measurement || (flags != 0 && checks.HoldSuspect != 0);
    return run;
}

MeasuredRow ingest::measured(const MeasureRun& run, double time2) {
    MeasuredRow m;
    m.tpid = run.tpid;
    m.time2 = time2;
    m.attempt = run.attempt;
    m.attemptClass = run.attemptClass;
    if (run.result.newBest && !run.held)
        m.newBest = run.result.text;
    return m;
}

qint64 ingest::record(const MeasureRun& run, const std::function<void(qint64 id)>& inCommit) {
    Batch both;
    try {
        const qint64 id = storeMeasured(measured(run, 0));
        if (id > 0 && inCommit)
            inCommit(id);
        both.commit();
        return id;
    } catch (...) {
        both.rollback();
        throw;
    }
}
