#pragma once

// A serial device in memory with modem lines, line counters and a recorded
// timeline, for what a pseudo-terminal cannot show.

#include "SerialDevice.h"

#include <QByteArray>
#include <QString>

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
        QByteArray what; // "rts", "dtr", "write"
        bool on = false;
        QByteArray data;
    };

    std::mutex m;
    std::condition_variable cv;

    // Set by the test.
    bool holdOutput = false;  // writes answer "again" (CTS held low)
    int maxChunk = 0;         // largest write accepted at once, 0: all
    bool countersSupported = true;
    std::function<bool(const LineSettings&)> refuse; // true: settings refused
    bool refuseOpen = false;

    // Observed.
    std::vector<Entry> timeline;
    QByteArray written;
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

    template <typename F> void change(F f)
    {
        {
            std::lock_guard g(m);
            f(*this);
            eventPending = true;
        }
        cv.notify_all();
    }
    void inject(const QByteArray& bytes)
    {
        // Deep copies only: Qt's implicit sharing across threads is invisible
        // to the thread checker.
        change([&](FakeLine& l) { l.rx.append(bytes.constData(), bytes.size()); });
    }
    void setHold(bool hold)
    {
        change([&](FakeLine& l) { l.holdOutput = hold; });
    }
    QByteArray takeWritten()
    {
        std::lock_guard g(m);
        return QByteArray(written.constData(), written.size());
    }
    std::vector<Entry> entries()
    {
        std::lock_guard g(m);
        std::vector<Entry> copy = timeline;
        for (auto& e : copy)
            e.data = QByteArray(e.data.constData(), e.data.size());
        return copy;
    }
    int waits()
    {
        std::lock_guard g(m);
        return receiveWaits;
    }
};

class FakeSerialDevice final : public SerialDevice {
public:
    explicit FakeSerialDevice(std::shared_ptr<FakeLine> line) : m_line(std::move(line)) {}

    bool open(const QString&, QString* reason) override
    {
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
    void close() override
    {
        {
            std::lock_guard g(m_line->m);
            if (m_opened)
                m_line->isOpen = false;
            m_opened = false;
            m_line->wakeRx = m_line->wakeTx = true;
        }
        m_line->cv.notify_all();
    }
    int nativeHandle() const override { return 42; }
    bool setQueueSizes(int receive, int transmit) override { return receive > 0 && transmit > 0; }
    LineSettings currentSettings() override { return LineSettings{}; }
    bool applySettings(const LineSettings& s) override
    {
        std::lock_guard g(m_line->m);
        if (m_line->refuse && m_line->refuse(s))
            return false;
        m_line->applied = s;
        ++m_line->applyCount;
        return true;
    }
    bool setTimeouts(int, int) override { return true; }

    IoStatus read(char* buffer, int size, int* count) override
    {
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
    IoStatus write(const char* data, int size, int* count) override
    {
        std::lock_guard g(m_line->m);
        *count = 0;
        if (!m_opened || m_line->gone)
            return IoStatus::Gone;
        if (m_line->holdOutput)
            return IoStatus::Again;
        const int n = m_line->maxChunk > 0 ? std::min(size, m_line->maxChunk) : size;
        m_line->written.append(data, n);
        m_line->timeline.push_back({FakeLine::Clock::now(), "write", false, QByteArray(data, n)});
        *count = n;
        return IoStatus::Ok;
    }
    WaitStatus waitForEvent(bool watchData, int timeoutMs) override
    {
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
    WaitStatus waitForData(int timeoutMs) override
    {
        std::unique_lock lk(m_line->m);
        m_line->cv.wait_for(lk, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                            [&] { return !m_line->rx.isEmpty() || m_line->gone; });
        return m_line->rx.isEmpty() ? WaitStatus::Timeout : WaitStatus::Ready;
    }
    WaitStatus waitWritable(int timeoutMs) override
    {
        std::unique_lock lk(m_line->m);
        auto ready = [&] { return m_line->wakeTx || !m_line->holdOutput || m_line->gone; };
        if (timeoutMs < 0)
            m_line->cv.wait(lk, ready);
        else if (!m_line->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), ready))
            return WaitStatus::Timeout;
        if (m_line->wakeTx) {
            m_line->wakeTx = false;
            return WaitStatus::Woken;
        }
        return m_line->gone ? WaitStatus::Gone : WaitStatus::Ready;
    }
    void wakeReceiver() override
    {
        {
            std::lock_guard g(m_line->m);
            m_line->wakeRx = true;
        }
        m_line->cv.notify_all();
    }
    void wakeTransmitter() override
    {
        {
            std::lock_guard g(m_line->m);
            m_line->wakeTx = true;
        }
        m_line->cv.notify_all();
    }
    int inputQueue() override
    {
        std::lock_guard g(m_line->m);
        if (m_line->gone)
            return -1;
        return int(m_line->rx.size());
    }
    int outputQueue() override { return 0; }
    void flushInput() override
    {
        std::lock_guard g(m_line->m);
        m_line->rx.clear();
    }
    void flushOutput() override {}
    bool setModemLine(ModemLine line, bool on) override
    {
        std::lock_guard g(m_line->m);
        m_line->timeline.push_back(
            {FakeLine::Clock::now(), line == ModemLine::Rts ? "rts" : "dtr", on, {}});
        return true;
    }
    bool readLineCounters(LineCounters* c) override
    {
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
