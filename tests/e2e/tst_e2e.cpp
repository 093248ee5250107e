// The road of a passing through the real program: the korvane binary on a
// temporary data folder, pseudo-terminals as the two decoders and the board,
// the speed table read from its file as another program would.
#include "FullPortPause.h"
#include "KorvaneRun.h"

#include "Journal.h"
#include "Plausibility.h"

#include <QRandomGenerator>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace e2e;

namespace {

const int kStartMs = 15000;

QByteArray protocolCommand(int id) {
    return "\x01?," + QByteArray::number(id) + ",0,37,0,7360452,\r\n";
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Track> track;
    Peer* dec1 = nullptr;
    Peer* dec2 = nullptr;
    Peer* board = nullptr;
    std::unique_ptr<KorvaneRun> run;

    void start(const QByteArray& sp, const QStringList& moreArguments = {}) {
        QVERIFY(run->writeIni(sp, track->devices(dir->path())));
        run->start(moreArguments);
        QVERIFY2(run->waitStarted(), qPrintable(run->process().errorString()));
    }
    // All ports are open, decoder input is taken and measuring runs.
    void waitReady() {
        QTRY_VERIFY2_WITH_TIMEOUT(boardOpenedAt(*board, B2400), run->errors().constData(),
                                  kStartMs);
    }
    QVariantList row(const QByteArray& tpid) const {
        const QList<QVariantList> r =
            DbLook(run->dbPath())
                .rows(QStringLiteral(
                          "select tpid, time1, time2, speed, sumi from speed where tpid=?"),
                      {QString::fromLatin1(tpid)});
        return r.size() == 1 ? r.first() : QVariantList();
    }
    QVariant column(const QByteArray& tpid, int i) const {
        const QVariantList r = row(tpid);
        return r.isEmpty() ? QVariant() : r.at(i);
    }
    bool processed(const QByteArray& tpid, double time2) const {
        const QVariantList r = row(tpid);
        return !r.isEmpty() && r.at(2).toDouble() == time2 &&
               r.at(4).toString() == QLatin1String("1");
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        track = std::make_unique<Track>();
        dec1 = &track->dec1;
        dec2 = &track->dec2;
        board = &track->board;
        QVERIFY2(track->ok(), qPrintable(track->why()));
        run = std::make_unique<KorvaneRun>(QStringLiteral(KORVANE_BIN), dir->path());
    }
    void cleanup() {
        if (run->running()) {
            run->terminate();
            if (!run->waitFinished(10000))
                run->kill();
        }
        run.reset();
        track.reset();
        dir.reset();
    }

    void passingsGiveRowsBoardLinesAndTheBestSpeed() {
        start("Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nDecid1=0\nDecid2=12\nTimer2=1");
        waitReady();
        // The protocol command goes only to the decoder that has an ID.
        QTRY_COMPARE(dec2->received(), protocolCommand(12));
        QCOMPARE(dec1->received(), QByteArray());

        // Two new cars on loop 1 in one chunk: rows with time1 only. Their
        // rows are pending at once, and are marked processed without a speed.
        QVERIFY(dec1->send(passingLine("1234", "100.000") + passingLine("55", "100.100")));
        QTRY_VERIFY(processed("1234", 0) && processed("55", 0));
        QCOMPARE(column("1234", 1).toDouble(), 100.0);
        QVERIFY(column("1234", 2).isNull());
        QCOMPARE(board->received(), QByteArray());

        QVERIFY(dec2->send(passingLine("1234", "101.234") + passingLine("55", "101.100")));
        const QByteArray line1234("         1 45 86       .\r"); // 14.586 km/h
        const QByteArray line55("         1 80 00       .\r");   // 18 km/h
        QTRY_COMPARE(board->received().size(), line1234.size() + line55.size());
        QVERIFY2(board->received().contains(line1234) && board->received().contains(line55),
                 board->received().constData());
        QTRY_VERIFY(processed("1234", 101.234) && processed("55", 101.1));
        QCOMPARE(column("1234", 1).toDouble(), 100.0);
        QCOMPARE(column("1234", 3).toDouble(), 14.586);
        QCOMPARE(column("55", 3).toDouble(), 18.0);

        // A faster run replaces the best speed.
        board->clear();
        QVERIFY(dec1->send(passingLine("1234", "200.000")));
        QTRY_COMPARE(column("1234", 1).toDouble(), 200.0);
        QVERIFY(dec2->send(passingLine("1234", "200.500")));
        QTRY_COMPARE(board->received(), QByteArray("         3 60 00       .\r")); // 36 km/h
        QTRY_VERIFY(processed("1234", 200.5));
        QCOMPARE(column("1234", 3).toDouble(), 36.0);

        // A slower one is shown but does not.
        board->clear();
        QVERIFY(dec1->send(passingLine("1234", "300.000")));
        QTRY_COMPARE(column("1234", 1).toDouble(), 300.0);
        QVERIFY(dec2->send(passingLine("1234", "302.000")));
        QTRY_COMPARE(board->received(), QByteArray("           90 00       .\r")); // 9 km/h
        QTRY_VERIFY(processed("1234", 302.0));
        QCOMPARE(column("1234", 3).toDouble(), 36.0);
        QCOMPARE(DbLook(run->dbPath()).value(QStringLiteral("select count(*) from speed")).toInt(),
                 2);

        run->terminate();
        QVERIFY(run->waitFinished(10000));
        QCOMPARE(run->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(run->process().exitCode(), 0);
    }

    void startUpPortPausesHoldMeasuringAndKeepDecoderBytes() {
        // A pair the last run left pending, and a passing that arrives while
        // the ports are being opened at start-up (inside their pauses): the
        // pair's speed reaches the board after its last reopening, and the
        // passing is stored once the pauses are over.
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
            db.setDatabaseName(run->dbPath());
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(
                "create table speed (tpid text, time1 real, time2 real, speed real, sumi text)"));
            QVERIFY(q.exec("insert into speed values ('P', 10, 10.5, '0', '0')"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("seed"));
        const FullPortPause fullPause; // for the passing to come inside them
        start("Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nTimer2=1");
        termios t{};
        QTRY_VERIFY_WITH_TIMEOUT(dec1->lineSettings(&t) && cfgetospeed(&t) == B9600, kStartMs);
        QVERIFY(dec1->send(passingLine("Q", "20")));
        waitReady();
        QTRY_COMPARE(board->received(), QByteArray("         3 60 00       .\r")); // 36 km/h
        QTRY_VERIFY(processed("P", 10.5));
        QTRY_COMPARE(column("Q", 1).toDouble(), 20.0);
    }

    void aMegabyteOfNoiseOnBothLoopsStoresNoIdThatWasNotSent() {
        start("Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nTimer2=1");
        waitReady();
        // Every byte value, CR included; seeded, so a failure can be replayed.
        QRandomGenerator random(9);
        QByteArray noise[2];
        for (QByteArray& n : noise) {
            n.resize(1 << 20);
            for (char& c : n)
                c = char(random.bounded(256));
        }
        for (qsizetype at = 0; at < noise[0].size(); at += 4096) {
            QVERIFY(dec1->send(noise[0].mid(at, 4096), 30000));
            QVERIFY(dec2->send(noise[1].mid(at, 4096), 30000));
            board->clear();
        }
        QVERIFY(dec1->send("\r\n" + passingLine("END", "1")));
        QVERIFY(dec2->send("\r\n" + passingLine("END", "2")));
        QTRY_VERIFY_WITH_TIMEOUT(
            column("END", 1).toDouble() == 1 && column("END", 2).toDouble() == 2, 60000);
        QVERIFY(run->running());
        // An ID is stored only as a field the decoders sent: back in the
        // decoder's code page, it stands between two TABs in what was sent.
        QStringEncoder sjis("Shift_JIS");
        const QList<QVariantList> ids =
            DbLook(run->dbPath()).rows(QStringLiteral("select tpid from speed"));
        QVERIFY(ids.size() > 1);
        for (const QVariantList& id : ids) {
            const QString tpid = id.first().toString();
            if (tpid == QLatin1String("END"))
                continue;
            const QByteArray field = '\t' + QByteArray(sjis.encode(tpid)) + '\t';
            QVERIFY2(noise[0].contains(field) || noise[1].contains(field),
                     qPrintable(tpid.toUtf8().toHex()));
        }
    }

    // A port whose device is missing at start keeps its number: the next
    // start, or the device coming back, opens it again.
    void aPortThatCannotBeOpenedAtStartKeepsItsNumber() {
        start("Port1=2\nPort2=4\nPort3=5\nRate=0\nWait=0\nTimer2=1");
        const QByteArray message = QStringLiteral("korvane: message: ポートを開けません").toUtf8();
        QTRY_VERIFY2_WITH_TIMEOUT(run->errors().contains(message), run->errors().constData(),
                                  kStartMs);
        QCOMPARE(run->errors().count("korvane: message:"), 1);
        // The box is modal and nobody can click it: the termination closes
        // it, then the window, which saves the settings.
        run->terminate();
        QVERIFY(run->waitFinished(10000));
        QCOMPARE(run->process().exitStatus(), QProcess::NormalExit);
        QSettings ini(run->iniPath(), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("SP/Port1")).toString(), QStringLiteral("2"));
        QCOMPARE(ini.value(QStringLiteral("SP/Port2")).toString(), QStringLiteral("4"));
        QCOMPARE(ini.value(QStringLiteral("SP/Port3")).toString(), QStringLiteral("5"));
    }

    // A decoder's adapter pulled and put back behind the same device path
    // (a hung-up pseudo-terminal, a new one behind the link): the port opens
    // again by itself, the decoder hears its protocol, and what it sends
    // then is stored.
    void aPulledDecoderAdapterIsOpenedAgainWhenItIsBack() {
        auto loop1 = std::make_unique<Peer>();
        QVERIFY(loop1->ok());
        const QString link = dir->filePath(QStringLiteral("by-id-loop1"));
        QVERIFY(QFile::link(loop1->path(), link));
        Devices devices = track->devices(dir->path());
        devices[0].second = link;
        QVERIFY(run->writeIni(
            "Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nDecid1=3\nTimer2=1", devices));
        run->start();
        QVERIFY(run->waitStarted());
        waitReady();
        QTRY_COMPARE(loop1->received(), protocolCommand(3));

        loop1 = std::make_unique<Peer>(); // the old one hangs up
        QVERIFY(loop1->ok());
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(loop1->path(), link));
        const auto opened = [&] {
            termios t{};
            return loop1->lineSettings(&t) && cfgetospeed(&t) == B9600;
        };
        QTRY_VERIFY_WITH_TIMEOUT(opened(), 3000);
        QTRY_COMPARE(loop1->received(), protocolCommand(3));
        QTRY_VERIFY(run->errors().contains(QStringLiteral("korvane: ループ1 再接続\n").toUtf8()));
        QVERIFY(loop1->send(passingLine("41", "100.000")));
        QVERIFY(dec2->send(passingLine("41", "101.234")));
        QTRY_VERIFY(processed("41", 101.234));
    }

