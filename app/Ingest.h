#pragma once

#include "Checks.h"

#include "ClockSets.h"

#include "Journal.h"
#include "Measurement.h"
#include "PassingBacklog.h"
#include "SpeedTable.h"

#include <functional>
#include <optional>

// The road of a passing below the window: how a received passing is stored
// and how the head of the pending queue becomes a speed and an attempt. The
// main window and korvane-replay both go this way, so that a replayed
// capture gives the attempts the program gave.
namespace ingest {

// The passing's journal row and the statement on `speed` it mirrors, in the
// caller's commit (the backlog's). True when the passing made pending a row
// that has a loop-1 time (measurable at once). Raises DbError.
bool storePassing(const QueuedPassing& p);

// One pending row as measuring takes it, before anything is written.
struct MeasureRun {
    QString tpid;
    SpeedResult result;
    // None for a row without a loop-2 time or with a time that is no number.
    std::optional<Journal::Attempt> attempt;
    // The class the attempt is measured in: the one in force at nowMs.
    Journal::AttemptClass attemptClass;
    // Not shown, not sent, not counted as best: an attempt that is no
    // measurement, and a suspect one while suspect attempts wait for the
    // operator.
    bool held = false;
};

// Evaluates a pending row over a section of dist centimetres with the
// plausibility limits of `checks`; nowMs is the measuring time kept with the
// attempt. `clockSets` are the clock commands sent (none: a pair is never
// taken as timed across one). Reads the journal; raises DbError.
MeasureRun evaluate(const SpeedTable::PendingRow& row, int dist, const SuspectChecks& checks,
                    qint64 nowMs, const ClockSets* clockSets = nullptr);

// What the run writes: the attempt and the processed mark (with a new best
// unless held); time2 tells the row, as it was measured, apart.
MeasuredRow measured(const MeasureRun& run, double time2);

// Writes what the run measured, both or neither: a row left pending is
// measured again and its attempt would be kept twice. One transaction of
// their own, rolled back whole on an error. inCommit runs inside that
// transaction with the new attempt's id, before the commit. Returns the
// attempt's id (0 for a row that makes none).
qint64 record(const MeasureRun& run, const std::function<void(qint64 id)>& inCommit = {});

} // namespace ingest
