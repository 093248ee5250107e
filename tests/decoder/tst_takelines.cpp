// The lines of one notification: cut, shown, and their passings stored in
// the speed table in one commit, as the window's decoder input does.
#include "ReceiveBuffer.h"
#include "ReceivedLines.h"

#include "SpeedRow.h"
#include "SpeedTable.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

void TakeLines(ReceiveBuffer& buffer, int loop, ReceivedLines& out) {
    SpeedTable::inOneCommit([&] {
        ::TakeLines(buffer, loop, out,
                    [loop](const QString& tpid, const QString& time, const QByteArray&) {
                        SpeedTable::storePassing(loop, tpid, time);
                    });
    });
}

} // namespace

class TestTakeLines : public QObject {
    Q_OBJECT
    std::unique_ptr<FreshSpeedDb> db;

private slots:
    void init() { db = std::make_unique<FreshSpeedDb>(); }
    void cleanup() { db.reset(); }

    void linesOfOneNotification() {
        ReceiveBuffer buf;
        buf.append("@\t1\t0\t5\t1.000\t0\t\r\nstatus\r\n@\t1\t0\t6\t2.000\t0\t\r\n\r\n"
                   "@\t1\t0\t7\t3.000\t0\t\r\n");
        ReceivedLines got;
        TakeLines(buf, 1, got);
        // Up to the empty line: the line behind it waits for the next notification.
        QCOMPARE(got.lines,
                 QStringList({"@\t1\t0\t5\t1.000\t0\t", "status", "@\t1\t0\t6\t2.000\t0\t"}));
        QCOMPARE(got.notes.size(), 2);
        QVERIFY(got.notes.first().endsWith("/1"));
        QCOMPARE(row("6").time1, QStringLiteral("2"));
        QCOMPARE(row("7").time1, QStringLiteral("<none>"));
        ReceivedLines next;
        TakeLines(buf, 1, next);
        QCOMPARE(next.lines.size(), 1);
        QCOMPARE(row("7").time1, QStringLiteral("3"));
    }

    void passingsWhoseIdOrTimeIsNotShiftJisAreNotStored() {
        // Each of the first four would otherwise decode onto another row:
        // an invalid byte becomes U+001A ("12\xff" and "12\xfe" meet), a lone
        // lead byte vanishes ("\x81" meets the empty ID).
        ReceiveBuffer buf;
        buf.append("@\t1\t0\t12\xff\t1\t0\t\r\n"
                   "@\t1\t0\t12\xfe\t2\t0\t\r\n"
                   "@\t1\t0\t\x81\t3\t0\t\r\n"
                   "@\t1\t0\t7\t4\x81\t0\t\r\n"
                   "@\t1\t0\t\x83\x65\x83\x58\x83\x67\t5\t0\t\r\n"); // a Japanese ID
        ReceivedLines got;
        TakeLines(buf, 2, got);
        QCOMPARE(got.lines.size(), 5); // all shown in the monitor
        QCOMPARE(row(QString::fromUtf8("テスト")).time2, QStringLiteral("5"));
        QSqlQuery q(SpeedDb::database());
        QVERIFY(q.exec("select count(*) from speed"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QCOMPARE(got.notes.size(), 5);
        QCOMPARE(got.notes.filter(QString::fromUtf8("/2 通過を記録しませんでした")).size(), 4);
    }

    void anErrorMidwayKeepsWhatWasDone() {
        ReceiveBuffer buf;
        buf.append("@\t1\t0\tok\t1\t0\t\r\n");
        ReceivedLines got;
        TakeLines(buf, 2, got);
        {
            QSqlQuery q(SpeedDb::database());
            QVERIFY(q.exec("create trigger refuse before insert on speed when new.tpid='bad' "
                           "begin select raise(abort, 'refused'); end"));
        }
        buf.append("@\t1\t0\tfirst\t1\t0\t\r\n@\t1\t0\tbad\t2\t0\t\r\n@\t1\t0\tlast\t3\t0\t\r\n");
        ReceivedLines more;
        QVERIFY_THROWS_EXCEPTION(DbError, TakeLines(buf, 2, more));
        QCOMPARE(more.lines.size(), 2);
        QCOMPARE(more.notes.size(), 1);
        QCOMPARE(row("first").time2, QStringLiteral("1"));
        QCOMPARE(row("last").time2, QStringLiteral("<none>"));
        {
            // Committed: another connection sees it.
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
            other.setDatabaseName(db->path());
            QVERIFY(other.open());
            QSqlQuery q(other);
            QVERIFY(q.exec("select count(*) from speed where tpid='first'"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 1);
        }
        QSqlDatabase::removeDatabase("other");
    }
};

QTEST_GUILESS_MAIN(TestTakeLines)
#include "tst_takelines.moc"
