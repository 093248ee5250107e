// The road of a passing through the real main window, with pseudo-terminals
// in place of the two decoders and the board.
#include "DiskSpace.h"
#include "FullPortPause.h"
#include "Host.h"
#include "Peer.h"
#include "RecordingDialogs.h"
#include "Settings.h"
#include "SpeedViewRoom.h"
#include "Ukorvane.h"

#include "CommX.h"
#include "CuteBtn.h"
#include "Database.h"
#include "DeviceList.h"
#include "IniFile.h"
#include "SpeedTable.h"
#include "Spin.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSlider>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTime>
#include <QtTest>
#include <memory>

using PtyPeer = e2e::Peer;

namespace {

using e2e::passingLine;

QString columnOf(const QString& tpid, const QString& column) {
    Query q;
    q.setSql({"select * from speed where tpid=?"}, {tpid});
    q.open();
    return q.isEmpty() ? QStringLiteral("<none>") : q.asText(column);
}

QString speedOf(const QString& tpid) {
    return columnOf(tpid, QStringLiteral("speed"));
}

// Waits (the window working) until the PC's second is between fromMs and
// toMs old.
void waitUntilIntoSecond(int fromMs, int toMs) {
    for (int ms = QTime::currentTime().msec(); ms < fromMs || ms > toMs;
         ms = QTime::currentTime().msec())
        QTest::qWait(1);
}

} // namespace

class TestDecoderLink : public QObject {
    Q_OBJECT

    QTemporaryDir* dir = nullptr;
    std::unique_ptr<e2e::Track> track;
    PtyPeer* dec1 = nullptr;
    PtyPeer* dec2 = nullptr;
    PtyPeer* board = nullptr;
    RecordingDialogs* dialogs = nullptr;
    TFkorvane* w = nullptr;
    // The decoder watch's alarm and status page, found as the operator finds them.
    QLabel* alarm() const { return w->findChild<QLabel*>(QStringLiteral("AlarmLabel")); }
    void showStatusPage() { w->findChild<QAction*>(QStringLiteral("statusItem"))->trigger(); }

    void start(const QByteArray& sp) {
        QVERIFY(e2e::writeIni(dir->filePath("Korvane.ini"), sp, track->devices(dir->path())));
        w = new TFkorvane(dir->path());
        w->show();
        QCOMPARE(dialogs->errors, QStringList());
        QCOMPARE(dialogs->messages, QStringList());
        QVERIFY(w->CommX1->isOpen());
        QVERIFY(w->CommX2->isOpen());
        QVERIFY(w->CommX3->isOpen());
    }

private slots:
    void init() {
        dir = new QTemporaryDir;
        SpeedDb::open(dir->filePath("Korvane.db"));
        track = std::make_unique<e2e::Track>();
        dec1 = &track->dec1;
        dec2 = &track->dec2;
        board = &track->board;
        QVERIFY2(track->ok(), qPrintable(track->why()));
        dialogs = new RecordingDialogs;
    }
    void cleanup() {
        delete w;
        w = nullptr;
        delete dialogs;
        track.reset();
        SpeedDb::close();
        delete dir;
    }

    void protocolCommandAtStartUpAndClockCommandOnTheMeasurementPage() {
        start("Decid1=3\nDecid2=0\nTimer2=0");
        const QByteArray protocol("\x01?,3,0,37,0,7360452,\r\n");
        QTRY_COMPARE(dec1->received(), protocol);
        QCOMPARE(dec2->received(), QByteArray()); // no ID, no protocol command
        dec1->clear();

        // The measurement page sends the clock command on the next turn of
        // the PC's second, carrying that second; the window goes on working
        // meanwhile.
        waitUntilIntoSecond(400, 600);
        const int asked = QTime::currentTime().msecsSinceStartOfDay() / 1000;
        w->N2Click();
        QVERIFY(w->Timer2->Enabled());
        QVERIFY(w->Panel2->isVisible());
        QTRY_VERIFY(dec1->received().endsWith(",\r\n"));
        QTRY_VERIFY(dec2->received().endsWith(",\r\n"));
        const QByteArray line1 = dec1->received();
        QVERIFY2(line1.startsWith("\x01?,3,0,9,"), line1.constData());
        const int s = line1.mid(9, line1.size() - 12).toInt();
        QCOMPARE(s, (asked + 1) % 86400);
        QCOMPARE(dec2->received(), "\x01?,0,0,9," + QByteArray::number(s) + ",\r\n");
        QCOMPARE(w->Edit10->text(),
                 QString::fromLatin1("?,3,0,9," + QByteArray::number(s) + ",\r\n"));
        QVERIFY(w->Panel2->isVisible());
        QTRY_VERIFY(!w->Panel2->isVisible());

        // Page 5 keeps the periodic command; page 3 stops it.
        w->Var1Click();
        QVERIFY(w->Timer2->Enabled());
        w->N3Click();
        QVERIFY(!w->Timer2->Enabled());

        dec1->clear();
        dec2->clear();
        w->CuteButton3->click(); // "Pro. change": only decoders with an ID
        QTRY_COMPARE(dec1->received(), protocol);
        QCOMPARE(dec2->received(), QByteArray());
    }

