// The live page's server in this process, on a free local port: what it
// does with its clients.
#include "ClassStore.h"
#include "Journal.h"
#include "Language.h"
#include "LiveServer.h"
#include "LiveWeb.h"

#include "SpeedRow.h"
#include "StuckClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include <poll.h>

#include <vector>

namespace {

quint16 freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

void sendAll(int fd, const QByteArray& bytes) {
    // The server may cut the connection while this is sent: that is an answer.
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t n =
            ::send(fd, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        at += n;
    }
}

// What the server sends until it closes the connection (or the time is up).
QByteArray readToEnd(int fd, int timeoutMs) {
    return readUntil(fd, timeoutMs, [](const QByteArray&) { return false; });
}

// One request on a connection of its own: its answer, head and body.
QByteArray get(quint16 port, const QByteArray& path, const char* from = "127.0.0.1") {
    const int fd = connectFrom(from, port);
    if (fd < 0)
        return "(no connection)";
    sendAll(fd, "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
    const QByteArray out = readUntil(fd, 5000, wholeAnswer);
    ::close(fd);
    return out;
}

QByteArray statusOf(const QByteArray& response) {
    return response.left(response.indexOf("\r\n"));
}

// The server in its own thread (as the program runs it), so that these
// tests may wait on plain sockets.
struct Running {
    explicit Running(LiveServer::Options o) : web(o) {
        QSignalSpy started(&web, &LiveWeb::started);
        web.start();
        if (started.wait(5000))
            ok = started.first().at(0).toBool(), urls = started.first().at(2).toStringList();
    }
    LiveWeb web;
    bool ok = false;
    QStringList urls;
};

} // namespace

class TestLiveServer : public QObject {
    Q_OBJECT

private slots:
    // A port taken by another program is told in the window's language.
    void portInUseIsToldInEnglishInTheEnglishWindow() {
        QVERIFY(installLanguage(UiLanguage::English));
        struct Back {
            ~Back() { installLanguage(UiLanguage::Japanese); }
        } back;
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        FreshSpeedDb fresh;
        LiveServer::Options o;
        o.dbPath = fresh.path();
        o.address = QHostAddress::LocalHost;
        o.port = taken.serverPort();
        LiveServer server(o);
        QSignalSpy started(&server, &LiveServer::started);
        server.start();
        QCOMPARE(started.count(), 1);
        QVERIFY(!started.first().at(0).toBool());
        QCOMPARE(started.first().at(1).toString(),
                 QStringLiteral("127.0.0.1:%1 is in use").arg(o.port));
    }

    // A client that stops reading is dropped even when almost nothing is
    // sent (the kernel's buffers would hide it for a long while); a client
    // that reads stays and still gets what is published after.
    void clientThatStopsReadingIsDroppedReaderStays() {
        FreshSpeedDb fresh;
        LiveServer::Options o;
        o.dbPath = fresh.path();
        o.port = freePort();
        o.pingMs = 250;
        LiveServer server(o);
        QSignalSpy started(&server, &LiveServer::started);
        server.start();
        QCOMPARE(started.count(), 1);
        QVERIFY2(started.first().at(0).toBool(), qPrintable(started.first().at(1).toString()));

        QWebSocket reader;
        QStringList received;
        connect(&reader, &QWebSocket::textMessageReceived, this,
                [&](const QString& m) { received << m; });
        reader.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(o.port)));
        QTRY_COMPARE(server.clientCount(), 1);
        const int stuck = stuckClient(o.port);
        QVERIFY(stuck >= 0);
        QTRY_COMPARE(server.clientCount(), 2);

        QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 1, 10000);
        QTRY_VERIFY(closedByServer(stuck));
        ::close(stuck);
        QCOMPARE(reader.state(), QAbstractSocket::ConnectedState);
        server.publish(QStringLiteral("7"), QStringLiteral("36.5"), true, 1000);
        QTRY_VERIFY(!received.filter(QStringLiteral("\"speed\":\"36.5\"")).isEmpty());
    }

    // Half requests from one address hold only that address's share: a
    // client elsewhere is served at once, the rest of the crowd is told 503
    // in words, and each half request is closed once its time is up.
    void oneAddressCannotLockOthersOut() {
        FreshSpeedDb fresh;
        LiveServer::Options o;
        o.dbPath = fresh.path();
        o.port = freePort();
        Running server(o);
        QVERIFY(server.ok);

        std::vector<int> held;
        for (int i = 0; i < 400; ++i) {
            const int fd = halfRequestClient("127.0.0.2", o.port);
            QVERIFY(fd >= 0);
            held.push_back(fd);
        }
        QElapsedTimer sent;
        sent.start();
        const QByteArray latest = get(o.port, "/api/latest", "127.0.0.3");
        QVERIFY2(sent.elapsed() < 1000, qPrintable(QString::number(sent.elapsed())));
        QCOMPARE(statusOf(latest), QByteArray("HTTP/1.1 200 OK"));

        std::vector<QByteArray> answers(held.size());
        std::vector<bool> closed(held.size(), false);
        char buf[4096];
        while (sent.elapsed() < 11000 && std::count(closed.begin(), closed.end(), false) > 0) {
            for (size_t i = 0; i < held.size(); ++i) {
                while (!closed[i]) {
                    const ssize_t n = ::recv(held[i], buf, sizeof buf, MSG_DONTWAIT);
                    if (n > 0)
                        answers[i].append(buf, n);
                    else if (n == 0 || errno == ECONNRESET)
                        closed[i] = true;
                    else
                        break;
                }
            }
            QTest::qWait(50);
        }
        for (const int fd : held)
            ::close(fd);
        QCOMPARE(std::count(closed.begin(), closed.end(), false), 0);
        const auto refused = std::count_if(answers.begin(), answers.end(), [](const QByteArray& a) {
            return a.startsWith("HTTP/1.1 503") && a.contains("Too many connections");
        });
        QCOMPARE(refused, 400 - o.maxPerAddress);
    }

    // Requests no browser sends are refused or cut off, pipelined ones are
    // all answered, and the server stays up without keeping their memory.
    void malformedRequestsKeepTheServerUp() {
        FreshSpeedDb fresh;
        LiveServer::Options o;
        o.dbPath = fresh.path();
        o.port = freePort();
        o.idleTimeoutMs = 500;
        o.requestTimeoutMs = 500;
        Running server(o);
        QVERIFY(server.ok);
        QCOMPARE(statusOf(get(o.port, "/api/latest")), QByteArray("HTTP/1.1 200 OK"));
        const qint64 rssBefore = rssKb();

        const QList<QByteArray> bad{
            "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + QByteArray(100 * 1024, 'a') + "\r\n\r\n",
            "GET /" + QByteArray(1024 * 1024, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n",
            QByteArray("GET /\0\0 HTTP/1.1\r\nHost: \0x\r\n\r\n", 30),
        };
        for (const QByteArray& request : bad) {
            const int fd = connectFrom("127.0.0.1", o.port);
            sendAll(fd, request);
            const QByteArray answer = readToEnd(fd, 5000);
            ::close(fd);
            QVERIFY2(answer.isEmpty() || answer.startsWith("HTTP/1.1 4"),
                     answer.left(80).constData());
        }
        for (const char* path : {"/api/driver/%C3%28", "/driver/%C3%28", "/api/driver/%ZZ",
                                 "/api/driver/", "/driver/a/b"})
            QVERIFY2(statusOf(get(o.port, path)).startsWith("HTTP/1.1 404"), path);

        // Forty small requests in one go, about 12 KB: each gets its answer.
        QByteArray pipelined;
        for (int i = 0; i < 40; ++i)
            pipelined += "GET /api/latest HTTP/1.1\r\nHost: x\r\nX-Pad: " + QByteArray(250, 'p') +
                         "\r\n\r\n";
        {
            const int fd = connectFrom("127.0.0.1", o.port);
            sendAll(fd, pipelined);
            const QByteArray answers = readUntil(
                fd, 5000, [](const QByteArray& in) { return in.count("HTTP/1.1 200 OK") >= 40; });
            ::close(fd);
            QCOMPARE(answers.count("HTTP/1.1 200 OK"), 40);
        }

        // A push-socket client that sends a huge frame, and one that floods
        // small ones: pages send nothing, both are closed.
        const QUrl live(QStringLiteral("ws://127.0.0.1:%1/live").arg(o.port));
        {
            // The push socket is no idle HTTP connection: it stays.
            QWebSocket quiet;
            QSignalSpy connected(&quiet, &QWebSocket::connected);
            quiet.open(live);
            QVERIFY(connected.wait(5000));
            QTest::qWait(3 * o.idleTimeoutMs);
            QCOMPARE(quiet.state(), QAbstractSocket::ConnectedState);
        }
        for (const bool flood : {false, true}) {
            QWebSocket ws;
            QSignalSpy connected(&ws, &QWebSocket::connected);
            QSignalSpy gone(&ws, &QWebSocket::disconnected);
            ws.open(live);
            QVERIFY(connected.wait(5000));
            if (flood)
                for (int i = 0; i < 10000; ++i)
                    ws.sendTextMessage(QStringLiteral("x"));
            else
                ws.sendBinaryMessage(QByteArray(1024 * 1024, 'f'));
            QVERIFY2(gone.wait(5000), flood ? "flood" : "1 MB frame");
        }

        QCOMPARE(statusOf(get(o.port, "/api/latest")), QByteArray("HTTP/1.1 200 OK"));
        QVERIFY2(rssKb() - rssBefore < 5 * 1024,
                 qPrintable(QStringLiteral("%1 -> %2 KiB").arg(rssBefore).arg(rssKb())));
    }

    // With suspect attempts held, spectators see on no page and in no JSON
    // an attempt the board could not show (held, rejected, or any status
    // but ok and accepted), nor a check's verdict, nor a transponder with
    // no counted speed in the ranking, nor the database's own messages.
    void spectatorsSeeOnlyWhatTheBoardCouldShow() {
        FreshSpeedDb fresh;
        const auto speed = [](const char* tpid, double v, const QString& name) {
            execSql(
                {QStringLiteral("insert into speed (tpid,speed,sumi,pname) values (?,?,'1',?)")},
                {QString::fromUtf8(tpid), v, name});
        };
        // Names that are placeholders of the kiosk page are filled as text.
        speed("A", 45.5, QStringLiteral("Alice"));
        speed("R", 0, QStringLiteral("Rejected"));
        speed("S/1", 30.25, QStringLiteral("Slash"));
        speed("{{name}}", 20.5, QStringLiteral("{{top}}"));
        const auto attempt = [](const char* tpid, const char* text, const QString& status) {
            execSql({QStringLiteral("insert into attempt (tpid,speed,speed_text,flags,status,"
                                    "measured_ms) values (?,?,?,?,?,1000)")},
                    {QString::fromUtf8(tpid), QString::fromLatin1(text).toDouble(),
                     QString::fromLatin1(text), status == QLatin1String("ok") ? 0 : 4, status});
        };
        attempt("A", "40.5", QStringLiteral("ok"));
        attempt("A", "55.55", QStringLiteral("suspect"));
        attempt("A", "66.66", QStringLiteral("rejected"));
        attempt("A", "77.77", QStringLiteral("計測不能"));
        attempt("A", "45.5", QStringLiteral("accepted"));
        attempt("R", "33.33", QStringLiteral("rejected"));
        attempt("S/1", "30.25", QStringLiteral("ok"));
        attempt("{{name}}", "20.5", QStringLiteral("ok"));
        attempt("A", "88.88", QStringLiteral("suspect"));

        LiveServer::Options o;
        o.dbPath = fresh.path();
        o.port = freePort();
        o.suspectShown = false;
        Running server(o);
        QVERIFY(server.ok);

        QByteArray all;
        for (const char* path :
             {"/", "/api/latest", "/api/ranking", "/api/driver/A", "/ranking", "/driver/A"}) {
            const QByteArray r = get(o.port, path);
            QVERIFY2(statusOf(r) == "HTTP/1.1 200 OK", path);
            all += r;
        }
        for (const char* hidden : {"55.55", "66.66", "77.77", "33.33", "88.88", "suspect",
                                   "rejected", "flags", "status", ">R<", "\"R\"", "Rejected"})
            QVERIFY2(!all.contains(hidden), hidden);
        QVERIFY(all.contains("\"speed\":\"40.5\""));
        QVERIFY(all.contains("\"speed\":\"45.5\""));
        // Registered, but with nothing that counts.
        QVERIFY(
            get(o.port, "/api/driver/R")
                .endsWith("\"attempts\":[],\"best\":\"0\",\"name\":\"Rejected\",\"tpid\":\"R\"}"));

        const QByteArray kiosk = get(o.port, "/");
        QVERIFY(kiosk.contains("id=\"tpid\">{{name}}</span>"));
        QVERIFY(kiosk.contains("id=\"name\">{{top}}</span>"));
        QCOMPARE(kiosk.count("<tr><td class=\"rank\">"), 3); // the top three, once

        // An ID with "/" is one path segment, percent-encoded.
        QCOMPARE(statusOf(get(o.port, "/driver/S%2F1")), QByteArray("HTTP/1.1 200 OK"));
        QVERIFY(get(o.port, "/api/driver/S%2F1").contains("\"name\":\"Slash\""));

        // Listening on loopback: the share page offers no code for phones.
        const QByteArray share = get(o.port, "/share");
        QVERIFY(server.urls.isEmpty());
        QVERIFY(share.contains("data-urls=\"\"") && share.contains("share nophone"));
    }

    // A class's ranking of a period holds only its own attempts that count
    // (ok, accepted) measured from `since` on, each car's best; the kiosk
    // pinned to a class shows only it; an unknown class and a `since` that
    // is no number are told in JSON.
    void classRankingOfAPeriodAndThePinnedKiosk() {
        FreshSpeedDb fresh;
        ClassStore::createSchema(SpeedDb::database());
        const qint64 stock = ClassStore::addClass(QStringLiteral("Stock"));
        const qint64 mod = ClassStore::addClass(QStringLiteral("<Mod>"));
        ClassStore::addEntry(stock, QStringLiteral("1"), QStringLiteral("Entered"), QString());
        const auto attempt = [](const char* tpid, double v, const QString& status, qint64 ms,
                                qint64 classId) {
            execSql({QStringLiteral("insert into attempt (tpid,speed,speed_text,status,"
                                    "measured_ms,class_id) values (?,?,?,?,?,?)")},
                    {QString::fromUtf8(tpid), v, QString::number(v), status, ms, classId});
        };
        attempt("1", 50, Journal::kOk, 1000, stock); // before the period
        attempt("1", 40, Journal::kOk, 2000, stock);
        attempt("1", 90, Journal::kRejected, 2500, stock);
        attempt("2", 95, Journal::kNotMeasurement, 2600, stock);
        attempt("2", 30, Journal::kAccepted, 3000, stock);
        attempt("3", 99, Journal::kOk, 3000, mod);

        LiveServer::Options o;
        o.dbPath = fresh.path();
        o.port = freePort();
        Running server(o);
        QVERIFY(server.ok);

        const QByteArray period = get(o.port, "/api/ranking?class=Stock&since=2000");
        QCOMPARE(statusOf(period), QByteArray("HTTP/1.1 200 OK"));
        QVERIFY2(period.contains("\"rows\":[{\"name\":\"Entered\",\"rank\":1,\"speed\":\"40\","
                                 "\"tpid\":\"1\"},{\"name\":\"\",\"rank\":2,\"speed\":\"30\","
                                 "\"tpid\":\"2\"}]"),
                 period.constData());
        QVERIFY(get(o.port, "/api/ranking?class=Stock").contains("\"speed\":\"50\""));

        const QByteArray unknown = get(o.port, "/api/ranking?class=Nitro&since=0");
        QCOMPARE(statusOf(unknown), QByteArray("HTTP/1.1 404 Not Found"));
        QVERIFY2(unknown.contains("application/json") && unknown.contains("\"unknown class\""),
                 unknown.constData());
        QCOMPARE(statusOf(get(o.port, "/api/ranking?class=Stock&since=today")),
                 QByteArray("HTTP/1.1 400 Bad Request"));

        const QByteArray pinned = get(o.port, "/?class=%3CMod%3E");
        QCOMPARE(statusOf(pinned), QByteArray("HTTP/1.1 200 OK"));
        QVERIFY(pinned.contains("data-class=\"&lt;Mod&gt;\">&lt;Mod&gt;</h2>"));
        QVERIFY(!pinned.contains("<Mod>"));
        QCOMPARE(pinned.count("<tr><td class=\"rank\">"), 1);
        QVERIFY(pinned.contains("<td class=\"id\">3</td>"));
        QVERIFY(!get(o.port, "/").contains("pinned"));
        QCOMPARE(statusOf(get(o.port, "/?class=Nitro")), QByteArray("HTTP/1.1 404 Not Found"));
        QVERIFY(get(o.port, "/api/classes").contains("[\"Stock\",\"\\u003cMod\\u003e\"]"));
    }

    void unreadableResultsAreNotExplained() {
        QTemporaryDir dir;
        QFile junk(dir.filePath(QStringLiteral("Korvane.db")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(8192, 'j'));
        junk.close();
        LiveServer::Options o;
        o.dbPath = junk.fileName();
        o.port = freePort();
        Running server(o);
        QVERIFY(server.ok);
        const QByteArray r = get(o.port, "/api/ranking");
        QCOMPARE(statusOf(r), QByteArray("HTTP/1.1 503 Service Unavailable"));
        QVERIFY2(r.endsWith("\r\n\r\n503 Results unavailable, try again shortly\n"), r.constData());
    }

    // A file the pages cannot read is told once, however often it is read
    // in vain; the top ten is read again until it comes, and that is told.
    void aFailedReadIsToldOnceAndTheTopTenComesBack() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Korvane.db"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, 'j'));
        file.close();
        LiveServer::Options o;
        o.dbPath = path;
        o.port = freePort();
        LiveWeb web(o);
        QSignalSpy started(&web, &LiveWeb::started);
        QSignalSpy failed(&web, &LiveWeb::readFailed);
        QSignalSpy recovered(&web, &LiveWeb::readRecovered);
        web.start();
        QVERIFY(started.wait(5000) && started.first().at(0).toBool());
        QTRY_COMPARE(failed.size(), 1);
        QVERIFY(!failed.first().at(0).toString().isEmpty());
        // The name and the top ten fail again; the answer after shows the
        // speed was taken.
        web.publish(QStringLiteral("7"), QStringLiteral("50.00"), true, 1000);
        QVERIFY(get(o.port, "/api/latest").contains("\"tpid\":\"7\""));
        QCOMPARE(failed.size(), 1);

        QByteArray good;
        {
            FreshSpeedDb fresh;
            execSql({QStringLiteral("insert into speed (tpid,speed,sumi,pname) values "
                                    "('7',50,'1','Seven')")});
            execSql({QStringLiteral("pragma wal_checkpoint(truncate)")});
            QFile f(fresh.path());
            QVERIFY(f.open(QIODevice::ReadOnly));
            good = f.readAll();
        }
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(good);
        file.close();
        QTRY_VERIFY_WITH_TIMEOUT(get(o.port, "/").contains("<td class=\"name\">Seven</td>"), 10000);
        QTRY_COMPARE(recovered.size(), 1);
        QCOMPARE(failed.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestLiveServer)
#include "tst_liveserver.moc"
