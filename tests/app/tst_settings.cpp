// Settings file, INI editing and integer conversion.
#include "Checks.h"
#include "Convert.h"
#include "DataDir.h"
#include "IniFile.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString ini() const { return dir.filePath(QStringLiteral("Korvane.ini")); }
    void write(const QByteArray& content) {
        QFile f(ini());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void verifyDefaults(const Settings& s) {
        QCOMPARE(s.Port1, 1);
        QCOMPARE(s.Port2, 4);
        QCOMPARE(s.Port3, 5);
        QCOMPARE(s.Dist, 10);
        QCOMPARE(s.Wait, 3);
        QCOMPARE(s.Rate, 0);
        QCOMPARE(s.Decid1, 0);
        QCOMPARE(s.Decid2, 0);
        QCOMPARE(s.Resetint, 300);
        QCOMPARE(s.Timer2, 0);
    }

private slots:
    void init() { QFile::remove(ini()); }

    void badFilesGiveDefaults_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("asFolder");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("other section only")
            << QByteArray("[Devices]\nCOM1=/dev/ttyUSB0\n") << false;
        QTest::newRow("garbage") << QByteArray("\x00\xff\xfe[SP\n===\n\x01\x02 Port1\n", 20)
                                 << false;
        QTest::newRow("every key unconvertible")
            << QByteArray("[SP]\nPort1=x\nPort2=\nPort3=1.5\nDist=abc\nWait=0x\nRate=$\n"
                          "Decid1=99999999999\nDecid2=0xZZ\nResetint=3 0\nTimer2=--1\n")
            << false;
        QTest::newRow("unreadable (a folder)") << QByteArray() << true;
    }
    void badFilesGiveDefaults() {
        QFETCH(QByteArray, content);
        QFETCH(bool, asFolder);
        if (asFolder)
            QVERIFY(QDir().mkpath(ini()));
        else if (QTest::currentDataTag() != QLatin1String("missing"))
            write(content);
        verifyDefaults(LoadSettings(ini()));
        if (asFolder)
            QDir(ini()).removeRecursively();
    }

    void readingRules_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("0x hex") << "0x1F" << 31;
        QTest::newRow("0X hex") << "0X1f" << 31;
        QTest::newRow("dollar hex") << "$1F" << 31;
        QTest::newRow("letters") << "abc" << 10;
        QTest::newRow("0x alone is too short") << "0x" << 10;
        QTest::newRow("negative") << "-25" << -25;
        QTest::newRow("plus sign") << "+7" << 7;
        QTest::newRow("leading blanks") << "  12" << 12;
        QTest::newRow("trailing junk") << "12cm" << 10;
        QTest::newRow("int max") << "2147483647" << 2147483647;
        QTest::newRow("int min") << "-2147483648" << int(-2147483648LL);
        QTest::newRow("overflow") << "2147483648" << 10;
        QTest::newRow("hex wraps") << "0xFFFFFFFF" << -1;
        QTest::newRow("hex too long") << "0x123456789" << 10;
        QTest::newRow("zero is a value") << "0" << 0;
        // The profile service drops a pair of quotes around the whole value.
        QTest::newRow("double quotes") << "\"20\"" << 20;
        QTest::newRow("single quotes") << "'0x1F'" << 31;
        QTest::newRow("quotes inside blanks") << "  \"20\"  " << 20;
        QTest::newRow("unpaired quote") << "\"20" << 10;
        QTest::newRow("blanks inside quotes") << "\" 20\"" << 20;
    }
    void readingRules() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        write("[SP]\nDist=" + text.toUtf8() + "\n");
        QCOMPARE(LoadSettings(ini()).Dist, expected);
    }

    void portZeroIsKept() {
        write("[sp]\nport1 = 0\n");
        QCOMPARE(LoadSettings(ini()).Port1, 0);
    }

    // A port the radio groups cannot show counts as no port: the operator
    // is told at start-up, and 0 goes back into the file.
    void portOutsideZeroToNineIsNoPort() {
        write("[SP]\nPort1=10\nPort2=-1\nPort3=9\n");
        const Settings s = LoadSettings(ini());
        QCOMPARE(s.Port1, 0);
        QCOMPARE(s.Port2, 0);
        QCOMPARE(s.Port3, 9);
        SaveSettings(ini(), s);
        QVERIFY(read(ini()).startsWith("[SP]\nPort1=0\nPort2=0\nPort3=9\n"));
    }

    void saveWritesExactlyTheTenKeysAndKeepsTheRest() {
        write("; station notes\n[Devices]\nCOM1=/dev/ttyUSB0\nCOM4=/dev/ttyUSB1\n\n"
              "[SP]\nDist=500\nExtra=keep me\n\n[Other]\nx=1\n");
        Settings s = LoadSettings(ini());
        QCOMPARE(s.Dist, 500);
        s.Port1 = 0;
        s.Wait = -2;
        SaveSettings(ini(), s);

        const QString text = QString::fromUtf8(read(ini()));
        QVERIFY(
            text.startsWith("; station notes\n[Devices]\nCOM1=/dev/ttyUSB0\nCOM4=/dev/ttyUSB1\n"));
        QVERIFY(text.contains("[Other]\nx=1"));
        QVERIFY(text.contains("Extra=keep me"));
        const Settings back = LoadSettings(ini());
        QCOMPARE(back.Port1, 0);
        QCOMPARE(back.Wait, -2);
        QCOMPARE(back.Dist, 500);
        QCOMPARE(devicePathForPort(ini(), 4), QStringLiteral("/dev/ttyUSB1"));
    }

    // The watch settings have a section of their own, read only: saving the
    // operator's settings neither writes them nor drops them.
    void checksAreReadFromTheirOwnSection() {
        const CheckSettings none = LoadCheckSettings(ini());
        QCOMPARE(none.SilenceS, 10);
        QCOMPARE(none.Beep, 1);
        QCOMPARE(none.MaxOffsetMs, 5);
        QCOMPARE(none.AutoResync, 0);
        write("[SP]\nSilenceS=3\n[checks]\nSilenceS=1\nBeep=0\nMaxOffsetMs=x\nAutoResync=1\n");
        CheckSettings c = LoadCheckSettings(ini());
        QCOMPARE(c.SilenceS, 1);
        QCOMPARE(c.Beep, 0);
        QCOMPARE(c.MaxOffsetMs, 5);
        QCOMPARE(c.AutoResync, 1);
        SaveSettings(ini(), LoadSettings(ini()));
        QVERIFY(!QString::fromUtf8(read(ini())).contains(QStringLiteral("MaxOffsetMs=5")));
        QCOMPARE(LoadCheckSettings(ini()).AutoResync, 1);
        write("[Checks]\nSilenceS=0\nMaxOffsetMs=-1\n");
        c = LoadCheckSettings(ini());
        QCOMPARE(c.SilenceS, 10);
        QCOMPARE(c.MaxOffsetMs, 5);
    }

    // Other programs on the station edit this file in the Japanese code page
    // with CRLF line ends; a save rewrites the ten keys and nothing else.
    void saveKeepsShiftJisAndCrlfByteForByte() {
        QStringEncoder sjis("Shift_JIS");
        QVERIFY(sjis.isValid());
        // "表" and "ソ" end in the byte of "\\", "ゾ" in that of "]": trail
        // bytes a byte-wise reader mistakes for ASCII.
        const QByteArray before = sjis.encode(QStringLiteral(
            "; 計測所の設定 表示ソフト\r\n[表示ゾーン]\r\n名前=山田 ソ\r\nボード=  大型\r\n\r\n"));
        const QByteArray spHead =
            sjis.encode(QStringLiteral("[SP]\r\nDist=500\r\n; 距離 (cm)\r\nExtra=残す\r\n"));
        const QByteArray after =
            sjis.encode(QStringLiteral("\r\n[Devices]\r\n; ポート\r\nCOM1=/dev/ttyUSB0\r\n"));
        write(before + spHead + after);

        Settings s = LoadSettings(ini());
        QCOMPARE(s.Dist, 500);
        s.Dist = 750;
        SaveSettings(ini(), s);

        const QByteArray sp = sjis.encode(QStringLiteral(
            "[SP]\r\nDist=750\r\n; 距離 (cm)\r\nExtra=残す\r\nPort1=1\r\nPort2=4\r\nPort3=5\r\n"
            "Wait=3\r\nRate=0\r\nDecid1=0\r\nDecid2=0\r\nResetint=300\r\nTimer2=0\r\n"));
        QCOMPARE(read(ini()), before + sp + after);
    }

    void saveOnFreshFolder() {
        SaveSettings(ini(), Settings());
        QCOMPARE(read(ini()),
                 QByteArray("[SP]\nPort1=1\nPort2=4\nPort3=5\nDist=10\nWait=3\nRate=0\n"
                            "Decid1=0\nDecid2=0\nResetint=300\nTimer2=0\n"));
        // A second save changes nothing.
        SaveSettings(ini(), LoadSettings(ini()));
        QCOMPARE(LoadSettings(ini()).Resetint, 300);
        QCOMPARE(read(ini()).count('\n'), 11);
    }

    void saveFailureNamesTheFileAndTheReason() {
        const QString bad = dir.filePath(QStringLiteral("missing-folder/Korvane.ini"));
        try {
            SaveSettings(bad, Settings());
            QFAIL("no error");
        } catch (const KorvaneError& e) {
            QCOMPARE(e.message(), bad + QStringLiteral(" に書き込めません: ") +
                                      QString::fromLocal8Bit(std::strerror(ENOENT)));
        }
    }

    void deviceMapping() {
        write("[Devices]\nCOM1=/dev/ttyUSB0\n");
        QCOMPARE(devicePathForPort(ini(), 1), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(devicePathForPort(ini(), 2), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(devicePathForPort(ini(), 9), QStringLiteral("/dev/ttyS8"));
    }

    void dataFolderFollowsXdg() {
        qputenv("XDG_DATA_HOME", "/srv/data");
        QCOMPARE(defaultDataDir(), QStringLiteral("/srv/data/Ostrel/Korvane"));
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(defaultDataDir(),
                 QDir::homePath() + QStringLiteral("/.local/share/Ostrel/Korvane"));
    }

    void strToIntRaisesTheFrameworkMessage() {
        QCOMPARE(StrToInt(QStringLiteral("42")), 42);
        QCOMPARE(StrToInt(QStringLiteral("$10")), 16);
        for (const QString& bad :
             {QStringLiteral(""), QStringLiteral("1 2"), QStringLiteral("abc")}) {
            try {
                StrToInt(bad);
                QFAIL("no error");
            } catch (const KorvaneError& e) {
                QCOMPARE(e.message(), QStringLiteral("'%1' は整数ではありません").arg(bad));
            }
        }
    }

    void iniEditKeepsCaseAndAddsMissingKeysInTheirSection() {
        write("[SP]\r\nPORT1=3\r\n\r\n[Devices]\r\nCOM3=/dev/x\r\n");
        IniFile f(ini());
        f.load();
        QCOMPARE(f.value("sp", "port1"), QStringLiteral("3"));
        f.setValue("SP", "Port1", "7");
        f.setValue("SP", "Dist", "20");
        QVERIFY(f.save());
        QCOMPARE(read(ini()),
                 QByteArray("[SP]\r\nPORT1=7\r\nDist=20\r\n\r\n[Devices]\r\nCOM3=/dev/x\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
