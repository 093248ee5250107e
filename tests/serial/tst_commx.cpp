// The component against the in-memory device: settings, block handling,
// modem-line timing, line events and the worker lifecycle.

#include "CommX.h"
#include "FakeSerialDevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <stdexcept>

namespace {

// The application catches what a handler throws in notify, as the program's
// own application object does.
class CatchingApp : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* e) override {
        try {
            return QCoreApplication::notify(receiver, e);
        } catch (const std::exception& ex) {
            caught.append(QString::fromUtf8(ex.what()));
            return false;
        }
    }
    QStringList caught;
};

CatchingApp* app() {
    return static_cast<CatchingApp*>(QCoreApplication::instance());
}

using Ms = std::chrono::milliseconds;
qint64 msBetween(FakeLine::Clock::time_point a, FakeLine::Clock::time_point b) {
    return std::chrono::duration_cast<Ms>(b - a).count();
}

struct Rig {
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    std::unique_ptr<TCommX> comm;
    Rig() {
        auto l = line;
        comm = std::make_unique<TCommX>(
            nullptr, [l] { return std::unique_ptr<SerialDevice>(new FakeSerialDevice(l)); });
    }
};

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace

class TestCommX : public QObject {
    Q_OBJECT

private slots:
    void closedPort();
    void portZeroNeverOpens();
    void refusedSettings_data();
    void refusedSettings();
    void xonXoffLimits_data();
    void xonXoffLimits();
    void openTwiceKeepsPort();
    void blocksAndTransNotices();
    void thirtyThirdBlockWaitsWhileEventsRun();
    void halfDuplexBursts_data();
    void halfDuplexBursts();
    void ctsHoldOffEndsEachWrite();
    void writeTimeOutDiscardsWhatTheDriverHeld();
    void ctsLowThenHighSendsNoStaleLine();
    void halfDuplexRtsWaitsForTheLine();
    void partialWritesResume();
    void lineEventsInOrder();
    void breakRaisesOnlyOnBreak();
    void receiveNoticeWithoutBytesRaisesNothing();
    void unreadBytesCountAgain();
    void bytesTakenAheadDuringAHandlerAreAnnounced();
    void aFullQueueLeftUnreadIsAnnouncedAgain();
    void closeDropsQueuedBlocks();
    void throwingHandlerReachesNotify();
    void lostDeviceStopsQuietly();
    void destroyRightAfterCloseAndWorkersEnd();
};

void TestCommX::closedPort() {
    Rig r;
    TCommX& c = *r.comm;
    QCOMPARE(c.PortNo(), 1);
    QCOMPARE(c.BitRate(), 9600);
    QCOMPARE(c.CharSize(), 8);
    QCOMPARE(c.ParityBit(), cpbNone);
    QCOMPARE(c.StopBit(), csb1);
    QCOMPARE(c.FlowCtrl(), cfcRtsCts);
    QCOMPARE(c.TimeOutTrans(), 3000);
    QCOMPARE(c.TimeOutReceive(), 3000);
    QCOMPARE(c.BufLenTrans(), 2048);
    QCOMPARE(c.BufLenReceive(), 2048);
    QCOMPARE(c.Handle(), 0xFFFFFFFFu);
    QVERIFY(c.SendString(QByteArray()));
    QVERIFY(!c.SendString("abc"));
    QCOMPARE(c.ReadChar(), -1);
    QCOMPARE(c.ReceiveCount(), 0);
    c.Close();
    c.PurgeTrans();
    c.SetRTS(true);
    c.setBitRate(12345); // stored only
    QCOMPARE(c.BitRate(), 12345);
    QCOMPARE(r.line->opens, 0);
}

void TestCommX::portZeroNeverOpens() {
    Rig r;
    r.comm->setPortNo(0);
    try {
        r.comm->Open();
        QFAIL("port 0 opened");
    } catch (const ECommError& e) {
        QCOMPARE(e.message(), text("ポートをオープンできませんでした"));
    }
    QVERIFY(!r.comm->isOpen());
    QCOMPARE(r.line->opens, 0);
    QVERIFY(!r.comm->lastOpenError().isEmpty());
}

