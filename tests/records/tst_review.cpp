// The operator's review: what accepting, rejecting and correcting attempts do
// to the attempts and to the best speeds, on fresh and older files; and the
// history read a page at a time.
#include "Database.h"
#include "History.h"
#include "Journal.h"
#include "Review.h"
#include "SpeedRow.h"
#include "SpeedTable.h"
#include "SpeedText.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

// An attempt of `e` seconds over 500 cm as measuring records it, and the best
// moved as measuring moves it (unless the attempt is held).
qint64 measured(const QString& tpid, double e, const QString& status, bool counts = true) {
    const double v = ComputeSpeed(e, 500);
    const QString text = SpeedText(v);
    const qint64 id = Journal::recordAttempt(
        {tpid, 0, 0, 0, e, 500, v, text, status == Journal::kSuspect ? 1u : 0u, status, 0});
    if (counts && IsNewBest(row(tpid).speed, v))
        SpeedTable::markProcessed(tpid, text);
    return id;
}

QString field(const QString& column, qint64 id) {
    Query q;
    q.setSql({QStringLiteral("select %1 from attempt where id=?").arg(column)}, {id});
    q.open();
    return q.asText(column);
}

} // namespace

class tst_Review : public QObject {
    Q_OBJECT

private slots:
    // Rejecting the best falls back on the next counted attempt; a held
    // suspect one counts only once accepted; the ranking's clearing puts
    // every earlier attempt out of reach.
    void acceptAndRejectDeriveTheBest() {
        FreshSpeedDb db;
        const QString car = QStringLiteral("7");
        SpeedTable::storePassing(1, car, QStringLiteral("100"));
        Review::Rules held;
        held.suspectCounts = false;

        const qint64 slow = measured(car, 0.6, Journal::kOk);              // 30
        const qint64 fast = measured(car, 0.36, Journal::kSuspect, false); // 50, held
        const qint64 mid = measured(car, 0.45, Journal::kOk);              // 40
        QCOMPARE(row(car).speed, QStringLiteral("40"));

        Review::Outcome o = Review::reject({mid}, held);
        QCOMPARE(row(car).speed, QStringLiteral("30"));
        QCOMPARE((QList<int>{o.attempts, o.transponders, o.bests}), (QList<int>{1, 1, 1}));
        QCOMPARE(field(QStringLiteral("status"), mid), Journal::kRejected);

        o = Review::accept({fast, slow}, held); // the ok one stays ok
        QCOMPARE(row(car).speed, QStringLiteral("50"));
        QCOMPARE((QList<int>{o.attempts, o.bests}), (QList<int>{1, 1}));
        QCOMPARE(field(QStringLiteral("status"), slow), Journal::kOk);

        Review::reject({fast, slow}, held);
        QCOMPARE(row(car).speed, QStringLiteral("0"));
        Review::accept({mid}, held); // a rejected attempt taken back
        QCOMPARE(row(car).speed, QStringLiteral("40"));

        // Unheld, a suspect attempt counts like any other.
        const qint64 odd = measured(car, 0.4, Journal::kSuspect); // 45
        Review::reject({odd}, {});
        QCOMPARE(row(car).speed, QStringLiteral("40"));
        Review::accept({odd}, {});
        Review::reject({mid}, {});
        QCOMPARE(row(car).speed, QStringLiteral("45"));

        SpeedTable::clearBest(car);
        Review::accept({fast}, held);
        Review::reject({odd}, held);
        Review::accept({odd}, held);
        QCOMPARE(row(car).speed, QStringLiteral("0"));
        const qint64 after = measured(car, 0.9, Journal::kOk); // 20
        const qint64 later = measured(car, 1.8, Journal::kOk); // 10
        QCOMPARE(row(car).speed, QStringLiteral("20"));
        Review::reject({after}, held);
        QCOMPARE(row(car).speed, QStringLiteral("10"));
        QCOMPARE(field(QStringLiteral("status"), later), Journal::kOk);

        // One that is no measurement counts nowhere, held or not, until the
        // operator accepts it; then it counts like any accepted attempt.
        const qint64 none = measured(car, 0.45, Journal::kNotMeasurement, false); // 40
        Review::reject({later}, {});
        QCOMPARE(row(car).speed, QStringLiteral("0"));
        Review::accept({none}, {});
        QCOMPARE(row(car).speed, QStringLiteral("40"));
        QCOMPARE(field(QStringLiteral("status"), none), Journal::kAccepted);
    }

