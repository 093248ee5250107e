// The live results page of the real program in a real browser: headless
// Chromium driven over its DevTools socket opens the kiosk page, a passing
// sent after the page loaded shows on it, and a name with markup shows as
// text; pinned to a class it shows that class only. A port in use leaves the
// window working and says why.
#include "KorvaneRun.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include <memory>
#include <tuple>

using namespace e2e;

namespace {

const int kStartMs = 15000;
const char* const kName = "<b>Bold</b>";

quint16 freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// One page of headless Chromium, asked through the DevTools protocol.
class Browser {
public:
    bool open(const QString& url, const QString& profile, const QString& lang = QString()) {
        profile_ = profile;
        proc_.setProgram(QStringLiteral("chromium"));
        QStringList args{QStringLiteral("--headless"),
                         QStringLiteral("--no-sandbox"),
                         QStringLiteral("--disable-gpu"),
                         QStringLiteral("--no-first-run"),
                         QStringLiteral("--remote-debugging-port=0"),
                         QStringLiteral("--user-data-dir=") + profile};
        if (!lang.isEmpty())
            args << QStringLiteral("--lang=") + lang << QStringLiteral("--accept-lang=") + lang;
        proc_.setArguments(args << url);
        proc_.start();
        if (!proc_.waitForStarted(10000))
            return false;
        // "DevTools listening on ws://127.0.0.1:PORT/devtools/browser/..."
        QByteArray err;
        QElapsedTimer t;
        t.start();
        const QRegularExpression re(QStringLiteral("ws://127.0.0.1:(\\d+)/"));
        QRegularExpressionMatch m;
        while (!(m = re.match(QString::fromUtf8(err))).hasMatch() && t.elapsed() < 30000) {
            proc_.waitForReadyRead(200);
            err += proc_.readAllStandardError();
        }
        if (!m.hasMatch())
            return false;
        // The page's own socket, from the list of targets.
        QNetworkAccessManager net;
        QString pageSocket;
        while (pageSocket.isEmpty() && t.elapsed() < 30000) {
            QNetworkReply* reply = net.get(QNetworkRequest(
                QUrl(QStringLiteral("http://127.0.0.1:%1/json/list").arg(m.captured(1)))));
            QSignalSpy done(reply, &QNetworkReply::finished);
            done.wait(5000);
            for (const QJsonValue& v : QJsonDocument::fromJson(reply->readAll()).array())
                if (v[QStringLiteral("type")] == QStringLiteral("page"))
                    pageSocket = v[QStringLiteral("webSocketDebuggerUrl")].toString();
            delete reply;
        }
        if (pageSocket.isEmpty())
            return false;
        QSignalSpy connected(&ws_, &QWebSocket::connected);
        ws_.open(QUrl(pageSocket));
        QObject::connect(&ws_, &QWebSocket::textMessageReceived, &ws_,
                         [this](const QString& m) { replies_ << m; });
        return connected.wait(10000);
    }
    ~Browser() {
        ws_.abort();
        proc_.kill();
        proc_.waitForFinished(5000);
        // The profile holds read-only files its folder could not remove.
        if (!profile_.isEmpty())
            QProcess::execute(QStringLiteral("chmod"),
                              {QStringLiteral("-R"), QStringLiteral("u+w"), profile_});
    }