    // The periodic command keeps to the turn of the second, a whole period
    // apart, however the period began.
    void thePeriodicClockCommandKeepsToTheTurnOfTheSecond() {
        start("Decid1=3\nDecid2=0\nTimer2=0\nResetint=1");
        QTRY_VERIFY(dec1->received().endsWith("\r\n")); // the protocol command
        dec1->clear();
        waitUntilIntoSecond(400, 600);
        w->N2Click();
        QList<int> seconds;
        QElapsedTimer t;
        t.start();
        while (seconds.size() < 4 && t.elapsed() < 8000) {
            QTest::qWait(1);
            const QByteArray got = dec1->received();
            if (!got.endsWith("\r\n"))
                continue;
            const int into = QTime::currentTime().msec();
            dec1->clear();
            QVERIFY2(got.startsWith("\x01?,3,0,9,"), got.constData());
            // Seen a little after it went out; under load a little later.
            QVERIFY2(into < 300, qPrintable(QString::number(into)));
            seconds << got.mid(9, got.size() - 12).toInt();
        }
        QCOMPARE(seconds.size(), 4);
        for (int i = 1; i < seconds.size(); ++i)
            QCOMPARE(seconds.at(i), (seconds.at(i - 1) + 1) % 86400);
    }

    void passingsBecomeASpeedOnScreenOnTheBoardAndInTheTable() {
        start("Dist=500\nWait=0");
        // Two lines in one chunk on loop 1 (the second one of another car),
        // a line split across chunks on loop 2 with the CR ending a chunk.
        dec1->send(passingLine("1234", "100.000") + passingLine("55", "7"));
        QTRY_COMPARE(speedOf("1234"), QString());
        dec2->send(passingLine("1234", "101.234").chopped(1));
        QTest::qWait(50);
        dec2->send("\n");
        QTRY_COMPARE(board->received(), QByteArray("         1 45 86       .\r"));
        QTRY_COMPARE(speedOf("1234"), QStringLiteral("14.586"));
        QCOMPARE(w->Label1->text(), QStringLiteral("14.586 Km/h"));
        QCOMPARE(w->Label6->text(), QStringLiteral("1234"));
        QCOMPARE(memoLines(w->Memo1).size(), 2);
        QCOMPARE(memoLines(w->Memo1).first(),
                 QString::fromLatin1(passingLine("1234", "100.000").chopped(2)));
        QVERIFY(memoLines(w->Memo3).filter("/1").size() >= 2);
        QVERIFY(memoLines(w->Memo3).filter("/2").size() == 1);
        QVERIFY(memoLines(w->Memo3).filter("/timer").size() >= 1);
    }

