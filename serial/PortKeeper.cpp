#include "PortKeeper.h"

#include "CommX.h"

#include <QScopeGuard>
#include <QTimer>

#include <algorithm>

PortKeeper::PortKeeper(QObject* parent, int retryMs)
    : QObject(parent), timer_(new QTimer(this)), retryMs_(retryMs) {
    clock_.start();
    // A loss is a flag the port's worker raised: cheap to look at often.
    timer_->setInterval(std::min(CheckMs, retryMs));
    connect(timer_, &QTimer::timeout, this, &PortKeeper::check);
    timer_->start();
}

PortKeeper::~PortKeeper() = default;

void PortKeeper::add(TCustomCommX* comm, std::function<void()> reopened,
                     std::function<void()> lost) {
    ports_.push_back({comm, std::move(reopened), std::move(lost), false, {}, 0});
}

PortKeeper::Port* PortKeeper::find(const TCustomCommX* comm) {
    for (Port& p : ports_)
        if (p.comm == comm)
            return &p;
    return nullptr;
}

const PortKeeper::Port* PortKeeper::find(const TCustomCommX* comm) const {
    return const_cast<PortKeeper*>(this)->find(comm);
}

void PortKeeper::setWanted(TCustomCommX* comm, bool wanted) {
    if (Port* p = find(comm)) {
        p->wanted = wanted;
        p->failure.clear();
        // The owner opens (or tries) the port itself right now.
        p->nextTry = clock_.elapsed() + retryMs_;
    }
}

bool PortKeeper::wanted(const TCustomCommX* comm) const {
    const Port* p = find(comm);
    return p && p->wanted;
}

QString PortKeeper::failure(const TCustomCommX* comm) const {
    const Port* p = find(comm);
    return p && p->wanted && !comm->isOpen() ? p->failure : QString();
}

void PortKeeper::setFailure(TCustomCommX* comm, const QString& reason) {
    if (Port* p = find(comm))
        p->failure = reason;
}

void PortKeeper::check() {
    // A hook may pause with the event loop running; the timer must not
    // start a second round inside the first.
    if (busy_ || (mayRetry && !mayRetry()))
        return;
    busy_ = true;
    const auto done = qScopeGuard([this] { busy_ = false; });
    for (Port& p : ports_) {
        if (!p.wanted || p.comm->PortNo() < 1)
            continue;
        const qint64 now = clock_.elapsed();
        if (p.comm->isOpen()) {
            if (!p.comm->deviceLost())
                continue;
            // Closed at once: writes to a vanished device only fail, and the
            // descriptor would keep the old device node busy.
            p.comm->Close();
            if (p.lost)
                p.lost();
            if (!p.wanted || p.comm->isOpen())
                continue;
            p.nextTry = now; // an adapter put back quickly is taken at once
        }
        if (now < p.nextTry)
            continue;
        p.nextTry = now + retryMs_;
        try {
            p.comm->Open();
        } catch (const ECommError&) {
            continue; // still missing: the next round tries again
        }
        p.failure.clear();
        if (p.reopened)
            p.reopened();
    }
}

void PortKeeper::startGathering() {
    gathering_ = true;
    keys_.clear();
    lines_.clear();
}

bool PortKeeper::gather(const QString& key, const QString& line) {
    if (!gathering_)
        return false;
    const qsizetype at = keys_.indexOf(key);
    if (at >= 0) {
        lines_[at] = line;
    } else {
        keys_ << key;
        lines_ << line;
    }
    return true;
}

QStringList PortKeeper::takeGathered() {
    gathering_ = false;
    keys_.clear();
    return std::exchange(lines_, {});
}
