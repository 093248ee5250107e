// The expanded uncertainty of a speed against figures worked out by hand.
#include "SpeedText.h"
#include "Uncertainty.h"

#include <QtTest>

class TestUncertainty : public QObject {
    Q_OBJECT

private slots:
    void matchesHandWorkedFigures() {
        // 500 cm +- 5 mm, both times to 3 decimals, offset spread 1 ms,
        // 0.3 s in the section:
        //   v          = 5 m / 0.3 s = 16.667 m/s = 60 km/h
        //   u(L)/L     = 0.005 / 5 = 0.001
        //   u(t_i)     = 0.001 / sqrt(3) = 0.57735 ms, squared 0.33333 ms^2
        //   u(clk)^2   = 0 / 3 + 1^2 = 1 ms^2
        //   u(e)       = sqrt(0.33333 + 0.33333 + 1) = 1.29099 ms
        //   u(e)/e     = 0.00129099 / 0.3 = 0.0043033
        //   u(v)/v     = sqrt(0.001^2 + 0.0043033^2) = sqrt(1.95185e-5) = 0.0044180
        //   U          = 2 * 0.0044180 = 0.88360 %, of 60 km/h 0.53016 km/h
        UncertaintyInputs in;
        in.distCm = 500;
        in.toleranceMm = 5;
        in.resolution1S = TimeResolution(QStringLiteral("41.250"));
        in.resolution2S = TimeResolution(QStringLiteral("41.550"));
        in.offsetSpreadMs = 1;
        in.elapsedS = 0.3;
        const double kmh = ComputeSpeed(0.3, 500);
        QCOMPARE(kmh, 60.0);
        const SpeedUncertainty u = ExpandedUncertainty(in, kmh);
        QVERIFY(u.known);
        QVERIFY(qAbs(u.percent - 0.88360) < 5e-5);
        QVERIFY(qAbs(u.kmh - 0.53016) < 5e-5);
        QCOMPARE(UncertaintyText(u.kmh), QStringLiteral("0.54"));

        // An offset of 3 ms and a drift of 2 ms since the clock command: the
        // larger bounds the clocks, the two are not added.
        //   u(clk)^2   = 3^2 / 3 + 1^2 = 4 ms^2
        //   u(e)       = sqrt(0.33333 + 0.33333 + 4) = 2.16025 ms, / 0.3 s = 0.0072008
        //   u(v)/v     = sqrt(0.001^2 + 0.0072008^2) = 0.0072699
        //   U          = 1.45398 %, 0.87239 km/h
        in.offsetMs = -3;
        in.driftMs = 2;
        const SpeedUncertainty w = ExpandedUncertainty(in, kmh);
        QVERIFY(qAbs(w.percent - 1.45398) < 5e-5);
        QVERIFY(qAbs(w.kmh - 0.87239) < 5e-5);

        // No time in the section: nothing to say.
        in.elapsedS = 0;
        QVERIFY(!ExpandedUncertainty(in, kmh).known);
    }

    void resolutionFollowsTheDigitsSent() {
        QCOMPARE(TimeResolution(QStringLiteral("  12.3 ")), 0.1);
        QCOMPARE(TimeResolution(QStringLiteral("12")), 1.0);
        QCOMPARE(TimeResolution(QStringLiteral("0.0001")), 1e-4);
        QCOMPARE(TimeResolution(QStringLiteral("x")), 0.0);
    }
};

QTEST_APPLESS_MAIN(TestUncertainty)
#include "tst_uncertainty.moc"
