#include "CommX.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char* const kMsgAlreadyOpen = "ポートは、すでにオープンされています";
const char* const kMsgOpenFailed = "ポートをオープンできませんでした";
const char* const kMsgBuffers = "通信用ポートのバッファを準備できませんでした";
const char* const kMsgBitRate = "通信速度の設定でエラーが発生しました";
const char* const kMsgCharSize = "通信ビット数の設定でエラーが発生しました";
const char* const kMsgParity = "通信パリティチェックの設定でエラーが発生しました";
const char* const kMsgStopBits = "通信ストップビット数の設定でエラーが発生しました";
const char* const kMsgFlow = "通信フロー制御の設定で失敗しました";
const char* const kMsgTimeouts = "通信タイムアウト時間の設定で失敗しました";
const char* const kMsgTransThread = "送信用スレッドを生成できませんでした";
const char* const kMsgReceiveThread = "受信用スレッドを生成できませんでした";

constexpr int kSignalEvents = TCustomCommX::EV_CTS | TCustomCommX::EV_DSR | TCustomCommX::EV_RLSD |
                              TCustomCommX::EV_BREAK | TCustomCommX::EV_RING; // 376
constexpr int kLineChangeEvents = kSignalEvents & ~TCustomCommX::EV_BREAK;     // 312

// How long a worker stays after it was told to end, and the checks of the
// line counters while no data comes (drivers that count line events only).
constexpr milliseconds kWorkerLinger{1000};
constexpr int kCounterPeriodMs = 50;
constexpr int kLeftoverPeriodMs = 20;
constexpr std::chrono::milliseconds kRenoticeAfter{500};
constexpr int kReadAhead = 4096;
// Longest pause between two looks at the driver's output queue.
constexpr qint64 kDrainPollMaxMs = 100;

[[noreturn]] void raise(const char* message)
{
    throw ECommError(QString::fromUtf8(message));
}

// Workers hand their notifications over under this lock, and the GUI thread
// takes it before it reads one: the hand-over inside Qt's event queue is not
// visible to the thread checker, this lock is.
std::mutex g_postLock;
std::atomic<int> g_liveWorkers{0};

std::mutex g_resolverLock;
std::function<QString(int)> g_resolver;

QEvent::Type eventType(int code)
{
    return static_cast<QEvent::Type>(QEvent::User + code);
}

struct Block {
    std::unique_ptr<char[]> data;
    int size = 0;
    Clock::time_point queued;
    quint64 write = 0; // the Write call it came from, counted from 1
};

