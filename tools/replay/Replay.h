#pragma once

#include "Capture.h"
#include "Checks.h"
#include "PassingBacklog.h"
#include "ReceiveBuffer.h"
#include "SpeedTable.h"

#include <QString>

#include <array>
#include <optional>

// Feeds the records of a capture through the program's receive, store and
// measuring code (decoder/, app/Ingest) on the open speed database, as fast
// as the database takes them. The measuring timer runs on the capture's
// clock: a tick every 300 ms, the hold of Wait seconds after a taken row, and
// a row completed with a loop-1 time taken at once when the last run is far
// enough back, as in the window. So the same capture gives the same attempts,
// and the attempts the program gave while it recorded.
class Replayer {
public:
    static constexpr qint64 kTickMs = 300; // the window's measuring period

    struct Stats {
        qsizetype chunks = 0;
        qsizetype passings = 0;
        qsizetype rows = 0; // pending rows taken by measuring
        qsizetype attempts = 0;
        qsizetype suspect = 0;
        qsizetype droppedBytes = 0; // by a receive buffer (a line without end)
    };

    // Settings given here win over those the capture records (Dist, Wait and
    // the plausibility limits, see capture::Record).
    void overrideSetting(const QString& key, int value);

    // One record in order of the file. Raises DbError.
    void feed(const capture::Record& r);
    // Measures what is left pending, on the capture's clock. Raises DbError.
    void finish();

    const Stats& stats() const { return stats_; }

private:
    void apply(const QString& key, int value);
    void ticksUntil(qint64 ms);
    // One measuring run at ms on the head of the queue (read here unless
    // given): false when no row was pending.
    bool measure(qint64 ms, std::optional<SpeedTable::PendingRow> head = std::nullopt);
    qint64 spacingMs() const { return qint64(wait_) * 1000 + kTickMs; }

    int dist_ = 10;
    int wait_ = 3;
    SuspectChecks checks_;
    QStringList fixed_; // keys given on the command line
    std::array<ReceiveBuffer, 2> buffers_;
    bool measurable_ = false;
    PassingBacklog backlog_{[this](const QueuedPassing& p) { storeOne(p); }};
    void storeOne(const QueuedPassing& p);
    // False only when the queue was found empty and no passing came since:
    // a measuring tick then has nothing to ask the database.
    bool maybePending_ = true;
    // The capture's clock, never going back; a capture holds no time past
    // capture::kLastMs, so it counts on from there without overflow.
    qint64 now_ = 0;
    qint64 nextTick_ = -1; // -1: the clock has not started
    qint64 lastRun_ = -1;  // the last run that took a row and held its speed
    Stats stats_;
};