    void startingOnTheMeasurementPageSetsTheDecoderClocks() {
        // With the automatic clock reset on, showing the measurement page
        // sets both decoders' clocks; the start page does not.
        start("Port1=1\nPort2=4\nPort3=5\nRate=0\nWait=0\nDecid1=3\nDecid2=12\nTimer2=0",
              {QStringLiteral("--page"), QStringLiteral("measure")});
        waitReady();
        QTRY_VERIFY2(dec1->received().contains("\x01?,3,0,9,") &&
                         dec2->received().contains("\x01?,12,0,9,"),
                     (dec1->received() + '|' + dec2->received()).constData());
    }

    // A termination during start-up stops the start-up steps that remain, saves
    // the settings as they stand and ends within a second: at a port just
    // opened, and with a start-up box open.
    void terminationDuringStartUpStopsTheRemainingSteps_data() {
        QTest::addColumn<QByteArray>("sp");
        QTest::addColumn<QByteArray>("stopAt"); // what has just happened when the signal comes
        QTest::newRow("port 1 opened")
            << QByteArray("Port1=1\nPort2=4\nPort3=5\nDecid1=3\nDecid2=12\nTimer2=1")
            << protocolCommand(3);
        QTest::newRow("box open")
            << QByteArray("Port1=0\nPort2=4\nPort3=5\nDecid1=3\nDecid2=12\nTimer2=1")
            << QStringLiteral("korvane: message: 取り込みポート１は指定されていません。").toUtf8();
    }
    void terminationDuringStartUpStopsTheRemainingSteps() {
        QFETCH(QByteArray, sp);
        QFETCH(QByteArray, stopAt);
        // The signal comes within the pause after the first decoder's command.
        const FullPortPause fullPause;
        start(sp);
        QTRY_VERIFY2_WITH_TIMEOUT(dec1->received() == stopAt || run->errors().contains(stopAt),
                                  run->errors().constData(), kStartMs);
        QElapsedTimer t;
        t.start();
        run->terminate();
        QVERIFY(run->waitFinished(10000));
        const qint64 took = t.elapsed();
        QCOMPARE(run->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(run->process().exitCode(), 0);
        QVERIFY2(took < 1000, qPrintable(QStringLiteral("%1 ms").arg(took)));
        // Nothing went to the second decoder and the board was not opened.
        QCOMPARE(dec2->received(), QByteArray());
        QVERIFY(!boardOpenedAt(*board, B2400));
        // The settings were saved: all ten keys are in the file now.
        QSettings ini(run->iniPath(), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("SP/Resetint")).toString(), QStringLiteral("300"));
        QCOMPARE(ini.value(QStringLiteral("SP/Decid2")).toString(), QStringLiteral("12"));
    }