struct WorkerCount {
    ~WorkerCount() { g_liveWorkers.fetch_sub(1); }
};

} // namespace

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
    std::deque<Block> queue;
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

    void markGone()
    {
        if (!gone.exchange(true)) {
            // A writer waiting for room must not wait out its time-out.
            device->wakeTransmitter();
        }
    }

    void resetCounters()
    {
        std::lock_guard g(counterReadLock);
        LineCounters now;
        countersSupported = device->readLineCounters(&now);
        errBase = sigBase = now;
    }

    int takeErrors()
    {
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

    int takeLineChanges()
    {
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

namespace {

// A notification on its way to the GUI thread. One that a worker waits for
// releases it when destroyed: after handling, after an exception thrown by
// a handler, or unhandled when the component goes.
class CommEvent final : public QEvent {
public:
    CommEvent(int code, std::shared_ptr<CommSession> session, int param, quint64 seq)
        : QEvent(eventType(code)), m_session(std::move(session)), m_param(param), m_seq(seq)
    {
    }
    ~CommEvent() override
    {
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

bool post(CommEvent* e, CommSession& s)
{
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

void postNotice(const std::shared_ptr<CommSession>& s, int code, int param)
{
    post(new CommEvent(code, s, param, 0), *s);
}

// Delivers a notification and waits until the GUI thread has handled it, or
// until Close tells the worker to end.
void sendNotice(const std::shared_ptr<CommSession>& s, int code, int param)
{
    quint64 seq;
    {
        std::lock_guard g(s->sendLock);
        seq = ++s->sentSeq;
    }
    post(new CommEvent(code, s, param, seq), *s);
    std::unique_lock lk(s->sendLock);
    s->sendDone.wait(lk, [&] { return s->doneSeq >= seq || s->stopReceive.load(); });
}

void pause(milliseconds ms)
{
    std::this_thread::sleep_for(ms);
}

// Half-duplex boards listen while RTS is in its rest state; the pauses give
// the line driver time to turn round.
void beginBurst(CommSession& s)
{
    const int flow = s.flowCtrl.load();
    if (flow != cfcHalfHigh && flow != cfcHalfLow)
        return;
    pause(milliseconds(100));
    s.device->setModemLine(ModemLine::Rts, flow == cfcHalfHigh);
    pause(milliseconds(10));
}

void endBurst(CommSession& s)
{
    const int flow = s.flowCtrl.load();
    if (flow != cfcHalfHigh && flow != cfcHalfLow)
        return;
    pause(milliseconds(20));
    s.device->setModemLine(ModemLine::Rts, flow != cfcHalfHigh);
}

enum class WriteEnd { Sent, TimedOut, Failed };

// What the driver still holds when the time-out passes would reach the board
// whenever CTS comes back, long after it was meant for it.
WriteEnd discardQueued(CommSession& s)
{
    std::lock_guard g(s.deviceLock);
    s.device->flushOutput();
    return WriteEnd::TimedOut;
}

// Waits until the driver has sent what it took: the driver takes some KiB at
// once even while CTS is low, so only an empty output queue means the block
// is on the line. The queue is looked at about when the line could have
// emptied it; a purge, Close or a lost device wakes the pause at once.
WriteEnd drainOutput(CommSession& s, bool bounded, Clock::time_point deadline)
{
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
            const qint64 left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
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
WriteEnd writeBlock(CommSession& s, const Block& b, Clock::time_point start)
{
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

void transmitRun(std::shared_ptr<CommSession> s)
{
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
            const bool stale = stalled && timeout > 0 && Clock::now() - b.queued >= milliseconds(timeout);
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

void receiveRun(std::shared_ptr<CommSession> s)
{
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
        const bool stale = leftBehind >= 0 && std::chrono::steady_clock::now() - lastNotice >= kRenoticeAfter;
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

} // namespace

TCustomCommX::TCustomCommX(QObject* owner, DeviceFactory factory)
    : QObject(owner), m_factory(std::move(factory))
{
}

TCustomCommX::~TCustomCommX()
{
    Close();
}

void TCustomCommX::setDeviceResolver(std::function<QString(int)> resolver)
{
    std::lock_guard g(g_resolverLock);
    g_resolver = std::move(resolver);
}

QString TCustomCommX::resolveDevice(int portNo)
{
    {
        std::lock_guard g(g_resolverLock);
        if (g_resolver)
            return g_resolver(portNo);
    }
    return QStringLiteral("/dev/ttyS%1").arg(portNo - 1);
}

int TCustomCommX::liveWorkers()
{
    return g_liveWorkers.load();
}

bool TCustomCommX::deviceLost() const
{
    return m_session && m_session->gone.load();
}

void TCustomCommX::setPortNo(int value)
{
    m_portNo = value;
    if (!isOpen())
        return;
    Close();
    Open();
}

void TCustomCommX::setBitRate(int value)
{
    m_bitRate = value;
    if (!isOpen())
        return;
    m_session->bitRate.store(value);
    m_dcb.bitRate = value;
    applyLine(kMsgBitRate);
}

void TCustomCommX::setCharSize(int value)
{
    m_charSize = value;
    if (!isOpen())
        return;
    m_dcb.charSize = value & 0xFF;
    applyLine(kMsgCharSize);
}

void TCustomCommX::setParityBit(TCommParityBits value)
{
    m_parityBit = value;
    if (!isOpen())
        return;
    m_dcb.parity = value;
    applyLine(kMsgParity);
}

void TCustomCommX::setStopBit(TCommStopBits value)
{
    m_stopBit = value;
    if (!isOpen())
        return;
    m_dcb.stopBits = value;
    applyLine(kMsgStopBits);
}

void TCustomCommX::setFlowCtrl(TCommFlowCtrls value)
{
    m_flowCtrl = value;
    if (!isOpen())
        return;
    m_session->flowCtrl.store(value);
    m_dcb.flow = value;
    // 16-bit fields of the device's record, hence the truncation.
    const int quarter = m_bufLenReceive / 4;
    m_dcb.xonLim = quint16(quarter);
    m_dcb.xoffLim = quint16(3 * quarter);
    applyLine(kMsgFlow);
}

void TCustomCommX::setTimeOutTrans(int value)
{
    m_timeOutTrans = value;
    if (!isOpen())
        return;
    m_session->timeOutTrans.store(value);
    applyTimeouts();
}

void TCustomCommX::setTimeOutReceive(int value)
{
    m_timeOutReceive = value;
    if (!isOpen())
        return;
    applyTimeouts();
}

void TCustomCommX::setBufLenTrans(int value)
{
    m_bufLenTrans = value;
    if (!isOpen())
        return;
    applyQueueSizes();
}

void TCustomCommX::setBufLenReceive(int value)
{
    m_bufLenReceive = value;
    if (!isOpen())
        return;
    applyQueueSizes();
    setFlowCtrl(m_flowCtrl);
}

void TCustomCommX::applyLine(const char* message)
{
    if (!m_session->device->applySettings(m_dcb))
        raise(message);
}

void TCustomCommX::applyTimeouts()
{
    if (!m_session->device->setTimeouts(m_timeOutReceive, m_timeOutTrans))
        raise(kMsgTimeouts);
}

void TCustomCommX::applyQueueSizes()
{
    if (!m_session->device->setQueueSizes(m_bufLenReceive, m_bufLenTrans))
        raise(kMsgBuffers);
}

void TCustomCommX::Open()
{
    if (isOpen())
        raise(kMsgAlreadyOpen);
    m_lastOpenError.clear();
    m_devicePath.clear();
    if (m_portNo < 1) {
        m_lastOpenError = QStringLiteral("no port selected");
        raise(kMsgOpenFailed);
    }
    m_devicePath = resolveDevice(m_portNo);
    std::unique_ptr<SerialDevice> device = m_factory ? m_factory() : createPosixSerialDevice();
    QString reason;
    if (!device || !device->open(m_devicePath, &reason)) {
        m_lastOpenError = device ? reason : QStringLiteral("no device");
        raise(kMsgOpenFailed);
    }
    auto s = std::make_shared<CommSession>();
    s->device = std::move(device);
    s->flowCtrl.store(m_flowCtrl);
    s->timeOutTrans.store(m_timeOutTrans);
    s->bitRate.store(m_bitRate);
    {
        std::lock_guard g(g_postLock);
        s->owner = this;
    }
    m_session = s;
    m_handle = quint32(s->device->nativeHandle());
    if (m_handle == ClosedHandle)
        m_handle = 0;

    try {
        applyQueueSizes();
        PurgeTrans();
        PurgeReceive();
        m_dcb = s->device->currentSettings();
        m_dcb.xonChar = 17;
        m_dcb.xoffChar = 19;
        setBitRate(m_bitRate);
        setCharSize(m_charSize);
        setParityBit(m_parityBit);
        setStopBit(m_stopBit);
        setFlowCtrl(m_flowCtrl);
        applyTimeouts();
        s->resetCounters();
        startWorkers();
        QThread::msleep(100);
    } catch (...) {
        Close();
        throw;
    }
}

void TCustomCommX::startWorkers()
{
    const auto& s = m_session;
    g_liveWorkers.fetch_add(1);
    try {
        std::thread(transmitRun, s).detach();
    } catch (...) {
        g_liveWorkers.fetch_sub(1);
        raise(kMsgTransThread);
    }
    s->hasTransWorker.store(true);
    g_liveWorkers.fetch_add(1);
    try {
        std::thread(receiveRun, s).detach();
    } catch (...) {
        g_liveWorkers.fetch_sub(1);
        raise(kMsgReceiveThread);
    }
    s->hasReceiveWorker.store(true);
}

void TCustomCommX::Close()
{
    if (!isOpen())
        return;
    SetDTR(false);
    SetRTS(false);
    PurgeTrans();
    PurgeReceive();
    QThread::msleep(100);

    const std::shared_ptr<CommSession> s = m_session;
    s->stopTrans.store(true);
    {
        std::lock_guard g(s->queueLock);
        s->wakeFlag = true;
    }
    s->queueWake.notify_all();
    s->stopReceive.store(true);
    { std::lock_guard g(s->sendLock); }
    s->sendDone.notify_all();
    {
        std::lock_guard g(g_postLock);
        s->owner = nullptr;
    }
    // Wakes both workers' waits, then closes the descriptor, which frees the
    // port for the next opening at once.
    s->device->close();
    m_session.reset();
    m_handle = ClosedHandle;
    dropReadAhead();
    QThread::msleep(100);
}

bool TCustomCommX::SendString(const QByteArray& text)
{
    if (text.isEmpty())
        return true;
    return Write(text.constData(), int(text.size()));
}

bool TCustomCommX::Write(const char* data, int size)
{
    if (size == 0)
        return true;
    if (size < 0 || !data)
        return false;
    const std::shared_ptr<CommSession> s = m_session;
    const quint64 write = s ? ++s->writes : 0;
    while (size > 0) {
        if (!isOpen() || !s || m_session != s || !s->hasTransWorker.load())
            return false;
        if (s->gone.load())
            return false;
        const int bufLen = m_bufLenTrans;
        if (bufLen < 1)
            return false; // blocks of no bytes would never end
        bool full;
        {
            std::lock_guard g(s->counterLock);
            full = s->pendingBlocks >= MaxPendingBlocks;
        }
        if (full) {
            QCoreApplication::processEvents();
            std::unique_lock lk(s->counterLock);
            s->countersLowered.wait_for(lk, milliseconds(1),
                                        [&] { return s->pendingBlocks < MaxPendingBlocks; });
            continue;
        }
        const int n = std::min(size, bufLen);
        Block b;
        b.data.reset(new (std::nothrow) char[size_t(n)]);
        if (b.data) {
            std::memcpy(b.data.get(), data, size_t(n));
            b.size = n;
            b.queued = Clock::now();
            b.write = write;
            {
                std::lock_guard g(s->counterLock);
                s->pendingBytes += n;
                ++s->pendingBlocks;
            }
            {
                std::lock_guard g(s->queueLock);
                s->queue.push_back(std::move(b));
                s->wakeFlag = true;
            }
            s->queueWake.notify_one();
        }
        data += n;
        size -= n;
    }
    return true;
}

int TCustomCommX::Read(char* buffer, int size)
{
    if (!isOpen() || !m_session->hasReceiveWorker.load() || !buffer)
        return -1;
    if (size <= 0)
        return 0;
    const std::shared_ptr<CommSession> s = m_session;
    const auto deadline = Clock::now() + milliseconds(std::max(m_timeOutReceive, 0));
    int got = 0;
    for (;;) {
        if (m_rxAt < m_rxBuf.size()) {
            const int n = int(std::min<qsizetype>(size - got, m_rxBuf.size() - m_rxAt));
            std::memcpy(buffer + got, m_rxBuf.constData() + m_rxAt, size_t(n));
            m_rxAt += n;
            got += n;
            s->bytesDelivered.fetch_add(quint64(n));
            if (got == size)
                return got;
        }
        // Read ahead: handlers take their bytes one ReadChar at a time, and a
        // system call per byte would cost more than the rest of the path.
        m_rxBuf.resize(std::max(size - got, kReadAhead));
        m_rxAt = 0;
        int n = 0;
        const IoStatus st = s->device->read(m_rxBuf.data(), int(m_rxBuf.size()), &n);
        m_rxBuf.resize(n);
        if (st == IoStatus::Ok) {
            s->bytesTaken.fetch_add(quint64(n));
            continue;
        }
        if (st == IoStatus::Gone || st == IoStatus::Failed) {
            if (st == IoStatus::Gone)
                s->markGone();
            reportErrors();
            return got > 0 ? got : -1;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return got;
        QCoreApplication::processEvents();
        // Bytes already taken from the driver are the caller's even if a
        // handler closed the port meanwhile.
        if (!isOpen() || m_session != s)
            return got > 0 ? got : -1;
        s->device->waitForData(int(std::min<qint64>(1, left.count())));
    }
}

int TCustomCommX::ReadChar()
{
    char c = 0;
    if (Read(&c, 1) != 1)
        return -1;
    return static_cast<unsigned char>(c);
}

int TCustomCommX::ReceiveCount()
{
    if (!isOpen())
        return 0;
    return int(m_rxBuf.size() - m_rxAt) + std::max(0, m_session->device->inputQueue());
}

void TCustomCommX::PurgeTrans()
{
    if (!isOpen())
        return;
    const std::shared_ptr<CommSession> s = m_session;
    if (!s->hasTransWorker.load()) {
        std::lock_guard g(s->deviceLock);
        s->device->flushOutput();
        return;
    }
    s->purging.store(true);
    s->device->wakeTransmitter();
    for (;;) {
        {
            std::lock_guard g(s->deviceLock);
            s->device->flushOutput();
        }
        std::unique_lock lk(s->counterLock);
        if (s->countersLowered.wait_for(lk, milliseconds(1), [&] {
                return s->pendingBytes == 0 && s->pendingBlocks == 0;
            }))
            break;
    }
    s->purging.store(false);
}

void TCustomCommX::PurgeReceive()
{
    if (!isOpen())
        return;
    dropReadAhead();
    m_session->device->flushInput();
}

void TCustomCommX::dropReadAhead()
{
    if (m_session && m_rxAt < m_rxBuf.size())
        m_session->bytesDelivered.fetch_add(quint64(m_rxBuf.size() - m_rxAt));
    m_rxBuf.clear();
    m_rxAt = 0;
}

void TCustomCommX::SetRTS(bool state)
{
    if (isOpen())
        m_session->device->setModemLine(ModemLine::Rts, state);
}

void TCustomCommX::SetDTR(bool state)
{
    if (isOpen())
        m_session->device->setModemLine(ModemLine::Dtr, state);
}

void TCustomCommX::reportErrors()
{
    if (!m_session)
        return;
    if (const int errors = m_session->takeErrors())
        postNotice(m_session, WM_COMM_ERROR, errors);
}

bool TCustomCommX::event(QEvent* e)
{
    // Pairs with the worker's hand-over before anything of the event is read.
    { std::lock_guard g(g_postLock); }
    const int code = int(e->type()) - int(QEvent::User);
    if (code < WM_COMM_TRANS || code > WM_COMM_ERROR)
        return QObject::event(e);
    const auto* notice = dynamic_cast<const CommEvent*>(e);
    if (!notice)
        return QObject::event(e);
    // Closed, or left over from an earlier opening: ignored.
    if (!m_session || notice->session() != m_session.get())
        return true;
    const int param = notice->param();
    switch (code) {
    case WM_COMM_TRANS:
        if (m_session->hasTransWorker.load() && OnTrans) {
            auto handler = OnTrans;
            handler(this, param);
        }
        break;
    case WM_COMM_RECEIVE:
        if (OnReceive) {
            const int n = ReceiveCount();
            if (n != 0) {
                auto handler = OnReceive;
                handler(this, n);
            }
        }
        break;
    case WM_COMM_SIGNAL:
        if ((param & kLineChangeEvents) && OnSignal) {
            auto handler = OnSignal;
            handler(this, param);
        }
        if ((param & EV_BREAK) && OnBreak && m_session && notice->session() == m_session.get()) {
            auto handler = OnBreak;
            handler(this);
        }
        break;
    case WM_COMM_ERROR:
        if (OnError) {
            auto handler = OnError;
            handler(this, param);
        }
        break;
    }
    return true;
}