    void correctionRecomputesAndKeepsTheOriginals() {
        FreshSpeedDb db;
        for (const QString bad : {"0", "-5", "abc", "", "5.5", "5001", "1e3", "0x10"})
            QVERIFY2(!Review::sectionLength(bad), qPrintable(bad));
        QCOMPARE(Review::sectionLength(QStringLiteral(" ５００ ")), 500);

        const QString a = QStringLiteral("A"), b = QStringLiteral("B");
        SpeedTable::storePassing(1, a, QStringLiteral("1"));
        SpeedTable::storePassing(1, b, QStringLiteral("1"));
        const qint64 a1 = measured(a, 0.5, Journal::kOk);   // 36
        const qint64 a2 = measured(a, 1, Journal::kOk);     // 18
        const qint64 b1 = measured(b, 1.234, Journal::kOk); // 14.586...
        const qint64 other = measured(b, 1.5, Journal::kOk);
        const auto snapshot = [] {
            QSqlQuery q(SpeedDb::database());
            q.exec(QStringLiteral("select group_concat(quote(speed)||quote(dist_cm)||status||"
                                  "quote(orig_speed_text),'|') from attempt"));
            q.next();
            return q.value(0).toString() + row(QStringLiteral("A")).speed +
                   row(QStringLiteral("B")).speed;
        };
        const QString before = snapshot();

        // A look at what would change writes nothing.
        Review::Outcome o = Review::correct({a1, a2, b1}, 1000, 77, {}, false);
        QCOMPARE((QList<int>{o.attempts, o.transponders, o.bests}), (QList<int>{3, 2, 2}));
        QCOMPARE(snapshot(), before);

        o = Review::correct({a1, a2, b1}, 1000, 77, {}, true);
        QCOMPARE((QList<int>{o.attempts, o.bests}), (QList<int>{3, 2}));
        QCOMPARE(field(QStringLiteral("speed_text"), b1), QStringLiteral("29.173"));
        QCOMPARE(row(a).speed, QStringLiteral("72"));
        QCOMPARE(row(b).speed, QStringLiteral("29.173"));
        QCOMPARE(field(QStringLiteral("speed_text"), other), QStringLiteral("12"));

        // A second correction keeps the first original; a slower section
        // brings the best down, and a speed under the limit is flagged.
        Review::Rules rules;
        rules.limits.minKmh = 20;
        o = Review::correct({a1, a2}, 250, 88, rules, true);
        QCOMPARE(o.bests, 1);
        QCOMPARE(field(QStringLiteral("speed_text"), a1), QStringLiteral("18"));
        QCOMPARE(
            field(QStringLiteral("orig_speed_text") + "||'/'||orig_dist_cm||'/'||changed_ms", a1),
            QStringLiteral("36/500/88"));
        QCOMPARE(field(QStringLiteral("flags"), a2), QString::number(FlagTooSlow));
        QCOMPARE(field(QStringLiteral("status"), a2), Journal::kSuspect);
        QCOMPARE(row(a).speed, QStringLiteral("18"));
        rules.suspectCounts = false;
        Review::correct({a1}, 300, 99, rules, true); // 21.6: no longer too slow
        QCOMPARE(field(QStringLiteral("status"), a1), Journal::kOk);
        QCOMPARE(row(a).speed, QStringLiteral("21.6"));
        QCOMPARE(field(QStringLiteral("orig_dist_cm"), a1), QStringLiteral("500"));
    }

    // A file whose bests came before the attempts keeps them: a review of
    // later attempts never takes a best below what was stored.
    void olderFileKeepsItsBests() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.db"));
        {
            QSqlDatabase old = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "old");
            old.setDatabaseName(path);
            QVERIFY(old.open());
            QSqlQuery q(old);
            QVERIFY(q.exec("create table speed (tpid varchar(20), time1 float, time2 float, "
                           "speed float, sumi char(1))"));
            QVERIFY(q.exec("insert into speed values ('7', 1, 2, 36.5, '1')"));
            old.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("old"));
        SpeedDb::open(path);
        SpeedDb::checkNameColumn();
        const qint64 lap = measured(QStringLiteral("7"), 0.45, Journal::kOk); // 40
        QCOMPARE(row(QStringLiteral("7")).speed, QStringLiteral("40"));
        Review::reject({lap}, {});
        QCOMPARE(row(QStringLiteral("7")).speed, QStringLiteral("36.5"));
        SpeedDb::close();
        // A second start leaves the marks as they are.
        SpeedDb::open(path);
        Review::accept({lap}, {});
        Review::reject({lap}, {});
        QCOMPARE(row(QStringLiteral("7")).speed, QStringLiteral("36.5"));
        // A new ID carries the best; its attempts stay behind.
        SpeedTable::changeIdAndName(QStringLiteral("7"), QStringLiteral("8"), QString());
        const qint64 renamed = measured(QStringLiteral("8"), 0.3, Journal::kOk); // 60
        Review::reject({renamed}, {});
        QCOMPARE(row(QStringLiteral("8")).speed, QStringLiteral("36.5"));
        SpeedDb::close();
    }

    void historyIsReadPageByPage() {
        FreshSpeedDb db;
        const int n = HistoryModel::kPageRows + 44;
        {
            Batch batch;
            for (int i = 0; i < n; ++i)
                measured(QString::number(i % 3), 0.5 + i, Journal::kOk, false);
            batch.commit();
        }
        HistoryModel all;
        all.refresh();
        QCOMPARE(all.rowCount(), HistoryModel::kPageRows);
        while (all.canFetchMore({}))
            all.fetchMore({});
        QCOMPARE(all.rowCount(), n);
        HistoryModel one;
        one.setFilter(QStringLiteral("1"));
        one.refresh();
        while (one.canFetchMore({}))
            one.fetchMore({});
        QCOMPARE(one.rowCount(), n / 3);
        for (int r = 1; r < one.rowCount(); ++r) {
            QVERIFY(one.at(r - 1).id > one.at(r).id);
            QCOMPARE(one.at(r).tpid, QStringLiteral("1"));
        }
    }
};

QTEST_GUILESS_MAIN(tst_Review)
#include "tst_review.moc"
