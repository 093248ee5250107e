#include "Measurement.h"

#include "SpeedText.h"

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
