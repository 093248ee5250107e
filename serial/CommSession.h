#pragma once

// The inside of the serial component, shared by the component (CommX.cpp)
// and its two workers (CommWorkers.cpp): the session of one opening and the
// notifications the workers post to the GUI thread. Not for other folders.

#include "CommX.h"

#include <QEvent>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace commx {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kSignalEvents = TCustomCommX::EV_CTS | TCustomCommX::EV_DSR | TCustomCommX::EV_RLSD |
                              TCustomCommX::EV_BREAK | TCustomCommX::EV_RING; // 376
constexpr int kLineChangeEvents = kSignalEvents & ~TCustomCommX::EV_BREAK;    // 312

// Workers hand their notifications over under this lock, and the GUI thread
// takes it before it reads one: the hand-over inside Qt's event queue is not
// visible to the thread checker, this lock is.
extern std::mutex g_postLock;
extern std::atomic<int> g_liveWorkers;

inline QEvent::Type eventType(int code) {
    return static_cast<QEvent::Type>(QEvent::User + code);
}

// One write of the component, queued for the transmit worker.
struct Block {
    std::unique_ptr<char[]> data;
    int size = 0;
    Clock::time_point queued;
    quint64 write = 0; // the Write call it came from, counted from 1
};

// Held by a worker for its whole run.
struct WorkerCount {
    ~WorkerCount() { g_liveWorkers.fetch_sub(1); }
};

} // namespace commx

// State of one opening, shared by the component and its two workers; the
// last of them to let go frees it, so the component may be destroyed while
// the workers still linger.
struct CommSession {
    std::unique_ptr<SerialDevice> device;

    std::mutex deviceLock; // around each write issued and each output purge

    std::mutex counterLock;
    std::condition_variable countersLowered;
    int pendingBytes = 0;
    int pendingBlocks = 0;

    std::mutex queueLock;
    std::condition_variable queueWake;
    std::deque<commx::Block> queue;
    bool wakeFlag = false;
    quint64 writes = 0; // Write calls so far; GUI thread only

    std::atomic<quint64> bytesTaken{0};     // from the driver by Read
    std::atomic<quint64> bytesDelivered{0}; // handed to callers of Read (or dropped)
    // Bytes Read took from the driver ahead of its callers: waiting for the
    // handler like those still in the driver's queue.
    qint64 readAhead() const { return qint64(bytesTaken.load()) - qint64(bytesDelivered.load()); }
    std::atomic<bool> purging{false};
    std::atomic<bool> stopTrans{false};
    std::atomic<bool> stopReceive{false};
    std::atomic<bool> gone{false};
    std::atomic<bool> hasTransWorker{false};
    std::atomic<bool> hasReceiveWorker{false};
    std::atomic<int> flowCtrl{cfcRtsCts};
    std::atomic<int> timeOutTrans{3000};
    std::atomic<int> bitRate{9600};

    TCustomCommX* owner = nullptr; // guarded by g_postLock; null once closed

    // Notifications the receive worker waits for.
    std::mutex sendLock;
    std::condition_variable sendDone;
    quint64 sentSeq = 0;
    quint64 doneSeq = 0;

    // Line counters last seen, kept apart for errors and for line changes
    // so that an error report from a read does not eat a line change.
    std::mutex counterReadLock;
    bool countersSupported = false;
    LineCounters errBase;
    LineCounters sigBase;

    void markGone() {
        if (!gone.exchange(true)) {
            // A writer waiting for room must not wait out its time-out.
            device->wakeTransmitter();
        }
    }

    void resetCounters() {
        std::lock_guard g(counterReadLock);
        LineCounters now;
        countersSupported = device->readLineCounters(&now);
        errBase = sigBase = now;
    }

    int takeErrors() {
        std::lock_guard g(counterReadLock);
        LineCounters now;
        if (!countersSupported || !device->readLineCounters(&now))
            return 0;
        int state = 0;
        if (now.overrun != errBase.overrun)
            state |= TCustomCommX::CE_OVERRUN;
        if (now.parity != errBase.parity)
            state |= TCustomCommX::CE_RXPARITY;
        if (now.frame != errBase.frame)
            state |= TCustomCommX::CE_FRAME;
        errBase = now;
        return state;
    }

    int takeLineChanges() {
        std::lock_guard g(counterReadLock);
        LineCounters now;
        if (!countersSupported || !device->readLineCounters(&now))
            return 0;
        int mask = 0;
        if (now.cts != sigBase.cts)
            mask |= TCustomCommX::EV_CTS;
        if (now.dsr != sigBase.dsr)
            mask |= TCustomCommX::EV_DSR;
        if (now.dcd != sigBase.dcd)
            mask |= TCustomCommX::EV_RLSD;
        if (now.rng != sigBase.rng)
            mask |= TCustomCommX::EV_RING;
        if (now.brk != sigBase.brk)
            mask |= TCustomCommX::EV_BREAK;
        sigBase = now;
        return mask;
    }
};

namespace commx {

// A notification on its way to the GUI thread. One that a worker waits for
// releases it when destroyed: after handling, after an exception thrown by
// a handler, or unhandled when the component goes.
class CommEvent final : public QEvent {
public:
    CommEvent(int code, std::shared_ptr<CommSession> session, int param, quint64 seq)
        : QEvent(eventType(code)), m_session(std::move(session)), m_param(param), m_seq(seq) {}
    ~CommEvent() override {
        { std::lock_guard g(g_postLock); }
        if (m_seq != 0) {
            {
                std::lock_guard g(m_session->sendLock);
                m_session->doneSeq = std::max(m_session->doneSeq, m_seq);
            }
            m_session->sendDone.notify_all();
        }
    }
    const CommSession* session() const { return m_session.get(); }
    int param() const { return m_param; }

private:
    std::shared_ptr<CommSession> m_session;
    int m_param;
    quint64 m_seq;
};

// Posts a notification the worker does not wait for.
void postNotice(const std::shared_ptr<CommSession>& s, int code, int param);

// The two workers of one opening.
void transmitRun(std::shared_ptr<CommSession> s);
void receiveRun(std::shared_ptr<CommSession> s);

} // namespace commx
