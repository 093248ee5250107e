// The road of a passing through the real main window, with pseudo-terminals
// in place of the two decoders and the board.
#include "FullPortPause.h"
#include "Peer.h"
#include "RecordingDialogs.h"
#include "Settings.h"
#include "Ukorvane.h"

#include "CommX.h"
#include "CuteBtn.h"
#include "Database.h"
#include "SpeedTable.h"
#include "Spin.h"

#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
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

        const int before = QTime::currentTime().msecsSinceStartOfDay() / 1000;
        w->N2Click(); // the measurement page sends the clock command at once
        const int after = QTime::currentTime().msecsSinceStartOfDay() / 1000;
        QVERIFY(w->Timer2->Enabled());
        QTRY_VERIFY(dec1->received().endsWith(",\r\n"));
        QTRY_VERIFY(dec2->received().endsWith(",\r\n"));
        const QByteArray line1 = dec1->received();
        QVERIFY2(line1.startsWith("\x01?,3,0,9,"), line1.constData());
        const int s = line1.mid(9, line1.size() - 12).toInt();
        QVERIFY(s >= before && s <= after);
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
        // First seen on loop 2: about 0 km/h, kept as suspect, held back.
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        dec2->send(passingLine("9", "50.0"));
        QTRY_COMPARE(columnOf("9", "sumi"), QStringLiteral("1"));
        QCOMPARE(attempts(), QStringLiteral("suspect/5/0.36//50"));
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
        QCOMPARE(attempts(), QStringLiteral("suspect/5/0.36//50 ok/0/18/60/61"));
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
        QTRY_VERIFY(w->AlarmLabel->isVisible() &&
                    w->AlarmLabel->text().contains(QStringLiteral("ループ1 無信号")));
        QCOMPARE(w->AlarmLabel->grab().toImage().pixelColor(1, 1), QColor(204, 0, 0));
        QVERIFY(!memoLines(w->Memo3).filter(QStringLiteral("ループ1 無信号")).isEmpty());
        QVERIFY(dec1->send("\r\n#\t1\t\r\n"));
        QTRY_VERIFY(!w->AlarmLabel->text().contains(QStringLiteral("ループ1")));
        QVERIFY(!memoLines(w->Memo3).filter(QStringLiteral("ループ1 受信再開")).isEmpty());
        w->N7Click();
        QTRY_VERIFY(w->TabSheet7->findChild<QLabel*>(QStringLiteral("StatusValues1"))
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
        QVERIFY(w->AlarmLabel->text().contains(QStringLiteral("時計差")));
        dec1->clear();
        dec2->clear();
        sendApart(); // still apart: the command is not sent again
        QTest::qWait(300);
        QCOMPARE(dec1->received() + dec2->received(), QByteArray());
    }

    void aPortThatCannotBeOpenedFallsBackToNone() {
        start("Wait=0");
        w->RGport1->setItemIndex(2); // COM2 points at a device that does not exist
        QCOMPARE(dialogs->messages,
                 QStringList({QStringLiteral("取り込みポート１は開けませんでした。")}));
        QVERIFY2(dialogs->details.last().contains(dir->filePath("missing-device")),
                 qPrintable(dialogs->details.last()));
        QCOMPARE(w->RGport1->ItemIndex(), 0);
        QCOMPARE(w->settings().Port1, 0);
        QVERIFY(!w->CommX1->isOpen());
        // The alarm names the loop and the reason, and stays after the
        // fallback to no port.
        QTest::qWait(1100);
        QVERIFY2(w->AlarmLabel->text().contains(QStringLiteral("ループ1 ポート異常（")) &&
                     w->AlarmLabel->text().contains(QStringLiteral("missing-dev")),
                 qPrintable(w->AlarmLabel->text()));

        w->RGport3->setItemIndex(2);
        QCOMPARE(dialogs->messages.last(), QStringLiteral("出力ポートは開けませんでした。"));
        QCOMPARE(w->settings().Port3, 0);
        w->close();
        QCOMPARE(LoadSettings(dir->filePath("Korvane.ini")).Port1, 0);
        QCOMPARE(LoadSettings(dir->filePath("Korvane.ini")).Port3, 0);
    }
};

int main(int argc, char** argv) {
    KorvaneApplication app(argc, argv);
    TestDecoderLink t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_decoderlink.moc"
