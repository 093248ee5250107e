#include "DecoderHealth.h"

#include "DecoderText.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr qint64 kDayMs = 86400 * 1000;
constexpr qint64 kMinuteMs = 60 * 1000;
// A drift is only told once the trend spans this long.
constexpr double kTrendSpanS = 60;
// The PC's time of day may be slewed (NTP corrects by at most 500 ppm) but
// not jump: a jump beyond this, plus the slew, is a step.
constexpr double kStepMs = 1000;
constexpr double kSlew = 0.001;
constexpr size_t kTrendSamples = 4096;
// Both offsets need a few passings before a delayed first line cannot pass
// for a difference between the decoders.
constexpr size_t kSettledSamples = 3;

// A difference of two times of day, brought into half a day either side, so
// that midnight (86399.999 -> 0) is a small step and not a day.
double wrapDay(double ms) {
    ms = std::fmod(ms, double(kDayMs));
    if (ms > kDayMs / 2)
        ms -= kDayMs;
    else if (ms <= -kDayMs / 2)
        ms += kDayMs;
    return ms;
}

} // namespace

DecoderHealth::DecoderHealth(HealthLimits limits) : limits_(limits) {}

void DecoderHealth::portOpened(int loop, qint64 monoMs) {
    Loop& l = loops_[index(loop)];
    const bool alarmed = l.silent || l.failed;
    l.open = true;
    l.openedAt = monoMs;
    l.silent = false;
    l.failed = false;
    l.failure.clear();
    if (alarmed)
        events_ << HealthEvent{HealthEvent::Back, loop, {}};
}

void DecoderHealth::portClosed(int loop) {
    // Closed on purpose: no alarm to raise or keep.
    Loop& l = loops_[index(loop)];
    l.open = false;
    l.silent = false;
    l.failed = false;
    l.failure.clear();
}

void DecoderHealth::portFailed(int loop, const QString& reason) {
    Loop& l = loops_[index(loop)];
    l.open = false;
    l.silent = false;
    if (l.failed && l.failure == reason)
        return;
    l.failed = true;
    l.failure = reason;
    events_ << HealthEvent{HealthEvent::PortFailed, loop, reason};
}

void DecoderHealth::received(int loop, qint64 monoMs, qint64 todMs, qsizetype bytes,
                             qsizetype discarded, const QStringList& lines) {
    Loop& l = loops_[index(loop)];
    if (bytes > 0)
        l.lastByte = monoMs;
    l.discarded += discarded;
    if (lines.isEmpty())
        return;
    l.lastLine = monoMs;
    while (!l.lineTimes.empty() && l.lineTimes.front() <= monoMs - kMinuteMs)
        l.lineTimes.pop_front();
    for (const QString& text : lines) {
        l.lineTimes.push_back(monoMs);
        QByteArray rest = text.toUtf8();
        QByteArray first;
        CutField(rest, first);
        if (first.contains('#'))
            ++l.statusLines;
        const std::optional<Passing> p = ParsePassing(text.toUtf8());
        if (!p) {
            ++l.nonPassings;
            continue;
        }
        ++l.passings;
        bool ok = false;
        const double seconds = p->time.trimmed().toDouble(&ok);
        if (ok && std::isfinite(seconds))
            passing(l, loop, monoMs, todMs, seconds * 1000);
    }
    if (l.silent || l.failed) {
        l.silent = false;
        l.failed = false;
        l.failure.clear();
        events_ << HealthEvent{HealthEvent::Back, loop, {}};
    }
    updateInter();
}

void DecoderHealth::restart(Loop& l) {
    l.window.clear();
    l.offset.reset();
    l.slope.reset();
    l.trend.clear();
}

void DecoderHealth::passing(Loop& l, int loop, qint64 monoMs, qint64 todMs, double decoderMs) {
    if (l.lastMono) {
        const double dMono = double(monoMs - *l.lastMono);
        const double dTod = wrapDay(double(todMs - l.lastTod));
        if (std::abs(dTod - dMono) > kStepMs + kSlew * dMono) {
            // Offsets from before the step would hold the filter at a value
            // that is no longer true, for a whole window.
            restart(l);
            events_ << HealthEvent{HealthEvent::PcClockStep, loop, {}};
        }
    }
    l.lastMono = monoMs;
    l.lastTod = todMs;

    // The line needs time to arrive: the delay only ever adds to the
    // offset, so the least offset of the last passings, each carried
    // forward along the trend to now, is the truest.
    l.window.push_back({monoMs, wrapDay(double(todMs) - decoderMs)});
    while (int(l.window.size()) > std::max(1, limits_.window))
        l.window.pop_front();
    const double slope = l.slope.value_or(0);
    double best = 0;
    bool first = true;
    for (const Sample& s : l.window) {
        const double v = s.offset + slope * double(monoMs - s.mono) / 1000;
        if (first || v < best)
            best = v;
        first = false;
    }
    l.offset = best;

    const bool notSet = std::abs(best) >= limits_.notSetMs;
    if (notSet != l.clockNotSet) {
        l.clockNotSet = notSet;
        events_ << HealthEvent{notSet ? HealthEvent::ClockNotSet : HealthEvent::ClockSet, loop, {}};
    }

    l.trend.push_back(l.window.back());
    while (l.trend.size() > kTrendSamples)
        l.trend.pop_front();
    l.slope = trendSlope(l.trend, std::max(2, limits_.window / 4));

    l.history << QPointF(double(monoMs), best);
    while (!l.history.isEmpty() && l.history.first().x() < double(monoMs - kHistoryMs))
        l.history.removeFirst();
}

