// The plausibility limits in section "Checks" of the settings file.
#include "Checks.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestSuspectChecks : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString ini() const { return dir.filePath(QStringLiteral("Korvane.ini")); }
    void write(const QByteArray& content) {
        QFile f(ini());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

private slots:
    void keysOfTheChecksSectionOnly() {
        // The same keys in another section are not the limits; other keys
        // of "Checks" belong to other readers and are passed over.
        write("[SP]\nMinKmh=7\nHoldSuspect=1\n"
              "[Checks]\nSilenceS=30\nMinKmh=3\nMaxKmh=250\nDoubleReadMs=800\nMaxSectionS="
              "20\nHoldSuspect=2\n");
        const SuspectChecks c = LoadSuspectChecks(ini());
        QCOMPARE(c.MinKmh, 3);
        QCOMPARE(c.MaxKmh, 250);
        QCOMPARE(c.DoubleReadMs, 800);
        QCOMPARE(c.MaxSectionS, 20);
        QCOMPARE(c.HoldSuspect, 1);
    }

    void missingOrBadKeysGiveTheDefaults_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("only SP") << QByteArray("[SP]\nMinKmh=7\nMaxKmh=9\nHoldSuspect=1\n");
        QTest::newRow("unconvertible")
            << QByteArray("[Checks]\nMinKmh=x\nMaxKmh=1.5\nDoubleReadMs=\n"
                          "MaxSectionS=6 0\nHoldSuspect=yes\n");
    }
    void missingOrBadKeysGiveTheDefaults() {
        QFETCH(QByteArray, content);
        QFile::remove(ini());
        if (!content.isEmpty())
            write(content);
        const SuspectChecks c = LoadSuspectChecks(ini());
        QCOMPARE(c.MinKmh, 1);
        QCOMPARE(c.MaxKmh, 500);
        QCOMPARE(c.DoubleReadMs, 500);
        QCOMPARE(c.MaxSectionS, 60);
        QCOMPARE(c.HoldSuspect, 0);
    }
};

QTEST_GUILESS_MAIN(TestSuspectChecks)
#include "tst_suspectchecks.moc"