    // Times compressed by the settings (SilenceS=1): the alarm is told on
    // standard error, as the message boxes are.
    void aDecoderFallingSilentRaisesTheAlarmUntilItsNextLine() {
        start("Port1=1\nPort2=4\nPort3=5\nRate=0\nWait=0\nTimer2=1\n[Checks]\nSilenceS=1\nBeep=0");
        waitReady();
        const QByteArray silent = QStringLiteral("korvane: ループ1 無信号\n").toUtf8();
        const QByteArray back = QStringLiteral("korvane: ループ1 受信再開\n").toUtf8();
        const auto toldSince = [&](qsizetype from, const QByteArray& what) {
            return run->errors().indexOf(what, from) >= 0;
        };
        // A status line: whatever the start-up raised is cleared.
        QVERIFY(dec1->send("#\t1\t0\t\r\n"));
        QTRY_VERIFY(!run->errors().contains(silent) ||
                    toldSince(run->errors().lastIndexOf(silent), back));
        const qsizetype before = run->errors().size();
        QVERIFY(dec1->send("#\t1\t0\t\r\n"));
        QElapsedTimer quiet;
        quiet.start();
        // Within SilenceS + 1 s; one more second for a machine under load.
        QTRY_VERIFY_WITH_TIMEOUT(toldSince(before, silent), 3000);
        QVERIFY2(quiet.elapsed() >= 1000, run->errors().constData());
        const qsizetype raised = run->errors().size();
        QVERIFY(dec1->send("#\t1\t0\t\r\n"));
        QTRY_VERIFY(toldSince(raised, back));
    }