    // The value of a JavaScript expression in the page (as JSON text).
    QString eval(const QString& expression) {
        const QJsonObject o = call(QStringLiteral("Runtime.evaluate"),
                                   QJsonObject{{QStringLiteral("expression"), expression},
                                               {QStringLiteral("returnByValue"), true}});
        if (o.isEmpty())
            return QStringLiteral("(no answer)");
        const QJsonValue v = o[QStringLiteral("result")][QStringLiteral("value")];
        return QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact));
    }

    // A DevTools command's result; empty when none came.
    QJsonObject call(const QString& method, const QJsonObject& params = {}) {
        const int id = ++id_;
        ws_.sendTextMessage(
            QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("id"), id},
                                                        {QStringLiteral("method"), method},
                                                        {QStringLiteral("params"), params}})
                                  .toJson(QJsonDocument::Compact)));
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            for (qsizetype i = 0; i < replies_.size(); ++i) {
                const QJsonObject o = QJsonDocument::fromJson(replies_[i].toUtf8()).object();
                if (o[QStringLiteral("id")].toInt() != id)
                    continue;
                replies_.removeAt(i);
                return o[QStringLiteral("result")].toObject();
            }
            QSignalSpy more(&ws_, &QWebSocket::textMessageReceived);
            more.wait(200);
        }
        return {};
    }

private:
    QProcess proc_;
    QString profile_;
    QWebSocket ws_;
    QStringList replies_;
    int id_ = 0;
};

} // namespace