void TestCommX::refusedSettings_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("message");
    QTest::newRow("bit rate") << 0 << text("通信速度の設定でエラーが発生しました");
    QTest::newRow("data bits") << 1 << text("通信ビット数の設定でエラーが発生しました");
    QTest::newRow("parity") << 2 << text("通信パリティチェックの設定でエラーが発生しました");
    QTest::newRow("stop bits") << 3 << text("通信ストップビット数の設定でエラーが発生しました");
    QTest::newRow("flow") << 4 << text("通信フロー制御の設定で失敗しました");
    QTest::newRow("buffers") << 5 << text("通信用ポートのバッファを準備できませんでした");
}

// A value the device refuses fails at the next Open with that setting's
// message and leaves the port closed; set on an open port it raises the
// same message and the port stays open.
void TestCommX::refusedSettings() {
    QFETCH(int, field);
    QFETCH(QString, message);
    const auto refuse = [](const LineSettings& s) {
        return s.bitRate == 12345 || s.charSize == 4 || s.parity == cpbOdd ||
               s.stopBits == csb1p5 || s.flow == cfcDtrDsr;
    };
    Rig r;
    r.line->refuse = refuse;
    auto setBad = [&](TCommX& c) {
        switch (field) {
        case 0:
            c.setBitRate(12345);
            break;
        case 1:
            c.setCharSize(4);
            break;
        case 2:
            c.setParityBit(cpbOdd);
            break;
        case 3:
            c.setStopBit(csb1p5);
            break;
        case 4:
            c.setFlowCtrl(cfcDtrDsr);
            break;
        case 5:
            c.setBufLenTrans(0);
            break;
        }
    };
    setBad(*r.comm);
    try {
        r.comm->Open();
        QFAIL("opened with a refused setting");
    } catch (const ECommError& e) {
        QCOMPARE(e.message(), message);
        QCOMPARE(QString::fromUtf8(e.what()), message);
    }
    QVERIFY(!r.comm->isOpen());
    QVERIFY(!r.line->isOpen); // released for the next attempt

    Rig open;
    open.line->refuse = refuse;
    open.comm->Open();
    try {
        setBad(*open.comm);
        QFAIL("refused setting accepted");
    } catch (const ECommError& e) {
        QCOMPARE(e.message(), message);
    }
    QVERIFY(open.comm->isOpen());
    open.comm->Close();
}

void TestCommX::xonXoffLimits_data() {
    QTest::addColumn<int>("bufLen");
    QTest::addColumn<int>("xon");
    QTest::addColumn<int>("xoff");
    QTest::newRow("2048") << 2048 << 512 << 1536;
    QTest::newRow("10") << 10 << 2 << 6;
    QTest::newRow("1001") << 1001 << 250 << 750;
}

void TestCommX::xonXoffLimits() {
    QFETCH(int, bufLen);
    QFETCH(int, xon);
    QFETCH(int, xoff);
    Rig r;
    r.comm->setFlowCtrl(cfcXonXoff);
    r.comm->Open();
    r.comm->setBufLenReceive(bufLen);
    {
        std::lock_guard g(r.line->m);
        QCOMPARE(r.line->applied.xonLim, xon);
        QCOMPARE(r.line->applied.xoffLim, xoff);
        QCOMPARE(int(r.line->applied.xonChar), 17);
        QCOMPARE(int(r.line->applied.xoffChar), 19);
        QCOMPARE(r.line->applied.flow, cfcXonXoff);
    }
    r.comm->Close();
}

void TestCommX::openTwiceKeepsPort() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    r.comm->Open();
    try {
        r.comm->Open();
        QFAIL("second Open accepted");
    } catch (const ECommError& e) {
        QCOMPARE(e.message(), text("ポートは、すでにオープンされています"));
    }
    QVERIFY(r.comm->isOpen());
    QCOMPARE(r.comm->Handle(), 42u);
    QVERIFY(r.comm->SendString("still here"));
    QTRY_COMPARE(r.line->takeWritten(), QByteArray("still here"));
    r.comm->Close();
    QCOMPARE(r.line->opens, 1);
}