    // Pairs whose two times do not belong to one crossing: kept in the
    // journal, and nothing else (no board line, no best).
    void pairsThatAreNoMeasurementAreKeptButGoNowhere() {
        start("Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nTimer2=1");
        waitReady();
        const QByteArray line36("         3 60 00       .\r");
        QVERIFY(dec1->send(passingLine("7", "1000.000")));
        QVERIFY(dec2->send(passingLine("7", "1000.500")));
        QTRY_COMPARE(board->received(), line36);
        QTRY_VERIFY(processed("7", 1000.5));

        // Loop 1 falls silent: every loop-2 passing pairs with the same
        // loop-1 time, minutes old.
        for (int lap = 1; lap <= 10; ++lap) {
            const double time2 = 1000.5 + 120 * lap;
            QVERIFY(dec2->send(passingLine("7", QByteArray::number(time2, 'f', 3))));
            QTRY_VERIFY(processed("7", time2));
        }
        // A car seen only on loop 2, and one whose loop-2 time is before its
        // loop-1 time.
        QVERIFY(dec2->send(passingLine("88", "2500.000")));
        QVERIFY(dec1->send(passingLine("9", "3000.000")));
        QTRY_VERIFY(processed("9", 0));
        QVERIFY(dec2->send(passingLine("9", "2999.000")));
        QTRY_VERIFY(processed("88", 2500) && processed("9", 2999));

        QCOMPARE(board->received(), line36);
        QCOMPARE(column("7", 3).toDouble(), 36.0);
        QVERIFY(column("88", 3).toDouble() == 0 && column("9", 3).toDouble() == 0);
        const QList<QVariantList> attempts =
            DbLook(run->dbPath())
                .rows(QStringLiteral("select tpid, status, flags from attempt order by id"));
        QCOMPARE(attempts.size(), 13);
        QCOMPARE(attempts.first(), (QVariantList{"7", Journal::kOk, 0}));
        for (int i = 1; i <= 12; ++i) {
            const QVariantList& a = attempts.at(i);
            const unsigned expected = i <= 11 ? FlagNoLoop1 : FlagNoSection;
            QVERIFY2(a.at(1).toString() == Journal::kNotMeasurement &&
                         (a.at(2).toUInt() & expected),
                     qPrintable(a.at(0).toString() + ' ' + a.at(1).toString() + ' ' +
                                a.at(2).toString()));
        }
    }

