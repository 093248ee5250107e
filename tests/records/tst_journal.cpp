// The passing journal and the attempts: schema on old and new files, values
// as stored in the speed table, and what the journal tells about a pair.
#include "Database.h"
#include "Journal.h"
#include "SpeedTable.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

class TestJournal : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString dbPath(const QString& name = QStringLiteral("Korvane.db")) const {
        return dir.filePath(name);
    }

    static QString scalar(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery q(SpeedDb::database());
        q.prepare(sql);
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec() || !q.next())
            return QStringLiteral("<none>");
        return q.value(0).toString();
    }
    static QString plan(const QString& sql) {
        QSqlQuery q(SpeedDb::database());
        q.exec(QStringLiteral("explain query plan ") + sql);
        QStringList steps;
        while (q.next())
            steps << q.value(3).toString();
        return steps.join(QLatin1Char('|'));
    }

private slots:
    void cleanup() { SpeedDb::close(); }

    void olderFileGainsTheTablesAndKeepsItsRows() {
        QFile::remove(dbPath());
        {
            QSqlDatabase old = QSqlDatabase::addDatabase("QSQLITE", "old");
            old.setDatabaseName(dbPath());
            QVERIFY(old.open());
            QSqlQuery q(old);
            QVERIFY(q.exec("create table speed (tpid varchar(20), time1 float, time2 float, "
                           "speed float, sumi char(1))"));
            QVERIFY(q.exec("insert into speed values ('7', 1.5, 2.5, 36, '1')"));
            QVERIFY(q.exec("insert into speed values ('8', 3, null, 0, '0')"));
            old.close();
        }
        QSqlDatabase::removeDatabase("old");

        SpeedDb::open(dbPath());
        SpeedDb::checkNameColumn();
        QCOMPARE(scalar("select "
                        "group_concat(tpid||'/'||time1||'/'||ifnull(time2,'-')||'/'||speed||'/"
                        "'||sumi, ' ') "
                        "from (select * from speed order by tpid)"),
                 QStringLiteral("7/1.5/2.5/36.0/1 8/3.0/-/0.0/0"));
        QStringList columns;
        for (const QString& table : {QStringLiteral("passing"), QStringLiteral("attempt")}) {
            const QSqlRecord r = SpeedDb::database().record(table);
            for (int i = 0; i < r.count(); ++i)
                columns << r.fieldName(i);
            columns << QStringLiteral("|");
        }
        QCOMPARE(
            columns.join(QLatin1Char(' ')),
            QStringLiteral(
                "id received_ms loop tpid time raw | id tpid passing1 passing2 time1 time2 dist_cm "
                "speed speed_text flags status measured_ms orig_speed orig_speed_text orig_dist_cm "
                "changed_ms class_id class_name |"));
        // The history's queries: newest first, and by ID, without a scan or a sort.
        QCOMPARE(plan("select * from attempt order by id desc limit 50"),
                 QStringLiteral("SCAN attempt"));
        QVERIFY2(
            plan("select * from attempt where tpid='7' order by id desc limit 50")
                .contains("USING INDEX attempt_tpid"),
            qPrintable(plan("select * from attempt where tpid='7' order by id desc limit 50")));
        QVERIFY(!plan("select * from attempt where tpid='7' order by id desc limit 50")
                     .contains("TEMP B-TREE"));
        QVERIFY(plan("select * from passing where tpid='7' and loop=2 order by id desc limit 2")
                    .contains("passing_tpid"));

        // A second start changes nothing.
        const QString schema = scalar("select group_concat(sql, ';') from sqlite_master");
        SpeedDb::close();
        SpeedDb::open(dbPath());
        SpeedDb::checkNameColumn();
        QCOMPARE(scalar("select group_concat(sql, ';') from sqlite_master"), schema);
        QCOMPARE(scalar("select count(*) from speed"), QStringLiteral("2"));
    }

    void passingsAreKeptAsTheSpeedTableHoldsThem() {
        QFile::remove(dbPath());
        SpeedDb::open(dbPath());
        SpeedDb::checkNameColumn();
        const QString tpid = QStringLiteral("O'1");
        const QByteArray raw("@\x00\xff"
                             "O'1 101.234\r\n",
                             16);
        for (const QString& time :
             {QStringLiteral("101.234"), QStringLiteral("12:00"), QString()}) {
            SpeedTable::storePassing(1, tpid, time);
            Journal::recordPassing(1700000000123, 1, tpid, time, raw);
            QCOMPARE(scalar("select quote(time) from passing order by id desc limit 1"),
                     scalar("select quote(time1) from speed where tpid=?", {tpid}));
        }
        QCOMPARE(scalar("select count(*) from passing where tpid=? and loop=1 and "
                        "received_ms=1700000000123 and raw=?",
                        {tpid, raw}),
                 QStringLiteral("3"));
    }

    void pairFactsFollowTheJournal() {
        QFile::remove(dbPath());
        SpeedDb::open(dbPath());
        const QString car = QStringLiteral("55");
        // First seen on loop 2.
        Journal::recordPassing(1000, 2, car, "10.0", "x");
        Journal::PairFacts f = Journal::pairFacts(car);
        QCOMPARE(f.passing1, 0);
        QVERIFY(f.passing2 > 0);
        QVERIFY(!f.loop1SincePrevious);
        QCOMPARE(f.loop2RepeatMs, -1);
        Journal::recordAttempt(
            {car, f.passing1, f.passing2, 0, 10, 500, 0.5, "0.5", 0, Journal::kSuspect, 1000});

        // A plain lap: loop 1, then loop 2 (another car's passing between).
        Journal::recordPassing(5000, 1, car, "14.0", "x");
        Journal::recordPassing(5100, 1, QStringLiteral("56"), "14.1", "x");
        Journal::recordPassing(5500, 2, car, "14.5", "x");
        f = Journal::pairFacts(car);
        QVERIFY(f.loop1SincePrevious);
        QCOMPARE(f.loop1RepeatMs, -1);
        QCOMPARE(f.loop2RepeatMs, 4500);
        QCOMPARE(scalar("select tpid||loop||time from passing where id=?", {f.passing1}),
                 QStringLiteral("55114.0"));
        QCOMPARE(scalar("select tpid||loop||time from passing where id=?", {f.passing2}),
                 QStringLiteral("55214.5"));
        const qint64 lap = Journal::recordAttempt(
            {car, f.passing1, f.passing2, 14, 14.5, 500, 36, "36", 0, Journal::kOk, 5800});
        QCOMPARE(scalar("select passing1||'/'||passing2||'/'||speed_text||'/'||status from attempt "
                        "where id=?",
                        {lap}),
                 QStringLiteral("%1/%2/36/ok").arg(f.passing1).arg(f.passing2));

        // A double read on loop 2 after that attempt: no new loop-1 passing.
        Journal::recordPassing(5700, 2, car, "14.7", "x");
        f = Journal::pairFacts(car);
        QVERIFY(!f.loop1SincePrevious);
        QCOMPARE(f.loop2RepeatMs, 200);
        QCOMPARE(scalar("select passing1 is null from attempt order by id limit 1"),
                 QStringLiteral("1"));

        // The two lines of one crossing may arrive loop 2 first; the next
        // loop-2 passing alone still has no loop-1 passing of its own.
        Journal::recordPassing(9000, 2, car, "20.5", "x");
        Journal::recordPassing(9001, 1, car, "20.0", "x");
        f = Journal::pairFacts(car);
        QVERIFY(f.loop1SincePrevious);
        Journal::recordAttempt(
            {car, f.passing1, f.passing2, 20, 20.5, 500, 36, "36", 0, Journal::kOk, 9002});
        Journal::recordPassing(9500, 2, car, "21.0", "x");
        QVERIFY(!Journal::pairFacts(car).loop1SincePrevious);
    }

    void statementsFollowTheConnectionToAnotherFile() {
        SpeedDb::open(dbPath(QStringLiteral("a.db")));
        Journal::recordPassing(1, 1, QStringLiteral("1"), QStringLiteral("1"), "a");
        SpeedDb::close();
        SpeedDb::open(dbPath(QStringLiteral("b.db")));
        Journal::recordPassing(2, 1, QStringLiteral("2"), QStringLiteral("2"), "b");
        QCOMPARE(scalar("select group_concat(tpid) from passing"), QStringLiteral("2"));
        SpeedDb::close();
        SpeedDb::open(dbPath(QStringLiteral("a.db")));
        QCOMPARE(scalar("select group_concat(tpid) from passing"), QStringLiteral("1"));
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