void DecoderHealth::updateInter() {
    const std::optional<double> inter = interOffsetMs();
    if (!inter)
        return;
    const bool over = std::abs(*inter) > limits_.maxOffsetMs;
    if (over == offsetOver_)
        return;
    offsetOver_ = over;
    events_ << HealthEvent{over ? HealthEvent::OffsetOver : HealthEvent::OffsetBack, 0, {}};
}

void DecoderHealth::clockSet(qint64) {
    // The excursion over the limit ends only when an offset is measured
    // within it again, so a decoder that ignores the command is not sent
    // one after another.
    for (Loop& l : loops_)
        restart(l);
}

void DecoderHealth::check(qint64 monoMs) {
    for (int loop = 1; loop <= 2; ++loop) {
        Loop& l = loops_[index(loop)];
        if (!l.open || l.silent || l.failed)
            continue;
        const qint64 since = std::max(l.lastLine.value_or(l.openedAt), l.openedAt);
        if (monoMs - since >= limits_.silenceMs) {
            l.silent = true;
            events_ << HealthEvent{HealthEvent::Silent, loop, {}};
        }
    }
}

QList<HealthEvent> DecoderHealth::takeEvents() {
    QList<HealthEvent> out;
    out.swap(events_);
    return out;
}

LoopFigures DecoderHealth::figures(int loop, qint64 monoMs) const {
    const Loop& l = loops_[index(loop)];
    LoopFigures f;
    f.open = l.open;
    f.sinceByteMs = l.lastByte ? monoMs - *l.lastByte : -1;
    f.sinceLineMs = l.lastLine ? monoMs - *l.lastLine : -1;
    f.linesPerMinute = int(std::count_if(l.lineTimes.begin(), l.lineTimes.end(),
                                         [&](qint64 t) { return t > monoMs - kMinuteMs; }));
    f.statusLines = l.statusLines;
    f.passings = l.passings;
    f.nonPassings = l.nonPassings;
    f.discarded = l.discarded;
    f.silent = l.silent;
    f.failed = l.failed;
    f.failure = l.failure;
    f.clockNotSet = l.clockNotSet;
    f.offsetMs = l.offset;
    if (l.slope)
        f.driftPpm = -*l.slope * 1000;
    return f;
}

// The trend by least squares over the lower envelope of the offsets: the
// least offset of each run of `segment` passings, at its own time. Delays
// that only add (and a late line now and then) then neither tilt the line nor
// make it lag, as a fit through every offset or through filtered ones would.
std::optional<double> DecoderHealth::trendSlope(const std::deque<Sample>& samples, int segment) {
    if (samples.empty() || double(samples.back().mono - samples.front().mono) / 1000 < kTrendSpanS)
        return std::nullopt;
    const qint64 t0 = samples.front().mono;
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < samples.size(); i += size_t(segment)) {
        const size_t end = std::min(samples.size(), i + size_t(segment));
        const Sample* low = &samples[i];
        for (size_t j = i + 1; j < end; ++j)
            if (samples[j].offset < low->offset)
                low = &samples[j];
        const double x = double(low->mono - t0) / 1000;
        n += 1;
        sx += x;
        sy += low->offset;
        sxx += x * x;
        sxy += x * low->offset;
    }
    const double det = n * sxx - sx * sx;
    if (n < 3 || det <= 0)
        return std::nullopt;
    return (n * sxy - sx * sy) / det;
}

std::optional<double> DecoderHealth::interOffsetMs() const {
    if (!loops_[0].offset || !loops_[1].offset || loops_[0].window.size() < kSettledSamples ||
        loops_[1].window.size() < kSettledSamples)
        return std::nullopt;
    return *loops_[0].offset - *loops_[1].offset;
}

std::optional<double> DecoderHealth::interSpreadMs() const {
    if (!interOffsetMs())
        return std::nullopt;
    // Of the filtered offsets: a raw one holds the line's way to the PC as
    // well, which says nothing about the clocks. Robust (1.4826 times the
    // median absolute deviation, a standard deviation for normal data): the
    // first lines after a start arrive late, and one such offset would
    // otherwise stand for the spread until it leaves the window.
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        const size_t m = v.size() / 2;
        return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
    };
    double sum = 0;
    for (const Loop& l : loops_) {
        const qsizetype n = std::min<qsizetype>(l.history.size(), std::max(2, limits_.window));
        if (n < 2)
            continue;
        std::vector<double> values;
        for (qsizetype i = l.history.size() - n; i < l.history.size(); ++i)
            values.push_back(l.history[i].y());
        const double mid = median(values);
        for (double& v : values)
            v = std::abs(v - mid);
        const double sigma = 1.4826 * median(values);
        sum += sigma * sigma;
    }
    return std::sqrt(sum);
}

std::optional<double> DecoderHealth::interDriftMs(qint64 monoMs) const {
    const Loop& a = loops_[0];
    const Loop& b = loops_[1];
    if (!a.slope || !b.slope || a.trend.empty() || b.trend.empty())
        return std::nullopt;
    const qint64 since = std::min(a.trend.front().mono, b.trend.front().mono);
    return std::abs(*a.slope - *b.slope) * double(monoMs - since) / 1000;
}

double SpeedErrorPercent(double offsetMs, int distCm, double kmh) {
    if (distCm <= 0 || kmh <= 0)
        return 0;
    const double travelS = distCm / 100000.0 / kmh * 3600.0;
    return offsetMs / 1000.0 / travelS * 100.0;
}