void TestCommX::blocksAndTransNotices() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    QList<int> sizes;
    r.comm->OnTrans = [&](TCustomCommX* sender, int n) {
        QCOMPARE(sender, r.comm.get());
        sizes << n;
    };
    r.comm->Open();
    QByteArray data(5000, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 7);
    QVERIFY(r.comm->Write(data.constData(), int(data.size())));
    QTRY_COMPARE(sizes, (QList<int>{2048, 2048, 904}));
    QCOMPARE(r.line->takeWritten(), data);
    QVERIFY(r.comm->Write(data.constData(), 0));
    r.comm->Close();
}

void TestCommX::thirtyThirdBlockWaitsWhileEventsRun() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    r.comm->setBufLenTrans(1);
    r.comm->setTimeOutTrans(0); // no write time-out: held until released
    r.comm->Open();
    r.line->setHold(true);
    bool timerRan = false;
    QByteArray writtenWhileHeld = "unset";
    QTimer::singleShot(50, [&] {
        timerRan = true;
        writtenWhileHeld = r.line->takeWritten();
        r.line->setHold(false);
    });
    QByteArray data;
    for (int i = 0; i < 40; ++i)
        data.append(char('A' + i));
    QVERIFY(r.comm->Write(data.constData(), int(data.size())));
    QVERIFY(timerRan); // only a released block lets the 33rd in
    QCOMPARE(writtenWhileHeld, QByteArray());
    QTRY_COMPARE(r.line->takeWritten(), data);
    r.comm->Close();
}

void TestCommX::halfDuplexBursts_data() {
    QTest::addColumn<int>("flow");
    QTest::addColumn<bool>("switches");
    QTest::addColumn<bool>("raiseForBurst");
    QTest::newRow("high") << int(cfcHalfHigh) << true << true;
    QTest::newRow("low") << int(cfcHalfLow) << true << false;
    QTest::newRow("none") << int(cfcNone) << false << false;
    QTest::newRow("rts/cts") << int(cfcRtsCts) << false << false;
}

// RTS turns 100 ms after the block is taken, the bytes follow 10 ms later,
// and RTS turns back 20 ms after the last write; two texts queued together
// share one burst.
void TestCommX::halfDuplexBursts() {
    QFETCH(int, flow);
    QFETCH(bool, switches);
    QFETCH(bool, raiseForBurst);
    Rig r;
    r.comm->setFlowCtrl(TCommFlowCtrls(flow));
    r.comm->Open();
    int done = 0;
    r.comm->OnTrans = [&](TCustomCommX*, int) { ++done; };
    {
        std::lock_guard g(r.line->m);
        r.line->timeline.clear();
    }
    const auto sent = FakeLine::Clock::now();
    QVERIFY(r.comm->SendString("0123456789"));
    QVERIFY(r.comm->SendString("abc"));
    QTRY_COMPARE(done, 2);
    // The burst ends after the last notice; wait for its RTS change.
    if (switches)
        QTRY_COMPARE(int(r.line->entries().size()), 4);
    const auto tl = r.line->entries();
    if (!switches) {
        QCOMPARE(int(tl.size()), 2);
        QCOMPARE(tl[0].what, QByteArray("write"));
        QVERIFY(msBetween(sent, tl[0].at) < 100);
        r.comm->Close();
        return;
    }
    QCOMPARE(tl[0].what, QByteArray("rts"));
    QCOMPARE(tl[0].on, raiseForBurst);
    QCOMPARE(tl[1].data, QByteArray("0123456789"));
    QCOMPARE(tl[2].data, QByteArray("abc"));
    QCOMPARE(tl[3].what, QByteArray("rts"));
    QCOMPARE(tl[3].on, !raiseForBurst);
    // Lower bounds are exact; upper bounds only catch a lost or doubled pause.
    QVERIFY(msBetween(sent, tl[0].at) >= 100);
    QVERIFY(msBetween(sent, tl[0].at) < 100 + 200);
    QVERIFY(msBetween(tl[0].at, tl[1].at) >= 10);
    QVERIFY(msBetween(tl[0].at, tl[1].at) < 10 + 200);
    QVERIFY(msBetween(tl[2].at, tl[3].at) >= 20);
    QVERIFY(msBetween(tl[2].at, tl[3].at) < 20 + 200);
    r.comm->Close();
}

