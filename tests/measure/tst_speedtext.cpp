#include "SpeedText.h"

#include <QtTest>

#include <limits>

class TestSpeedText : public QObject {
    Q_OBJECT
private slots:
    void measured_data();
    void measured();
    void textOfValue_data();
    void textOfValue();
    void boardLineOfText_data();
    void boardLineOfText();
    void storedSpeedAlwaysReadsBackAsNumber_data();
    void storedSpeedAlwaysReadsBackAsNumber();
    void newBest_data();
    void newBest();
};

// From section length and elapsed time through to every published form.
void TestSpeedText::measured_data() {
    QTest::addColumn<int>("dist");
    QTest::addColumn<double>("e");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("padded");
    QTest::addColumn<QByteArray>("boardLine");
    QTest::newRow("500cm 1.234s") << 500 << 1.234 << "14.586"
                                  << " 14.586" << QByteArray("         1 45 86       .\r");
    QTest::newRow("500cm 0.5s whole") << 500 << 0.5 << "36"
                                      << " 36.000" << QByteArray("         3 60 00       .\r");
    QTest::newRow("100cm 3s one decimal") << 100 << 3.0 << "1.2"
                                          << "  1.200" << QByteArray("           12 00       .\r");
    QTest::newRow("1000cm 0.25s") << 1000 << 0.25 << "144"
                                  << "144.000" << QByteArray("        14 40 00       .\r");
    QTest::newRow("loop-2 only, tiny") << 500 << 43200.0 << "0.000"
                                       << "  0.000" << QByteArray("           00 00       .\r");
}

void TestSpeedText::measured() {
    QFETCH(int, dist);
    QFETCH(double, e);
    QFETCH(QString, text);
    QFETCH(QString, padded);
    QFETCH(QByteArray, boardLine);
    const double v = ComputeSpeed(e, dist);
    QCOMPARE(SpeedText(v), text);
    QCOMPARE(PaddedSpeedText(text), padded);
    QCOMPARE(BoardSpeedLine(text), boardLine);
    QCOMPARE(boardLine.size(), 25);
}

void TestSpeedText::textOfValue_data() {
    QTest::addColumn<double>("v");
    QTest::addColumn<QString>("text");
    QTest::newRow("left-to-right value") << ComputeSpeed(1.234, 500) << "14.586";
    QTest::newRow("cut not rounded") << 2.9999 << "2.999";
    QTest::newRow("15 significant digits first") << 0.9999999999999999 << "1";
    QTest::newRow("two decimals stay") << 12.5 << "12.5";
    QTest::newRow("exactly 0.0001") << 0.0001 << "0.000";
    QTest::newRow("below 0.0001 never scientific") << 7.2e-6 << "0.000";
    QTest::newRow("1000 and more") << 1234.5678 << "1234.567";
    QTest::newRow("from 1E15 spelled out") << 1.5e16 << "15000000000000000";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("not finite") << std::numeric_limits<double>::infinity() << "0";
}

void TestSpeedText::textOfValue() {
    QFETCH(double, v);
    QFETCH(QString, text);
    QCOMPARE(SpeedText(v), text);
}

void TestSpeedText::boardLineOfText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("boardLine");
    QTest::newRow("two decimals") << "99.25" << QByteArray("         9 92 50       .\r");
    // Characters taken as they stand: the board cannot show 1000 km/h.
    QTest::newRow("1234.5") << "1234.5" << QByteArray("        12 3. 50       .\r");
    QTest::newRow("1000") << "1000" << QByteArray("        10 0. 00       .\r");
}

void TestSpeedText::boardLineOfText() {
    QFETCH(QString, text);
    QFETCH(QByteArray, boardLine);
    QCOMPARE(BoardSpeedLine(text), boardLine);
}

void TestSpeedText::storedSpeedAlwaysReadsBackAsNumber_data() {
    QTest::addColumn<int>("dist");
    QTest::addColumn<double>("e");
    QTest::newRow("shortest section, whole day") << 1 << 86399.999;
    QTest::newRow("longest section, whole day") << 5000 << 86399.999;
    QTest::newRow("short section, 40 000 s") << 10 << 40000.0;
    QTest::newRow("tiny elapsed time") << 5000 << 1e-9;
}

void TestSpeedText::storedSpeedAlwaysReadsBackAsNumber() {
    QFETCH(int, dist);
    QFETCH(double, e);
    const QString T = SpeedText(ComputeSpeed(e, dist));
    bool ok = false;
    T.toDouble(&ok);
    QVERIFY2(ok, qPrintable(T));
    QVERIFY2(!T.contains(QLatin1Char('E'), Qt::CaseInsensitive), qPrintable(T));
}

void TestSpeedText::newBest_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<double>("v");
    QTest::addColumn<bool>("isNew");
    QTest::newRow("empty counts as 0") << "" << 14.586 << true;
    QTest::newRow("0 beaten") << "0" << 14.586 << true;
    QTest::newRow("equal is not new") << "36" << 36.0 << false;
    QTest::newRow("compared before the cut") << "14.586" << 14.5865 << true;
    QTest::newRow("slower") << "20.5" << 14.586 << false;
    QTest::newRow("blanks around the number") << " 20.5 " << 14.586 << false;
    QTest::newRow("old scientific text") << "7.2E-6" << 0.001 << true;
    QTest::newRow("damaged text counts as 0") << "7.2E-" << 14.586 << true;
    QTest::newRow("damaged text vs zero speed") << "abc" << 0.0 << false;
    QTest::newRow("infinite speed never best")
        << "0" << std::numeric_limits<double>::infinity() << false;
}

void TestSpeedText::newBest() {
    QFETCH(QString, stored);
    QFETCH(double, v);
    QFETCH(bool, isNew);
    QCOMPARE(IsNewBest(stored, v), isNew);
}

QTEST_APPLESS_MAIN(TestSpeedText)
#include "tst_speedtext.moc"
