#pragma once

// A serial device in memory with modem lines, line counters and a recorded
// timeline, for what a pseudo-terminal cannot show.

#include "SerialDevice.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct FakeLine {
    using Clock = std::chrono::steady_clock;
    struct Entry {
        Clock::time_point at;
        QByteArray what; // "rts", "dtr", "write" (left the driver), "flush" (discarded)
        bool on = false;
        QByteArray data;
    };

    std::mutex m;
    std::condition_variable cv;

    // Set by the test.
    bool holdOutput = false; // CTS held low: nothing leaves the driver
    int maxChunk = 0;        // largest write accepted at once, 0: all
    // The driver's send buffer in bytes. 0: none, bytes are on the line as
    // soon as write() takes them and a held line refuses them. Otherwise
    // write() fills the buffer even while CTS is low, and it empties at the
    // line rate (10 bits a character) only while CTS is high.
    int sendBuffer = 0;
    bool countersSupported = true;
    std::function<bool(const LineSettings&)> refuse; // true: settings refused
    bool refuseOpen = false;

    // Observed.
    std::vector<Entry> timeline;
    QByteArray written; // bytes that left the driver, in order
    LineSettings applied;
    int applyCount = 0;
    int receiveWaits = 0;
    int opens = 0;
    bool isOpen = false;

    // Line state.
    QByteArray rx;
    LineCounters counters;
    bool gone = false;
    bool eventPending = false;
    bool wakeRx = false;
    bool wakeTx = false;
    QByteArray txQueue;           // in the send buffer, not yet on the line
    Clock::time_point lineTime{}; // when the byte now going out started

    // Moves the bytes the line has sent by now out of the send buffer; each
    // run of them is recorded with the moment its last byte left. Called
    // under the lock before anything reads the buffer or is recorded, so the
    // timeline stays in order.
    void drainTo(Clock::time_point now) {
        if (sendBuffer <= 0)
            return;
        if (holdOutput || txQueue.isEmpty()) {
            lineTime = now;
            return;
        }
        const auto perByte = byteTime();
        const qint64 n = std::min<qint64>((now - lineTime) / perByte, txQueue.size());
        if (n <= 0)
            return;
        lineTime += perByte * n;
        const QByteArray out = txQueue.left(n);
        txQueue.remove(0, n);
        written.append(out);
        timeline.push_back({lineTime, "write", false, out});
        if (txQueue.isEmpty())
            lineTime = now;
    }
    Clock::duration byteTime() const {
        const int rate = applied.bitRate > 0 ? applied.bitRate : 9600;
        return std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(10)) / rate;
    }
    bool roomForWrite() const { return sendBuffer > 0 ? txQueue.size() < sendBuffer : !holdOutput; }

    template <typename F> void change(F f) {
        {
            std::lock_guard g(m);
            f(*this);
            eventPending = true;
        }
        cv.notify_all();
    }
    void inject(const QByteArray& bytes) {
        // Deep copies only: Qt's implicit sharing across threads is invisible
        // to the thread checker.
        change([&](FakeLine& l) { l.rx.append(bytes.constData(), bytes.size()); });
    }
    void setHold(bool hold) {
        change([&](FakeLine& l) {
            l.drainTo(Clock::now());
            l.holdOutput = hold;
        });
    }
    QByteArray takeWritten() {
        std::lock_guard g(m);
        drainTo(Clock::now());
        return QByteArray(written.constData(), written.size());
    }
    std::vector<Entry> entries() {
        std::lock_guard g(m);
        drainTo(Clock::now());
        std::vector<Entry> copy = timeline;
        for (auto& e : copy)
            e.data = QByteArray(e.data.constData(), e.data.size());
        return copy;
    }
    int waits() {
        std::lock_guard g(m);
        return receiveWaits;
    }
};

class FakeSerialDevice final : public SerialDevice {
public:
    explicit FakeSerialDevice(std::shared_ptr<FakeLine> line) : m_line(std::move(line)) {}

    bool open(const QString&, QString* reason) override {
        std::lock_guard g(m_line->m);
        if (m_line->refuseOpen || m_line->isOpen) {
            *reason = QStringLiteral("Device or resource busy");
            return false;
        }
        m_line->isOpen = true;
        ++m_line->opens;
        m_line->gone = false;
        m_line->wakeRx = m_line->wakeTx = false;
        m_opened = true;
        return true;
    }
    void close() override {
        {
            std::lock_guard g(m_line->m);
            if (m_opened)
                m_line->isOpen = false;
            m_line->txQueue.clear(); // the device is flushed before it closes
            m_opened = false;
            m_line->wakeRx = m_line->wakeTx = true;
        }
        m_line->cv.notify_all();
    }
    int nativeHandle() const override { return 42; }
    bool setQueueSizes(int receive, int transmit) override { return receive > 0 && transmit > 0; }
    LineSettings currentSettings() override { return LineSettings{}; }
    bool applySettings(const LineSettings& s) override {
        std::lock_guard g(m_line->m);
        if (m_line->refuse && m_line->refuse(s))
            return false;
        m_line->applied = s;
        ++m_line->applyCount;
        return true;
    }
    bool setTimeouts(int, int) override { return true; }

