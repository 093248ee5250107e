// What the live page sends: escaped JSON and HTML, the Listen address, and
// the ranking as the page reads it (ties, pages by key, search).
#include "WebReader.h"
#include "WebText.h"

#include "Database.h"
#include "SpeedRow.h"

#include <QJsonDocument>
#include <QtTest>

using namespace webtext;

class TestWebText : public QObject {
    Q_OBJECT

private slots:
    // Markup in an ID or name stays text: no byte of the JSON can end a
    // <script> element or start a tag, and the text reads back unchanged.
    void jsonAndHtmlEscapeMarkup() {
        const QString name = QStringLiteral("<b>太郎</b></script>&amp;\u2028\"'");
        const QByteArray bytes = json(QJsonObject{{QStringLiteral("name"), name}});
        for (const char* c : {"<", ">", "&", "\xE2\x80\xA8"})
            QVERIFY2(!bytes.contains(c), bytes.constData());
        QJsonParseError error;
        const QJsonDocument back = QJsonDocument::fromJson(bytes, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(back.object().value(QStringLiteral("name")).toString(), name);

        QCOMPARE(htmlEscape(QStringLiteral("<b>\"x\" & 'y'</b>")),
                 QStringLiteral("&lt;b&gt;&quot;x&quot; &amp; &#39;y&#39;&lt;/b&gt;"));
    }

    void listenAddresses() {
        QCOMPARE(parseListen(QStringLiteral("127.0.0.1:8080"))->port, quint16(8080));
        QCOMPARE(parseListen(QStringLiteral(" 0.0.0.0:80 "))->address,
                 QHostAddress(QStringLiteral("0.0.0.0")));
        QCOMPARE(parseListen(QStringLiteral("[::1]:9000"))->address,
                 QHostAddress(QStringLiteral("::1")));
        for (const char* bad : {"8080", "127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", "::1:8080",
                                "host name:80", "127.0.0.1:80x"})
            QVERIFY2(!parseListen(QString::fromLatin1(bad)), bad);
    }

    // Phones are given addresses they can open: none when the page listens
    // on loopback, each interface's own (not loopback, not link-local) when
    // it listens everywhere, and the operator's public address above all.
    void phoneAddresses() {
        const QList<QHostAddress> interfaces{QHostAddress(QStringLiteral("127.0.0.1")),
                                             QHostAddress(QStringLiteral("192.168.1.5")),
                                             QHostAddress(QStringLiteral("169.254.3.4")),
                                             QHostAddress(QStringLiteral("::1")),
                                             QHostAddress(QStringLiteral("fe80::1%eth0")),
                                             QHostAddress(QStringLiteral("10.0.0.7")),
                                             QHostAddress(QStringLiteral("2001:db8::5"))};
        QCOMPARE(phoneUrls(QHostAddress::LocalHost, 8080, interfaces, QString()), QStringList());
        QCOMPARE(phoneUrls(QHostAddress::AnyIPv4, 8080, interfaces, QString()),
                 QStringList({"http://192.168.1.5:8080/", "http://10.0.0.7:8080/"}));
        QCOMPARE(phoneUrls(QHostAddress::AnyIPv6, 80, interfaces, QString()),
                 QStringList({"http://[2001:db8::5]:80/"}));
        QCOMPARE(phoneUrls(QHostAddress(QStringLiteral("10.0.0.7")), 80, interfaces, QString()),
                 QStringList({"http://10.0.0.7:80/"}));
        QCOMPARE(phoneUrls(QHostAddress::LocalHost, 8080, interfaces,
                           QStringLiteral(" http://timing.local/ ")),
                 QStringList({"http://timing.local/"}));
    }

    // Why the event's server could not be read (its host, its driver's
    // words) stays with the operator: the page is told only that it could not.
    void eventServerTroubleIsNotTold() {
        EventRanking r;
        r.event = QStringLiteral("Cup");
        r.error = QStringLiteral("could not connect to server: host \"db.example\" port 5432");
        r.readAtMs = 1000;
        const QJsonObject o = eventRankingJson(r);
        QVERIFY(!json(o).contains("db.example"));
        QCOMPARE(o.value(QStringLiteral("error")).toString(), QStringLiteral("unavailable"));
        QVERIFY(!o.value(QStringLiteral("available")).toBool());
    }

    // Equal speeds share a rank across a page boundary, every row comes once
    // when the pages are read by key, a row without a speed (G) is not
    // ranked, and a search for "%" finds only the name that has one.
    void rankingPagesAndSearch() {
        FreshSpeedDb fresh;
        const QList<QPair<QString, double>> rows{{"A", 50}, {"B", 40}, {"C", 40}, {"D", 40},
                                                 {"E", 30}, {"F", 20}, {"G", 0}};
        for (const auto& r : rows)
            execSql(
                {QStringLiteral("insert into speed (tpid,speed,sumi,pname) values (?,?,'1',?)")},
                {r.first, r.second, r.first == "E" ? QStringLiteral("100%") : r.first});
        execSql({QStringLiteral("insert into speed (tpid,speed,sumi) values ('X',-1,'1')")});

        WebReader reader(fresh.path());
        QStringList seen;
        QList<int> ranks;
        QString cursor;
        do {
            const WebReader::Page p = reader.ranking(cursor, 2, QString());
            for (const RankRow& r : p.rows) {
                seen << r.tpid;
                ranks << r.rank;
            }
            cursor = p.next;
        } while (!cursor.isEmpty());
        seen.sort();
        QCOMPARE(seen, QStringList({"A", "B", "C", "D", "E", "F"}));
        QCOMPARE(ranks, QList<int>({1, 2, 2, 2, 5, 6}));

        const WebReader::Page percent = reader.ranking(QString(), 50, QStringLiteral("%"));
        QCOMPARE(percent.rows.size(), 1);
        QCOMPARE(percent.rows[0].tpid, QStringLiteral("E"));
        QCOMPARE(percent.rows[0].rank, 5);
    }
};

QTEST_GUILESS_MAIN(TestWebText)
#include "tst_webtext.moc"
