#include "Replay.h"

#include "Database.h"
#include "Ingest.h"
#include "ReceivedLines.h"
#include "SpeedTable.h"

#include <algorithm>
#include <utility>

void Replayer::overrideSetting(const QString& key, int value) {
    apply(key, value);
    fixed_ << key;
}

void Replayer::apply(const QString& key, int value) {
    if (key == QLatin1String("Dist"))
        dist_ = value;
    else if (key == QLatin1String("Wait"))
        wait_ = value;
    else if (key == QLatin1String("MinKmh"))
        checks_.MinKmh = value;
    else if (key == QLatin1String("MaxKmh"))
        checks_.MaxKmh = value;
    else if (key == QLatin1String("DoubleReadMs"))
        checks_.DoubleReadMs = value;
    else if (key == QLatin1String("MaxSectionS"))
        checks_.MaxSectionS = value;
    else if (key == QLatin1String("HoldSuspect"))
        checks_.HoldSuspect = value != 0 ? 1 : 0;
}

void Replayer::storeOne(const QueuedPassing& p) {
    maybePending_ = true;
    if (ingest::storePassing(p))
        measurable_ = true;
}

void Replayer::feed(const capture::Record& r) {
    // A clock set back (or a later session appended) does not turn time
    // back for the measuring timer.
    now_ = std::max(now_, r.ms);
    if (nextTick_ < 0)
        nextTick_ = now_ + kTickMs;
    if (r.kind == capture::Record::Setting) {
        if (!fixed_.contains(r.key))
            apply(r.key, r.value);
        return;
    }
    ticksUntil(now_);
    ++stats_.chunks;
    const int loop = r.loop;
    ReceiveBuffer& buffer = buffers_[loop - 1];
    stats_.droppedBytes += buffer.append(r.bytes);
    ReceivedLines got;
    QList<QueuedPassing> passings;
    TakeLines(buffer, loop, got,
              [&](const QString& tpid, const QString& time, const QByteArray& line) {
                  passings.append({loop, tpid, time, r.ms, line});
              });
    stats_.passings += passings.size();
    measurable_ = false;
    const BacklogResult stored = backlog_.add(passings);
    if (!stored.stored)
        throw DbError(stored.error);
    // A row completed with its loop-1 time is measured at once when nothing
    // holds measuring, as the window does.
    if (std::exchange(measurable_, false) && (lastRun_ < 0 || now_ - lastRun_ >= spacingMs())) {
        const std::optional<SpeedTable::PendingRow> head = SpeedTable::nextPending();
        if (head && head->hasTime1)
            measure(now_, head);
    }
}

void Replayer::ticksUntil(qint64 ms) {
    while (nextTick_ <= ms) {
        if (!measure(nextTick_)) {
            // Nothing pending: nothing changes before the next chunk, so the
            // ticks up to it find nothing either.
            nextTick_ += (ms - nextTick_) / kTickMs * kTickMs + kTickMs;
        }
    }
}

bool Replayer::measure(qint64 ms, std::optional<SpeedTable::PendingRow> row) {
    if (!row && maybePending_)
        row = SpeedTable::nextPending();
    if (!row) {
        maybePending_ = false;
        return false;
    }
    const ingest::MeasureRun run = ingest::evaluate(*row, dist_, checks_, ms);
    ingest::record(run);
    ++stats_.rows;
    if (run.attempt) {
        ++stats_.attempts;
        if (run.attempt->flags)
            ++stats_.suspect;
    }
    if (run.held) {
        // Nothing shown, nothing held: the timer goes on at once.
        nextTick_ = ms + kTickMs;
    } else {
        // The speed is held for Wait; the timer starts again after it.
        lastRun_ = ms;
        nextTick_ = ms + spacingMs();
    }
    return true;
}

void Replayer::finish() {
    if (nextTick_ < 0)
        return;
    while (measure(nextTick_)) {
    }
}
