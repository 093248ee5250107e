#include "SimProtocol.h"

#include "DecoderCommand.h"
#include "DecoderText.h"
#include "SpeedText.h"

#include <QtTest>

class TestSimProtocol : public QObject {
    Q_OBJECT
private slots:
    void passingLineIsWhatTheProgramParses();
    void commands_data();
    void commands();
    void boardRendering_data();
    void boardRendering();
    void splitter();
    void travelTimeGivesTheSpeedBack();
    void clock();
    void carField();
};

void TestSimProtocol::passingLineIsWhatTheProgramParses() {
    const QByteArray line = PassingLine(1, "1234", 37512.1234);
    QCOMPARE(line, QByteArray("@\t1\t0\t1234\t37512.123\t0\t\r\n"));
    QByteArray buffer = line, cut;
    CutLine(buffer, cut);
    QVERIFY(buffer.isEmpty());
    const std::optional<Passing> p = ParsePassing(cut);
    QVERIFY(p);
    QCOMPARE(p->tpid, QByteArray("1234"));
    QCOMPARE(p->time, QByteArray("37512.123"));
}

void TestSimProtocol::commands_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("decid");
    QTest::addColumn<int>("seconds");
    const auto bare = [](QByteArray l) { return l.left(l.size() - 2); }; // without CR LF
    QTest::newRow("clock 9:05:07")
        << bare(ClockCommand(3, 32707)) << true << int(DecoderRequest::Clock) << 3 << 32707;
    QTest::newRow("clock midnight")
        << bare(ClockCommand(0, 0)) << true << int(DecoderRequest::Clock) << 0 << 0;
    QTest::newRow("display copy") << bare(DisplayCopy(ClockCommand(7, 86399))) << true
                                  << int(DecoderRequest::Clock) << 7 << 86399;
    QTest::newRow("protocol") << bare(ProtocolCommand(4)) << true << int(DecoderRequest::Protocol)
                              << 4 << 0;
    QTest::newRow("wrong code") << QByteArray("\x01?,4,0,37,0,1234567,") << false << 0 << 0 << 0;
    QTest::newRow("clock out of day") << QByteArray("\x01?,1,0,9,86400,") << false << 0 << 0 << 0;
    QTest::newRow("no trailing comma") << QByteArray("\x01?,1,0,9,5") << false << 0 << 0 << 0;
    QTest::newRow("garbage") << QByteArray("hello") << false << 0 << 0 << 0;
}

void TestSimProtocol::commands() {
    QFETCH(QByteArray, line);
    QFETCH(bool, valid);
    QFETCH(int, kind);
    QFETCH(int, decid);
    QFETCH(int, seconds);
    const std::optional<DecoderRequest> r = ParseDecoderCommand(line);
    QCOMPARE(r.has_value(), valid);
    if (r) {
        QCOMPARE(int(r->kind), kind);
        QCOMPARE(r->decid, decid);
        QCOMPARE(r->seconds, seconds);
    }
}

void TestSimProtocol::boardRendering_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("shown");
    const auto bare = [](QByteArray l) { return l.left(l.size() - 1); }; // without CR
    QTest::newRow("speed") << bare(BoardSpeedLine(QStringLiteral("123.456")))
                           << "BOARD  123.456 km/h";
    QTest::newRow("short speed") << bare(BoardSpeedLine(QStringLiteral("1.2")))
                                 << "BOARD    1.200 km/h";
    QTest::newRow("test line") << QByteArray("H        88:88:88.88 88")
                               << "BOARD [H        88:88:88.88 88]";
    QTest::newRow("control byte") << QByteArray("K\x01") << "BOARD [K\\x01]";
}

void TestSimProtocol::boardRendering() {
    QFETCH(QByteArray, line);
    QFETCH(QString, shown);
    QCOMPARE(RenderBoardLine(line), shown);
}

void TestSimProtocol::splitter() {
    LineSplitter decoder('\n');
    QCOMPARE(decoder.feed("\x01?,1,0,9,5,\r"), QByteArrayList{});
    QCOMPARE(decoder.feed("\n?,2"), QByteArrayList{"\x01?,1,0,9,5,"});
    LineSplitter board('\r', 8);
    QCOMPARE(board.feed("K    9\rL888"), QByteArrayList{"K    9"});
    QCOMPARE(board.feed("0123456789\r"), QByteArrayList{"L8880123"});
    QCOMPARE(board.droppedBytes(), qsizetype(6));
}

void TestSimProtocol::travelTimeGivesTheSpeedBack() {
    for (int dist : {10, 500, 5000})
        for (double kmh : {10.0, 55.5, 120.0})
            QVERIFY(qAbs(ComputeSpeed(TravelSeconds(dist, kmh), dist) - kmh) < 1e-9);
}

void TestSimProtocol::clock() {
    DecoderClock c(1.5);
    QCOMPARE(c.read(100.0), 101.5);
    QCOMPARE(c.read(86399.0), 0.5); // past midnight
    c.set(32707, 32000.25);
    QCOMPARE(c.read(32000.25), 32707.0);
    QCOMPARE(c.read(32010.25), 32717.0);
    DecoderClock behind(-5);
    QCOMPARE(behind.read(1.0), 86396.0);
    // 50 ppm fast: 0.18 s an hour, counted from the last setting, also
    // across midnight.
    DecoderClock fast(0, 50);
    fast.set(86000, 86000.0, 1000.0);
    QCOMPARE(fast.read(86000.0 + 3600 - 86400, 1000.0 + 3600), 3600 - 400 + 0.18);
    QCOMPARE(fast.offsetAt(1000.0 + 3600), 0.18);
}

void TestSimProtocol::carField() {
    CarField a(42), b(42);
    QVERIFY(a.cars().size() >= 8 && a.cars().size() <= 12);
    QSet<QByteArray> ids;
    for (const Car& car : a.cars()) {
        QVERIFY(car.tpid.size() >= 4 && car.tpid.size() <= 7);
        QVERIFY(!car.tpid.startsWith('0'));
        ids.insert(car.tpid);
    }
    QCOMPARE(ids.size(), a.cars().size());
    for (int i = 0; i < 200; ++i) {
        const auto lapA = a.nextLap();
        QCOMPARE(lapA, b.nextLap()); // a seed replays the same race
        QVERIFY(ids.contains(lapA.first));
        QVERIFY(lapA.second >= CarField::kMinKmh && lapA.second <= CarField::kMaxKmh);
    }
}

QTEST_APPLESS_MAIN(TestSimProtocol)
#include "tst_simprotocol.moc"
