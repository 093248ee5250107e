// The review of a day's suspect attempts without a mouse: the real program on
// an X server of its own (Xvfb), driven with synthetic key presses (xdotool)
// as an operator's keyboard would, its results read from the data folder.
#include "KorvaneRun.h"

#include "Journal.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace e2e;

class TestKeyboard : public QObject {
    Q_OBJECT

    QProcess xvfb_;
    QString display_;

    // Runs xdotool on the test's display; false with its error in the log.
    bool xdo(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), args);
        if (!p.waitForFinished(20000) || p.exitCode() != 0) {
            qWarning() << "xdotool" << args << p.readAllStandardError();
            return false;
        }
        return true;
    }
    bool keys(const QStringList& names) {
        return xdo(
            QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60")} +
            names);
    }
    // Gives the keyboard to the visible window named `title` once it is there
    // (no window manager runs to do it).
    bool focusWindow(const QString& title) {
        return xdo({QStringLiteral("search"), QStringLiteral("--sync"),
                    QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                    QLatin1Char('^') + title + QLatin1Char('$'), QStringLiteral("windowfocus"),
                    QStringLiteral("--sync")});
    }

private slots:
    void initTestCase() {
        for (const char* tool : {"Xvfb", "xdotool"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QFAIL(qPrintable(QStringLiteral("%1 is missing: scripts/setup installs it")
                                     .arg(QString::fromLatin1(tool))));
        // The server picks a free display and writes its number when ready.
        xvfb_.start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("1024x768x24"),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QVERIFY(xvfb_.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(xvfb_.canReadLine(), 20000);
        display_ = QLatin1Char(':') + QString::fromLatin1(xvfb_.readLine().trimmed());
    }
    void cleanupTestCase() {
        xvfb_.terminate();
        xvfb_.waitForFinished(5000);
    }

    // From the menu to 履歴, the first suspect row accepted, the next one
    // rejected, the list exported: keys only.
    void reviewByKeyboardOnly() {
        QTemporaryDir dir;
        Track track;
        QVERIFY2(track.ok(), qPrintable(track.why()));
        KorvaneRun run(QStringLiteral(KORVANE_BIN), dir.path());
        run.setEnv(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        run.setEnv(QStringLiteral("DISPLAY"), display_);
        QVERIFY(run.writeIni("Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nTimer2=1",
                             track.devices(dir.path())));
        run.start();
        QVERIFY(run.waitStarted());
        QTRY_VERIFY2_WITH_TIMEOUT(boardOpenedAt(track.board, B2400), run.errors().constData(),
                                  20000);

        // A clean run, then two cars read twice on loop 2: two attempts to check.
        QVERIFY(track.dec1.send(passingLine("7", "1000.000")));
        QVERIFY(track.dec2.send(passingLine("7", "1000.500")));
        for (const QByteArray& car : {QByteArray("8"), QByteArray("9")}) {
            const double t = car == "8" ? 1100 : 1200;
            QVERIFY(track.dec1.send(passingLine(car, QByteArray::number(t, 'f', 3))));
            QVERIFY(track.dec2.send(passingLine(car, QByteArray::number(t + 0.5, 'f', 3))));
            QVERIFY(track.dec2.send(passingLine(car, QByteArray::number(t + 0.54, 'f', 3))));
        }
        const DbLook db(run.dbPath());
        const auto statusOf = [&](const char* car) {
            return db
                .value(QStringLiteral("select status from attempt where tpid=? order by id desc "
                                      "limit 1"),
                       {QString::fromLatin1(car)})
                .toString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(statusOf("9"), Journal::kSuspect, 20000);
        QCOMPARE(statusOf("8"), Journal::kSuspect);
        QCOMPARE(statusOf("7"), Journal::kOk);

        // F10 opens the menu bar; 履歴 is its seventh item. The page takes the
        // keys; F3 goes to the newest suspect row (car 9), Tab past the ID
        // filter and the reason to 承認.
        QVERIFY(focusWindow(QStringLiteral("Speed")));
        QVERIFY(keys({"F10", "Right", "Right", "Right", "Right", "Right", "Right", "Return", "F3",
                      "Tab", "Tab", "Tab", "space"}));
        QTRY_COMPARE_WITH_TIMEOUT(statusOf("9"), Journal::kAccepted, 10000);
        // The next suspect row (car 8), Tab from 承認 to 却下.
        QVERIFY(keys({"F3", "Tab", "space"}));
        QTRY_COMPARE_WITH_TIMEOUT(statusOf("8"), Journal::kRejected, 10000);

        // 却下 -> the section length -> range mode -> 訂正 -> CSV出力 (the
        // range's date fields count only in range mode).
        QVERIFY(keys({"Tab", "Tab", "Tab", "Tab", "space"}));
        QVERIFY(focusWindow(QStringLiteral("CSV出力")));
        const QString csv = dir.filePath(QStringLiteral("review.csv"));
        QVERIFY(
            xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), csv}));
        QVERIFY(keys({"Return"}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile(csv).size() > 0, 10000);
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        const int attempts = db.value(QStringLiteral("select count(*) from attempt")).toInt();
        QCOMPARE(text.count(QLatin1Char('\n')), 1 + attempts); // the heading and every attempt
        QVERIFY(text.contains(QStringLiteral("承認")) && text.contains(QStringLiteral("却下")));

        run.terminate();
        QVERIFY(run.waitFinished(15000));
    }
};

QTEST_GUILESS_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
