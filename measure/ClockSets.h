#pragma once

#include <QtGlobal>

#include <deque>

// The PC times (UTC milliseconds) at which a clock command went out to a
// decoder. A section timed across one of them is timed across a jump of the
// decoder clocks, so its two passing times do not compare.
class ClockSets {
public:
    // Kept: enough for hours of the shortest period; a section longer than
    // that is flagged long anyway.
    static constexpr std::size_t kKept = 4096;

    void sent(qint64 ms);

    // A command went out at a time t with fromMs <= t <= toMs. A passing
    // received in the same millisecond as a command was stamped before the
    // decoder saw it, and one received right after may have been too: both
    // ends count.
    bool within(qint64 fromMs, qint64 toMs) const;

private:
    std::deque<qint64> times_; // ascending
};
