// The speed table's connection, schema upgrade and statement layer.
#include "Database.h"
#include "FloatText.h"

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestDatabase : public QObject {
    Q_OBJECT

    QTemporaryDir* dir = nullptr;
    QString dbPath() const { return dir->filePath(QStringLiteral("Korvane.db")); }

    static QStringList columns() {
        QStringList names;
        const QSqlRecord r = SpeedDb::database().record(QStringLiteral("speed"));
        for (int i = 0; i < r.count(); ++i)
            names << r.fieldName(i).toLower();
        return names;
    }
    static QString scalar(const QString& sql) {
        QSqlQuery q(SpeedDb::database());
        if (!q.exec(sql) || !q.next())
            return QStringLiteral("<error>");
        return q.value(0).toString();
    }

private slots:
    void init() { dir = new QTemporaryDir; }
    void cleanup() {
        SpeedDb::close();
        delete dir;
    }

    void freshFileGetsTheTableAndTheNameColumn() {
        SpeedDb::open(dbPath());
        QCOMPARE(columns(), QStringList({"tpid", "time1", "time2", "speed", "sumi"}));
        SpeedDb::checkNameColumn();
        QCOMPARE(columns(), QStringList({"tpid", "time1", "time2", "speed", "sumi", "pname"}));
        QCOMPARE(scalar("pragma journal_mode").toLower(), QStringLiteral("wal"));
        QCOMPARE(scalar("pragma synchronous"), QStringLiteral("2"));
    }

    void olderTableGainsOnlyTheNameColumnOnce() {
        {
            QSqlDatabase old = QSqlDatabase::addDatabase("QSQLITE", "old");
            old.setDatabaseName(dbPath());
            QVERIFY(old.open());
            QSqlQuery q(old);
            QVERIFY(q.exec("create table speed (tpid varchar(20), time1 float, time2 float, "
                           "speed float, sumi char(1))"));
            QVERIFY(q.exec("insert into speed values ('7', 1.5, 2.5, 36, '1')"));
            old.close();
        }
        QSqlDatabase::removeDatabase("old");

        SpeedDb::open(dbPath());
        SpeedDb::checkNameColumn();
        QCOMPARE(columns(), QStringList({"tpid", "time1", "time2", "speed", "sumi", "pname"}));
        QCOMPARE(scalar("select count(*) from speed where tpid='7' and pname is null"),
                 QStringLiteral("1"));
        const QString schema = scalar("select sql from sqlite_master where name='speed'");

        SpeedDb::close();
        SpeedDb::open(dbPath());
        SpeedDb::checkNameColumn();
        QCOMPARE(scalar("select sql from sqlite_master where name='speed'"), schema);
    }

    void failedUpgradeRaisesTheEngineError() {
        SpeedDb::open(dbPath());
        {
            QSqlQuery q(SpeedDb::database());
            QVERIFY(q.exec("drop table speed"));
            QVERIFY(q.exec("create view speed as select 1 as tpid"));
        }
        QVERIFY_THROWS_EXCEPTION(DbError, SpeedDb::checkNameColumn());
    }

    // Only a missing name column is mended: a table that cannot be read is
    // raised with the engine's own reason, not the upgrade's.
    void unreadableTableRaisesItsOwnError() {
        SpeedDb::open(dbPath());
        SpeedDb::checkNameColumn();
        execSql({"insert into speed (tpid,time1,sumi)values('7','1.5','0')"});
        const qint64 pageSize = scalar("pragma page_size").toLongLong();
        const qint64 root =
            scalar("select rootpage from sqlite_master where name='speed'").toLongLong();
        SpeedDb::close();
        QFile f(dbPath());
        QVERIFY(f.open(QIODevice::ReadWrite) && f.seek((root - 1) * pageSize));
        QCOMPARE(f.write(QByteArray(pageSize, '\xff')), pageSize);
        f.close();

        SpeedDb::open(dbPath());
        try {
            SpeedDb::checkNameColumn();
            QFAIL("a damaged table passed the check");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(QLatin1String("malformed")), qPrintable(e.message()));
        }
    }

    void notADatabaseIsAClearError() {
        QFile f(dbPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        try {
            SpeedDb::open(dbPath());
            QFAIL("opened a file that is not a database");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(dbPath()), qPrintable(e.message()));
        }
        QVERIFY(!SpeedDb::isOpen());
    }

    void unwritableFolderIsAClearError() {
        const QString path = dir->filePath(QStringLiteral("no/such/folder/Korvane.db"));
        try {
            SpeedDb::open(path);
            QFAIL("opened a database in a missing folder");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(path), qPrintable(e.message()));
        }
    }

    void valuesTravelUnchanged_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("quote") << QStringLiteral("O'Brien");
        QTest::newRow("statement in a value") << QStringLiteral("x'); drop table speed; --");
        QTest::newRow("backslash") << QStringLiteral("a\\b\\'c");
        QTest::newRow("japanese") << QStringLiteral("山田　太郎");
        QTest::newRow("long") << QString(1000, QLatin1Char('Z'));
        QTest::newRow("empty") << QString();
    }
    void valuesTravelUnchanged() {
        QFETCH(QString, value);
        SpeedDb::open(dbPath());
        SpeedDb::checkNameColumn();
        execSql({"insert into speed (tpid,time1,sumi)values(", "?,?,'0')"},
                {value, QStringLiteral("1.5")});
        execSql({"update speed set pname=?", "where tpid=?"}, {value, value});
        Query q;
        q.setSql({"select * from speed where tpid=?"}, {value});
        q.open();
        QVERIFY(!q.isEmpty());
        QCOMPARE(q.asText("tpid"), value);
        QCOMPARE(q.asText("pname"), value);
        QCOMPARE(q.recordCount(), 1);
        QCOMPARE(scalar("select count(*) from speed"), QStringLiteral("1"));
    }

    void columnsReadAsTextAndNumbers() {
        SpeedDb::open(dbPath());
        SpeedDb::checkNameColumn();
        execSql({"insert into speed (tpid,time2,speed,sumi)values(", "?,?,'0','0')"},
                {"A", "43200.125"});
        execSql({"insert into speed (tpid,time1,sumi)values(", "?,?,'0')"}, {"B", ""});
        execSql({"update speed set speed=? where tpid=?"}, {"14.586", "A"});
        Query q;
        q.setSql({"select * from speed where tpid=?"}, {"A"});
        q.open();
        QCOMPARE(q.asText("speed"), QStringLiteral("14.586"));
        QCOMPARE(q.asText("time2"), QStringLiteral("43200.125"));
        QCOMPARE(q.asFloat("time1"), 0.0); // empty reads as 0
        QCOMPARE(q.asText("time1"), QString());
        execSql({"update speed set speed=? where tpid=?"}, {"36", "A"});
        q.open();
        QCOMPARE(q.asText("speed"), QStringLiteral("36"));

        q.setSql({"select * from speed where tpid=?"}, {"B"});
        q.open();
        QCOMPARE(q.asFloat("time1"), 0.0); // stored as an empty text
        QCOMPARE(q.asText("speed"), QString());

        q.setSql({"select * from speed where tpid=?"}, {"nobody"});
        q.open();
        QVERIFY(q.isEmpty());
        QCOMPARE(q.asText("pname"), QString()); // an empty result reads as empty
        QCOMPARE(q.recordCount(), 0);
    }

    void textThatIsNoNumberRaisesOnNumericRead() {
        SpeedDb::open(dbPath());
        execSql({"insert into speed (tpid,time1,sumi)values(", "?,?,'0')"}, {"C", "12:30"});
        Query q;
        q.setSql({"select * from speed where tpid=?"}, {"C"});
        q.open();
        QVERIFY_THROWS_EXCEPTION(DbError, q.asFloat("time1"));
    }

    void lookupsUseTheIndexes() {
        SpeedDb::open(dbPath());
        const QString byId = scalar("explain query plan select * from speed where tpid='x'");
        QSqlQuery q(SpeedDb::database());
        QVERIFY(q.exec("explain query plan select * from speed where tpid='x'"));
        QString plan;
        while (q.next())
            plan += q.value(3).toString() + '\n';
        QVERIFY2(plan.contains("USING INDEX speed_tpid") || plan.contains("USING COVERING INDEX"),
                 qPrintable(plan));
        QVERIFY(q.exec(
            "explain query plan select * from speed where sumi='0' and tpid<>'' order by time2"));
        plan.clear();
        while (q.next())
            plan += q.value(3).toString() + '\n';
        QVERIFY2(plan.contains("speed_pending") && !plan.contains("TEMP B-TREE"), qPrintable(plan));
        Q_UNUSED(byId);
    }

    void oneRowPerTransponder() {
        SpeedDb::open(dbPath());
        execSql({"insert into speed (tpid,time1,sumi)values(", "?,?,'0')"}, {"9", "1"});
        QVERIFY_THROWS_EXCEPTION(
            DbError,
            execSql({"insert into speed (tpid,time1,sumi)values(", "?,?,'0')"}, {"9", "2"}));
    }

    // Work that leaves without committing must not reach the disk half done
    // behind the caller's back: it is rolled back.
    void aBatchLeftWithoutCommitIsRolledBack() {
        SpeedDb::open(dbPath());
        {
            Batch batch;
            execSql({"insert into speed (tpid) values (?)"}, {"lost"});
        }
        {
            Batch batch;
            execSql({"insert into speed (tpid) values (?)"}, {"kept"});
            batch.commit();
        }
        QCOMPARE(scalar("select group_concat(tpid) from speed"), QStringLiteral("kept"));
    }

    // A batch whose BEGIN fails must not run its work in autocommit, where
    // a rollback (a dry run) would keep it; inside a group it joins.
    void aBatchThatCannotBeginRaisesAndJoinsOnlyAGroup() {
        SpeedDb::open(dbPath());
        QSqlQuery outside(SpeedDb::database());
        QVERIFY(outside.exec(QStringLiteral("begin")));
        QString why;
        try {
            Batch batch;
            execSql({"insert into speed (tpid) values (?)"}, {"lost"});
            batch.rollback();
        } catch (const DbError& e) {
            why = e.message();
        }
        QVERIFY2(why.contains(QLatin1String("within a transaction")), qPrintable(why));
        QVERIFY(outside.exec(QStringLiteral("rollback")));
        {
            BatchGroup group;
            Batch batch;
            execSql({"insert into speed (tpid) values (?)"}, {"joined"});
            batch.commit();
            group.commit();
        }
        QCOMPARE(scalar("select group_concat(tpid) from speed"), QStringLiteral("joined"));
        // A group that has ended, destroyed after the next one began (one
        // group replacing another in the same holder), leaves the next alone.
        {
            auto first = std::make_unique<BatchGroup>();
            first->commit();
            auto second = std::make_unique<BatchGroup>();
            first.reset();
            QVERIFY(BatchGroup::open());
            Batch batch;
            execSql({"insert into speed (tpid) values (?)"}, {"second"});
            batch.commit();
            second->commit();
        }
        QCOMPARE(scalar("select group_concat(tpid) from speed"), QStringLiteral("joined,second"));
    }

    void generalNumberText_data() {
        QTest::addColumn<double>("v");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 36.0 << "36";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("decimals") << 14.586 << "14.586";
        QTest::newRow("15 digits") << 14.586709886547812 << "14.5867098865478";
        QTest::newRow("small plain") << 0.0001 << "0.0001";
        QTest::newRow("small scientific") << 0.0000072 << "7.2E-6";
        QTest::newRow("large scientific") << 1e15 << "1E15";
        QTest::newRow("large plain") << 123456789012345.0 << "123456789012345";
    }
    void generalNumberText() {
        QFETCH(double, v);
        QFETCH(QString, text);
        QCOMPARE(FloatToStr(v), text);
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