    void heldSuspectAttemptsReachNeitherScreenNorBoardNorBest() {
        // Double reads here are two lines of one chunk; passings the test
        // sends one after another are further apart than 20 ms.
        start("Dist=500\nWait=0\n[Checks]\nHoldSuspect=1\nDoubleReadMs=20");
        const auto attempts = [] {
            QSqlQuery q(SpeedDb::database());
            q.exec("select a.status, a.flags, a.speed_text, p1.time, p2.time from attempt a "
                   "left join passing p1 on p1.id=a.passing1 left join passing p2 on "
                   "p2.id=a.passing2 order by a.id");
            QStringList out;
            while (q.next())
                out << QStringList{q.value(0).toString(), q.value(1).toString(),
                                   q.value(2).toString(), q.value(3).toString(),
                                   q.value(4).toString()}
                           .join('/');
            return out.join(' ');
        };
        // First seen on loop 2: about 0 km/h, no measurement, only kept.
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        dec2->send(passingLine("9", "50.0"));
        QTRY_COMPARE(columnOf("9", "sumi"), QStringLiteral("1"));
        QCOMPARE(attempts(), QStringLiteral("unmeasured/5/0.36//50"));
        QCOMPARE(speedOf("9"), QStringLiteral("0"));
        {
            // The journal keeps the line's bytes and when the PC got them.
            QSqlQuery q(SpeedDb::database());
            QVERIFY(q.exec("select raw, received_ms, loop from passing") && q.next());
            QCOMPARE(q.value(0).toByteArray(), passingLine("9", "50.0").chopped(2));
            QVERIFY(q.value(1).toLongLong() >= before &&
                    q.value(1).toLongLong() <= QDateTime::currentMSecsSinceEpoch());
            QCOMPARE(q.value(2).toInt(), 2);
        }
        // A plain lap is shown, sent and counted.
        dec1->send(passingLine("9", "60.0"));
        QTRY_COMPARE(columnOf("9", "time1"), QStringLiteral("60"));
        dec2->send(passingLine("9", "61.0"));
        QTRY_COMPARE(board->received(), QByteArray("         1 80 00       .\r"));
        QTRY_COMPARE(speedOf("9"), QStringLiteral("18"));
        QCOMPARE(attempts(), QStringLiteral("unmeasured/5/0.36//50 ok/0/18/60/61"));
        // A double read on loop 1 makes the next lap faster on paper: kept,
        // flagged and held back.
        dec1->send(passingLine("9", "61.5") + passingLine("9", "61.6"));
        QTRY_COMPARE(columnOf("9", "time1"), QStringLiteral("61.6"));
        dec2->send(passingLine("9", "61.9"));
        QTRY_COMPARE(attempts().count(' '), 2);
        QCOMPARE(attempts().section(' ', 2), QStringLiteral("suspect/8/60.000/61.6/61.9"));
        QCOMPARE(columnOf("9", "sumi"), QStringLiteral("1"));
        QCOMPARE(speedOf("9"), QStringLiteral("18"));
        QCOMPARE(w->Label1->text(), QStringLiteral("18 Km/h"));
        QCOMPARE(board->received(), QByteArray("         1 80 00       .\r"));
        // The speed view shows what the board shows: the plain lap alone.
        const auto* view = w->host().room<SpeedViewRoom>();
        QVERIFY(view);
        QCOMPARE(view->recent().size(), 1);
        QCOMPARE(view->recent().first().tpid, QStringLiteral("9"));
        QCOMPARE(view->recent().first().speedText, QStringLiteral("18"));
    }

    void monitorKeepsTheLatestEighteenLines() {
        start("Wait=0");
        QByteArray lines;
        for (int i = 1; i <= 40; ++i)
            lines += "line " + QByteArray::number(i) + "\r\n";
        dec2->send(lines);
        QTRY_VERIFY(memoLines(w->Memo2).contains("line 40"));
        const QStringList shown = memoLines(w->Memo2);
        QCOMPARE(shown.size(), 18);
        QCOMPARE(shown.first(), QStringLiteral("line 23"));
    }

    void monitorLosesOneLinePerLineAndShowsNoLeftoverLf() {
        start("Wait=0");
        // 20 lines typed by the operator: each received line takes one.
        QStringList typed;
        for (int i = 1; i <= 20; ++i)
            typed << QStringLiteral("typed %1").arg(i);
        w->Memo2->setPlainText(typed.join('\n'));
        dec2->send("a\r\nb\r");
        QTRY_VERIFY(memoLines(w->Memo2).contains("b"));
        // The LF of b's CR comes with the next chunk.
        dec2->send("\nc\r\n");
        QTRY_VERIFY(memoLines(w->Memo2).contains("c"));
        QCOMPARE(memoLines(w->Memo2), typed.mid(3) + QStringList({"a", "b", "c"}));
    }

    void decoderInputGoesOnAfterADatabaseError() {
        start("Wait=0");
        w->Timer1->setEnabled(false); // only the decoder input meets the missing table
        {
            QSqlQuery q(SpeedDb::database());
            QVERIFY(q.exec("alter table speed rename to speed_away"));
        }
        dec1->send(passingLine("9", "1"));
        QTRY_COMPARE(dialogs->errors.size(), 1);
        {
            QSqlQuery q(SpeedDb::database());
            QVERIFY(q.exec("alter table speed_away rename to speed"));
        }
        dec1->send(passingLine("10", "2"));
        QTRY_COMPARE(speedOf("10"), QString()); // stored: the guards came back
        QCOMPARE(w->RecvReady1, 1);
        QCOMPARE(w->RecvReady2, 1);
    }

