// The serial component: its settings, opening and closing, reads and writes
// on the GUI thread, and the dispatch of the workers' notifications to its
// handlers. The workers are in CommWorkers.cpp, their shared state in
// CommSession.h.
#include "CommSession.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

using namespace commx;

namespace {

const char* const kMsgAlreadyOpen =
    QT_TRANSLATE_NOOP("TCustomCommX", "ポートは、すでにオープンされています");
const char* const kMsgOpenFailed =
    QT_TRANSLATE_NOOP("TCustomCommX", "ポートをオープンできませんでした");
const char* const kMsgBuffers =
    QT_TRANSLATE_NOOP("TCustomCommX", "通信用ポートのバッファを準備できませんでした");
const char* const kMsgBitRate =
    QT_TRANSLATE_NOOP("TCustomCommX", "通信速度の設定でエラーが発生しました");
const char* const kMsgCharSize =
    QT_TRANSLATE_NOOP("TCustomCommX", "通信ビット数の設定でエラーが発生しました");
const char* const kMsgParity =
    QT_TRANSLATE_NOOP("TCustomCommX", "通信パリティチェックの設定でエラーが発生しました");
const char* const kMsgStopBits =
    QT_TRANSLATE_NOOP("TCustomCommX", "通信ストップビット数の設定でエラーが発生しました");
const char* const kMsgFlow =
    QT_TRANSLATE_NOOP("TCustomCommX", "通信フロー制御の設定で失敗しました");
const char* const kMsgTimeouts =
    QT_TRANSLATE_NOOP("TCustomCommX", "通信タイムアウト時間の設定で失敗しました");
const char* const kMsgTransThread =
    QT_TRANSLATE_NOOP("TCustomCommX", "送信用スレッドを生成できませんでした");
const char* const kMsgReceiveThread =
    QT_TRANSLATE_NOOP("TCustomCommX", "受信用スレッドを生成できませんでした");

constexpr int kReadAhead = 4096;

[[noreturn]] void raise(const char* message) {
    throw ECommError(QCoreApplication::translate("TCustomCommX", message));
}

// The pause after an opening and around a closing, for the line and the
// device on the far side to settle. KORVANE_TEST_PORT_SETTLE_MS shortens it
// for the tests on pseudo-terminals, which have nothing to settle; it can
// only shorten it.
unsigned long settleMs() {
    static const unsigned long ms = [] {
        constexpr unsigned long kSettleMs = 100;
        bool ok = false;
        const int set = qEnvironmentVariableIntValue("KORVANE_TEST_PORT_SETTLE_MS", &ok);
        return ok && set >= 0 && unsigned(set) < kSettleMs ? static_cast<unsigned long>(set)
                                                           : kSettleMs;
    }();
    return ms;
}

std::mutex g_resolverLock;
std::function<QString(int)> g_resolver;

} // namespace

TCustomCommX::TCustomCommX(QObject* owner, DeviceFactory factory)
    : QObject(owner), m_factory(std::move(factory)) {}

TCustomCommX::~TCustomCommX() {
    Close();
}

void TCustomCommX::setDeviceResolver(std::function<QString(int)> resolver) {
    std::lock_guard g(g_resolverLock);
    g_resolver = std::move(resolver);
}

QString TCustomCommX::resolveDevice(int portNo) {
    {
        std::lock_guard g(g_resolverLock);
        if (g_resolver)
            return g_resolver(portNo);
    }
    return QStringLiteral("/dev/ttyS%1").arg(portNo - 1);
}

int TCustomCommX::liveWorkers() {
    return g_liveWorkers.load();
}

bool TCustomCommX::deviceLost() const {
    return m_session && m_session->gone.load();
}

void TCustomCommX::setPortNo(int value) {
    m_portNo = value;
    if (!isOpen())
        return;
    Close();
    Open();
}

void TCustomCommX::setBitRate(int value) {
    m_bitRate = value;
    if (!isOpen())
        return;
    m_session->bitRate.store(value);
    m_dcb.bitRate = value;
    applyLine(kMsgBitRate);
}

void TCustomCommX::setCharSize(int value) {
    m_charSize = value;
    if (!isOpen())
        return;
    m_dcb.charSize = value & 0xFF;
    applyLine(kMsgCharSize);
}