void TestCommX::ctsHoldOffEndsEachWrite() {
    Rig r;
    r.comm->setBufLenTrans(4);
    r.comm->setTimeOutTrans(150);
    r.comm->Open();
    r.line->setHold(true);
    QList<qint64> at;
    QElapsedTimer clock;
    r.comm->OnTrans = [&](TCustomCommX*, int n) {
        QCOMPARE(n, 4);
        at << clock.elapsed();
    };
    clock.start();
    QVERIFY(r.comm->SendString("12345678"));
    QVERIFY(clock.elapsed() < 150); // the caller is not held
    QTRY_COMPARE_WITH_TIMEOUT(at.size(), 2, 5000);
    QVERIFY(at[0] >= 150);
    QVERIFY(at[1] - at[0] >= 140);
    QCOMPARE(r.line->takeWritten(), QByteArray());
    r.comm->Close();
}

// A driver takes some KiB while CTS is low. A block counts as written only
// once its bytes have left, and what is still queued at the time-out is
// discarded: it must not reach the board when CTS comes back.
void TestCommX::writeTimeOutDiscardsWhatTheDriverHeld() {
    Rig r;
    r.line->sendBuffer = 4096;
    r.comm->setTimeOutTrans(150);
    r.comm->Open();
    r.line->setHold(true);
    QList<qint64> at;
    QElapsedTimer clock;
    r.comm->OnTrans = [&](TCustomCommX*, int) { at << clock.elapsed(); };
    clock.start();
    QVERIFY(r.comm->SendString("stale\r"));
    QTRY_COMPARE_WITH_TIMEOUT(at.size(), 1, 5000);
    QVERIFY(at[0] >= 150);
    r.line->setHold(false);
    QVERIFY(r.comm->SendString("fresh\r"));
    QTRY_COMPARE(at.size(), 2);
    QCOMPARE(r.line->takeWritten(), QByteArray("fresh\r"));
    r.comm->Close();
}

// A board that holds CTS low for ten time-outs while a line is sent every
// 40 ms, then raises it: no line sent long before CTS came back reaches it,
// the sender is never held, and every line sent afterwards arrives in order.
void TestCommX::ctsLowThenHighSendsNoStaleLine() {
    constexpr int timeout = 100, heldLines = 25, allLines = 35;
    Rig r;
    r.line->sendBuffer = 4096;
    r.comm->setTimeOutTrans(timeout);
    r.comm->Open();
    r.line->setHold(true);
    QElapsedTimer clock;
    clock.start();
    QList<qint64> sentAt;
    qint64 releasedAt = -1, longestCall = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const int n = int(sentAt.size());
        if (n == allLines) {
            ticker.stop();
            return;
        }
        if (n == heldLines) {
            releasedAt = clock.elapsed();
            r.line->setHold(false);
        }
        sentAt << clock.elapsed();
        QElapsedTimer call;
        call.start();
        r.comm->SendString("L" + QByteArray::number(n).rightJustified(3, '0') + "\r");
        longestCall = std::max(longestCall, call.elapsed());
    });
    ticker.start(40);
    const QByteArray last = "L" + QByteArray::number(allLines - 1).rightJustified(3, '0') + "\r";
    QTRY_VERIFY_WITH_TIMEOUT(r.line->takeWritten().endsWith(last), 10000);
    QVERIFY(longestCall < 500);

    // A line whose time-out passes while its bytes start to flow may leave a
    // piece in front of the next line; the id is what ends each line.
    QList<int> got;
    for (const QByteArray& l : r.line->takeWritten().split('\r')) {
        if (!l.isEmpty())
            got << l.mid(l.lastIndexOf('L') + 1).toInt();
    }
    for (int i = 1; i < got.size(); ++i)
        QVERIFY(got[i] > got[i - 1]);
    for (int n = heldLines; n < allLines; ++n)
        QVERIFY2(got.contains(n), qPrintable(QString::number(n)));
    // One time-out of leeway for a worker that wakes late.
    for (int n : got)
        QVERIFY2(sentAt[n] >= releasedAt - 2 * timeout,
                 qPrintable(QStringLiteral("line %1 sent %2 ms before CTS came back")
                                .arg(n)
                                .arg(releasedAt - sentAt[n])));
    r.comm->Close();
}

