#include "DecoderCommand.h"

#include <QTime>
#include <QtTest>

class TestDecoderCommand : public QObject {
    Q_OBJECT
private slots:
    void clock_data();
    void clock();
    void protocol_data();
    void protocol();
};

void TestDecoderCommand::clock_data() {
    QTest::addColumn<QTime>("time");
    QTest::addColumn<int>("decid");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("longTime");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("midnight") << QTime(0, 0, 0) << 0 << 0 << "0:00:00"
                              << QByteArray("\x01?,0,0,9,0,\r\n");
    QTest::newRow("9:05:07 decoder 3")
        << QTime(9, 5, 7) << 3 << 32707 << "9:05:07" << QByteArray("\x01?,3,0,9,32707,\r\n");
    QTest::newRow("last second") << QTime(23, 59, 59, 999) << 12 << 86399 << "23:59:59"
                                 << QByteArray("\x01?,12,0,9,86399,\r\n");
    QTest::newRow("negative id as set")
        << QTime(10, 0, 0) << -5 << 36000 << "10:00:00" << QByteArray("\x01?,-5,0,9,36000,\r\n");
}

void TestDecoderCommand::clock() {
    QFETCH(QTime, time);
    QFETCH(int, decid);
    QFETCH(int, seconds);
    QFETCH(QString, longTime);
    QFETCH(QByteArray, line);
    QCOMPARE(SecondsOfDay(time), seconds);
    QCOMPARE(LongTimeText(time), longTime);
    const QByteArray cmd = ClockCommand(decid, SecondsOfDay(time));
    QCOMPARE(cmd, line);
    QCOMPARE(DisplayCopy(cmd), line.mid(1));
}

void TestDecoderCommand::protocol_data() {
    QTest::addColumn<int>("decid");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("id 0") << 0 << QByteArray("\x01?,0,0,37,0,7360452,\r\n");
    QTest::newRow("id 3") << 3 << QByteArray("\x01?,3,0,37,0,7360452,\r\n");
    QTest::newRow("id 2147483647")
        << 2147483647 << QByteArray("\x01?,2147483647,0,37,0,7360452,\r\n");
}

void TestDecoderCommand::protocol() {
    QFETCH(int, decid);
    QFETCH(QByteArray, line);
    QCOMPARE(ProtocolCommand(decid), line);
    QVERIFY(DisplayCopy(line).startsWith("?,"));
    QVERIFY(DisplayCopy(line).endsWith("\r\n"));
}

QTEST_APPLESS_MAIN(TestDecoderCommand)
#include "tst_decodercommand.moc"