void TCustomCommX::setParityBit(TCommParityBits value) {
    m_parityBit = value;
    if (!isOpen())
        return;
    m_dcb.parity = value;
    applyLine(kMsgParity);
}

void TCustomCommX::setStopBit(TCommStopBits value) {
    m_stopBit = value;
    if (!isOpen())
        return;
    m_dcb.stopBits = value;
    applyLine(kMsgStopBits);
}

void TCustomCommX::setFlowCtrl(TCommFlowCtrls value) {
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

void TCustomCommX::setTimeOutTrans(int value) {
    m_timeOutTrans = value;
    if (!isOpen())
        return;
    m_session->timeOutTrans.store(value);
    applyTimeouts();
}

void TCustomCommX::setTimeOutReceive(int value) {
    m_timeOutReceive = value;
    if (!isOpen())
        return;
    applyTimeouts();
}

void TCustomCommX::setBufLenTrans(int value) {
    m_bufLenTrans = value;
    if (!isOpen())
        return;
    applyQueueSizes();
}

void TCustomCommX::setBufLenReceive(int value) {
    m_bufLenReceive = value;
    if (!isOpen())
        return;
    applyQueueSizes();
    setFlowCtrl(m_flowCtrl);
}

void TCustomCommX::applyLine(const char* message) {
    if (!m_session->device->applySettings(m_dcb))
        raise(message);
}

void TCustomCommX::applyTimeouts() {
    if (!m_session->device->setTimeouts(m_timeOutReceive, m_timeOutTrans))
        raise(kMsgTimeouts);
}

void TCustomCommX::applyQueueSizes() {
    if (!m_session->device->setQueueSizes(m_bufLenReceive, m_bufLenTrans))
        raise(kMsgBuffers);
}

void TCustomCommX::Open() {
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
        QThread::msleep(settleMs());
    } catch (...) {
        Close();
        throw;
    }
}

void TCustomCommX::startWorkers() {
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

void TCustomCommX::Close() {
    if (!isOpen())
        return;
    SetDTR(false);
    SetRTS(false);
    PurgeTrans();
    PurgeReceive();
    QThread::msleep(settleMs());

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
    QThread::msleep(settleMs());
}

bool TCustomCommX::SendString(const QByteArray& text) {
    if (text.isEmpty())
        return true;
    return Write(text.constData(), int(text.size()));
}

bool TCustomCommX::Write(const char* data, int size) {
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

int TCustomCommX::Read(char* buffer, int size) {
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

int TCustomCommX::ReadChar() {
    char c = 0;
    if (Read(&c, 1) != 1)
        return -1;
    return static_cast<unsigned char>(c);
}

int TCustomCommX::ReceiveCount() {
    if (!isOpen())
        return 0;
    return int(m_rxBuf.size() - m_rxAt) + std::max(0, m_session->device->inputQueue());
}

void TCustomCommX::PurgeTrans() {
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
        if (s->countersLowered.wait_for(
                lk, milliseconds(1), [&] { return s->pendingBytes == 0 && s->pendingBlocks == 0; }))
            break;
    }
    s->purging.store(false);
}

void TCustomCommX::PurgeReceive() {
    if (!isOpen())
        return;
    dropReadAhead();
    m_session->device->flushInput();
}

void TCustomCommX::dropReadAhead() {
    if (m_session && m_rxAt < m_rxBuf.size())
        m_session->bytesDelivered.fetch_add(quint64(m_rxBuf.size() - m_rxAt));
    m_rxBuf.clear();
    m_rxAt = 0;
}

void TCustomCommX::SetRTS(bool state) {
    if (isOpen())
        m_session->device->setModemLine(ModemLine::Rts, state);
}

void TCustomCommX::SetDTR(bool state) {
    if (isOpen())
        m_session->device->setModemLine(ModemLine::Dtr, state);
}

void TCustomCommX::reportErrors() {
    if (!m_session)
        return;
    if (const int errors = m_session->takeErrors())
        postNotice(m_session, WM_COMM_ERROR, errors);
}

bool TCustomCommX::event(QEvent* e) {
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
