// The window's side of publishing, against a real server: the combined
// ranking of all stations (ranking page and live page) and the server's
// state on the status page.
#include "../app/RecordingDialogs.h"
#include "PgCluster.h"

#include "Ukorvane.h"

#include "Database.h"
#include "Journal.h"

#include <QAction>
#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenuBar>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QStandardItemModel>
#include <QTableView>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace e2e;

namespace {

// Body of a GET on the live page, empty when it did not answer 200.
QByteArray get(const QString& url) {
    QNetworkAccessManager net;
    std::unique_ptr<QNetworkReply> reply(net.get(QNetworkRequest(QUrl(url))));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    if (!done.wait(10000) ||
        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return {};
    return reply->readAll();
}

// The status page, as the operator turns to it: its menu item.
void showStatusPage(QMainWindow& w) {
    for (QAction* item : w.menuBar()->actions())
        if (item->text() == QStringLiteral("状態"))
            item->trigger();
}

} // namespace

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

    void allStationsOnTheRankingTabAndLivePageSayWhenTheServerIsAway() {
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        const QString api = QStringLiteral("http://127.0.0.1:%1/api/event-ranking").arg(port);
        QFile ini(dir->filePath(QStringLiteral("Korvane.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[SP]\nPort1=0\nPort2=0\nPort3=0\n[Event]\nDatabase=%1\n"
                                 "Station=Home\nEvent=club\n[Web]\nEnabled=1\n"
                                 "Listen=127.0.0.1:%2\n")
                      .arg(pg->socketConnection())
                      .arg(port)
                      .toUtf8());
        ini.close();
        RecordingDialogs boxes; // no ports set: the window says so on showing
        TFkorvane w(dir->path());
        QVERIFY(w.created());
        w.show(); // the live page starts with the window shown
        // The server's state is one of the status page's lines.
        auto* status = w.findChild<QLabel*>(QStringLiteral("StatusInter"));
        auto* all = w.findChild<QCheckBox*>(QStringLiteral("AllStations"));
        auto* grid = w.findChild<QTableView*>(QStringLiteral("DBGridAll"));
        auto* note = w.findChild<QLabel*>(QStringLiteral("AllStationsNote"));
        QVERIFY(status && all && grid && note);
        showStatusPage(w);
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
            "speed_text, status) values ('club', 'Away', 1, '6', '<i>Six</i>', 40, '40.00', "
            "'ok')"));

        w.setActivePage(w.TabSheet5);
        all->setChecked(true);
        QVERIFY(w.DBGrid1->isHidden() && !grid->isHidden());
        const auto cell = [grid](int row, int column) {
            return grid->model()->index(row, column).data().toString();
        };
        QTRY_COMPARE(grid->model()->rowCount(), 2);
        QCOMPARE(QStringList({cell(0, 0), cell(0, 3), cell(1, 0), cell(1, 1), cell(1, 3)}),
                 QStringList({"6", "Away", "5", "Five", "Home"}));

        // The live page has the same rows from what the window read, with
        // the stations, and markup in a name only as escaped text.
        QByteArray body;
        QTRY_VERIFY_WITH_TIMEOUT((body = get(api)).contains("\"count\":2"), 15000);
        QVERIFY2(!body.contains('<') && body.contains("\\u003ci\\u003eSix"), body.constData());
        QJsonObject live = QJsonDocument::fromJson(body).object();
        QCOMPARE(live.value("event").toString(), QStringLiteral("club"));
        QVERIFY(live.value("available").toBool());
        const QJsonArray rows = live.value("rows").toArray();
        QCOMPARE(QStringList({rows[0]["tpid"].toString(), rows[0]["name"].toString(),
                              rows[0]["station"].toString(), rows[1]["station"].toString()}),
                 QStringList({"6", "<i>Six</i>", "Away", "Home"}));

        // The server goes away: the status page, Memo3 and the tab say so,
        // the local ranking is still there.
        pg->stop();
        showStatusPage(w);
        QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QStringLiteral("未接続")), 15000);
        QVERIFY(w.Memo3->toPlainText().contains(QStringLiteral("未接続")));
        w.setActivePage(w.TabSheet5);
        QTRY_VERIFY_WITH_TIMEOUT(
            !note->isHidden() && note->text().contains(QStringLiteral("読めません")), 15000);
        // The live page says so too, and keeps the rows read before.
        QTRY_VERIFY_WITH_TIMEOUT(
            (live = QJsonDocument::fromJson(get(api)).object()).value("error").isString(), 15000);
        QVERIFY(!live.value("available").toBool());
        QCOMPARE(live.value("rows").toArray().size(), 2);
        all->setChecked(false);
        QVERIFY(!w.DBGrid1->isHidden());
        QCOMPARE(w.DBGrid1->model()->rowCount(), 1);
        QVERIFY(pg->start());
    }
};

QTEST_MAIN(TestEventPage)
#include "tst_eventpage.moc"
