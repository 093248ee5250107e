// The speed table's passings and its pending-row queue.
#include "SpeedRow.h"
#include "SpeedTable.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {} // namespace

class TestSpeedTable : public QObject {
    Q_OBJECT
    std::unique_ptr<FreshSpeedDb> db;

private slots:
    void init() { db = std::make_unique<FreshSpeedDb>(); }
    void cleanup() { db.reset(); }

    void pendingRowsInOrderOfTheirLoopTwoTime() {
        SpeedTable::storePassing(1, "late", "1");
        SpeedTable::storePassing(2, "late", "50");
        SpeedTable::storePassing(1, "early", "1");
        SpeedTable::storePassing(2, "early", "20");
        SpeedTable::storePassing(2, "", "5"); // an empty ID is never processed
        QCOMPARE(SpeedTable::nextPending()->tpid, QStringLiteral("early"));
        SpeedTable::markProcessed("early");
        QCOMPARE(SpeedTable::nextPending()->tpid, QStringLiteral("late"));
        SpeedTable::markProcessed("late");
        QVERIFY(!SpeedTable::nextPending());
    }

    // Which passing time texts are numbers: optional sign, digits with at
    // most one point, an optional exponent, and a finite value.
    void timeTextsThatAreNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("convertible");
        QTest::addColumn<double>("value");
        QTest::newRow("decimal") << "12.5" << true << 12.5;
        QTest::newRow("signs") << "-3" << true << -3.0;
        QTest::newRow("plus") << "+3" << true << 3.0;
        QTest::newRow("exponent") << "1.5E-2" << true << 0.015;
        QTest::newRow("point first") << ".5" << true << 0.5;
        QTest::newRow("spaces") << " 7 " << true << 7.0;
        QTest::newRow("inf") << "inf" << false << 0.0;
        QTest::newRow("-inf") << "-inf" << false << 0.0;
        QTest::newRow("nan") << "nan" << false << 0.0;
        QTest::newRow("Infinity") << "Infinity" << false << 0.0;
        QTest::newRow("overflow") << "1e999" << false << 0.0;
        QTest::newRow("hex") << "0x10" << false << 0.0;
        QTest::newRow("two points") << "1.2.3" << false << 0.0;
        QTest::newRow("bare exponent") << "1e" << false << 0.0;
        QTest::newRow("point alone") << "." << false << 0.0;
        QTest::newRow("comma") << "1,5" << false << 0.0;
    }
    void timeTextsThatAreNumbers() {
        QFETCH(QString, text);
        QFETCH(bool, convertible);
        QFETCH(double, value);
        SpeedTable::storePassing(1, "A", "1");
        SpeedTable::storePassing(2, "A", text);
        const auto row = SpeedTable::nextPending();
        QVERIFY(row);
        QCOMPARE(row->convertible, convertible);
        if (convertible)
            QCOMPARE(row->time2, value);
        // The best speed of a row reads by the same rule in the ranking.
        SpeedTable::markProcessed("A", text);
        const auto ranked = [] {
            try {
                return SpeedTable::ranking().size();
            } catch (const DbError&) {
                return qsizetype(-1);
            }
        }();
        QCOMPARE(ranked, convertible ? qsizetype(value >= 0 ? 1 : 0) : qsizetype(-1));
    }

    void idsAndTimesWithQuotesAreStoredAsSent() {
        SpeedTable::storePassing(1, "O'Neil", "1'5");
        SpeedTable::storePassing(1, "O'Neil", "2.5");
        SpeedTable::storePassing(2, "O'Neil", "3");
        QCOMPARE(row("O'Neil").time1, QStringLiteral("2.5"));
        QCOMPARE(row("O'Neil").time2, QStringLiteral("3"));
        QSqlQuery q(SpeedDb::database());
        QVERIFY(q.exec("select count(*) from speed"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 1);
    }

    void aTableWithDuplicateIdsTakesPassingsOnEveryRow() {
        SpeedTable::storePassing(1, "D", "1");
        QSqlQuery q(SpeedDb::database());
        QVERIFY(q.exec("drop index speed_tpid"));
        QVERIFY(q.exec("create index speed_tpid_any on speed(tpid)"));
        QVERIFY(q.exec("insert into speed (tpid,speed,sumi) values ('D','0','1')"));
        // The first row has a loop-1 time: measurable at once.
        QVERIFY(SpeedTable::storePassing(2, "D", "5"));
        QVERIFY(q.exec("select count(*), sum(time2=5 and sumi='0') from speed where tpid='D'"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 2);
        QCOMPARE(q.value(1).toInt(), 2);
        // A new transponder first seen on loop 2: one row, pending, best 0.
        QVERIFY(!SpeedTable::storePassing(2, "E", "7"));
        QVERIFY(!SpeedTable::storePassing(2, "E", "8"));
        QVERIFY(q.exec("select count(*), max(time2), max(speed) from speed where tpid='E'"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QCOMPARE(q.value(1).toDouble(), 8.0);
        QCOMPARE(q.value(2).toString(), QStringLiteral("0"));
    }
};

QTEST_GUILESS_MAIN(TestSpeedTable)
#include "tst_speedtable.moc"
