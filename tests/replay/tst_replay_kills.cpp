// kill -9 during heavy ingest, again and again: korvane-replay stores and
// measures through the program's own commits (--durable: each passing
// notification and each measuring run one commit, as in the program) as
// fast as the disk takes them, and is killed at a random moment. After every
// kill the database, opened as the next start would open it, must be whole
// and the journal, the attempts and table `speed` must agree, and the chain
// over the journal must verify.
#include "ChainCheck.h"
#include "KorvaneRun.h"
#include "ReplayRun.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace replaytest;

namespace {

const int kKills = 50;
const int kCars = 7;

// Laps of the cars in this round, on decoder clocks that go on from round to
// round: each chunk carries the passings of three cars, so that one commit
// stores several.
bool writeRound(const QString& path, int round) {
    capture::Writer w;
    if (!w.open(path))
        return false;
    w.setting(0, QStringLiteral("Dist"), 500);
    w.setting(0, QStringLiteral("Wait"), 0);
    qint64 ms = 1700000000000 + qint64(round) * 100000000;
    const double base = 1000 + round * 10000.0;
    for (int lap = 0; lap < 1500; ++lap) {
        QByteArray one, two;
        for (int k = 0; k < 3; ++k) {
            const QByteArray id = QByteArray::number(100 + (lap * 3 + k) % kCars);
            const double t = base + lap * 0.4 + k * 0.01;
            one += passing(1, id, t);
            two += passing(2, id, t + 0.25);
        }
        w.chunk(ms, 1, one);
        w.chunk(ms + 250, 2, two);
        ms += 400;
    }
    return true;
}

} // namespace

class TestReplayKills : public QObject {
    Q_OBJECT

private slots:
    void killedAgainAndAgainLeavesJournalAttemptsAndSpeedAgreeing() {
        QTemporaryDir dir;
        const QString data = dir.filePath(QStringLiteral("data"));
        const QString db = data + QStringLiteral("/Korvane.db");
        QRandomGenerator random(50);
        int kills = 0, round = 0;
        while (kills < kKills) {
            QVERIFY2(round < kKills * 2, qPrintable(QStringLiteral("%1 kills").arg(kills)));
            const QString cap = dir.filePath(QStringLiteral("round%1").arg(round));
            QVERIFY(writeRound(cap, round++));
            QProcess p;
            p.start(QStringLiteral(KORVANE_REPLAY_BIN),
                    {QStringLiteral("--durable"), QStringLiteral("--append"),
                     QStringLiteral("--quiet"), QStringLiteral("--data-dir"), data, cap});
            // Killed once it stores, at some moment of the first 300 ms.
            p.setReadChannel(QProcess::StandardError);
            QByteArray said;
            while (!said.contains("replaying") && p.waitForReadyRead(20000))
                said += p.readAll();
            QVERIFY2(said.contains("replaying"), said.constData());
            QTest::qWait(int(random.bounded(300)));
            p.kill();
            QVERIFY(p.waitForFinished(10000));
            if (p.exitStatus() == QProcess::CrashExit)
                ++kills;

            // Opened read-write as the next start would, recovering the log.
            const e2e::DbLook look(db, false);
            QCOMPARE(look.value(QStringLiteral("pragma integrity_check")).toString(),
                     QStringLiteral("ok"));
            // Every time in speed came with its journal row.
            QCOMPARE(look.value(QStringLiteral(
                                    "select count(*) from speed s where "
                                    "(s.time1 is not null and not exists (select 1 from passing p "
                                    "where p.tpid=s.tpid and p.loop=1 and p.time=s.time1)) or "
                                    "(s.time2 is not null and not exists (select 1 from passing p "
                                    "where p.tpid=s.tpid and p.loop=2 and p.time=s.time2))"))
                         .toInt(),
                     0);
            // Every processed lap has its attempt, and only one.
            QCOMPARE(look.value(QStringLiteral(
                                    "select count(*) from speed s where s.sumi='1' and "
                                    "s.time1<s.time2 and not exists (select 1 from attempt a "
                                    "where a.tpid=s.tpid and a.time1=s.time1 and a.time2=s.time2)"))
                         .toInt(),
                     0);
            QCOMPARE(look.value(QStringLiteral("select count(*) from (select 1 from attempt "
                                               "group by tpid, time1, time2 having count(*)>1)"))
                         .toInt(),
                     0);
            // The chain holds every row up to the last commit.
            const ChainCheck::Result chain = ChainCheck::verify(db, {});
            QVERIFY2(chain.ok(),
                     qPrintable(chain.error + (chain.first ? chain.first->detail : QString())));
        }
        const e2e::DbLook look(db);
        QVERIFY(look.value(QStringLiteral("select count(*) from attempt")).toInt() > kKills);
    }
};

QTEST_GUILESS_MAIN(TestReplayKills)
#include "tst_replay_kills.moc"
