#include "Names.h"

#include <QTest>

class tst_Names : public QObject {
    Q_OBJECT
private slots:
    void shiftJisLength_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("bytes");
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("ascii") << QStringLiteral("Taro") << 4;
        QTest::newRow("half-width kana are single bytes") << QStringLiteral("ﾀﾛｳ") << 3;
        QTest::newRow("kanji are double bytes") << QStringLiteral("山田太郎") << 8;
        QTest::newRow("mixed") << QStringLiteral("山田 T.") << 7;
        QTest::newRow("emoji") << QStringLiteral("A😀") << -1;
        QTest::newRow("accented latin") << QStringLiteral("José") << -1;
        // What a Linux input method produces for the fullwidth forms of the
        // Windows Japanese code page: each is one double-byte character there.
        QTest::newRow("wave dash U+301C") << QStringLiteral("A\u301CB") << 4;
        QTest::newRow("minus sign U+2212") << QStringLiteral("\u2212") << 2;
        QTest::newRow("double vertical line U+2016") << QStringLiteral("\u2016") << 2;
        QTest::newRow("not sign U+00AC") << QStringLiteral("\u00AC") << 2;
        QTest::newRow("em dash U+2014") << QStringLiteral("\u2014") << 2;
        QTest::newRow("Windows forms themselves")
            << QStringLiteral("\uFF5E\uFF0D\u2225\uFFE2\u2015") << 10;
        QTest::newRow("circled digit, NEC row 13") << QStringLiteral("\u2460") << 2;
        QTest::newRow("yen sign") << QStringLiteral("\u00A5") << -1;
    }
    void shiftJisLength() {
        QFETCH(QString, name);
        QFETCH(int, bytes);
        QCOMPARE(::shiftJisLength(name), bytes);
    }

    void limitIsThirtyBytes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("30 ascii") << QString(30, QLatin1Char('a')) << true;
        QTest::newRow("31 ascii") << QString(31, QLatin1Char('a')) << false;
        QTest::newRow("15 kanji = 30 bytes") << QString(15, QChar(0x5C71)) << true;
        QTest::newRow("16 kanji = 32 bytes") << QString(16, QChar(0x5C71)) << false;
        // 29 single bytes + one double byte: 31, refused rather than cut
        // through the last character.
        QTest::newRow("double byte across the limit")
            << QString(29, QLatin1Char('a')) + QStringLiteral("山") << false;
        QTest::newRow("quote") << QStringLiteral("O'Brien") << true;
        QTest::newRow("15 wave dashes = 30 bytes") << QString(15, QChar(0x301C)) << true;
        QTest::newRow("29 ascii + em dash = 31 bytes")
            << QString(29, QLatin1Char('a')) + QChar(0x2014) << false;
    }
    void limitIsThirtyBytes() {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        QCOMPARE(nameProblem(name).isEmpty(), accepted);
    }

    void messagesSayWhatIsWrong() {
        QVERIFY(nameProblem(QString(16, QChar(0x5C71))).contains(QStringLiteral("32バイト")));
        const QString bad = nameProblem(QStringLiteral("ab😀"));
        QVERIFY2(bad.contains(QStringLiteral("U+1F600")), qPrintable(bad));
        QVERIFY_THROWS_EXCEPTION(RecordError, checkName(QString(31, QLatin1Char('x'))));
        checkName(QStringLiteral("ﾄﾗﾝｽﾎﾟﾝﾀﾞｰ"));
    }
};

QTEST_GUILESS_MAIN(tst_Names)
#include "tst_names.moc"