    void aSpeedWhoseMarkCannotBeStoredGoesToTheBoardOnce() {
        start("Dist=500\nWait=0");
        dec1->send(passingLine("A", "10"));
        QTRY_COMPARE(columnOf("A", "sumi"), QStringLiteral("1"));
        // The table still takes passings but no processed mark, as when the
        // disk fills between the two.
        QSqlQuery q(SpeedDb::database());
        QVERIFY(q.exec("create temp trigger no_room before update of sumi on speed "
                       "when new.sumi='1' begin select raise(abort, 'database or disk is full'); "
                       "end"));
        dec2->send(passingLine("A", "10.5"));
        const QByteArray lineA("         3 60 00       .\r"); // 36 km/h
        QTRY_COMPARE(board->received(), lineA);
        QTRY_COMPARE(dialogs->errors.size(), 1);
        // Past the time a failed run is retried after: the row is not
        // measured and sent again.
        QTest::qWait(2500);
        QCOMPARE(board->received(), lineA);
        QCOMPARE(columnOf("A", "sumi"), QStringLiteral("0"));

        QVERIFY(q.exec("drop trigger no_room"));
        dec1->send(passingLine("B", "20"));
        dec2->send(passingLine("B", "20.25"));
        QTRY_COMPARE(board->received(), lineA + QByteArray("         7 20 00       .\r"));
        QTRY_COMPARE(columnOf("B", "sumi"), QStringLiteral("1"));
        QCOMPARE(columnOf("A", "sumi"), QStringLiteral("1"));
        QCOMPARE(speedOf("A"), QStringLiteral("36"));
        QVERIFY(q.exec("select tpid, count(*) from attempt group by tpid order by tpid"));
        QStringList attempts;
        while (q.next())
            attempts << q.value(0).toString() + QLatin1Char(':') + q.value(1).toString();
        QCOMPARE(attempts, QStringList({"A:1", "B:1"}));
        QCOMPARE(dialogs->errors.size(), 1);
    }

    void theStatusPageWarnsBeforeTheDataFolderIsFull() {
        start("Wait=0");
        qint64 free = 40ll << 20;
        diskspace::setProbe(
            [&](const QString& folder) { return folder == dir->path() ? free : -1; });
        const auto restore = qScopeGuard([] { diskspace::setProbe({}); });
        auto* inter = w->findChild<QLabel*>(QStringLiteral("StatusInter"));
        QVERIFY(inter);
        showStatusPage();
        QVERIFY2(inter->text().contains(QStringLiteral("空き 40 MB（50 MB 未満")),
                 qPrintable(inter->text()));
        free = 60ll << 20;
        showStatusPage();
        QVERIFY2(inter->text().contains(QStringLiteral("空き 60 MB")) &&
                     !inter->text().contains(QStringLiteral("未満")),
                 qPrintable(inter->text()));
    }

    void aPortPauseHoldsMeasuringAndDecoderInputUntilItEnds() {
        start("Dist=500\nWait=0\nRate=0");
        // The passing sent 100 ms into the pause finds it still running.
        const FullPortPause fullPause;
        // A pair that falls due while the board is being reopened for a new
        // bit rate, and a passing that arrives during that pause.
        w->Timer1->setEnabled(false);
        dec1->send(passingLine("P", "10"));
        dec2->send(passingLine("P", "10.5"));
        QTRY_COMPARE(columnOf("P", "time2"), QStringLiteral("10.5"));
        const QString shown = w->Label1->text();
        w->Timer1->setEnabled(true);
        QTimer::singleShot(100, w, [this] { dec2->send(passingLine("Q", "20")); });
        w->RGrate->setItemIndex(1); // closes the board, pauses, reopens at 9600
        QVERIFY(w->CommX3->isOpen());
        QCOMPARE(w->Label1->text(), shown); // nothing measured inside the pause
        QCOMPARE(columnOf("Q", "time2"), QStringLiteral("<none>")); // nothing stored inside it
        QTRY_VERIFY(board->received().startsWith("         3 60 00       .\r"));
        QTRY_COMPARE(columnOf("Q", "time2"), QStringLiteral("20"));
        QCOMPARE(w->RecvReady1, 1);
        QVERIFY(w->Timer1->Enabled() || w->holding());
    }