    // Clock commands every second, each on the turn of the PC's second: an
    // attempt whose section spans one is no measurement, the others are
    // measured as ever.
    void aSectionTimedAcrossAClockCommandIsNoMeasurement() {
        start("Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nDecid1=3\nDecid2=12\n"
              "Timer2=0\nResetint=1",
              {QStringLiteral("--page"), QStringLiteral("measure")});
        waitReady();
        const auto nextClockCommand = [&] {
            dec2->clear();
            QTRY_VERIFY2(dec2->received().contains("\x01?,12,0,9,") &&
                             dec2->received().endsWith(",\r\n"),
                         dec2->received().constData());
        };
        // Within a second between two commands.
        nextClockCommand();
        QVERIFY(dec1->send(passingLine("5", "100.000")));
        QVERIFY(dec2->send(passingLine("5", "100.500")));
        QTRY_COMPARE(board->received(), QByteArray("         3 60 00       .\r")); // 36 km/h
        QTRY_VERIFY(processed("5", 100.5));
        // Across one: faster, but neither shown nor a best.
        nextClockCommand();
        QVERIFY(dec1->send(passingLine("5", "200.000")));
        nextClockCommand();
        QVERIFY(dec2->send(passingLine("5", "200.250")));
        QTRY_VERIFY(processed("5", 200.25));
        nextClockCommand();
        QVERIFY(dec1->send(passingLine("5", "300.000")));
        QVERIFY(dec2->send(passingLine("5", "300.625")));
        QTRY_VERIFY(processed("5", 300.625));
        QTRY_COMPARE(board->received(), QByteArray("         3 60 00       .\r"
                                                   "         2 88 00       .\r")); // 28.8 km/h
        QCOMPARE(column("5", 3).toDouble(), 36.0);
        const QList<QVariantList> attempts =
            DbLook(run->dbPath())
                .rows(QStringLiteral("select status, flags from attempt order by id"));
        QCOMPARE(attempts, (QList<QVariantList>{{Journal::kOk, 0},
                                                {Journal::kNotMeasurement, unsigned(FlagClockSet)},
                                                {Journal::kOk, 0}}));
    }