// RTS turns back 20 ms after the last byte has left the driver, not after
// the driver took the bytes (200 bytes take some 208 ms at 9600 bit/s).
void TestCommX::halfDuplexRtsWaitsForTheLine() {
    Rig r;
    r.line->sendBuffer = 4096;
    r.comm->setFlowCtrl(cfcHalfHigh);
    r.comm->Open();
    {
        std::lock_guard g(r.line->m);
        r.line->timeline.clear();
    }
    const QByteArray data(200, 'x');
    QVERIFY(r.comm->SendString(data));
    auto rtsChanges = [&] {
        const auto tl = r.line->entries();
        return std::count_if(tl.begin(), tl.end(),
                             [](const FakeLine::Entry& e) { return e.what == "rts"; });
    };
    QTRY_COMPARE_WITH_TIMEOUT(rtsChanges(), 2, 5000);
    QTRY_COMPARE(r.line->takeWritten(), data);
    const auto tl = r.line->entries();
    const auto lastByte = std::find_if(tl.rbegin(), tl.rend(),
                                       [](const FakeLine::Entry& e) { return e.what == "write"; });
    QVERIFY(lastByte != tl.rend());
    QCOMPARE(tl.back().what, QByteArray("rts"));
    QCOMPARE(tl.back().on, false);
    QVERIFY(msBetween(lastByte->at, tl.back().at) >= 20);
    QVERIFY(msBetween(lastByte->at, tl.back().at) < 20 + 200);
    r.comm->Close();
}

void TestCommX::partialWritesResume() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    r.line->maxChunk = 3;
    r.comm->Open();
    QByteArray data;
    for (int i = 0; i < 3000; ++i)
        data.append(char(i % 251));
    QVERIFY(r.comm->Write(data.constData(), int(data.size())));
    QTRY_COMPARE(r.line->takeWritten().size(), data.size());
    QCOMPARE(r.line->takeWritten(), data);
    r.comm->Close();
}

// One wake-up with an overrun, a CTS change and data: error first, then the
// signal (whole mask), then the bytes.
void TestCommX::lineEventsInOrder() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    r.comm->Open();
    QStringList log;
    QByteArray got;
    r.comm->OnError = [&](TCustomCommX*, int s) { log << QStringLiteral("error %1").arg(s); };
    r.comm->OnSignal = [&](TCustomCommX*, int m) { log << QStringLiteral("signal %1").arg(m); };
    r.comm->OnReceive = [&](TCustomCommX* c, int n) {
        log << QStringLiteral("receive %1").arg(n);
        for (int i = 0; i < n; ++i)
            got.append(char(c->ReadChar()));
    };
    r.line->change([](FakeLine& l) {
        l.counters.overrun += 1;
        l.counters.cts += 1;
        l.rx += QByteArray("\xff\x00\x41", 3);
    });
    QTRY_COMPARE(log.size(), 3);
    QCOMPARE(log, (QStringList{"error 2", "signal 9", "receive 3"}));
    QCOMPARE(got, QByteArray("\xff\x00\x41", 3));

    log.clear();
    r.line->change([](FakeLine& l) {
        l.counters.parity += 1;
        l.counters.frame += 1;
        l.counters.dcd += 1;
        l.counters.rng += 1;
    });
    QTRY_COMPARE(log.size(), 2);
    QCOMPARE(log, (QStringList{"error 12", "signal 288"}));
    r.comm->Close();
}

