#include "ClockAlign.h"

#include <QDateTime>
#include <QTimer>

#include <algorithm>

namespace {

qint64 msIntoSecond(qint64 ms) {
    return ((ms % 1000) + 1000) % 1000;
}

} // namespace

ClockAlign::ClockAlign(QObject* parent) : QObject(parent), timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    // A coarse timer may be off by 5 %: hundreds of milliseconds.
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &ClockAlign::check);
}

void ClockAlign::request(bool portOpen) {
    if (timer_->isActive())
        return;
    if (!portOpen) {
        emit due();
        return;
    }
    check();
}

bool ClockAlign::waiting() const {
    return timer_->isActive();
}

void ClockAlign::check() {
    const qint64 into = msIntoSecond(QDateTime::currentMSecsSinceEpoch());
    if (into < kOnTurnMs) {
        emit due();
        return;
    }
    // A timer that fired a little early comes back for the rest.
    timer_->start(int(1000 - into));
}

qint64 ClockAlign::untilNextTick(qint64 sentMs, qint64 periodMs) {
    const qint64 turn = sentMs - msIntoSecond(sentMs);
    return std::max<qint64>(0, turn + periodMs - kLeadMs - sentMs);
}