    void passingsThatCannotBeStoredWaitInOrderUntilTheDatabaseTakesThem() {
        start("Wait=0");
        w->Timer1->setEnabled(false); // only decoder input writes
        QSqlQuery q(SpeedDb::database());
        QVERIFY(q.exec("pragma page_count") && q.next());
        const int pages = q.value(0).toInt();
        // Full: IDs this long need pages of their own.
        QVERIFY(q.exec(QStringLiteral("pragma max_page_count=%1").arg(pages)));
        const QByteArray a(5000, 'a'), b(5000, 'b'), c(5000, 'c');
        // While the box is open the loop goes on reading: the box does not
        // hold the port's worker.
        bool readWhileBoxOpen = false;
        dialogs->onError = [&] {
            dec1->send(passingLine(b, "2") + passingLine(c, "3"));
            readWhileBoxOpen =
                QTest::qWaitFor([&] { return memoLines(w->Memo1).size() == 3; }, 5000);
        };
        dec1->send(passingLine(a, "1"));
        QTRY_COMPARE(dialogs->errors.size(), 1);
        QVERIFY(readWhileBoxOpen);
        QCOMPARE(columnOf(QString::fromLatin1(a), "time1"), QStringLiteral("<none>"));
        QVERIFY(q.exec(QStringLiteral("pragma max_page_count=%1").arg(pages + 1000)));
        QTRY_COMPARE(columnOf(QString::fromLatin1(c), "time1"), QStringLiteral("3"));
        QCOMPARE(columnOf(QString::fromLatin1(a), "time1"), QStringLiteral("1"));
        QCOMPARE(columnOf(QString::fromLatin1(b), "time1"), QStringLiteral("2"));
        QCOMPARE(dialogs->errors.size(), 1); // once for the whole streak
        QCOMPARE(memoLines(w->Memo3).filter(QString::fromUtf8("3 件")).size(), 1);
    }

    void theHoldKeepsTheWindowWorking() {
        start("Dist=500\nWait=30");
        dec1->send(passingLine("A", "10"));
        dec2->send(passingLine("A", "10.5"));
        QTRY_COMPARE(w->Label1->text(), QStringLiteral("36 Km/h"));
        QVERIFY(w->holding());
        // During the hold, passings are stored as they arrive, and the shown
        // speed stays.
        dec1->send(passingLine("B", "20"));
        dec2->send(passingLine("B", "21"));
        QTRY_COMPARE(columnOf("B", "time1"), QStringLiteral("20"));
        QTRY_COMPARE(columnOf("B", "time2"), QStringLiteral("21"));
        QCOMPARE(w->Label1->text(), QStringLiteral("36 Km/h"));
        // The hidden button switches measuring back on at once.
        w->Button2Click();
        QTRY_COMPARE(w->Label6->text(), QStringLiteral("B"));
        QCOMPARE(w->Label1->text(), QStringLiteral("18 Km/h"));
    }

    // A result comes as soon as its row is complete, but two results are
    // never closer than the measuring period (300 ms) plus Wait, and the
    // oldest loop-2 time goes first. The runs are timed as they start (each
    // notes "/timer" in Memo3), with the row each one takes.
    void resultsNeverCloserThanThePeriodPlusWait_data() {
        QTest::addColumn<int>("wait");
        QTest::newRow("Wait 0") << 0;
        QTest::newRow("Wait 1") << 1;
    }
    void resultsNeverCloserThanThePeriodPlusWait() {
        QFETCH(int, wait);
        for (const char* id : {"A", "B", "C", "D"})
            execSql({"insert into speed (tpid,time1,speed,sumi) values (?,100,'0','1')"},
                    {QString::fromLatin1(id)});
        start("Dist=500\nWait=" + QByteArray::number(wait));
        QElapsedTimer clock;
        clock.start();
        QList<qint64> at;
        QStringList taken;
        connect(w->Memo3->document(), &QTextDocument::blockCountChanged, w, [&] {
            if (!w->Memo3->document()->lastBlock().text().endsWith("/timer"))
                return;
            at << clock.elapsed();
            const auto head = SpeedTable::nextPending();
            taken << (head ? head->tpid : QStringLiteral("<none>"));
        });
        dec2->send(passingLine("A", "101"));
        QTRY_VERIFY(board->received().endsWith('\r'));
        // Right after a result: B and C wait for the spacing, C first (its
        // loop-2 time is older although its line came second).
        dec2->send(passingLine("B", "104") + passingLine("C", "102"));
        QTRY_COMPARE_WITH_TIMEOUT(taken.size(), 3, 10000);
        QTRY_COMPARE(columnOf("B", "sumi"), QStringLiteral("1"));
        QTest::qWait(300 + 1000 * wait);
        dec2->send(passingLine("D", "103"));
        QTRY_COMPARE_WITH_TIMEOUT(taken.size(), 4, 10000);
        QTRY_COMPARE(board->received().count('\r'), 4);
        QCOMPARE(taken, (QStringList{"A", "C", "B", "D"}));
        for (int i = 1; i < at.size(); ++i)
            QVERIFY2(at[i] - at[i - 1] >= 300 + 1000 * wait,
                     qPrintable(QStringLiteral("runs %1 ms apart").arg(at[i] - at[i - 1])));
        QCOMPARE(columnOf("D", "speed"), QStringLiteral("6"));
    }

