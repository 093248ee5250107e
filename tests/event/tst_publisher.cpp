// The publisher in this process against a real PostgreSQL server: what the
// journal holds, and every later change of it, reaches the event's tables.
#include "PgCluster.h"

#include "Database.h"
#include "Journal.h"
#include "Outbox.h"
#include "Publisher.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <optional>

using namespace e2e;

namespace {

Journal::Attempt attempt(const char* tpid, double kmh, const QString& status = Journal::kOk) {
    Journal::Attempt a;
    a.tpid = QString::fromLatin1(tpid);
    a.time1 = 10;
    a.time2 = 10.5;
    a.distCm = 500;
    a.speed = kmh;
    a.speedText = QString::number(kmh, 'f', 2);
    a.status = status;
    a.measuredMs = 1700000000000;
    return a;
}

Publisher::Options fast() {
    Publisher::Options o;
    o.pollMs = 20;
    o.retryMinMs = 100;
    o.retryMaxMs = 400;
    return o;
}

} // namespace

class TestPublisher : public QObject {
    Q_OBJECT

    std::unique_ptr<PgCluster> pg;
    std::unique_ptr<QTemporaryDir> dir;
    int events = 0;

    QString dbPath() const { return dir->filePath(QStringLiteral("Korvane.db")); }
    EventSettings settings(const QString& database) {
        return {database, QStringLiteral("A"), QStringLiteral("event%1").arg(++events)};
    }
    QList<QVariantList> ranking(const QString& event) const {
        return pg->rows(QStringLiteral("select tpid, speed_text, station from korvane_ranking "
                                       "where event = ? order by tpid"),
                        {event});
    }
    // `work` on a connection of its own to the server.
    template <class Work> auto serverCall(Work&& work) const {
        const QString name = QStringLiteral("direct");
        std::optional<decltype(work(QSqlDatabase()))> out;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setConnectOptions(pg->socketConnection());
            if (db.open())
                out = work(db);
        }
        QSqlDatabase::removeDatabase(name);
        return out.value();
    }
    int outbox() const {
        QSqlQuery q(SpeedDb::database());
        return q.exec(QStringLiteral("select count(*) from outbox")) && q.next()
                   ? q.value(0).toInt()
                   : -1;
    }

