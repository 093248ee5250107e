// The window's side of publishing, against a real server: the combined
// ranking of all stations and the server's state on the status page.
#include "PgCluster.h"

#include "Ukorvane.h"

#include "Database.h"
#include "Journal.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace e2e;

class TestEventPage : public QObject {
    Q_OBJECT

    std::unique_ptr<PgCluster> pg;
    std::unique_ptr<QTemporaryDir> dir;

private slots:
    void initTestCase() {
        pg = std::make_unique<PgCluster>(
            QStringLiteral(KORVANE_SOURCE_DIR "/scripts/local-postgres"));
        QVERIFY2(pg->start(), qPrintable(pg->why()));
    }
    void cleanupTestCase() { pg.reset(); }
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        SpeedDb::open(dir->filePath(QStringLiteral("Korvane.db")));
    }
    void cleanup() {
        SpeedDb::close();
        dir.reset();
    }

    void theRankingTabShowsAllStationsAndSaysWhenTheServerIsAway() {
        QFile ini(dir->filePath(QStringLiteral("Korvane.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[SP]\nPort1=0\nPort2=0\nPort3=0\n[Event]\nDatabase=%1\n"
                                 "Station=Home\nEvent=club\n")
                      .arg(pg->socketConnection())
                      .toUtf8());
        ini.close();
        TFkorvane w(dir->path());
        QVERIFY(w.created());
        auto* status = w.findChild<QLabel*>(QStringLiteral("EventStatus"));
        auto* all = w.findChild<QCheckBox*>(QStringLiteral("AllStations"));
        auto* grid = w.findChild<QTableView*>(QStringLiteral("DBGridAll"));
        auto* note = w.findChild<QLabel*>(QStringLiteral("AllStationsNote"));
        QVERIFY(status && all && grid && note);
        QTRY_VERIFY2(status->text().contains(QStringLiteral("接続済み")),
                     qPrintable(status->text()));

        // One attempt of this station, one of another straight on the server.
        execSql(
            {QStringLiteral("insert into speed (tpid, pname, speed) values ('5', 'Five', 30)")});
        Journal::Attempt a;
        a.tpid = QStringLiteral("5");
        a.speed = 30;
        a.speedText = QStringLiteral("30.00");
        a.distCm = 500;
        Journal::recordAttempt(a);
        pg->rows(QStringLiteral(
            "insert into korvane_attempt (event, station, attempt_id, tpid, name, speed, "
            "speed_text, status) values ('club', 'Away', 1, '6', 'Six', 40, '40.00', 'ok')"));

        w.setActivePage(w.TabSheet5);
        all->setChecked(true);
        QVERIFY(w.DBGrid1->isHidden() && !grid->isHidden());
        const auto cell = [grid](int row, int column) {
            return grid->model()->index(row, column).data().toString();
        };
        QTRY_COMPARE(grid->model()->rowCount(), 2);
        QCOMPARE(QStringList({cell(0, 0), cell(0, 3), cell(1, 0), cell(1, 1), cell(1, 3)}),
                 QStringList({"6", "Away", "5", "Five", "Home"}));

        // The server goes away: the status page, Memo3 and the tab say so,
        // the local ranking is still there.
        pg->stop();
        QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QStringLiteral("未接続")), 15000);
        QVERIFY(w.Memo3->toPlainText().contains(QStringLiteral("未接続")));
        QTRY_VERIFY_WITH_TIMEOUT(
            !note->isHidden() && note->text().contains(QStringLiteral("読めません")), 15000);
        all->setChecked(false);
        QVERIFY(!w.DBGrid1->isHidden());
        QCOMPARE(w.DBGrid1->model()->rowCount(), 1);
        QVERIFY(pg->start());
    }
};

QTEST_MAIN(TestEventPage)
#include "tst_eventpage.moc"
