// The health model driven by made-up times: silence, counts, and the clock
// offset through delays, drift, midnight and a stepped PC clock.
#include "DecoderHealth.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

namespace {

constexpr qint64 kDay = 86400 * 1000;

QString passing(double decoderSeconds) {
    return QStringLiteral("@\t1\t0\t1234\t%1\t0\t")
        .arg(std::fmod(decoderSeconds + 86400, 86400), 0, 'f', 3);
}

// A decoder whose clock runs `ppm` fast from `offsetMs` behind the PC at
// mono 0, and a PC whose time of day is mono + todAtZero (+ step).
struct Track {
    DecoderHealth h;
    QRandomGenerator rng{7};
    qint64 todAtZero = 10 * 3600 * 1000;
    qint64 step = 0;
    // Sends a passing of loop at mono; the line arrives 0..maxDelay ms later.
    void send(int loop, qint64 mono, double offsetMs, double ppm, int maxDelay = 8) {
        const double pcAtCrossing = double(todAtZero + mono);
        const double decoder = pcAtCrossing - offsetMs + double(mono) * ppm / 1e6;
        const qint64 delay = rng.bounded(maxDelay + 1);
        const qint64 tod = (todAtZero + step + mono + delay) % kDay;
        h.received(loop, mono + delay, tod, 30, 0, {passing(decoder / 1000)});
    }
};

QList<HealthEvent::Kind> kinds(const QList<HealthEvent>& events) {
    QList<HealthEvent::Kind> k;
    for (const HealthEvent& e : events)
        k << e.kind;
    return k;
}

} // namespace

class TestDecoderHealth : public QObject {
    Q_OBJECT
private slots:
    void countsWhatEachLineIs() {
        DecoderHealth h;
        h.portOpened(1, 0);
        h.received(
            1, 1000, 0, 80, 12,
            {QStringLiteral("#\t1\t0\tstatus\t"), passing(5), QStringLiteral("hello"), passing(6)});
        h.received(1, 70000, 0, 20, 0, {QStringLiteral("#\t1\t0\t")});
        const LoopFigures f = h.figures(1, 71000);
        QCOMPARE(f.statusLines, 2);
        QCOMPARE(f.passings, 2);
        QCOMPARE(f.nonPassings, 3);
        QCOMPARE(f.discarded, 12);
        QCOMPARE(f.linesPerMinute, 1); // the first four are older than a minute
        QCOMPARE(f.sinceLineMs, 1000);
        QCOMPARE(h.figures(2, 71000).passings, 0);
    }

    void garbageWithoutALineIsSilence() {
        DecoderHealth h(HealthLimits{10000, 5, 16, 60000});
        h.portOpened(1, 0);
        h.portOpened(2, 0);
        for (qint64 t = 0; t <= 12000; t += 1000) {
            h.received(1, t, t, 64, 0, {}); // bytes, never a CR
            h.received(2, t, t, 30, 0, {QStringLiteral("#\t2\t")});
            h.check(t);
        }
        QCOMPARE(h.takeEvents(), (QList<HealthEvent>{{HealthEvent::Silent, 1, {}}}));
        LoopFigures f = h.figures(1, 12000);
        QVERIFY(f.silent);
        QCOMPARE(f.sinceByteMs, 0);
        QCOMPARE(f.sinceLineMs, -1);
        h.check(20000);
        QCOMPARE(h.takeEvents(), QList<HealthEvent>()); // raised once
        h.received(1, 21000, 21000, 10, 0, {QStringLiteral("#\t1\t")});
        QCOMPARE(h.takeEvents(), (QList<HealthEvent>{{HealthEvent::Back, 1, {}}}));
        QVERIFY(!h.figures(1, 21000).silent);

        // A failed port says why, also when it was silent before.
        h.portFailed(2, QStringLiteral("unplugged"));
        h.portFailed(2, QStringLiteral("unplugged"));
        QCOMPARE(h.takeEvents(),
                 (QList<HealthEvent>{{HealthEvent::PortFailed, 2, QStringLiteral("unplugged")}}));
        h.check(60000); // loop 1 has gone quiet again; a failed port is not also silent
        QCOMPARE(h.takeEvents(), (QList<HealthEvent>{{HealthEvent::Silent, 1, {}}}));
        QCOMPARE(h.figures(2, 60000).failure, QStringLiteral("unplugged"));
    }

    void aClockNeverSetIsToldOncePerChange() {
        Track t;
        for (int i = 0; i < 20; ++i)
            t.send(1, 5000 * i, 3.5 * 3600 * 1000, 0);
        QCOMPARE(kinds(t.h.takeEvents()), QList<HealthEvent::Kind>{HealthEvent::ClockNotSet});
        QVERIFY(t.h.figures(1, 100000).clockNotSet);
        QCOMPARE(qRound(*t.h.figures(1, 100000).offsetMs / 1000), 3 * 3600 + 1800);
        t.h.clockSet(100000);
        for (int i = 21; i < 40; ++i)
            t.send(1, 5000 * i, 400, 0);
        QCOMPARE(kinds(t.h.takeEvents()), QList<HealthEvent::Kind>{HealthEvent::ClockSet});
        QVERIFY(std::abs(*t.h.figures(1, 200000).offsetMs - 400) <= 8);
    }