    IoStatus read(char* buffer, int size, int* count) override {
        std::lock_guard g(m_line->m);
        *count = 0;
        if (!m_opened)
            return IoStatus::Gone;
        if (m_line->rx.isEmpty())
            return m_line->gone ? IoStatus::Gone : IoStatus::Again;
        const int n = std::min<int>(size, int(m_line->rx.size()));
        std::copy_n(m_line->rx.constData(), n, buffer);
        m_line->rx.remove(0, n);
        *count = n;
        return IoStatus::Ok;
    }
    IoStatus write(const char* data, int size, int* count) override {
        std::lock_guard g(m_line->m);
        *count = 0;
        if (!m_opened || m_line->gone)
            return IoStatus::Gone;
        m_line->drainTo(FakeLine::Clock::now());
        if (!m_line->roomForWrite())
            return IoStatus::Again;
        int n = m_line->maxChunk > 0 ? std::min(size, m_line->maxChunk) : size;
        if (m_line->sendBuffer > 0) {
            n = std::min(n, m_line->sendBuffer - int(m_line->txQueue.size()));
            m_line->txQueue.append(data, n);
            *count = n;
            return IoStatus::Ok;
        }
        m_line->written.append(data, n);
        m_line->timeline.push_back({FakeLine::Clock::now(), "write", false, QByteArray(data, n)});
        *count = n;
        return IoStatus::Ok;
    }
    WaitStatus waitForEvent(bool watchData, int timeoutMs) override {
        std::unique_lock lk(m_line->m);
        ++m_line->receiveWaits;
        auto ready = [&] {
            return m_line->wakeRx || m_line->eventPending ||
                   (watchData && (m_line->gone || !m_line->rx.isEmpty()));
        };
        if (timeoutMs < 0)
            m_line->cv.wait(lk, ready);
        else
            m_line->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), ready);
        if (m_line->wakeRx) {
            m_line->wakeRx = false;
            return WaitStatus::Woken;
        }
        if (watchData && m_line->gone)
            return WaitStatus::Gone;
        if (m_line->eventPending) {
            m_line->eventPending = false;
            return WaitStatus::Ready;
        }
        return watchData && !m_line->rx.isEmpty() ? WaitStatus::Ready : WaitStatus::Timeout;
    }
    WaitStatus waitForData(int timeoutMs) override {
        std::unique_lock lk(m_line->m);
        m_line->cv.wait_for(lk, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                            [&] { return !m_line->rx.isEmpty() || m_line->gone; });
        return m_line->rx.isEmpty() ? WaitStatus::Timeout : WaitStatus::Ready;
    }
    WaitStatus waitWritable(int timeoutMs) override {
        using Clock = FakeLine::Clock;
        std::unique_lock lk(m_line->m);
        const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        for (;;) {
            m_line->drainTo(Clock::now());
            if (m_line->wakeTx) {
                m_line->wakeTx = false;
                return WaitStatus::Woken;
            }
            if (m_line->gone)
                return WaitStatus::Gone;
            if (m_line->roomForWrite())
                return WaitStatus::Ready;
            const auto now = Clock::now();
            if (timeoutMs >= 0 && now >= deadline)
                return WaitStatus::Timeout;
            auto until = timeoutMs < 0 ? Clock::time_point::max() : deadline;
            // A flowing send buffer makes room without a notification.
            if (m_line->sendBuffer > 0 && !m_line->holdOutput)
                until = std::min(until, now + m_line->byteTime());
            if (until == Clock::time_point::max())
                m_line->cv.wait(lk);
            else
                m_line->cv.wait_until(lk, until);
        }
    }
    WaitStatus pauseTransmitter(int timeoutMs) override {
        std::unique_lock lk(m_line->m);
        m_line->cv.wait_for(lk, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                            [&] { return m_line->wakeTx; });
        if (!m_line->wakeTx)
            return WaitStatus::Timeout;
        m_line->wakeTx = false;
        return WaitStatus::Woken;
    }
    void wakeReceiver() override {
        {
            std::lock_guard g(m_line->m);
            m_line->wakeRx = true;
        }
        m_line->cv.notify_all();
    }
    void wakeTransmitter() override {
        {
            std::lock_guard g(m_line->m);
            m_line->wakeTx = true;
        }
        m_line->cv.notify_all();
    }
    int inputQueue() override {
        std::lock_guard g(m_line->m);
        if (m_line->gone)
            return -1;
        return int(m_line->rx.size());
    }
    int outputQueue() override {
        std::lock_guard g(m_line->m);
        if (!m_opened)
            return -1;
        m_line->drainTo(FakeLine::Clock::now());
        return int(m_line->txQueue.size());
    }
    void flushInput() override {
        std::lock_guard g(m_line->m);
        m_line->rx.clear();
    }
    void flushOutput() override {
        std::lock_guard g(m_line->m);
        m_line->drainTo(FakeLine::Clock::now());
        if (!m_line->txQueue.isEmpty())
            m_line->timeline.push_back({FakeLine::Clock::now(), "flush", false, m_line->txQueue});
        m_line->txQueue.clear();
    }
    bool setModemLine(ModemLine line, bool on) override {
        std::lock_guard g(m_line->m);
        m_line->drainTo(FakeLine::Clock::now());
        m_line->timeline.push_back(
            {FakeLine::Clock::now(), line == ModemLine::Rts ? "rts" : "dtr", on, {}});
        return true;
    }
    bool readLineCounters(LineCounters* c) override {
        std::lock_guard g(m_line->m);
        if (!m_line->countersSupported)
            return false;
        *c = m_line->counters;
        return true;
    }

private:
    std::shared_ptr<FakeLine> m_line;
    bool m_opened = false;
};
