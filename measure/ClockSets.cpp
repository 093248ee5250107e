#include "ClockSets.h"

#include <algorithm>

void ClockSets::sent(qint64 ms) {
    // The PC clock may have been stepped back meanwhile: keep the order.
    times_.insert(std::upper_bound(times_.begin(), times_.end(), ms), ms);
    while (times_.size() > kKept)
        times_.pop_front();
}

bool ClockSets::within(qint64 fromMs, qint64 toMs) const {
    const auto first = std::lower_bound(times_.begin(), times_.end(), fromMs);
    return first != times_.end() && *first <= toMs;
}
