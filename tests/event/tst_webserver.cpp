// korvane-web, the event's live pages, against a real server: what the
// pages say while it is away, a LISTEN connection killed under it, and a
// crowd with clients that never read.
#include "PgCluster.h"
#include "StuckClient.h"

#include "EventServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QWebSocket>
#include <QtTest>

#include <memory>
#include <vector>

using namespace e2e;

namespace {

const QString kEvent = QStringLiteral("club");

quint16 freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// Status line and body of one GET.
QByteArray get(quint16 port, const QByteArray& path) {
    const int fd = connectFrom("127.0.0.1", port);
    if (fd < 0)
        return "(no connection)";
    const QByteArray request = "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n";
    ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    const QByteArray out = readUntil(fd, 5000, wholeAnswer);
    ::close(fd);
    return out;
}

// A page's socket, keeping each message by type.
struct Page {
    QWebSocket ws;
    QList<QJsonObject> messages;
    explicit Page(quint16 port) {
        QObject::connect(&ws, &QWebSocket::textMessageReceived, [this](const QString& text) {
            messages << QJsonDocument::fromJson(text.toUtf8()).object();
        });
        ws.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(port)));
    }
    QStringList speeds() const {
        QStringList out;
        for (const QJsonObject& m : messages)
            if (m.value("type") == QLatin1String("speed"))
                out << m.value("tpid").toString();
        return out;
    }
    // The last word on the results' state: hello's or a status message's.
    bool available() const {
        for (auto m = messages.crbegin(); m != messages.crend(); ++m)
            if (m->contains("available"))
                return m->value("available").toBool();
        return false;
    }
};

} // namespace

class TestWebServer : public QObject {
    Q_OBJECT

    std::unique_ptr<PgCluster> pg;
    std::unique_ptr<QProcess> web;
    quint16 port = 0;
    int attempt = 0;
    QByteArray said; // the program's standard error until it listened

