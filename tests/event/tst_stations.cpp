// Stations (the real program over pseudo-terminals) publishing to one real
// PostgreSQL server: what reaches it, through outages and kills.
#include "KorvaneRun.h"
#include "PgCluster.h"

#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace e2e;

namespace {

const int kStartMs = 15000;
const QByteArray kPorts = "Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nTimer2=1";

// One station: its data folder, decoders and board, and the program.
struct Station {
    QTemporaryDir dir;
    Track track;
    std::unique_ptr<KorvaneRun> run;
    double t = 1000;

    QString db() const { return dir.filePath(QStringLiteral("Korvane.db")); }
    bool configure(const QString& database, const QString& name, const QString& event) {
        if (!track.ok() || !writeIni(dir.filePath(QStringLiteral("Korvane.ini")), kPorts,
                                     track.devices(dir.path())))
            return false;
        QFile f(dir.filePath(QStringLiteral("Korvane.ini")));
        return f.open(QIODevice::Append) &&
               f.write(QStringLiteral("\n[Event]\nDatabase=%1\nStation=%2\nEvent=%3\n")
                           .arg(database, name, event)
                           .toUtf8()) > 0;
    }
    // Returns once the program takes decoder input.
    bool start() {
        run = std::make_unique<KorvaneRun>(QStringLiteral(KORVANE_BIN), dir.path());
        run->start();
        if (!run->waitStarted())
            return false;
        QElapsedTimer waited;
        waited.start();
        while (!boardOpenedAt(track.board, B2400)) {
            if (waited.elapsed() > kStartMs || !run->running())
                return false;
            QTest::qWait(20);
        }
        return true;
    }
    // A lap of the car over both loops, `seconds` apart.
    bool lap(const QByteArray& car, double seconds) {
        const bool ok = track.dec1.send(passingLine(car, QByteArray::number(t, 'f', 3))) &&
                        track.dec2.send(passingLine(car, QByteArray::number(t + seconds, 'f', 3)));
        t += seconds + 1;
        return ok;
    }
    int count(const char* sql) const {
        return DbLook(db()).value(QString::fromLatin1(sql)).toInt();
    }
    // The journal's attempts as the server should hold them.
    QList<QVariantList> attempts() const {
        return DbLook(db()).rows(
            QStringLiteral("select id, tpid, speed_text, status from attempt order by id"));
    }
    ~Station() {
        if (run && run->running()) {
            run->terminate();
            if (!run->waitFinished(10000))
                run->kill();
        }
    }
};

} // namespace

class TestStations : public QObject {
    Q_OBJECT

    std::unique_ptr<PgCluster> pg;
    int events = 0;
    QString event;

    QList<QVariantList> onServer(const QString& station) const {
        const QList<QVariantList> rows = pg->rows(
            QStringLiteral("select attempt_id, tpid, speed_text, status from korvane_attempt "
                           "where event = ? and station = ? order by attempt_id"),
            {event, station});
        // As the journal reads them: ids as numbers, texts as texts.
        QList<QVariantList> out;
        for (const QVariantList& r : rows)
            out << QVariantList{r.at(0).toLongLong(), r.at(1).toString(), r.at(2).toString(),
                                r.at(3).toString()};
        return out;
    }
    static QList<QVariantList> normal(const QList<QVariantList>& rows) {
        QList<QVariantList> out;
        for (const QVariantList& r : rows)
            out << QVariantList{r.at(0).toLongLong(), r.at(1).toString(), r.at(2).toString(),
                                r.at(3).toString()};
        return out;
    }

private slots:
    void initTestCase() {
        pg = std::make_unique<PgCluster>(
            QStringLiteral(KORVANE_SOURCE_DIR "/scripts/local-postgres"));
        QVERIFY2(pg->start(), qPrintable(pg->why()));
    }
    void cleanupTestCase() { pg.reset(); }
    void init() {
        event = QStringLiteral("meeting%1").arg(++events);
        // Up again after a test that stopped it and failed before its end.
        QVERIFY2(pg->start(), qPrintable(pg->why()));
    }