    void testPatternsAndBrightness() {
        start("Wait=0");
        w->CuteButton29->click(); // "All 8"
        QTRY_COMPARE(board->received(),
                     QByteArray("H        88:88:88.88 88\rL888     88:88:88.88 88\r"
                                "888     88:88:88.88 88\r"));
        board->clear();
        w->TBarbright->setValue(9);
        w->CuteButton2->click();                     // "Set"
        QVERIFY(!board->received().contains("888")); // the two test lines follow 200 ms apart
        QTRY_COMPARE(board->received(),
                     QByteArray("K    9\r888     88:88:88.88 88\rL888     88:88:88.88 88\r"));
    }

    void aBrightnessSequenceStaysTogetherAndQueuesWhatComesMeanwhile() {
        start("Dist=500\nWait=0");
        w->Timer1->setEnabled(false);
        dec1->send(passingLine("P", "10"));
        dec2->send(passingLine("P", "10.5"));
        QTRY_COMPARE(columnOf("P", "time2"), QStringLiteral("10.5"));
        // Two presses in a row, and a speed that falls due while they run.
        w->TBarbright->setValue(9);
        w->CuteButton2->click();
        w->TBarbright->setValue(3);
        w->CuteButton2->click();
        w->Timer1->setEnabled(true);
        const QByteArray eights("888     88:88:88.88 88\rL888     88:88:88.88 88\r");
        const QByteArray expected =
            "K    9\r" + eights + "K    3\r" + eights + "         3 60 00       .\r";
        QTRY_COMPARE(board->received(), expected);
        QCOMPARE(w->Label1->text(), QStringLiteral("36 Km/h"));
    }

    void nothingGoesToTheBoardWithoutABoardPort() {
        start("Wait=0");
        w->RGport3->setItemIndex(0);
        QVERIFY(!w->CommX3->isOpen());
        QCOMPARE(w->settings().Port3, 0);
        for (TCuteButton* b :
             {w->CuteButton28, w->CuteButton29, w->CuteButton58, w->CuteButton61, w->CuteButton2})
            b->click();
        QTest::qWait(500);
        QCOMPARE(board->received(), QByteArray());
    }

    // Noise without a CR is no line: the loop counts as silent, the alarm
    // is on every page and in the event log, and the next line clears it.
    void aSilentDecoderRaisesTheAlarmUntilItsNextLine() {
        start("Wait=0\n[Checks]\nSilenceS=1\nBeep=0");
        QVERIFY(dec1->send("garbage without an end"));
        QTRY_VERIFY(alarm()->isVisible() &&
                    alarm()->text().contains(QStringLiteral("ループ1 無信号")));
        QCOMPARE(alarm()->grab().toImage().pixelColor(1, 1), QColor(204, 0, 0));
        QVERIFY(!memoLines(w->Memo3).filter(QStringLiteral("ループ1 無信号")).isEmpty());
        QVERIFY(dec1->send("\r\n#\t1\t\r\n"));
        QTRY_VERIFY(!alarm()->text().contains(QStringLiteral("ループ1")));
        QVERIFY(!memoLines(w->Memo3).filter(QStringLiteral("ループ1 受信再開")).isEmpty());
        showStatusPage();
        QTRY_VERIFY(w->host()
                        .page(QStringLiteral("status"))
                        ->findChild<QLabel*>(QStringLiteral("StatusValues1"))
                        ->text()
                        .startsWith(QStringLiteral("受信中\n")));
    }

    // Clocks further apart than the limit: one clock command (the button's),
    // and no second one while the excursion lasts.
    void clocksApartAreSetOncePerExcursion() {
        start("Wait=0\nDecid1=3\nDecid2=12\n[Checks]\nMaxOffsetMs=5\nAutoResync=1\nBeep=0");
        QTRY_VERIFY(dec1->received().endsWith(",\r\n"));
        dec1->clear();
        dec2->clear();
        const auto sendApart = [&] {
            const int shown = int(memoLines(w->Memo2).size());
            for (int i = 0; i < 3; ++i) {
                const double now = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
                QVERIFY(dec1->send(
                    passingLine(QByteArray::number(900 + i), QByteArray::number(now, 'f', 3))));
                QVERIFY(dec2->send(passingLine(QByteArray::number(900 + i),
                                               QByteArray::number(now - 0.1, 'f', 3))));
                QTRY_COMPARE(int(memoLines(w->Memo2).size()), shown + i + 1);
            }
        };
        sendApart();
        QTRY_VERIFY(dec1->received().startsWith("\x01?,3,0,9,"));
        QTRY_VERIFY(dec2->received().startsWith("\x01?,12,0,9,"));
        QVERIFY(alarm()->text().contains(QStringLiteral("時計差")));
        dec1->clear();
        dec2->clear();
        sendApart(); // still apart: the command is not sent again
        QTest::qWait(300);
        QCOMPARE(dec1->received() + dec2->received(), QByteArray());
    }

