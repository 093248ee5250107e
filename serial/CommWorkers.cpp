// The transmit and receive workers of one opening of the serial component,
// and how their notifications reach the GUI thread.
#include "CommSession.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <thread>

namespace commx {

std::mutex g_postLock;
std::atomic<int> g_liveWorkers{0};

namespace {

// How long a worker stays after it was told to end, and the checks of the
// line counters while no data comes (drivers that count line events only).
constexpr milliseconds kWorkerLinger{1000};
constexpr int kCounterPeriodMs = 50;
constexpr int kLeftoverPeriodMs = 20;
constexpr std::chrono::milliseconds kRenoticeAfter{500};
// Longest pause between two looks at the driver's output queue.
constexpr qint64 kDrainPollMaxMs = 100;

bool post(CommEvent* e, CommSession& s) {
    {
        std::lock_guard g(g_postLock);
        if (s.owner) {
            QCoreApplication::postEvent(s.owner, e);
            return true;
        }
    }
    delete e;
    return false;
}

// Delivers a notification and waits until the GUI thread has handled it, or
// until Close tells the worker to end.
void sendNotice(const std::shared_ptr<CommSession>& s, int code, int param) {
    quint64 seq;
    {
        std::lock_guard g(s->sendLock);
        seq = ++s->sentSeq;
    }
    post(new CommEvent(code, s, param, seq), *s);
    std::unique_lock lk(s->sendLock);
    s->sendDone.wait(lk, [&] { return s->doneSeq >= seq || s->stopReceive.load(); });
}

void pause(milliseconds ms) {
    std::this_thread::sleep_for(ms);
}

// Half-duplex boards listen while RTS is in its rest state; the pauses give
// the line driver time to turn round.
void beginBurst(CommSession& s) {
    const int flow = s.flowCtrl.load();
    if (flow != cfcHalfHigh && flow != cfcHalfLow)
        return;
    pause(milliseconds(100));
    s.device->setModemLine(ModemLine::Rts, flow == cfcHalfHigh);
    pause(milliseconds(10));
}

void endBurst(CommSession& s) {
    const int flow = s.flowCtrl.load();
    if (flow != cfcHalfHigh && flow != cfcHalfLow)
        return;
    pause(milliseconds(20));
    s.device->setModemLine(ModemLine::Rts, flow != cfcHalfHigh);
}

enum class WriteEnd { Sent, TimedOut, Failed };

// What the driver still holds when the time-out passes would reach the board
// whenever CTS comes back, long after it was meant for it.
WriteEnd discardQueued(CommSession& s) {
    std::lock_guard g(s.deviceLock);
    s.device->flushOutput();
    return WriteEnd::TimedOut;
}

// Waits until the driver has sent what it took: the driver takes some KiB at
// once even while CTS is low, so only an empty output queue means the block
// is on the line. The queue is looked at about when the line could have
// emptied it; a purge, Close or a lost device wakes the pause at once.
WriteEnd drainOutput(CommSession& s, bool bounded, Clock::time_point deadline) {
    for (;;) {
        if (s.purging.load() || s.stopTrans.load() || s.gone.load())
            return WriteEnd::Failed;
        const int queued = s.device->outputQueue();
        if (queued <= 0)
            return WriteEnd::Sent; // empty, or a driver that cannot tell
        // 10 bits a character; a little late costs less than looking often.
        qint64 step = qint64(queued) * 10 * 1000 / std::max(s.bitRate.load(), 1) + 1;
        step = std::min(step, kDrainPollMaxMs);
        if (bounded) {
            const qint64 left =
                std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return discardQueued(s);
            step = std::min(step, left);
        }
        const WaitStatus w = s.device->pauseTransmitter(int(step));
        if (w == WaitStatus::Gone) {
            s.markGone();
            return WriteEnd::Failed;
        }
        if (w == WaitStatus::Failed)
            return WriteEnd::Failed;
    }
}

// Writes one block until every byte has left the driver, the write time-out
// counted from `start` passed (what is left is discarded), or a purge, Close
// or a lost device cut it short.
WriteEnd writeBlock(CommSession& s, const Block& b, Clock::time_point start) {
    const int timeout = s.timeOutTrans.load();
    const auto deadline = start + milliseconds(std::max(timeout, 0));
    int done = 0;
    while (done < b.size) {
        if (s.purging.load() || s.stopTrans.load() || s.gone.load())
            return WriteEnd::Failed;
        int n = 0;
        IoStatus st;
        {
            std::lock_guard g(s.deviceLock);
            st = s.device->write(b.data.get() + done, b.size - done, &n);
        }
        if (st == IoStatus::Ok) {
            done += n;
            continue;
        }
        if (st == IoStatus::Gone) {
            s.markGone();
            return WriteEnd::Failed;
        }
        if (st == IoStatus::Failed)
            return WriteEnd::Failed;
        int wait = -1; // a time-out of 0 means none, as the line's own did
        if (timeout > 0) {
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return discardQueued(s);
            wait = int(left.count());
        }
        const WaitStatus w = s.device->waitWritable(wait);
        if (w == WaitStatus::Gone) {
            s.markGone();
            return WriteEnd::Failed;
        }
        if (w == WaitStatus::Failed)
            return WriteEnd::Failed;
    }
    return drainOutput(s, timeout > 0, deadline);
}

} // namespace

void postNotice(const std::shared_ptr<CommSession>& s, int code, int param) {
    post(new CommEvent(code, s, param, 0), *s);
}

void transmitRun(std::shared_ptr<CommSession> s) {
    WorkerCount counted;
    // The Write whose block timed out last (0: none), so the board is not
    // taking bytes. The blocks of later Writes then have their time counted
    // from when they were queued: lines that waited behind timed-out ones
    // are dropped too, instead of reaching the board long after they were
    // meant for it when it comes back. The blocks of one Write each keep
    // the whole time-out.
    quint64 stalledBy = 0;
    while (!s->stopTrans.load()) {
        {
            std::unique_lock lk(s->queueLock);
            s->queueWake.wait_for(lk, milliseconds(100),
                                  [&] { return s->wakeFlag || s->stopTrans.load(); });
            s->wakeFlag = false;
        }
        bool sending = false;
        for (;;) {
            Block b;
            {
                std::lock_guard g(s->queueLock);
                if (s->queue.empty())
                    break;
                b = std::move(s->queue.front());
                s->queue.pop_front();
            }
            const int timeout = s->timeOutTrans.load();
            const bool stalled = stalledBy != 0 && b.write != stalledBy;
            const bool stale =
                stalled && timeout > 0 && Clock::now() - b.queued >= milliseconds(timeout);
            if (!s->purging.load() && !s->stopTrans.load() && !s->gone.load() && !stale) {
                if (!sending) {
                    sending = true;
                    beginBurst(*s);
                }
                // Cut short by the time-out is not told apart from sent.
                const WriteEnd end = writeBlock(*s, b, stalled ? b.queued : Clock::now());
                if (end == WriteEnd::Failed) {
                    if (const int errors = s->takeErrors())
                        postNotice(s, TCustomCommX::WM_COMM_ERROR, errors);
                } else {
                    stalledBy = end == WriteEnd::TimedOut ? b.write : 0;
                }
            }
            const int size = b.size;
            b.data.reset();
            postNotice(s, TCustomCommX::WM_COMM_TRANS, size);
            {
                std::lock_guard g(s->counterLock);
                s->pendingBytes = std::max(0, s->pendingBytes - size);
                if (s->pendingBlocks > 0)
                    --s->pendingBlocks;
            }
            s->countersLowered.notify_all();
        }
        if (sending)
            endBurst(*s);
    }
    pause(kWorkerLinger);
}

void receiveRun(std::shared_ptr<CommSession> s) {
    WorkerCount counted;
    SerialDevice& dev = *s->device;
    // Bytes that ever reached the input queue = queued + taken by Read. A
    // wait for data returns at once while bytes a handler left unread are
    // queued; arrivals are then found by this total instead, checked at a
    // short period. Negative: nothing left, wait for data.
    qint64 leftBehind = -1;
    bool renoticeNow = false;
    auto lastNotice = std::chrono::steady_clock::now();
    while (!s->stopReceive.load()) {
        if (s->gone.load()) {
            // Reception has ended; only Close wakes this wait.
            dev.waitForEvent(false, -1);
            continue;
        }
        int timeout = s->countersSupported ? kCounterPeriodMs : -1;
        if (leftBehind >= 0)
            timeout = kLeftoverPeriodMs;
        if (renoticeNow)
            timeout = 0;
        renoticeNow = false;
        const WaitStatus w = dev.waitForEvent(leftBehind < 0, timeout);
        if (s->stopReceive.load())
            break;
        if (w == WaitStatus::Gone || w == WaitStatus::Failed) {
            s->markGone();
            continue;
        }
        if (const int errors = s->takeErrors()) {
            sendNotice(s, TCustomCommX::WM_COMM_ERROR, errors);
            if (s->stopReceive.load())
                break;
        }
        int mask = s->takeLineChanges();
        const int inDriver = dev.inputQueue();
        if (inDriver < 0) {
            s->markGone();
            continue;
        }
        const qint64 queued = inDriver + s->readAhead();
        const qint64 total = inDriver + qint64(s->bytesTaken.load());
        // Waiting bytes are announced when new ones arrived, and again after
        // a while even without arrivals, so that a full queue whose handler
        // once left it unread cannot stall the port for good.
        const bool stale =
            leftBehind >= 0 && std::chrono::steady_clock::now() - lastNotice >= kRenoticeAfter;
        if (queued > 0 && (leftBehind < 0 || total > leftBehind || stale))
            mask |= TCustomCommX::EV_RXCHAR;
        if (mask & kSignalEvents) {
            sendNotice(s, TCustomCommX::WM_COMM_SIGNAL, mask);
            if (s->stopReceive.load())
                break;
        }
        if (mask & TCustomCommX::EV_RXCHAR) {
            sendNotice(s, TCustomCommX::WM_COMM_RECEIVE, 0);
            lastNotice = std::chrono::steady_clock::now();
            if (s->stopReceive.load())
                break;
            const int after = dev.inputQueue();
            const qint64 waiting = std::max(after, 0) + s->readAhead();
            const qint64 totalAfter = std::max(after, 0) + qint64(s->bytesTaken.load());
            if (waiting <= 0) {
                leftBehind = -1; // all read: wait for data
            } else if (totalAfter > total) {
                // Bytes that came in while the handler read (in the driver or
                // already read ahead) are announced at once.
                leftBehind = -1;
                renoticeNow = true;
            } else {
                leftBehind = totalAfter; // left unread: wait for more
            }
        }
    }
    pause(kWorkerLinger);
}

} // namespace commx
