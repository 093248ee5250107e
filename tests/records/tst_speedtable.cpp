// The speed table's passings and its pending-row queue.
#include "SpeedTable.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Row {
    QString time1, time2, speed, sumi;
};

Row row(const QString& tpid) {
    Query q;
    q.setSql({"select * from speed where tpid=?"}, {tpid});
    q.open();
    if (q.isEmpty())
        return {"<none>", "<none>", "<none>", "<none>"};
    return {q.asText("time1"), q.asText("time2"), q.asText("speed"), q.asText("sumi")};
}

} // namespace

class TestSpeedTable : public QObject {
    Q_OBJECT
    QTemporaryDir* dir = nullptr;

private slots:
    void init() {
        dir = new QTemporaryDir;
        SpeedDb::open(dir->filePath("Korvane.db"));
        SpeedDb::checkNameColumn();
    }
    void cleanup() {
        SpeedDb::close();
        delete dir;
    }

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
};

QTEST_GUILESS_MAIN(TestSpeedTable)
#include "tst_speedtable.moc"
