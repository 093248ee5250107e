#include "BoardLines.h"

#include <QtTest>

// The expected lines are written out in full, as the board's operator
// manual gives them, independently of how BoardLines.cpp assembles them.
class TestBoardLines : public QObject {
    Q_OBJECT
private slots:
    void patterns_data();
    void patterns();
    void everyDisplayLineFollowsTheGrammar();
    void brightness_data();
    void brightness();
    void bitRate_data();
    void bitRate();
};

using Lines = QList<QByteArray>;
Q_DECLARE_METATYPE(Lines)

void TestBoardLines::patterns_data() {
    QTest::addColumn<Lines>("actual");
    QTest::addColumn<Lines>("expected");
    QTest::newRow("All Null") << AllNullPattern()
                              << Lines{"H        00:  :  .  9  \r", "L                   9  \r"};
    QTest::newRow("All 8") << AllEightPattern()
                           << Lines{"H        88:88:88.88 88\r", "L888     88:88:88.88 88\r",
                                    "888     88:88:88.88 88\r"};
    QTest::newRow("1 to 0") << OneToZeroPattern()
                            << Lines{"H        12:34:56.78   \r", "012     12:34:56.78   \r",
                                     "A012     12:34:56.78   \r", "B012     12:34:56.78   \r",
                                     "C012     12:34:56.78   \r", "D012     12:34:56.78   \r",
                                     "E012     12:34:56.78   \r", "F012     12:34:56.78   \r",
                                     "G012     12:34:56.78   \r", "H012     12:34:56.78   \r",
                                     "I012     12:34:56.78   \r"};
    QTest::newRow("Show address") << ShowAddressPattern()
                                  << Lines{"H        12:34:56.78 90\r", "000     00:00:00.00   \r",
                                           "A111     11:11:11.11   \r", "B222     22:22:22.22   \r",
                                           "C333     33:33:33.33   \r", "D444     44:44:44.44   \r",
                                           "E555     55:55:55.55   \r", "F666     66:66:66.66   \r",
                                           "G777     77:77:77.77   \r", "H888     88:88:88.88   \r",
                                           "I999     99:99:99.99   \r"};
    QTest::newRow("brightness follow-up")
        << BrightnessFollowUpLines()
        << Lines{"888     88:88:88.88 88\r", "L888     88:88:88.88 88\r"};
}

void TestBoardLines::patterns() {
    QFETCH(Lines, actual);
    QFETCH(Lines, expected);
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(actual.at(i), expected.at(i));
}

void TestBoardLines::everyDisplayLineFollowsTheGrammar() {
    const Lines all = AllNullPattern() + AllEightPattern() + OneToZeroPattern() +
                      ShowAddressPattern() + BrightnessFollowUpLines();
    for (const QByteArray& line : all) {
        const bool lettered = QByteArray("ABCDEFGHIL").contains(line.at(0));
        QCOMPARE(line.size(), lettered ? 24 : 23);
        QVERIFY2(line.endsWith('\r') && line.count('\r') == 1 && !line.contains('\n'),
                 line.constData());
        const QByteArray body = lettered ? line.mid(1) : line;
        QCOMPARE(body.mid(3, 5), QByteArray("     "));
        for (int pos : {10, 13, 16}) // the clock's separators or blanks
            QVERIFY2(QByteArray(":. ").contains(body.at(pos)), line.constData());
        QVERIFY2(body.at(19) == ' ' || body.at(19) == '9', line.constData());
    }
}

void TestBoardLines::brightness_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("1") << 1 << QByteArray("K    1\r");
    QTest::newRow("9") << 9 << QByteArray("K    9\r");
    QTest::newRow("below range held at 1") << 0 << QByteArray("K    1\r");
    QTest::newRow("above range held at 9") << 12 << QByteArray("K    9\r");
}

void TestBoardLines::brightness() {
    QFETCH(int, position);
    QFETCH(QByteArray, expected);
    QCOMPARE(BrightnessLine(position), expected);
    QCOMPARE(BrightnessLine(position).size(), 7);
}

void TestBoardLines::bitRate_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("bps");
    QTest::newRow("0") << 0 << 2400;
    QTest::newRow("1") << 1 << 9600;
    QTest::newRow("stored 7") << 7 << 9600;
    QTest::newRow("negative") << -1 << 9600;
}

void TestBoardLines::bitRate() {
    QFETCH(int, rate);
    QFETCH(int, bps);
    QCOMPARE(BoardBitRate(rate), bps);
}

QTEST_APPLESS_MAIN(TestBoardLines)
#include "tst_boardlines.moc"