    // A port that does not open keeps the operator's choice (it is retried
    // in the background); only a choice of "none" clears the number.
    void aPortThatCannotBeOpenedKeepsTheOperatorsChoice() {
        start("Wait=0");
        w->RGport1->setItemIndex(2); // COM2 points at a device that does not exist
        QCOMPARE(dialogs->messages,
                 QStringList({QStringLiteral("取り込みポート１は開けませんでした。")}));
        QVERIFY2(dialogs->details.last().contains(dir->filePath("missing-device")),
                 qPrintable(dialogs->details.last()));
        QCOMPARE(w->RGport1->ItemIndex(), 2);
        QCOMPARE(w->settings().Port1, 2);
        QVERIFY(!w->CommX1->isOpen());
        // The alarm names the loop and the reason, and stays while the port
        // does not open.
        QTest::qWait(1100);
        QVERIFY2(alarm()->text().contains(QStringLiteral("ループ1 ポート異常（")) &&
                     alarm()->text().contains(QStringLiteral("missing-dev")),
                 qPrintable(alarm()->text()));

        w->RGport3->setItemIndex(2);
        QCOMPARE(dialogs->messages.last(), QStringLiteral("出力ポートは開けませんでした。"));
        QCOMPARE(w->settings().Port3, 2);
        QVERIFY(alarm()->text().contains(QStringLiteral("出力ポート 異常（")));
        // The retries that follow raise no box.
        QTest::qWait(2500);
        QCOMPARE(dialogs->messages.size(), 2);

        w->RGport3->setItemIndex(0);
        QTRY_VERIFY(!alarm()->text().contains(QStringLiteral("出力ポート")));
        w->close();
        QCOMPARE(LoadSettings(dir->filePath("Korvane.ini")).Port1, 2);
        QCOMPARE(LoadSettings(dir->filePath("Korvane.ini")).Port3, 0);
    }