void TestCommX::breakRaisesOnlyOnBreak() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    r.comm->Open();
    int breaks = 0, signals_ = 0;
    r.comm->OnBreak = [&](TCustomCommX* s) {
        QCOMPARE(s, r.comm.get());
        ++breaks;
    };
    r.comm->OnSignal = [&](TCustomCommX*, int) { ++signals_; };
    r.line->change([](FakeLine& l) { l.counters.brk += 1; });
    QTRY_COMPARE(breaks, 1);
    r.line->change([](FakeLine& l) { l.counters.dsr += 1; });
    QTRY_COMPARE(signals_, 1);
    QCOMPARE(breaks, 1);
    r.comm->Close();
}

// The signal handler of the same wake-up reads every byte, so the receive
// notice that follows finds the queue empty.
void TestCommX::receiveNoticeWithoutBytesRaisesNothing() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    r.comm->Open();
    int signals_ = 0, receives = 0, waitsSeen = 0;
    r.comm->OnSignal = [&](TCustomCommX* c, int mask) {
        QCOMPARE(mask, TCustomCommX::EV_CTS | TCustomCommX::EV_RXCHAR);
        ++signals_;
        waitsSeen = r.line->waits();
        while (c->ReceiveCount() > 0)
            c->ReadChar();
    };
    r.comm->OnReceive = [&](TCustomCommX*, int) { ++receives; };
    r.line->change([](FakeLine& l) {
        l.counters.cts += 1;
        l.rx += "xyz";
    });
    QTRY_COMPARE(signals_, 1);
    // The worker waits again only after its receive notice was handled.
    QTRY_VERIFY(r.line->waits() > waitsSeen);
    QCOMPARE(receives, 0);
    // A later byte is reported normally, so the earlier notice was handled.
    r.line->inject("q");
    QTRY_COMPARE(receives, 1);
    r.comm->Close();
}

// Bytes a handler leaves (also those taken ahead from the driver) stay
// queued and are counted again, with the new ones, at the next notice.
void TestCommX::unreadBytesCountAgain() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    r.comm->Open();
    QList<int> sizes;
    QByteArray got;
    r.comm->OnReceive = [&](TCustomCommX* c, int n) {
        sizes << n;
        for (int i = 0; i < 2 && i < n; ++i)
            got.append(char(c->ReadChar()));
    };
    r.line->inject("abcdef");
    QTRY_COMPARE(sizes.size(), 1);
    QCOMPARE(r.comm->ReceiveCount(), 4);
    r.line->inject("g");
    QTRY_COMPARE(sizes.size(), 2);
    QCOMPARE(sizes, (QList<int>{6, 5}));
    QTest::qWait(100); // no further notice without new bytes
    QCOMPARE(sizes.size(), 2);
    QCOMPARE(got, QByteArray("abcd"));
    r.comm->PurgeReceive();
    QCOMPARE(r.comm->ReceiveCount(), 0);
    r.comm->Close();
}

// Bytes that arrive while a handler reads may be taken from the driver ahead
// of the handler; with nothing behind them they are still announced.
void TestCommX::bytesTakenAheadDuringAHandlerAreAnnounced() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    r.comm->Open();
    QList<int> sizes;
    QByteArray got;
    r.comm->OnReceive = [&](TCustomCommX* c, int n) {
        sizes << n;
        if (sizes.size() == 1)
            r.line->inject("XYZ"); // arrives before the handler's first read
        for (int i = 0; i < n; ++i)
            got.append(char(c->ReadChar()));
    };
    r.line->inject("abc");
    QTRY_COMPARE(got, QByteArray("abcXYZ"));
    QCOMPARE(sizes.size(), 2);
    r.comm->Close();
}

