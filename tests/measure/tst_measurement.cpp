// Passings stored by the decoder input and processed into speeds.
#include "Measurement.h"

#include "SpeedRow.h"
#include "SpeedTable.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// The window's measuring step, one table statement or plain function each.
void StorePassing(int loop, const QString& tpid, const QString& time) {
    SpeedTable::storePassing(loop, tpid, time);
}

std::optional<PendingPassing> NextPending() {
    const auto r = SpeedTable::nextPending();
    if (!r)
        return std::nullopt;
    return PendingPassing{r->tpid, r->time1, r->time2, r->bestSpeed, r->convertible};
}

void MarkProcessed(const QString& tpid, const SpeedResult& r) {
    if (r.newBest)
        SpeedTable::markProcessed(tpid, r.text);
    else
        SpeedTable::markProcessed(tpid);
}

} // namespace

class TestMeasurement : public QObject {
    Q_OBJECT
    std::unique_ptr<FreshSpeedDb> db;

private slots:
    void init() { db = std::make_unique<FreshSpeedDb>(); }

    void cleanup() { db.reset(); }

    void passingsOnBothLoops() {
        StorePassing(1, "1234", "37.512");
        SpeedRow r = row("1234");
        QCOMPARE(r.time1, QStringLiteral("37.512"));
        QCOMPARE(r.time2, QString());
        QCOMPARE(r.speed, QString());
        QCOMPARE(r.sumi, QStringLiteral("0"));

        // Processing it before its loop-2 passing stores no speed.
        auto p = NextPending();
        QVERIFY(p);
        SpeedResult res = EvaluatePassing(*p, 500);
        QVERIFY(!res.measured);
        MarkProcessed(p->tpid, res);
        QCOMPARE(row("1234").sumi, QStringLiteral("1"));
        QCOMPARE(row("1234").speed, QString());

        StorePassing(1, "1234", "100"); // a loop-1 update leaves sumi alone
        QCOMPARE(row("1234").sumi, QStringLiteral("1"));
        StorePassing(2, "1234", "101.234");
        r = row("1234");
        QCOMPARE(r.time2, QStringLiteral("101.234"));
        QCOMPARE(r.sumi, QStringLiteral("0"));

        p = NextPending();
        QVERIFY(p);
        res = EvaluatePassing(*p, 500);
        QVERIFY(res.measured);
        QCOMPARE(res.text, QStringLiteral("14.586"));
        QCOMPARE(res.boardLine, QByteArray("         1 45 86       .\r"));
        QVERIFY(res.newBest);
        MarkProcessed(p->tpid, res);
        r = row("1234");
        QCOMPARE(r.speed, QStringLiteral("14.586"));
        QCOMPARE(r.sumi, QStringLiteral("1"));
        QVERIFY(!NextPending());
    }

    void newTransponderOnLoopTwoOnly() {
        StorePassing(2, "77", "43200");
        const SpeedRow r = row("77");
        QCOMPARE(r.speed, QStringLiteral("0"));
        QCOMPARE(r.sumi, QStringLiteral("0"));
        const auto p = NextPending();
        QVERIFY(p);
        const SpeedResult res = EvaluatePassing(*p, 500); // time1 reads as 0
        QVERIFY(res.measured);
        QCOMPARE(res.text, QStringLiteral("0.000"));
        QVERIFY(res.newBest); // 0.000416... beats the stored 0
        MarkProcessed(p->tpid, res);
        QCOMPARE(row("77").speed, QStringLiteral("0"));
    }

    void bestSpeedRule() {
        StorePassing(1, "A", "10");
        StorePassing(2, "A", "10.5"); // Dist 500: 36 km/h
        auto p = NextPending();
        SpeedResult res = EvaluatePassing(*p, 500);
        QCOMPARE(res.text, QStringLiteral("36"));
        MarkProcessed(p->tpid, res);
        QCOMPARE(row("A").speed, QStringLiteral("36"));

        StorePassing(1, "A", "20");
        StorePassing(2, "A", "21"); // 18 km/h: slower, kept 36
        p = NextPending();
        res = EvaluatePassing(*p, 500);
        QVERIFY(res.measured);
        QVERIFY(!res.newBest);
        MarkProcessed(p->tpid, res);
        QCOMPARE(row("A").speed, QStringLiteral("36"));
        QCOMPARE(row("A").sumi, QStringLiteral("1"));
    }

    void unconvertibleRowCannotBlockTheQueue() {
        StorePassing(1, "bad", "12:30:01");
        StorePassing(2, "bad", "12:30:02");
        StorePassing(1, "good", "1");
        StorePassing(2, "good", "99999");
        auto p = NextPending();
        QVERIFY(p);
        const QString first = p->tpid;
        SpeedResult res = EvaluatePassing(*p, 500);
        MarkProcessed(p->tpid, res);
        p = NextPending();
        QVERIFY(p);
        QVERIFY(p->tpid != first);
        res = EvaluatePassing(*p, 500);
        MarkProcessed(p->tpid, res);
        QVERIFY(!NextPending());
        QCOMPARE(row("bad").sumi, QStringLiteral("1"));
        QCOMPARE(row("bad").speed, QString()); // created on loop 1: no speed yet
        QCOMPARE(row("good").sumi, QStringLiteral("1"));
    }

    void aBestSpeedThatIsNoNumberIsReplaced() {
        StorePassing(1, "X", "1");
        StorePassing(2, "X", "1.5");
        execSql({"update speed set speed=? where tpid=?"}, {"fast", "X"});
        const auto p = NextPending();
        const SpeedResult res = EvaluatePassing(*p, 500);
        QVERIFY(res.measured && res.newBest);
        MarkProcessed(p->tpid, res);
        QCOMPARE(row("X").speed, QStringLiteral("36"));
    }
};

QTEST_GUILESS_MAIN(TestMeasurement)
#include "tst_measurement.moc"