    // Starts the program; true once it listens.
    bool startWeb(const QStringList& extra) {
        port = freePort();
        said.clear();
        web = std::make_unique<QProcess>();
        web->setProcessChannelMode(QProcess::SeparateChannels);
        web->setReadChannel(QProcess::StandardError);
        web->start(QStringLiteral(KORVANE_WEB_BIN),
                   QStringList{"--database", pg->socketConnection(), "--event", kEvent, "--listen",
                               QStringLiteral("127.0.0.1:%1").arg(port)} +
                       extra);
        web->waitForStarted();
        QElapsedTimer t;
        t.start();
        while (!said.contains("http://") && t.elapsed() < 15000 &&
               web->state() == QProcess::Running) {
            web->waitForReadyRead(100);
            said += web->readAllStandardError();
        }
        said += web->readAllStandardError();
        if (!said.contains("http://"))
            said += QStringLiteral(" [state %1, exit %2, %3]")
                        .arg(web->state())
                        .arg(web->exitCode())
                        .arg(web->errorString())
                        .toUtf8();
        return said.contains("http://");
    }
    // A result of station A, told on the event's channel when `notify`.
    void result(const QString& tpid, const QString& name, bool notify) {
        pg->rows(QStringLiteral("insert into korvane_attempt (event, station, attempt_id, tpid,"
                                " name, speed, speed_text, status, measured_at)"
                                " values (?, 'A', ?, ?, ?, ?, ?, 'ok', now())"),
                 {kEvent, ++attempt, tpid, name, 30.0 + attempt,
                  QString::number(30.0 + attempt, 'f', 2)});
        if (notify)
            pg->rows(QStringLiteral("select pg_notify(?, '')"), {EventServer::channelFor(kEvent)});
    }
    QVariant listenPid() const {
        return pg->value(QStringLiteral(
            "select pid from pg_stat_activity where application_name = 'korvane-web-listen'"));
    }

private slots:
    void initTestCase() {
        pg = std::make_unique<PgCluster>(
            QStringLiteral(KORVANE_SOURCE_DIR "/scripts/local-postgres"));
        QVERIFY2(pg->start(), qPrintable(pg->why()));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), "migrate");
            db.setConnectOptions(pg->socketConnection());
            QVERIFY(db.open());
            EventServer::migrate(db);
        }
        QSqlDatabase::removeDatabase("migrate");
    }
    void cleanup() {
        if (web) {
            web->kill();
            web->waitForFinished();
        }
        web.reset();
        QVERIFY(pg->start());
        pg->execute(QStringLiteral("delete from korvane_attempt"));
    }
    void cleanupTestCase() { pg.reset(); }

    void serverAwayPagesSaySoAndComeBackWithIt() {
        result(QStringLiteral("6"), QStringLiteral("<i>Six</i>"), false);
        QVERIFY2(startWeb({"--poll-ms", "300"}), said.constData());
        Page page(port);
        QTRY_VERIFY(page.available());
        const QByteArray ranking = get(port, "/api/ranking");
        QVERIFY2(ranking.startsWith("HTTP/1.1 200") && ranking.contains("\\u003ci\\u003eSix") &&
                     !ranking.contains("<i>") && ranking.contains("\"station\":\"A\""),
                 ranking.constData());
        QVERIFY(get(port, "/api/driver/6").contains("\"best\":\"31.00\""));

        pg->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!page.available(), 10000);
        const QByteArray away = get(port, "/api/ranking");
        QVERIFY2(away.startsWith("HTTP/1.1 503") && away.contains("unavailable"), away.constData());
        // The kiosk still shows what was read before.
        QVERIFY(get(port, "/").contains("&lt;i&gt;Six"));
        QCOMPARE(web->state(), QProcess::Running);

        QVERIFY(pg->start());
        result(QStringLiteral("7"), QStringLiteral("Seven"), false);
        QTRY_VERIFY_WITH_TIMEOUT(page.available(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(page.speeds().contains(QStringLiteral("7")), 10000);
        QVERIFY(get(port, "/api/ranking").contains("Seven"));
    }

    // The poll is a minute away in this test: what arrives in time came by
    // notification, or by the read made when the lost connection was seen.
    void killedListenIsSeenAndNothingIsMissed() {
        QVERIFY2(startWeb({"--poll-ms", "60000"}), said.constData());
        Page page(port);
        QTRY_VERIFY(page.available());
        QTRY_VERIFY(listenPid().isValid());
        const QVariant first = listenPid();
        result(QStringLiteral("1"), QStringLiteral("One"), true);
        QTRY_COMPARE(page.speeds(), QStringList({"1"}));

        // Written as the connection dies: its notification goes nowhere.
        result(QStringLiteral("2"), QStringLiteral("Two"), false);
        QVERIFY(pg->value(QStringLiteral("select pg_terminate_backend(?)"), {first}).toBool());
        QTRY_COMPARE_WITH_TIMEOUT(page.speeds(), QStringList({"1", "2"}), 10000);

        QTRY_VERIFY_WITH_TIMEOUT(listenPid().isValid() && listenPid() != first, 10000);
        result(QStringLiteral("3"), QStringLiteral("Three"), true);
        QTRY_COMPARE_WITH_TIMEOUT(page.speeds(), QStringList({"1", "2", "3"}), 10000);
    }

    void clientsThatDoNotReadAreDroppedTheOthersGetEveryResult() {
        QVERIFY2(startWeb({"--poll-ms", "1000", "--ping-ms", "1000", "--max-per-address", "400"}),
                 said.constData());
        std::vector<std::unique_ptr<Page>> pages;
        for (int i = 0; i < 150; ++i)
            pages.push_back(std::make_unique<Page>(port));
        std::vector<int> stuck;
        for (int i = 0; i < 50; ++i) {
            stuck.push_back(stuckClient(port, 4096));
            QVERIFY(stuck.back() >= 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(pages.begin(), pages.end(), [](const auto& p) { return p->available(); }),
            15000);
        QStringList sent;
        for (int i = 0; i < 20; ++i) {
            sent << QString::number(100 + i);
            result(sent.back(), QStringLiteral("Car %1").arg(i), true);
            QTest::qWait(50);
        }
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(pages.begin(), pages.end(),
                                             [&](const auto& p) { return p->speeds() == sent; }),
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(stuck.begin(), stuck.end(), [](int fd) { return closedByServer(fd); }),
            15000);
        for (const auto& p : pages)
            QCOMPARE(p->ws.state(), QAbstractSocket::ConnectedState);
        for (int fd : stuck)
            ::close(fd);
    }
};

QTEST_MAIN(TestWebServer)
#include "tst_webserver.moc"
