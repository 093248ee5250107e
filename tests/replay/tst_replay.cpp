// Captures and korvane-replay: what a killed writer leaves is still read, a
// capture replayed gives the same attempts every time, flags included, and a
// replay leaves no temporary folder behind.
#include "ReplayRun.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <signal.h>

using namespace replaytest;

class TestReplay : public QObject {
    Q_OBJECT

private slots:
    void aCaptureCutByAKilledWriterReadsBackEveryWholeRecord() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cap"));
        QByteArray every;
        for (int b = 0; b < 256; ++b)
            every.append(char(b));
        {
            capture::Writer w;
            QVERIFY(w.open(path));
            QVERIFY(w.setting(5, QStringLiteral("Dist"), 500));
            QVERIFY(w.chunk(10, 1, every));
            QVERIFY(w.chunk(11, 2, QByteArray()));
        }
        // Killed in the middle of a record.
        QFile f(path);
        QVERIFY(f.open(QIODevice::Append));
        f.write(capture::chunkLine(12, 1, "@\t1\t0\t77\t").left(15));
        f.close();
        capture::Contents c;
        QVERIFY(capture::read(path, c));
        QCOMPARE(c.records.size(), 3);
        QCOMPARE(c.truncatedTail, 15);
        QCOMPARE(c.records.at(0).kind, capture::Record::Setting);
        QCOMPARE(c.records.at(0).value, 500);
        QCOMPARE(c.records.at(1).bytes, every);
        QCOMPARE(c.records.at(2).loop, 2);
        QVERIFY(c.records.at(2).bytes.isEmpty());

        // The next run appends: the cut record stands alone and is skipped,
        // the new one is whole.
        {
            capture::Writer w;
            QVERIFY(w.open(path));
            QVERIFY(w.chunk(13, 2, "x y\r\n"));
        }
        QVERIFY(capture::read(path, c));
        QCOMPARE(c.records.size(), 4);
        QCOMPARE(c.skippedLines, 1);
        QCOMPARE(c.truncatedTail, 0);
        QCOMPARE(c.records.at(3).ms, 13);
        QCOMPARE(c.records.at(3).bytes, QByteArray("x y\r\n"));

        // Anything else is not taken for a capture, nor written to.
        QFile other(dir.filePath(QStringLiteral("other")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("[SP]\nDist=500\n");
        other.close();
        capture::Writer w;
        QVERIFY(!w.open(other.fileName()));
        QVERIFY(!capture::read(other.fileName(), c));
    }

    void aReplayGivesTheSameAttemptsWithTheirFlagsEveryTime() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cap"));
        {
            capture::Writer w;
            QVERIFY(w.open(path));
            w.setting(0, QStringLiteral("Dist"), 500);
            w.setting(0, QStringLiteral("Wait"), 0);
            qint64 ms = 1700000000000;
            // Laps with lines cut across chunks, between CR and LF too.
            for (int lap = 0; lap < 3; ++lap) {
                const QByteArray l1 = passing(1, "1234", 100 + lap * 10);
                const QByteArray l2 = passing(2, "1234", 100.5 + lap * 10);
                w.chunk(ms, 1, l1.left(7));
                w.chunk(ms + 5, 1, l1.mid(7));
                w.chunk(ms + 500, 2, l2.left(l2.size() - 1));
                w.chunk(ms + 505, 2, l2.right(1));
                ms += 2000;
            }
            // Read twice on loop 2, 100 ms apart: the second read has no
            // loop-1 passing of its own and is no measurement.
            w.chunk(ms, 1, passing(1, "55", 200));
            w.chunk(ms + 500, 2, passing(2, "55", 200.5));
            w.chunk(ms + 600, 2, passing(2, "55", 200.6));
            ms += 2000;
            // First seen on loop 2.
            w.chunk(ms, 2, passing(2, "999", 300));
        }
        const Output first = replay({QStringLiteral("--data-dir"), dir.filePath("a"), path});
        QVERIFY2(first.ok, first.err.constData());
        const Output again = replay({QStringLiteral("--data-dir"), dir.filePath("b"), path});
        QVERIFY2(again.ok, again.err.constData());
        QCOMPARE(again.out, first.out);

        const QList<QByteArray> lines = first.out.trimmed().split('\n');
        const auto fields = [&](int i) { return lines.at(i + 1).split('\t'); };
        QCOMPARE(lines.size(), 1 + 6);
        for (int lap = 0; lap < 3; ++lap) {
            QCOMPARE(fields(lap).at(2), QByteArray("1234"));
            QCOMPARE(fields(lap).at(6), QByteArray("36")); // 5 m in 0.5 s
            QCOMPARE(fields(lap).at(7), QByteArray("ok"));
        }
        QCOMPARE(fields(3).at(7), QByteArray("ok"));
        const QByteArray doubleRead = QStringLiteral("二重読み").toUtf8();
        const QByteArray noLoop1 = QStringLiteral("ループ1なし").toUtf8();
        QCOMPARE(fields(4).at(4), QByteArray("200.600"));
        QCOMPARE(fields(4).at(7), QByteArray("unmeasured"));
        QVERIFY(fields(4).at(8).contains(doubleRead));
        QCOMPARE(fields(5).at(2), QByteArray("999"));
        QVERIFY(fields(5).at(8).contains(noLoop1));

        // A data folder that holds a database is added to only when asked.
        QVERIFY(!replay({QStringLiteral("--data-dir"), dir.filePath("a"), path}).ok);
    }