// A handler that leaves a full queue unread (nothing more can arrive) gets
// the bytes announced again after a while: the port never stalls for good.
void TestCommX::aFullQueueLeftUnreadIsAnnouncedAgain() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    r.comm->Open();
    int notices = 0;
    QByteArray got;
    r.comm->OnReceive = [&](TCustomCommX* c, int n) {
        if (++notices == 1)
            return; // as a handler whose guard is down
        for (int i = 0; i < n; ++i)
            got.append(char(c->ReadChar()));
    };
    r.line->inject("full");
    QTRY_COMPARE_WITH_TIMEOUT(got, QByteArray("full"), 3000);
    QCOMPARE(notices, 2);
    r.comm->Close();
}

void TestCommX::closeDropsQueuedBlocks() {
    Rig r;
    r.comm->setBufLenTrans(10);
    r.comm->setTimeOutTrans(0);
    r.comm->Open();
    r.line->setHold(true);
    int notices = 0;
    r.comm->OnTrans = [&](TCustomCommX*, int) { ++notices; };
    QVERIFY(r.comm->Write(QByteArray(100, 'x').constData(), 100));
    QElapsedTimer t;
    t.start();
    r.comm->Close(); // returns only once all ten blocks were disposed of
    QVERIFY(t.elapsed() < 1000);
    QCOMPARE(r.line->takeWritten(), QByteArray());
    QCoreApplication::processEvents();
    QCOMPARE(notices, 0); // notices of a closed port are ignored
    QVERIFY(!r.line->isOpen);
}

// A handler's exception reaches QCoreApplication::notify; the receive worker
// is not left waiting and reports the next bytes.
void TestCommX::throwingHandlerReachesNotify() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    r.comm->Open();
    app()->caught.clear();
    int calls = 0;
    r.comm->OnReceive = [&](TCustomCommX* c, int n) {
        ++calls;
        for (int i = 0; i < n; ++i)
            c->ReadChar();
        throw std::runtime_error("database error");
    };
    r.line->inject("first");
    QTRY_COMPARE(calls, 1);
    QCOMPARE(app()->caught, QStringList{"database error"});
    r.line->inject("second");
    QTRY_COMPARE(calls, 2);
    QCOMPARE(app()->caught.size(), 2);
    QElapsedTimer t;
    t.start();
    r.comm->Close();
    QVERIFY(t.elapsed() < 1000);
}

void TestCommX::lostDeviceStopsQuietly() {
    Rig r;
    r.comm->setFlowCtrl(cfcNone);
    r.comm->Open();
    r.line->change([](FakeLine& l) { l.gone = true; });
    QTRY_VERIFY_WITH_TIMEOUT(r.comm->deviceLost(), 1000);
    QVERIFY(!r.comm->SendString("lost"));
    const int waits = r.line->waits();
    QTest::qWait(200);
    QVERIFY(r.line->waits() - waits <= 1); // no spinning on a dead line
    r.comm->Close();
    QVERIFY(!r.comm->isOpen());
    r.comm->Open(); // a new device opens normally
    QVERIFY(!r.comm->deviceLost());
    r.comm->Close();
}

void TestCommX::destroyRightAfterCloseAndWorkersEnd() {
    QTRY_COMPARE_WITH_TIMEOUT(TCustomCommX::liveWorkers(), 0, 3000);
    {
        Rig r;
        r.comm->setFlowCtrl(cfcNone);
        r.comm->Open();
        r.comm->OnReceive = [](TCustomCommX* c, int n) {
            for (int i = 0; i < n; ++i)
                c->ReadChar();
        };
        r.line->inject(QByteArray(50, 'z'));
        QVERIFY(r.comm->SendString(QByteArray(5000, 'y')));
        QCOMPARE(TCustomCommX::liveWorkers(), 2);
        r.comm->Close();
        r.comm.reset();
    }
    QCoreApplication::processEvents();
    QTRY_COMPARE_WITH_TIMEOUT(TCustomCommX::liveWorkers(), 0, 3000);
}

int main(int argc, char** argv) {
    CatchingApp a(argc, argv);
    TestCommX t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_commx.moc"
