// Plausibility flags of an attempt against the limits, at and beside each edge.
#include "Plausibility.h"

#include <QtTest>

class TestPlausibility : public QObject {
    Q_OBJECT

private slots:
    void flags_data() {
        QTest::addColumn<double>("kmh");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<bool>("loop1Since");
        QTest::addColumn<qint64>("repeat1");
        QTest::addColumn<qint64>("repeat2");
        QTest::addColumn<unsigned>("expected");

        QTest::newRow("plain run") << 36.0 << 0.5 << true << qint64(-1) << qint64(-1) << 0u;
        QTest::newRow("exactly the lowest speed")
            << 1.0 << 18.0 << true << qint64(-1) << qint64(-1) << 0u;
        QTest::newRow("just below the lowest")
            << 0.999 << 18.0 << true << qint64(-1) << qint64(-1) << unsigned(FlagTooSlow);
        QTest::newRow("exactly the highest speed")
            << 500.0 << 0.036 << true << qint64(-1) << qint64(-1) << 0u;
        QTest::newRow("just above the highest")
            << 500.001 << 0.036 << true << qint64(-1) << qint64(-1) << unsigned(FlagTooFast);
        // A new car seen first on loop 2: time1 reads 0, the elapsed time
        // is the whole decoder clock and the speed about 0.
        QTest::newRow("first seen on loop 2")
            << 0.0005 << 3600.0 << false << qint64(-1) << qint64(-1)
            << unsigned(FlagTooSlow | FlagNoLoop1 | FlagLongSection);
        QTest::newRow("double read on loop 2")
            << 30.0 << 0.6 << true << qint64(-1) << qint64(499) << unsigned(FlagDoubleRead);
        QTest::newRow("double read on loop 1")
            << 30.0 << 0.6 << true << qint64(0) << qint64(2000) << unsigned(FlagDoubleRead);
        QTest::newRow("repeat at the window's end")
            << 30.0 << 0.6 << true << qint64(500) << qint64(500) << 0u;
        QTest::newRow("exactly the longest section")
            << 1.2 << 60.0 << true << qint64(-1) << qint64(-1) << 0u;
        QTest::newRow("longer than the section")
            << 1.2 << 60.001 << true << qint64(-1) << qint64(-1) << unsigned(FlagLongSection);
        QTest::newRow("second attempt of one loop-1 passing")
            << 20.0 << 0.9 << false << qint64(-1) << qint64(300)
            << unsigned(FlagNoLoop1 | FlagDoubleRead);
    }
    void flags() {
        QFETCH(double, kmh);
        QFETCH(double, elapsed);
        QFETCH(bool, loop1Since);
        QFETCH(qint64, repeat1);
        QFETCH(qint64, repeat2);
        QFETCH(unsigned, expected);
        AttemptFacts f;
        f.kmh = kmh;
        f.elapsedS = elapsed;
        f.loop1SincePrevious = loop1Since;
        f.loop1RepeatMs = repeat1;
        f.loop2RepeatMs = repeat2;
        QCOMPARE(PlausibilityFlags(f, PlausibilityLimits{}), expected);
    }

    // Pairs whose times say nothing of one crossing; the speed flags alone
    // leave an attempt a measurement.
    void pairsThatAreNoMeasurement() {
        AttemptFacts backwards;
        backwards.elapsedS = -1; // no speed to judge: not "too slow"
        QCOMPARE(PlausibilityFlags(backwards, {}), unsigned(FlagNoSection));
        AttemptFacts f;
        f.kmh = 36;
        f.elapsedS = 0.5;
        f.hasTime1 = false;
        QCOMPARE(PlausibilityFlags(f, {}), unsigned(FlagNoLoop1));
        f.hasTime1 = true;
        f.clockSetBetween = true;
        QCOMPARE(PlausibilityFlags(f, {}), unsigned(FlagClockSet));
        for (unsigned flag : {FlagNoLoop1, FlagLongSection, FlagClockSet, FlagNoSection})
            QVERIFY(!IsMeasurement(flag | FlagTooFast));
        QVERIFY(IsMeasurement(FlagTooSlow | FlagTooFast | FlagDoubleRead));
    }

    void limitsComeFromTheSettings() {
        AttemptFacts f;
        f.kmh = 50;
        f.elapsedS = 10;
        f.loop2RepeatMs = 900;
        PlausibilityLimits l;
        l.minKmh = 60;
        l.maxKmh = 40;
        l.doubleReadMs = 1000;
        l.maxSectionS = 5;
        QCOMPARE(PlausibilityFlags(f, l),
                 unsigned(FlagTooSlow | FlagTooFast | FlagDoubleRead | FlagLongSection));
    }

    void flagsInWords() {
        QCOMPARE(FlagWords(0), QStringList());
        QCOMPARE(FlagWords(FlagNoLoop1 | FlagTooSlow),
                 QStringList({QStringLiteral("低速"), QStringLiteral("ループ1なし")}));
    }
};

QTEST_GUILESS_MAIN(TestPlausibility)
#include "tst_plausibility.moc"