    void aStoredPassingSurvivesAKilledProcess() {
        start("Port1=1\nPort2=4\nPort3=5\nRate=0\nWait=0\nTimer2=1");
        waitReady();
        QVERIFY(dec1->send(passingLine("777", "55.5")));
        QTRY_COMPARE(column("777", 1).toDouble(), 55.5);
        run->kill();
        QVERIFY(run->waitFinished(10000));
        QCOMPARE(run->process().exitStatus(), QProcess::CrashExit);
        // Opened as the next start of the program would: read-write, so the
        // write-ahead log is recovered into the table.
        const QList<QVariantList> rows =
            DbLook(run->dbPath(), false).rows(QStringLiteral("select tpid, time1 from speed"));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().at(0).toString(), QStringLiteral("777"));
        QCOMPARE(rows.first().at(1).toDouble(), 55.5);
    }

    void aCaptureOfTheProgramReplaysToItsOwnAttempts() {
        const QString cap = dir->filePath(QStringLiteral("session.capture"));
        // A double read however slowly the machine passes the lines on.
        start("Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nTimer2=1\n"
              "[Checks]\nDoubleReadMs=60000",
              {QStringLiteral("--capture"), cap});
        waitReady();
        // Two laps, the second read twice on loop 2, then a car first seen
        // on loop 2; each waits for the one before to be measured.
        const auto lap = [&](const QByteArray& id, const QByteArray& t1, const QByteArray& t2) {
            if (!t1.isEmpty())
                QVERIFY(dec1->send(passingLine(id, t1)));
            QVERIFY(dec2->send(passingLine(id, t2)));
            QTRY_VERIFY(processed(id, t2.toDouble()));
        };
        lap("1234", "100.000", "100.500");
        lap("1234", "110.000", "110.400");
        lap("1234", "", "110.450");
        lap("999", "", "120.000");
        run->terminate();
        QVERIFY(run->waitFinished(10000));

        const QString sql = QStringLiteral(
            "select tpid, time1, time2, dist_cm, speed_text, flags from attempt order by id");
        const QList<QVariantList> ours = DbLook(run->dbPath()).rows(sql);
        QCOMPARE(ours.size(), 4);
        QVERIFY(ours.at(2).at(5).toInt() != 0 && ours.at(3).at(5).toInt() != 0);
        QProcess replay;
        const QString into = dir->filePath(QStringLiteral("replayed"));
        replay.start(QStringLiteral(KORVANE_REPLAY_BIN),
                     {QStringLiteral("--quiet"), QStringLiteral("--data-dir"), into, cap});
        QVERIFY(replay.waitForFinished(30000));
        QVERIFY2(replay.exitCode() == 0, replay.readAllStandardError().constData());
        QCOMPARE(DbLook(into + QStringLiteral("/Korvane.db")).rows(sql), ours);
    }

    void killedWhileStoringLeavesJournalAndSpeedAgreeing() {
        // Each round starts the program on the same files, feeds laps until
        // passings are being stored and measured, and kills it at some
        // moment after that.
        QVERIFY(run->writeIni("Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nTimer2=1",
                              track->devices(dir->path())));
        const DbLook look(run->dbPath());
        QRandomGenerator random(12);
        double t = 1000;
        int car = 0;
        const auto lap = [&] {
            const QByteArray id = QByteArray::number(100 + car++ % 5);
            QVERIFY(dec1->send(passingLine(id, QByteArray::number(t, 'f', 3))));
            QVERIFY(dec2->send(passingLine(id, QByteArray::number(t + 0.5, 'f', 3))));
            t += 1;
        };
        const auto count = [&](const char* table) {
            return look.value(QStringLiteral("select count(*) from ") + QLatin1String(table))
                .toInt();
        };
        for (int round = 0; round < 8; ++round) {
            const int passings = count("passing");
            run = std::make_unique<KorvaneRun>(QStringLiteral(KORVANE_BIN), dir->path());
            run->start();
            QVERIFY2(run->waitStarted(), qPrintable(run->process().errorString()));
            QElapsedTimer feeding;
            feeding.start();
            const int attempts = count("attempt");
            while (count("passing") <= passings || count("attempt") <= attempts) {
                QVERIFY2(feeding.elapsed() < kStartMs, run->errors().constData());
                lap();
                QTest::qWait(100);
            }
            const qint64 lateMs = random.bounded(600);
            feeding.restart();
            while (feeding.elapsed() < lateMs) {
                lap();
                QTest::qWait(100);
            }
            run->kill();
            QVERIFY(run->waitFinished(10000));
        }
        // Opened as the next start would: read-write, recovering the log.
        const DbLook after(run->dbPath(), false);
        QCOMPARE(after.value(QStringLiteral("pragma integrity_check")).toString(),
                 QStringLiteral("ok"));
        QVERIFY(after.value(QStringLiteral("select count(*) from attempt")).toInt() > 0);
        // Every time in speed came with its journal row.
        QCOMPARE(after
                     .value(QStringLiteral(
                         "select count(*) from speed s where "
                         "(s.time1 is not null and not exists (select 1 from passing p "
                         "where p.tpid=s.tpid and p.loop=1 and p.time=s.time1)) or "
                         "(s.time2 is not null and not exists (select 1 from passing p "
                         "where p.tpid=s.tpid and p.loop=2 and p.time=s.time2))"))
                     .toInt(),
                 0);
        // Every processed lap has its attempt, and only one. Times only grow,
        // so a row with time1 before time2 still holds the pair it measured.
        QCOMPARE(after
                     .value(QStringLiteral("select count(*) from speed s where s.sumi='1' and "
                                           "s.time1<s.time2 and not exists "
                                           "(select 1 from attempt a where a.tpid=s.tpid and "
                                           "a.time1=s.time1 and a.time2=s.time2)"))
                     .toInt(),
                 0);
        QCOMPARE(after
                     .value(QStringLiteral("select count(*) from (select 1 from attempt "
                                           "group by tpid, time1, time2 having count(*)>1)"))
                     .toInt(),
                 0);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