class TestWebPage : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Track> track;
    std::unique_ptr<KorvaneRun> run;

    void start(quint16 port) {
        QVERIFY(run->writeIni("Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nTimer2=1",
                              track->devices(dir->path())));
        QFile ini(run->iniPath());
        QVERIFY(ini.open(QIODevice::Append));
        // The browsers here open many pages from one address in quick
        // succession; the per-address cap is tested with plain sockets.
        ini.write("[Web]\nEnabled=1\nMaxPerAddress=300\nListen=127.0.0.1:" +
                  QByteArray::number(port) + "\n");
        ini.close();
        run->start();
        QVERIFY2(run->waitStarted(), qPrintable(run->process().errorString()));
        QTRY_VERIFY2_WITH_TIMEOUT(boardOpenedAt(track->board, B2400), run->errors().constData(),
                                  kStartMs);
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        track = std::make_unique<Track>();
        QVERIFY2(track->ok(), qPrintable(track->why()));
        run = std::make_unique<KorvaneRun>(QStringLiteral(KORVANE_BIN), dir->path());
    }
    void cleanup() {
        if (run && run->running()) {
            run->terminate();
            if (!run->waitFinished(10000))
                run->kill();
        }
        run.reset();
        track.reset();
        dir.reset();
    }

    // Transponder 77, ranked at 20 km/h (shown: a speed that counts).
    void seedDriver(const QString& name) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "seed");
            db.setDatabaseName(run->dbPath());
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("create table speed (tpid text, time1 real, time2 real, speed real, "
                           "sumi text, pname varchar(30))"));
            QVERIFY(q.prepare("insert into speed values ('77', null, null, 20, '1', ?)"));
            q.addBindValue(name);
            QVERIFY(q.exec());
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("seed"));
    }

    void kioskShowsASpeedSentAfterLoadingAndNamesAsText() {
        // A registered driver whose name is markup.
        seedDriver(QString::fromLatin1(kName));
        const quint16 port = freePort();
        start(port);
        const QByteArray address = "http://127.0.0.1:" + QByteArray::number(port) + "/";
        QTRY_VERIFY_WITH_TIMEOUT(run->errors().contains(address), kStartMs);

        QTemporaryDir profile;
        Browser browser;
        QVERIFY(browser.open(QString::fromLatin1(address), profile.path()));
        // The push socket is up (the status shows no reconnecting).
        QTRY_COMPARE_WITH_TIMEOUT(
            browser.eval(
                QStringLiteral("!!document.getElementById('conn') && "
                               "document.getElementById('conn').textContent !== '' && "
                               "!document.getElementById('conn').classList.contains('off')")),
            QStringLiteral("[true]"), 20000);
        // The top ten came with the page: the name is there as text.
        QCOMPARE(
            browser.eval(QStringLiteral("[document.querySelectorAll('#top b').length, "
                                        "document.querySelector('#top td.name').textContent]")),
            QStringLiteral("[[0,\"<b>Bold</b>\"]]"));

        QVERIFY(track->dec1.send(passingLine("77", "100.000")));
        QVERIFY(track->dec2.send(passingLine("77", "100.500")));
        QTRY_COMPARE_WITH_TIMEOUT(
            browser.eval(QStringLiteral("[document.getElementById('speed').textContent, "
                                        "document.getElementById('tpid').textContent, "
                                        "document.getElementById('name').textContent, "
                                        "document.querySelectorAll('#latest b, #top b').length]")),
            QStringLiteral("[[\"36\",\"77\",\"<b>Bold</b>\",0]]"), 20000);
    }

    // A kiosk pinned to a class (/?class=NAME) shows that class's speeds
    // and top ten only; each attempt keeps in its own row the class its car
    // was entered in when it was measured.
    void kioskPinnedToAClassShowsOnlyIt() {
        seedDriver(QStringLiteral("Ann"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "seed");
            db.setDatabaseName(run->dbPath());
            QVERIFY(db.open());
            QSqlQuery q(db);
            // The classes as an earlier session of the entries page left them.
            for (const char* sql :
                 {"create table class (id integer primary key, name text not null unique, "
                  "ord integer not null)",
                  "create table entry (id integer primary key, class_id integer not null "
                  "references class(id), tpid text not null, name text not null default '', "
                  "number text not null default '', current integer not null default 0, "
                  "unique(class_id, tpid))",
                  "insert into class values (1, 'Stock', 1), (2, 'Mod', 2)",
                  "insert into entry values (1, 1, '77', '', '', 1), (2, 2, '88', 'Bob', '', 1)"})
                QVERIFY2(q.exec(QString::fromLatin1(sql)), sql);
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("seed"));
        const quint16 port = freePort();
        start(port);
        const QByteArray address = "http://127.0.0.1:" + QByteArray::number(port) + "/";
        QTRY_VERIFY_WITH_TIMEOUT(run->errors().contains(address), kStartMs);

        QTemporaryDir profile;
        Browser browser;
        QVERIFY(browser.open(QString::fromLatin1(address) + QStringLiteral("?class=Mod"),
                             profile.path(), QStringLiteral("ja")));
        QTRY_COMPARE_WITH_TIMEOUT(
            browser.eval(
                QStringLiteral("!!document.getElementById('conn') && "
                               "document.getElementById('conn').textContent !== '' && "
                               "!document.getElementById('conn').classList.contains('off')")),
            QStringLiteral("[true]"), 20000);
        // Every transponder the latest speed ever shows.
        browser.eval(
            QStringLiteral("window.seen = []; new MutationObserver(() => "
                           "seen.push(document.getElementById('tpid').textContent)).observe("
                           "document.getElementById('latest'), {subtree: true, childList: true, "
                           "characterData: true}); seen.length"));
        const QString state = QStringLiteral(
            "[document.getElementById('speed').textContent, "
            "document.getElementById('tpid').textContent, "
            "[...document.querySelectorAll('#top td.id')].map((td) => td.textContent), "
            "document.getElementById('pinned').textContent]");
        QCOMPARE(browser.eval(state), QStringLiteral("[[\"\",\"\",[],\"Mod\"]]"));

        // 36 km/h in Mod, 72 in Stock, then 45 (shown "45.000") in Mod.
        for (const auto& [tpid, t1, t2] :
             {std::tuple{"88", "100.000", "100.500"}, std::tuple{"77", "200.000", "200.250"},
              std::tuple{"88", "300.000", "300.400"}}) {
            QVERIFY(track->dec1.send(passingLine(tpid, t1)));
            QVERIFY(track->dec2.send(passingLine(tpid, t2)));
            if (QByteArray(tpid) == "88")
                QTRY_COMPARE_WITH_TIMEOUT(
                    browser.eval(QStringLiteral("document.getElementById('speed').textContent")),
                    QStringLiteral("[\"%1\"]")
                        .arg(QByteArray(t1) == "100.000" ? QStringLiteral("36")
                                                         : QStringLiteral("45.000")),
                    20000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(browser.eval(state),
                                  QStringLiteral("[[\"45.000\",\"88\",[\"88\"],\"Mod\"]]"), 20000);
        QCOMPARE(browser.eval(QStringLiteral("seen.includes('77')")), QStringLiteral("[false]"));

        // The ranking page: a tab per class, すべて first, opened on the class asked.
        browser.call(QStringLiteral("Page.navigate"),
                     QJsonObject{{QStringLiteral("url"), QString::fromLatin1(address) +
                                                             QStringLiteral("ranking?class=Mod")}});
        const QString tabs = QStringLiteral(
            "[[...document.querySelectorAll('#classtabs button')].map((b) => b.textContent + "
            "(b.classList.contains('on') ? '*' : '')), "
            "[...document.querySelectorAll('#rows td.id')].map((td) => td.textContent)]");
        QTRY_COMPARE_WITH_TIMEOUT(browser.eval(tabs),
                                  QStringLiteral("[[[\"すべて\",\"Stock\",\"Mod*\"],[\"88\"]]]"),
                                  20000);
        browser.eval(QStringLiteral("document.querySelectorAll('#classtabs button')[1].click()"));
        QTRY_COMPARE_WITH_TIMEOUT(browser.eval(tabs),
                                  QStringLiteral("[[[\"すべて\",\"Stock*\",\"Mod\"],[\"77\"]]]"),
                                  20000);

        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "check");
        {
            db.setDatabaseName(run->dbPath());
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("select tpid, class_id, class_name from attempt "
                                          "order by id")));
            QStringList rows;
            while (q.next())
                rows << QStringLiteral("%1 %2 %3")
                            .arg(q.value(0).toString(), q.value(1).toString(),
                                 q.value(2).toString());
            QCOMPARE(rows, (QStringList{"88 2 Mod", "77 1 Stock", "88 2 Mod"}));
            db.close();
        }
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }

    // A phone 360 or 390 px wide, in either language: no page scrolls
    // sideways (a long name, the loops' state in the bar). The overlay is
    // fully transparent until it has a speed, and shows one when it has.
    void phonesScrollNoPageSidewaysOverlayWaitsForASpeed() {
        seedDriver(QStringLiteral("ながいなまえのドライバーさん・とてもながいチーム名です"));
        const quint16 port = freePort();
        start(port);
        const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(port);
        QTRY_VERIFY_WITH_TIMEOUT(run->errors().contains(address.toUtf8()), kStartMs);
        // Listening on loopback: the operator is told that no phone can open it.
        QVERIFY(run->errors().contains(
            QStringLiteral("ウェブページ: %1（このPCからのみ見られます").arg(address).toUtf8()));

        for (const QString& lang : {QStringLiteral("ja"), QStringLiteral("en")}) {
            QTemporaryDir profile;
            Browser browser;
            QVERIFY(browser.open(QStringLiteral("about:blank"), profile.path(), lang));
            for (const QSize size : {QSize(360, 740), QSize(390, 844)}) {
                // Not emulated as mobile: a mobile viewport widens itself to
                // fit what overflows, and would hide the fault measured here.
                browser.call(QStringLiteral("Emulation.setDeviceMetricsOverride"),
                             QJsonObject{{QStringLiteral("width"), size.width()},
                                         {QStringLiteral("height"), size.height()},
                                         {QStringLiteral("deviceScaleFactor"), 1},
                                         {QStringLiteral("mobile"), false}});
                for (const char* page : {"", "ranking", "driver/77", "share", "overlay"}) {
                    const QString where = QStringLiteral("%1 %2x%3 /%4")
                                              .arg(lang)
                                              .arg(size.width())
                                              .arg(size.height())
                                              .arg(QString::fromLatin1(page));
                    browser.call(
                        QStringLiteral("Page.navigate"),
                        QJsonObject{{QStringLiteral("url"), address + QString::fromLatin1(page)}});
                    // Laid out with its texts in the language, the bar's
                    // loops and the tables filled.
                    QTRY_COMPARE_WITH_TIMEOUT(
                        browser.eval(
                            QStringLiteral(
                                "document.readyState === 'complete' && "
                                "location.pathname === '/%1' && document.documentElement.lang "
                                "=== '%2' && (!document.getElementById('loops') || "
                                "document.getElementById('loops').children.length === 2) && "
                                "(!document.getElementById('rows') || "
                                "document.getElementById('rows').children.length > 0)")
                                .arg(QString::fromLatin1(page), lang)),
                        QStringLiteral("[true]"), 20000);
                    QVERIFY2(browser.eval(QStringLiteral(
                                 "document.documentElement.scrollWidth <= innerWidth")) ==
                                 QStringLiteral("[true]"),
                             qPrintable(where + QLatin1Char(' ') +
                                        browser.eval(
                                            QStringLiteral("[document.documentElement.scrollWidth, "
                                                           "innerWidth]"))));
                }
            }
        }

        // The overlay before the first speed, over a transparent page.
        QTemporaryDir profile;
        Browser browser;
        QVERIFY(browser.open(address + QStringLiteral("overlay"), profile.path()));
        browser.call(QStringLiteral("Emulation.setDefaultBackgroundColorOverride"),
                     QJsonObject{{QStringLiteral("color"), QJsonObject{{QStringLiteral("r"), 0},
                                                                       {QStringLiteral("g"), 0},
                                                                       {QStringLiteral("b"), 0},
                                                                       {QStringLiteral("a"), 0}}}});
        // Timed by the clock, not by QTRY's count of its own steps: each
        // look at the page is a round trip to the browser.
        {
            const QString ready = QStringLiteral("document.readyState === 'complete' && "
                                                 "document.getElementById('conn') === null");
            QElapsedTimer waited;
            waited.start();
            QString seen = browser.eval(ready);
            while (seen != QStringLiteral("[true]") && waited.elapsed() < 30000) {
                QTest::qWait(50);
                seen = browser.eval(ready);
            }
            QCOMPARE(seen, QStringLiteral("[true]"));
        }
        const auto opaquePixels = [&browser] {
            const QJsonObject shot =
                browser.call(QStringLiteral("Page.captureScreenshot"),
                             {{QStringLiteral("format"), QStringLiteral("png")}});
            const QImage image = QImage::fromData(
                QByteArray::fromBase64(shot[QStringLiteral("data")].toString().toLatin1()), "PNG");
            if (image.isNull())
                return -1;
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += qAlpha(image.pixel(x, y)) != 0;
            return n;
        };
        QCOMPARE(opaquePixels(), 0);
        QVERIFY(track->dec1.send(passingLine("77", "100.000")));
        QVERIFY(track->dec2.send(passingLine("77", "100.500")));
        QTRY_COMPARE_WITH_TIMEOUT(
            browser.eval(QStringLiteral("document.getElementById('speed').textContent")),
            QStringLiteral("[\"36\"]"), 20000);
        QVERIFY(opaquePixels() > 0);
    }

    void portInUseLeavesTheWindowWorking() {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        start(taken.serverPort());
        const QByteArray why =
            QStringLiteral("ウェブページを開始できません: 127.0.0.1:%1 は使用中です")
                .arg(taken.serverPort())
                .toUtf8();
        QTRY_VERIFY2_WITH_TIMEOUT(run->errors().contains(why), run->errors().constData(), kStartMs);
        // Measuring goes on.
        QVERIFY(track->dec1.send(passingLine("5", "10.000")));
        QVERIFY(track->dec2.send(passingLine("5", "10.500")));
        QTRY_COMPARE(track->board.received(), QByteArray("         3 60 00       .\r"));
        QVERIFY(run->running());
    }
};

QTEST_GUILESS_MAIN(TestWebPage)
#include "tst_web.moc"