    // A time no clock gives would run the replay's clock past 64 bits: the
    // file is refused, naming the line.
    void aTimeOutOfRangeIsAFormatErrorWithItsLine() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cap"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(capture::kHeader) + "\nS 0 Dist=500\nD 9223372036854775508 1 3 abc\n");
        f.close();
        const Output o = replay({path}, 20000);
        QVERIFY(!o.ok);
        QVERIFY2(o.err.contains("line 3: time 9223372036854775508 is out of range"),
                 o.err.constData());

        // Digits followed by a NUL byte are not the number before the NUL.
        capture::Contents c;
        QVERIFY(capture::parse(QByteArray(capture::kHeader) + "\nD 92233720368547755" +
                                   QByteArray(4, '\0') + "08 1 3 abc\n",
                               c));
        QVERIFY(c.records.isEmpty());
    }

    // The temporary data folder goes with the replay, also one stopped by a
    // signal; one left by a killed replay goes at the next start, and one
    // in use by another replay stays.
    void temporaryFoldersAreRemovedButNotWhileInUse() {
        QTemporaryDir tmp, dir;
        const QString big = dir.filePath(QStringLiteral("big"));
        {
            capture::Writer w;
            QVERIFY(w.open(big));
            w.setting(0, QStringLiteral("Dist"), 500);
            w.setting(0, QStringLiteral("Wait"), 0);
            for (int lap = 0; lap < 20000; ++lap) {
                w.chunk(lap * 2000, 1, passing(1, "7", lap * 2));
                w.chunk(lap * 2000 + 500, 2, passing(2, "7", lap * 2 + 0.5));
            }
        }
        const QString small = dir.filePath(QStringLiteral("small"));
        {
            capture::Writer w;
            QVERIFY(w.open(small));
            w.chunk(0, 1, passing(1, "7", 0));
        }
        const auto folders = [&] {
            return QDir(tmp.path())
                .entryList({QStringLiteral("korvane-replay-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
        };
        // Every commit to the disk: slow enough to be caught running.
        const auto start = [&](QProcess& p, const QString& capturePath) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("TMPDIR"), tmp.path());
            p.setProcessEnvironment(env);
            p.start(QStringLiteral(KORVANE_REPLAY_BIN),
                    {QStringLiteral("--quiet"), QStringLiteral("--durable"), capturePath});
            return p.waitForStarted();
        };
        const auto runningIn = [&](const QStringList& before) {
            for (const QString& f : folders())
                if (!before.contains(f) && QFile::exists(tmp.filePath(f + "/Korvane.db")))
                    return f;
            return QString();
        };

        QProcess killed;
        QVERIFY(start(killed, big));
        QTRY_VERIFY(!runningIn({}).isEmpty());
        const QString left = runningIn({});
        killed.kill();
        QVERIFY(killed.waitForFinished());
        QCOMPARE(folders(), QStringList{left});

        QProcess running;
        QVERIFY(start(running, big));
        QTRY_VERIFY(!runningIn({left}).isEmpty());
        const QString inUse = runningIn({left});
        QVERIFY(!folders().contains(left));
        // Held still while another replay starts and ends.
        QCOMPARE(::kill(pid_t(running.processId()), SIGSTOP), 0);
        QProcess quick;
        QVERIFY(start(quick, small));
        QVERIFY(quick.waitForFinished(30000));
        QCOMPARE(quick.exitCode(), 0);
        QCOMPARE(running.state(), QProcess::Running);
        QCOMPARE(folders(), QStringList{inUse});

        running.terminate();
        QCOMPARE(::kill(pid_t(running.processId()), SIGCONT), 0);
        QVERIFY(running.waitForFinished(30000));
        QCOMPARE(running.exitStatus(), QProcess::NormalExit);
        QCOMPARE(running.exitCode(), 128 + SIGTERM);
        QCOMPARE(folders(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestReplay)
#include "tst_replay.moc"
