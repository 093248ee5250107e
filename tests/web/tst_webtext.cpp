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

    // Equal speeds share a rank across a page boundary, every row comes once
    // when the pages are read by key, and a search for "%" finds only the
    // name that has one.
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
        QCOMPARE(seen, QStringList({"A", "B", "C", "D", "E", "F", "G"}));
        QCOMPARE(ranks, QList<int>({1, 2, 2, 2, 5, 6, 7}));

        const WebReader::Page percent = reader.ranking(QString(), 50, QStringLiteral("%"));
        QCOMPARE(percent.rows.size(), 1);
        QCOMPARE(percent.rows[0].tpid, QStringLiteral("E"));
        QCOMPARE(percent.rows[0].rank, 5);
    }
};

QTEST_GUILESS_MAIN(TestWebText)
#include "tst_webtext.moc"