private slots:
    void initTestCase() {
        pg = std::make_unique<PgCluster>(
            QStringLiteral(KORVANE_SOURCE_DIR "/scripts/local-postgres"));
        QVERIFY2(pg->start(), qPrintable(pg->why()));
    }
    void cleanupTestCase() { pg.reset(); }
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        SpeedDb::open(dbPath());
        SpeedDb::checkNameColumn();
        Outbox::install(SpeedDb::database());
        execSql({QStringLiteral("insert into speed (tpid, pname) values ('7', 'Seven')")});
    }
    void cleanup() {
        SpeedDb::close();
        dir.reset();
    }

    void reviewChangesReachTheServerAndTheRankingFollowsThem() {
        const EventSettings s = settings(pg->socketConnection());
        Journal::recordAttempt(attempt("7", 50));
        const qint64 suspect = Journal::recordAttempt(attempt("7", 60, Journal::kSuspect));
        Journal::recordAttempt(attempt("8", 40));
        Publisher publisher(s, dbPath(), fast());
        QSignalSpy status(&publisher, &Publisher::statusChanged);
        publisher.start();

        // A suspect attempt is on the server but not in the ranking.
        QTRY_COMPARE(ranking(s.Event),
                     (QList<QVariantList>{{"7", "50.00", "A"}, {"8", "40.00", "A"}}));
        QTRY_COMPARE(pg->value(QStringLiteral("select count(*) from korvane_attempt where event=?"),
                               {s.Event})
                         .toInt(),
                     3);
        QCOMPARE(pg->value(QStringLiteral("select name from korvane_attempt where event=? and "
                                          "attempt_id=?"),
                           {s.Event, suspect})
                     .toString(),
                 QStringLiteral("Seven"));
        QTRY_COMPARE(outbox(), 0);
        QTRY_VERIFY(!status.isEmpty() && status.last().at(0).value<PublisherStatus>().connected &&
                    status.last().at(0).value<PublisherStatus>().waiting == 0);

        // Accepted by a review, then corrected to a lower speed: each change
        // is an update of the attempt row, written as another program does.
        execSql({QStringLiteral("update attempt set status='accepted' where id=?")}, {suspect});
        QTRY_COMPARE(ranking(s.Event).value(0), (QVariantList{"7", "60.00", "A"}));
        execSql({QStringLiteral("update attempt set speed=45, speed_text='45.00' where id=?")},
                {suspect});
        QTRY_COMPARE(ranking(s.Event).value(0), (QVariantList{"7", "50.00", "A"}));
        QCOMPARE(pg->value(QStringLiteral("select count(*) from korvane_attempt where event=?"),
                           {s.Event})
                     .toInt(),
                 3);
    }

    // Attempt ids are each file's own: a second PC under a taken name would
    // overwrite the first one's attempts on the server.
    void aSecondFileUnderATakenNameIsRefusedUntilRenamed() {
        const EventSettings s = settings(pg->socketConnection());
        const auto onServer = [&] {
            return pg->rows(QStringLiteral("select station, attempt_id::text, speed_text from "
                                           "korvane_attempt where event = ? order by 1, 2"),
                            {s.Event});
        };
        // The server as the version before left it: upgraded at connect.
        pg->execute(QStringLiteral("drop table if exists korvane_station"));
        pg->execute(QStringLiteral("update korvane_schema set version = 1"));
        Journal::recordAttempt(attempt("7", 50));
        Journal::recordAttempt(attempt("8", 40));
        const QList<QVariantList> first{{"A", "1", "50.00"}, {"A", "2", "40.00"}};
        {
            Publisher a(s, dbPath(), fast());
            a.start();
            QTRY_COMPARE(onServer(), first);
        }

        SpeedDb::close();
        const QString other = dir->filePath(QStringLiteral("Other.db"));
        SpeedDb::open(other);
        SpeedDb::checkNameColumn();
        Outbox::install(SpeedDb::database());
        Journal::recordAttempt(attempt("7", 70));
        Journal::recordAttempt(attempt("9", 30));
        {
            Publisher b(s, other, fast());
            QSignalSpy status(&b, &Publisher::statusChanged);
            b.start();
            QTRY_VERIFY(!status.isEmpty());
            const auto told = status.last().at(0).value<PublisherStatus>();
            QCOMPARE(told.lastError,
                     QStringLiteral("ステーション名 A はイベント %1 で別の PC が使っています")
                         .arg(s.Event));
            QVERIFY(!told.connected);
            QCOMPARE(told.waiting, 2);
            QCOMPARE(onServer(), first);
        }
        QCOMPARE(outbox(), 2);

        Publisher renamed({s.Database, QStringLiteral("B"), s.Event}, other, fast());
        renamed.start();
        const QList<QVariantList> both =
            first + QList<QVariantList>{{"B", "1", "70.00"}, {"B", "2", "30.00"}};
        QTRY_COMPARE(onServer(), both);
        QTRY_COMPARE(outbox(), 0);
    }

    // A name is the operator's text: on the results sheet it must stay text,
    // not become a formula the spreadsheet runs.
    void theResultsSheetKeepsFormulaLikeNamesAsText() {
        const EventSettings s = settings(pg->socketConnection());
        execSql({QStringLiteral("insert into speed (tpid, pname) values ('9', ?)")},
                {QStringLiteral("=HYPERLINK(\"http://x\",\"y\")")});
        Journal::recordAttempt(attempt("9", 30));
        {
            Publisher publisher(s, dbPath(), fast());
            publisher.start();
            QTRY_COMPARE(outbox(), 0);
        }
        const QByteArray csv =
            serverCall([&](QSqlDatabase db) { return EventServer::exportCsv(db, s.Event); });
        const QByteArray field = "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"";
        // Once in the ranking, once among the attempts, never bare.
        QCOMPARE(csv.count(field), 2);
        QVERIFY2(!csv.contains(",=") && !csv.contains(",\"="), csv.constData());
    }

    // The results sheet on a full disk: the one already there stays as it
    // was, and the export says why it failed.
    void anExportOnAFullDiskLeavesTheSheetAsItWas() {
        const EventSettings s = settings(pg->socketConnection());
        serverCall([](QSqlDatabase db) {
            EventServer::migrate(db);
            return true;
        });
        QTemporaryDir mountPoint;
        QProcess mount;
        mount.start(QStringLiteral("mount"),
                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                     QStringLiteral("size=256k"), QStringLiteral("tmpfs"), mountPoint.path()});
        QVERIFY2(mount.waitForFinished() && mount.exitCode() == 0,
                 "mounting a small tmpfs was refused (the test needs root): " +
                     mount.readAllStandardError());
        const auto unmount =
            qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {mountPoint.path()}); });
        const QString csv = mountPoint.filePath(QStringLiteral("results.csv"));
        const QByteArray sheet = "1,11,,36.00,North\r\n";
        QFile old(csv);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write(sheet) == sheet.size());
        old.close();
        QFile fill(mountPoint.filePath(QStringLiteral("fill")));
        QVERIFY(fill.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (fill.write(QByteArray(4096, 'x')) > 0) {
        }
        fill.close();

        QProcess exporter;
        exporter.start(QStringLiteral(KORVANE_EVENT_BIN),
                       {QStringLiteral("--database"), s.Database, QStringLiteral("--event"),
                        s.Event, QStringLiteral("export"), csv});
        QVERIFY(exporter.waitForFinished(30000));
        const QByteArray errors = exporter.readAllStandardError();
        QVERIFY2(exporter.exitCode() != 0, errors.constData());
        QVERIFY2(errors.contains("に書き込めません") && errors.contains("No space left"),
                 errors.constData());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), sheet);
        QCOMPARE(QDir(mountPoint.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("fill"), QStringLiteral("results.csv")}));
    }

    // Rows on the server that the outbox cannot let go are said on the
    // status line and sent again after a growing pause, not at every poll;
    // once the outbox lets them go the line clears.
    void anOutboxThatKeepsItsRowsIsToldAndNotHammered() {
        const EventSettings s = settings(pg->socketConnection());
        execSql({QStringLiteral("create trigger outbox_kept before delete on outbox"
                                " begin select raise(fail, 'outbox kept'); end")});
        Journal::recordAttempt(attempt("7", 50));
        Publisher publisher(s, dbPath(), fast());
        QSignalSpy status(&publisher, &Publisher::statusChanged);
        QSignalSpy published(&publisher, &Publisher::published);
        publisher.start();
        QTRY_VERIFY(!status.isEmpty() &&
                    status.last().at(0).value<PublisherStatus>().localError.contains(
                        QLatin1String("outbox kept")));
        QCOMPARE(status.last().at(0).value<PublisherStatus>().waiting, 1);
        // At the poll's pace (20 ms) this second would send it fifty times;
        // the pauses (100, 200, 400 ms) allow four at most.
        published.clear();
        QTest::qWait(1000);
        QVERIFY2(published.size() <= 4, qPrintable(QString::number(published.size())));
        QVERIFY(outbox() == 1 && ranking(s.Event).size() == 1);

        execSql({QStringLiteral("drop trigger outbox_kept")});
        QTRY_COMPARE(outbox(), 0);
        QTRY_VERIFY(status.last().at(0).value<PublisherStatus>().localError.isEmpty());
    }

    // Each statement of a migration goes to the server whole, ';' in a text
    // or a function's body included; a server already on the version is left
    // as it is (its version row is not written again by every connect).
    void migrationsRunWholeStatementsAndLeaveACurrentServerAlone() {
        const QList<QStringList> migrations{
            {QStringLiteral("create table m (v text not null default 'a;b')"),
             QStringLiteral("create function m_two() returns integer language plpgsql as"
                            " $$ begin perform 1; return 2; end $$")}};
        const auto versionRow = [](QSqlDatabase db) {
            QSqlQuery q(db);
            return q.exec(
                       QStringLiteral("select xmin::text || ':' || version from korvane_schema")) &&
                           q.next()
                       ? q.value(0).toString()
                       : q.lastError().text();
        };
        const QStringList told = serverCall([&](QSqlDatabase db) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("create schema migration_test"));
            q.exec(QStringLiteral("set search_path to migration_test"));
            QStringList out;
            try {
                EventServer::migrate(db, migrations);
                out << versionRow(db);
                EventServer::migrate(db, migrations);
                out << versionRow(db);
                QSqlQuery read(db);
                read.exec(QStringLiteral("insert into m default values returning v, m_two()"));
                out << (read.next() ? read.value(0).toString() + read.value(1).toString()
                                    : read.lastError().text());
            } catch (const DbError& e) {
                out << e.message();
            }
            return out;
        });
        QCOMPARE(told.size(), 3);
        QVERIFY2(told.at(0).endsWith(QLatin1String(":1")), qPrintable(told.at(0)));
        QCOMPARE(told.at(1), told.at(0));
        QCOMPARE(told.at(2), QStringLiteral("a;b2"));

        // The program's own migrations, on the server the other tests use.
        const QStringList current = serverCall([&](QSqlDatabase db) {
            EventServer::migrate(db);
            const QString first = versionRow(db);
            EventServer::migrate(db);
            return QStringList{first, versionRow(db)};
        });
        QVERIFY2(current.at(0).endsWith(QStringLiteral(":%1").arg(EventServer::kSchemaVersion)),
                 qPrintable(current.at(0)));
        QCOMPARE(current.at(1), current.at(0));
    }

    // Another station's attempt, written on the server as its publisher would.
    void otherStation(const QString& event, const QString& station, qint64 id, const char* tpid,
                      double kmh, const QString& className = {}) const {
        QVERIFY(pg->execute(
            QStringLiteral("insert into korvane_attempt (event, station, attempt_id, tpid, speed,"
                           " speed_text, status, measured_at, class) values ('%1', '%2', %3,"
                           " '%4', %5, '%6', 'ok', now(), '%7')")
                .arg(event, station)
                .arg(id)
                .arg(QLatin1String(tpid))
                .arg(kmh)
                .arg(QString::number(kmh, 'f', 2), className)));
    }
    static QList<QVariantList> shown(const QList<EventServer::RankingEntry>& rows) {
        QList<QVariantList> out;
        for (const EventServer::RankingEntry& e : rows)
            out << QVariantList{e.rank, e.tpid, e.speedText, e.station};
        return out;
    }

    // The station reads the combined ranking only when the server tells it
    // of a change: a correction that lowers this station's best brings the
    // transponder's next best, from the other station, to its screen.
    void aLoweredBestGivesWayToTheNextBestOfAnyStationAndIsTold() {
        const EventSettings s = settings(pg->socketConnection());
        const qint64 best = Journal::recordAttempt(attempt("7", 60));
        Journal::recordAttempt(attempt("7", 50));
        Publisher publisher(s, dbPath(), fast());
        QSignalSpy status(&publisher, &Publisher::statusChanged);
        QSignalSpy read(&publisher, &Publisher::rankingReady);
        connect(&publisher, &Publisher::rankingChanged, &publisher, &Publisher::requestRanking);
        publisher.start();
        QTRY_VERIFY(!status.isEmpty() && status.last().at(0).value<PublisherStatus>().listening);
        otherStation(s.Event, QStringLiteral("B"), 1, "7", 55);
        otherStation(s.Event, QStringLiteral("B"), 2, "8", 40);
        const auto last = [&] {
            return read.isEmpty()
                       ? QList<QVariantList>()
                       : shown(read.last().at(0).value<QList<EventServer::RankingEntry>>());
        };
        QTRY_COMPARE(last(), (QList<QVariantList>{{1, "7", "60.00", "A"}, {2, "8", "40.00", "B"}}));

        execSql({QStringLiteral("update attempt set speed=45, speed_text='45.00' where id=?")},
                {best});
        QTRY_COMPARE(last(), (QList<QVariantList>{{1, "7", "55.00", "B"}, {2, "8", "40.00", "B"}}));
        // A rejection of the other's best leaves this station's second one.
        QVERIFY(pg->execute(QStringLiteral("update korvane_attempt set status = 'rejected' where "
                                           "event = '%1' and station = 'B' and tpid = '7'")
                                .arg(s.Event)));
        QTRY_COMPARE(last(), (QList<QVariantList>{{1, "7", "50.00", "A"}, {2, "8", "40.00", "B"}}));
        QCOMPARE(ranking(s.Event), (QList<QVariantList>{{"7", "50.00", "A"}, {"8", "40.00", "B"}}));
        // Only the poll-free path read it: nothing here asks but the notifications.
        QVERIFY(status.last().at(0).value<PublisherStatus>().listening);
    }

    // The listening connection ended by the server: the station says it is
    // not listening (the room polls meanwhile), connects again, listens
    // again and reads what changed while it was away.
    void aKilledListenConnectionIsNoticedAndNothingIsMissed() {
        const EventSettings s = settings(pg->socketConnection());
        Journal::recordAttempt(attempt("7", 60));
        Publisher publisher(s, dbPath(), fast());
        QSignalSpy status(&publisher, &Publisher::statusChanged);
        QSignalSpy read(&publisher, &Publisher::rankingReady);
        connect(&publisher, &Publisher::rankingChanged, &publisher, &Publisher::requestRanking);
        publisher.start();
        const auto listening = [&] {
            return !status.isEmpty() && status.last().at(0).value<PublisherStatus>().listening;
        };
        QTRY_VERIFY(listening());
        QTRY_VERIFY(!read.isEmpty() && read.last().at(1).toString().isEmpty() &&
                    read.last().at(0).value<QList<EventServer::RankingEntry>>().size() == 1);
        status.clear();
        read.clear();

        // Killed, and the other station's attempt committed right after.
        QVERIFY(pg->execute(
            QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity where "
                           "application_name = 'korvane A' and pid <> pg_backend_pid()")));
        otherStation(s.Event, QStringLiteral("B"), 1, "9", 70);
        QTRY_VERIFY(!status.isEmpty() && !status.first().at(0).value<PublisherStatus>().listening);
        QTRY_VERIFY(listening());
        QTRY_VERIFY(!read.isEmpty() && read.last().at(1).toString().isEmpty() &&
                    shown(read.last().at(0).value<QList<EventServer::RankingEntry>>()) ==
                        (QList<QVariantList>{{1, "9", "70.00", "B"}, {2, "7", "60.00", "A"}}));
    }

    // Rankings per class and over all classes, on the server and on the
    // results sheet, with each station's last signed chain head.
    void classesHaveRankingsOfTheirOwnAndTheSheetHasEach() {
        const EventSettings s = settings(pg->socketConnection());
        const qint64 fastOne = Journal::recordAttempt(attempt("7", 60));
        const qint64 slowOne = Journal::recordAttempt(attempt("7", 50));
        const qint64 other = Journal::recordAttempt(attempt("8", 55));
        Journal::recordAttempt(attempt("9", 30));
        execSql({QStringLiteral("update attempt set class_name='GT' where id in (?, ?)")},
                {fastOne, other});
        execSql({QStringLiteral("update attempt set class_name='Stock' where id=?")}, {slowOne});
        execSql({QStringLiteral("insert into chain_head (seq, hash, at_ms, signature, public_key)"
                                " values (5, x'aa', 1700000000000, x'01', x'02'),"
                                " (9, x'bb', 1700000001000, x'03', x'02')")});
        otherStation(s.Event, QStringLiteral("B"), 1, "7", 58, QStringLiteral("Stock"));
        {
            Publisher publisher(s, dbPath(), fast());
            publisher.start();
            QTRY_COMPARE(outbox(), 0);
            QTRY_COMPARE(
                pg->value(QStringLiteral("select max(seq) from korvane_head where event=?"),
                          {s.Event})
                    .toInt(),
                9);
        }
        const auto rankings = serverCall([&](QSqlDatabase db) {
            return QList<QList<QVariantList>>{shown(EventServer::ranking(db, s.Event)),
                                              shown(EventServer::ranking(db, s.Event, {}, 2)),
                                              shown(EventServer::ranking(db, s.Event, "GT")),
                                              shown(EventServer::ranking(db, s.Event, "Stock"))};
        });
        QCOMPARE(rankings.at(0),
                 (QList<QVariantList>{
                     {1, "7", "60.00", "A"}, {2, "8", "55.00", "A"}, {3, "9", "30.00", "A"}}));
        QCOMPARE(rankings.at(1), rankings.at(0).mid(0, 2));
        QCOMPARE(rankings.at(2),
                 (QList<QVariantList>{{1, "7", "60.00", "A"}, {2, "8", "55.00", "A"}}));
        QCOMPARE(rankings.at(3), (QList<QVariantList>{{1, "7", "58.00", "B"}}));
        QCOMPARE(serverCall([&](QSqlDatabase db) { return EventServer::classes(db, s.Event); }),
                 (QStringList{"GT", "Stock"}));
        // A period: A's attempts are of 2023, B's of now.
        const auto periods = serverCall([&](QSqlDatabase db) {
            return QList<QList<QVariantList>>{
                shown(EventServer::periodRanking(db, s.Event, {}, 1)),
                shown(EventServer::periodRanking(db, s.Event, {}, 1700000000001)),
                shown(EventServer::periodRanking(db, s.Event, "GT", 1700000000001))};
        });
        QCOMPARE(periods.at(0), rankings.at(0));
        QCOMPARE(periods.at(1), (QList<QVariantList>{{1, "7", "58.00", "B"}}));
        QVERIFY(periods.at(2).isEmpty());

        const auto sheet = [&](const QStringList& extra) {
            const QString csv = dir->filePath(QStringLiteral("results.csv"));
            QProcess exporter;
            exporter.start(QStringLiteral(KORVANE_EVENT_BIN),
                           QStringList{QStringLiteral("--database"), s.Database,
                                       QStringLiteral("--event"), s.Event} +
                               extra + QStringList{QStringLiteral("export"), csv});
            QFile f(csv);
            return exporter.waitForFinished(30000) && exporter.exitCode() == 0 &&
                           f.open(QIODevice::ReadOnly)
                       ? QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"))
                       : QStringList{QString::fromLocal8Bit(exporter.readAllStandardError())};
        };
        const QStringList all = sheet({});
        // Overall, GT, Stock, the attempts, the heads: parts apart by a blank line.
        QCOMPARE(all.mid(1, 3), (QStringList{"1,7,Seven,60.00,A", "2,8,,55.00,A", "3,9,,30.00,A"}));
        QCOMPARE(all.mid(6, 2), (QStringList{"1,7,Seven,60.00,A,GT", "2,8,,55.00,A,GT"}));
        QCOMPARE(all.at(10), QStringLiteral("1,7,,58.00,B,Stock"));
        QCOMPARE(all.filter(QRegularExpression(QStringLiteral("^[AB],\\d+,\\d+,"))).size(), 5);
        QVERIFY2(all.filter(QStringLiteral("A,9,bb,")).size() == 1 &&
                     all.filter(QStringLiteral(",aa,")).isEmpty(),
                 qPrintable(all.join('\n')));
        const QStringList stock = sheet({QStringLiteral("--class"), QStringLiteral("Stock")});
        QCOMPARE(stock.at(1), QStringLiteral("1,7,,58.00,B,Stock"));
        QCOMPARE(stock.filter(QRegularExpression(QStringLiteral("^[AB],\\d+,\\d+,"))).size(), 2);
        QVERIFY2(stock.filter(QStringLiteral(",GT")).isEmpty(), qPrintable(stock.join('\n')));
    }

    void withoutAServerNothingIsCaptured() {
        Journal::recordAttempt(attempt("7", 50));
        Outbox::uninstall(SpeedDb::database());
        const qint64 id = Journal::recordAttempt(attempt("8", 40));
        execSql({QStringLiteral("update attempt set status='rejected' where id=?")}, {id});
        // The row waiting from before stays for a server named again.
        QCOMPARE(outbox(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPublisher)
#include "tst_publisher.moc"