    void offsetsAcrossMidnight_data() {
        QTest::addColumn<qint64>("todAtZero");
        QTest::addColumn<double>("offsetMs");
        // Passings every 2 s for a minute; midnight falls in the middle.
        QTest::newRow("decoder behind") << qint64(kDay - 30000) << 250.0;
        QTest::newRow("decoder ahead") << qint64(kDay - 30000) << -250.0;
        QTest::newRow("just before") << qint64(kDay - 60001) << 0.5;
    }
    void offsetsAcrossMidnight() {
        QFETCH(qint64, todAtZero);
        QFETCH(double, offsetMs);
        Track t;
        t.todAtZero = todAtZero;
        for (qint64 mono = 0; mono <= 60000; mono += 2000) {
            t.send(1, mono, offsetMs, 0, 3);
            t.send(2, mono, 0, 0, 3);
            const double got = *t.h.figures(1, mono).offsetMs;
            QVERIFY2(got >= offsetMs - 1 && got <= offsetMs + 3, qPrintable(QString::number(got)));
        }
        QVERIFY(t.h.takeEvents().size() <= 1); // at most the inter-decoder limit, no step
        QVERIFY(std::abs(*t.h.interOffsetMs() - offsetMs) <= 3);
    }

    void aSteppedPcClockGivesNoFalseOffset_data() {
        QTest::addColumn<qint64>("step");
        QTest::newRow("forward 30 s") << qint64(30000);
        QTest::newRow("back 30 s") << qint64(-30000);
        QTest::newRow("back 1 h") << qint64(-3600 * 1000);
    }
    void aSteppedPcClockGivesNoFalseOffset() {
        QFETCH(qint64, step);
        Track t;
        for (int i = 0; i < 20; ++i)
            t.send(1, 5000 * i, 120, 0);
        QVERIFY(std::abs(*t.h.figures(1, 100000).offsetMs - 120) <= 8);
        t.h.takeEvents();
        // The PC is corrected: what it reads from now on is off by step
        // against what the decoder was set from, so the offset is really
        // 120 + step from the first passing after it.
        t.step = step;
        for (int i = 20; i < 24; ++i) {
            t.send(1, 5000 * i, 120, 0);
            const double got = *t.h.figures(1, 5000 * i).offsetMs;
            QVERIFY2(std::abs(got - (120 + step)) <= 8, qPrintable(QString::number(got)));
        }
        // An hour's step leaves the decoder's clock an hour off the PC's.
        const QList<HealthEvent::Kind> told = kinds(t.h.takeEvents());
        QCOMPARE(told.count(HealthEvent::PcClockStep), 1);
        QCOMPARE(told.contains(HealthEvent::ClockNotSet), std::abs(step) >= 60000);
    }

    void driftAndTheInterDecoderOffsetFollowTheTruth() {
        // Decoder 1 runs 50 ppm fast, decoder 2 20 ppm slow; both start
        // 3 ms apart. A car every 5 s for five minutes.
        Track t;
        for (qint64 mono = 0; mono <= 300000; mono += 5000) {
            t.send(1, mono, 1.0, 50, 3);
            t.send(2, mono + 700, -2.0, -20, 3);
        }
        const qint64 now = 300700;
        const LoopFigures f1 = t.h.figures(1, now), f2 = t.h.figures(2, now);
        QVERIFY2(f1.driftPpm && std::abs(*f1.driftPpm - 50) <= 5,
                 qPrintable(QString::number(f1.driftPpm.value_or(0))));
        QVERIFY2(f2.driftPpm && std::abs(*f2.driftPpm + 20) <= 5,
                 qPrintable(QString::number(f2.driftPpm.value_or(0))));
        // The truth now: offset1 = 1 - 15.035, offset2 = -2 + 6.014.
        const double truth = (1.0 - 300700 * 50e-6) - (-2.0 + 300700 * 20e-6);
        QVERIFY2(std::abs(*t.h.interOffsetMs() - truth) <= 2,
                 qPrintable(QString::number(*t.h.interOffsetMs())));
        // Over 5 ms apart after about a minute: told once, not per passing.
        QCOMPARE(kinds(t.h.takeEvents()), QList<HealthEvent::Kind>{HealthEvent::OffsetOver});
        QVERIFY(t.h.offsetOver());

        // A clock command starts the offsets anew; the excursion ends only
        // when they are measured within the limit again.
        t.h.clockSet(now);
        QVERIFY(!t.h.interOffsetMs());
        QVERIFY(t.h.offsetOver());
        QVERIFY(!t.h.figures(1, now).driftPpm);
        for (qint64 mono = 305000; mono < 320000; mono += 5000) {
            t.send(1, mono, 1.0, 0, 1);
            t.send(2, mono, 0.0, 0, 1);
        }
        QCOMPARE(kinds(t.h.takeEvents()), QList<HealthEvent::Kind>{HealthEvent::OffsetBack});
    }

    void speedError() {
        // 10 m at 100 km/h takes 0.36 s: 1 ms is about 0.28 %.
        QCOMPARE(qRound(SpeedErrorPercent(1, 1000, 100) * 1000), 278);
        QCOMPARE(SpeedErrorPercent(1, 0, 100), 0.0);
    }
};

QTEST_APPLESS_MAIN(TestDecoderHealth)
#include "tst_decoderhealth.moc"