    void twoStationsGiveOneRankingWithTheBestOfBoth() {
        Station a, b;
        QVERIFY(a.configure(pg->socketConnection(), QStringLiteral("North"), event));
        QVERIFY(b.configure(pg->socketConnection(), QStringLiteral("South"), event));
        QVERIFY2(a.start(), a.run->errors().constData());
        QVERIFY2(b.start(), b.run->errors().constData());
        // 500 cm: 0.5 s is 36 km/h, 1.25 s 14.4, 1 s 18, 0.4 s 45.
        QVERIFY(a.lap("11", 0.5) && a.lap("12", 1.25));
        QVERIFY(b.lap("11", 1.0) && b.lap("12", 0.4));
        QTRY_VERIFY2_WITH_TIMEOUT(a.count("select count(*) from attempt") == 2 &&
                                      b.count("select count(*) from attempt") == 2,
                                  a.run->errors() + b.run->errors(), kStartMs);
        QTRY_COMPARE_WITH_TIMEOUT(
            pg->rows(QStringLiteral("select tpid, round(speed)::integer, station from "
                                    "korvane_ranking where event = ? order by speed desc"),
                     {event}),
            (QList<QVariantList>{{"12", 45, "South"}, {"11", 36, "North"}}), kStartMs);
        // The ranking is complete with the two best attempts; the other two
        // may still be on their way.
        QTRY_COMPARE_WITH_TIMEOUT(onServer(QStringLiteral("North")).size() +
                                      onServer(QStringLiteral("South")).size(),
                                  4, kStartMs);

        // The ranking is complete once each station's best is on the server, but
        // the slower attempts may still be on their way in a later batch.
        QTRY_VERIFY_WITH_TIMEOUT(onServer(QStringLiteral("North")).size() == 2 &&
                                     onServer(QStringLiteral("South")).size() == 2,
                                 kStartMs);

        // The results sheet: the same ranking, then all four attempts.
        const QString csv = a.dir.filePath(QStringLiteral("results.csv"));
        QCOMPARE(
            QProcess::execute(QStringLiteral(KORVANE_EVENT_BIN),
                              {QStringLiteral("--database"), pg->socketConnection(),
                               QStringLiteral("--event"), event, QStringLiteral("export"), csv}),
            0);
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
        QVERIFY2(lines.size() >= 9, qPrintable(lines.join('\n')));
        QVERIFY(lines.at(1).startsWith(QLatin1String("1,12,")) &&
                lines.at(1).endsWith(QLatin1String(",South")));
        QVERIFY(lines.at(2).startsWith(QLatin1String("2,11,")) &&
                lines.at(2).endsWith(QLatin1String(",North")));
        QCOMPARE(lines.at(3), QString());
        QCOMPARE(lines.mid(5).filter(QLatin1String(",")).size(), 4);
    }

    void aServerDownDuringIngestLosesAndDuplicatesNothing() {
        Station s;
        QVERIFY(s.configure(pg->socketConnection(), QStringLiteral("North"), event));
        QVERIFY2(s.start(), s.run->errors().constData());
        int car = 0;
        const auto laps = [&](int n) {
            for (int i = 0; i < n; ++i) {
                QVERIFY(s.lap(QByteArray::number(20 + car++ % 5), 0.5));
                QTest::qWait(150);
            }
        };
        QTRY_VERIFY_WITH_TIMEOUT((laps(1), onServer(QStringLiteral("North")).size() >= 3),
                                 kStartMs);
        pg->stop();
        // Measuring goes on while the server is away (a few seconds here;
        // bench/event runs the long outage).
        const int before = s.count("select count(*) from attempt");
        laps(20);
        QTRY_VERIFY(s.count("select count(*) from attempt") >= before + 10);
        QTRY_VERIFY(s.run->errors().contains("未接続"));
        QVERIFY(s.count("select count(*) from outbox") > 0);
        QVERIFY2(pg->start(), qPrintable(pg->why()));
        laps(10);
        QTRY_COMPARE_WITH_TIMEOUT(s.count("select count(*) from attempt where tpid <> ''"),
                                  s.count("select count(*) from attempt"), kStartMs);
        QTRY_VERIFY_WITH_TIMEOUT(s.count("select count(*) from outbox") == 0 &&
                                     s.count("select count(*) from speed where sumi <> '1'") == 0,
                                 kStartMs);
        QCOMPARE(onServer(QStringLiteral("North")), normal(s.attempts()));
    }