    // Three ports that do not open at start: one box, once the window is
    // up, a line for each (device and reason); the retries add none.
    void portFailuresAtStartAreToldInOneBoxAfterTheWindowIsShown() {
        QVERIFY(e2e::writeIni(dir->filePath("Korvane.ini"), "Port1=2\nPort2=2\nPort3=2\nWait=0",
                              track->devices(dir->path())));
        w = new TFkorvane(dir->path());
        w->show();
        QCOMPARE(dialogs->messages, QStringList()); // none while the window is being shown
        QTRY_COMPARE(dialogs->messages, QStringList({QStringLiteral("ポートを開けません")}));
        const QStringList lines = dialogs->details.first().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        const QString missing = dir->filePath("missing-device");
        QVERIFY2(lines[0].startsWith(QStringLiteral("ループ1")) && lines[0].contains(missing),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith(QStringLiteral("ループ2")) && lines[1].contains(missing),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].startsWith(QStringLiteral("出力ポート")) && lines[2].contains(missing),
                 qPrintable(lines[2]));
        QTest::qWait(2500);
        QCOMPARE(dialogs->messages.size(), 1);
        QCOMPARE(w->settings().Port1, 2);
        QCOMPARE(w->settings().Port3, 2);
    }

    // An adapter pulled and put back, as a pseudo-terminal hung up and a new
    // one behind the same device path: the port opens again by itself with
    // the steps that follow an opening, the alarm clears, and what arrives
    // then is taken as usual. The window keeps running meanwhile.
    void aPulledAdapterIsOpenedAgainWhenItIsBack() {
        auto loop1 = std::make_unique<PtyPeer>();
        auto display = std::make_unique<PtyPeer>();
        QVERIFY(loop1->ok() && display->ok());
        const QString link1 = dir->filePath("by-id-loop1");
        const QString link3 = dir->filePath("by-id-board");
        QVERIFY(QFile::link(loop1->path(), link1));
        QVERIFY(QFile::link(display->path(), link3));
        QVERIFY(e2e::writeIni(dir->filePath("Korvane.ini"), "Dist=500\nWait=0\nDecid1=3",
                              {{1, link1}, {4, dec2->path()}, {5, link3}}));
        w = new TFkorvane(dir->path());
        w->show();
        const QByteArray protocol("\x01?,3,0,37,0,7360452,\r\n");
        QTRY_COMPARE(loop1->received(), protocol);

        qint64 longestGap = 0;
        QElapsedTimer sinceTick;
        sinceTick.start();
        QTimer ticker;
        connect(&ticker, &QTimer::timeout,
                [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
        ticker.start(20);
        const auto replug = [&](std::unique_ptr<PtyPeer>& peer, const QString& link) {
            peer.reset(); // hang-up
            peer = std::make_unique<PtyPeer>();
            QVERIFY(peer->ok());
            QVERIFY(QFile::remove(link));
            QVERIFY(QFile::link(peer->path(), link));
        };

        replug(loop1, link1);
        const auto told = [&](const char* what) {
            return !memoLines(w->Memo3).filter(QString::fromUtf8(what)).isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(told("ループ1 再接続"), 3000);
        QVERIFY(w->CommX1->isOpen() && !w->CommX1->deviceLost());
        QTRY_COMPARE(loop1->received(), protocol);
        QTRY_VERIFY(!alarm()->text().contains(QStringLiteral("ループ1")));
        display->clear();
        QVERIFY(loop1->send(passingLine("31", "100.000")));
        QVERIFY(dec2->send(passingLine("31", "101.234")));
        QTRY_COMPARE(speedOf(QStringLiteral("31")), QStringLiteral("14.586"));
        QTRY_VERIFY(!display->received().isEmpty()); // the board kept its port

        replug(display, link3);
        QTRY_VERIFY_WITH_TIMEOUT(told("出力ポート 再接続"), 3000);
        QVERIFY(w->CommX3->isOpen() && !w->CommX3->deviceLost());
        QVERIFY(told("出力ポート 異常"));
        QTRY_VERIFY(!alarm()->text().contains(QStringLiteral("出力ポート")));
        QVERIFY(loop1->send(passingLine("32", "200.000")));
        QVERIFY(dec2->send(passingLine("32", "201.234")));
        QTRY_COMPARE(display->received(), QByteArray("         1 45 86       .\r"));
        QVERIFY2(longestGap < 1000, qPrintable(QString::number(longestGap)));
    }

    // The settings page's device picker: what it offers (stable names first,
    // readable, nothing twice, only the ttyS devices that open), and the
    // choice written for the group's port number and opened at once.
    void theDevicePickerOffersTheDevicesAndOpensTheChoice() {
        const QString dev = dir->filePath("dev");
        QVERIFY(QDir().mkpath(dev + "/serial/by-id"));
        for (const char* name : {"ttyUSB0", "ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1"}) {
            QFile f(dev + '/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(dev + "/ttyUSB2",
                            dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ABCD-if00-port0"));
        QVERIFY(QFile::link(dev + "/ttyUSB9", dev + "/serial/by-id/usb-Gone_Adapter-if00-port0"));
        const QList<SerialDeviceEntry> list =
            listSerialDevices(dev, [](const QString& path) { return path.endsWith("ttyS1"); });
        QStringList paths, labels;
        for (const SerialDeviceEntry& e : list) {
            paths << e.path;
            labels << e.label;
        }
        QCOMPARE(
            paths,
            QStringList({dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ABCD-if00-port0",
                         dev + "/ttyUSB0", dev + "/ttyUSB10", dev + "/ttyACM0", dev + "/ttyS1"}));
        QCOMPARE(labels.first(), QStringLiteral("FTDI FT232R USB UART A600ABCD (ttyUSB2)"));

        start("Wait=0\nDecid1=3");
        const QByteArray protocol("\x01?,3,0,37,0,7360452,\r\n");
        QTRY_COMPARE(dec1->received(), protocol);
        PtyPeer other;
        QVERIFY(other.ok());
        QString current;
        w->findChild<DevicePicker*>()->choose = [&](QWidget*, const QList<SerialDeviceEntry>&,
                                                    const QString& now) {
            current = now;
            return other.path();
        };
        w->TabSheet3->findChild<QPushButton*>(QStringLiteral("DevicePick1"))->click();
        QCOMPARE(current, dec1->path());
        QTRY_COMPARE(other.received(), protocol);
        QVERIFY(w->CommX1->isOpen());
        IniFile ini(dir->filePath("Korvane.ini"));
        ini.load();
        QCOMPARE(ini.value(QStringLiteral("Devices"), QStringLiteral("COM1")), other.path());
        QCOMPARE(ini.value(QStringLiteral("Devices"), QStringLiteral("COM4")), dec2->path());
    }
};

int main(int argc, char** argv) {
    KorvaneApplication app(argc, argv);
    TestDecoderLink t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_decoderlink.moc"