    void aKilledStationEndsWithExactlyItsAttemptsOnTheServer() {
        Station s;
        QVERIFY(s.configure(pg->socketConnection(), QStringLiteral("West"), event));
        QRandomGenerator random(15);
        int car = 0;
        for (int round = 0; round < 3; ++round) {
            QVERIFY2(s.start(), s.run->errors().constData());
            const int published = onServer(QStringLiteral("West")).size();
            QElapsedTimer feeding;
            feeding.start();
            while (onServer(QStringLiteral("West")).size() <= published) {
                QVERIFY2(feeding.elapsed() < kStartMs, s.run->errors().constData());
                QVERIFY(s.lap(QByteArray::number(30 + car++ % 5), 0.5));
                QTest::qWait(50);
            }
            // Killed at some moment while laps are measured and published.
            const qint64 lateMs = random.bounded(500);
            feeding.restart();
            while (feeding.elapsed() < lateMs) {
                QVERIFY(s.lap(QByteArray::number(30 + car++ % 5), 0.5));
                QTest::qWait(20);
            }
            s.run->kill();
            QVERIFY(s.run->waitFinished(10000));
        }
        QVERIFY2(s.start(), s.run->errors().constData());
        QTRY_VERIFY_WITH_TIMEOUT(s.count("select count(*) from outbox") == 0, kStartMs);
        QCOMPARE(onServer(QStringLiteral("West")), normal(s.attempts()));
    }

    // A server that hangs (suspended, its host still answering on the
    // network) is told as not answering, does not hold up closing, and
    // loses nothing: what it did not confirm is sent once it runs again.
    void aHungServerIsToldAndNeitherHoldsUpClosingNorLosesAttempts() {
        Station s;
        QVERIFY(s.configure(pg->socketConnection(), QStringLiteral("Hung"), event));
        QVERIFY2(s.start(), s.run->errors().constData());
        int car = 0;
        const auto lap = [&] {
            QVERIFY(s.lap(QByteArray::number(50 + car++ % 5), 0.5));
            QTest::qWait(150);
        };
        QTRY_VERIFY_WITH_TIMEOUT((lap(), onServer(QStringLiteral("Hung")).size() >= 3), kStartMs);
        const auto thaw = qScopeGuard([&] { pg->thaw(); });
        QVERIFY(pg->freeze());
        QElapsedTimer hung;
        hung.start();
        while (!s.run->errors().contains("応答なし")) {
            QVERIFY2(hung.elapsed() < 15000, s.run->errors().constData());
            lap();
        }
        // The line tells how many attempts wait.
        const QByteArray told = s.run->errors().mid(s.run->errors().lastIndexOf("応答なし"));
        QVERIFY2(told.contains("未送信") && !told.contains("未送信 0 件"), told.constData());
        QVERIFY(s.count("select count(*) from outbox") > 0);

        // Closed while the publisher tries to connect again (1 s after the
        // failure, for up to connect_timeout): the longest it can be held.
        QElapsedTimer connecting;
        connecting.start();
        while (connecting.elapsed() < 2000)
            lap();
        QElapsedTimer closing;
        closing.start();
        s.run->terminate();
        QVERIFY2(s.run->waitFinished(3000), s.run->errors().constData());
        QVERIFY2(closing.elapsed() < 3000, QByteArray::number(closing.elapsed()).constData());

        QVERIFY(pg->thaw());
        QVERIFY2(s.start(), s.run->errors().constData());
        QTRY_VERIFY_WITH_TIMEOUT(s.count("select count(*) from outbox") == 0, kStartMs);
        QCOMPARE(onServer(QStringLiteral("Hung")), normal(s.attempts()));
    }

    void aWrongPasswordIsToldAndTheStationMeasuresOn() {
        Station s;
        QVERIFY(s.configure(pg->tcpConnection(), QStringLiteral("East"), event));
        qputenv("PGPASSWORD", "not-the-password");
        const bool started = s.start();
        qunsetenv("PGPASSWORD");
        QVERIFY2(started, s.run->errors().constData());
        QTRY_VERIFY2_WITH_TIMEOUT(s.run->errors().contains("パスワードが違います"),
                                  s.run->errors().constData(), kStartMs);
        QVERIFY(s.lap("41", 0.5));
        QTRY_COMPARE_WITH_TIMEOUT(s.count("select count(*) from attempt"), 1, kStartMs);
        QCOMPARE(s.count("select count(*) from outbox"), 1);
    }
};

QTEST_GUILESS_MAIN(TestStations)
#include "tst_stations.moc"
