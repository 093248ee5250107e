// The real program with its data folder on a small file system of its own
// (a tmpfs), filled up by a file while the program runs.
#include "KorvaneRun.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/mount.h>
#include <unistd.h>

using namespace e2e;

namespace {

const int kStartMs = 15000;
const QByteArray kSp = "Port1=1\nPort2=4\nPort3=5\nRate=0\nDist=500\nWait=0\nTimer2=1";

// A tmpfs mounted on a folder of its own for the test's length. Mounting
// needs root; where it is refused the test fails and says so.
class SmallDisk {
public:
    explicit SmallDisk(const QByteArray& size) {
        path_ = base_.filePath(QStringLiteral("disk"));
        if (!base_.isValid() || !QDir().mkdir(path_)) {
            why_ = QStringLiteral("no temporary folder");
            return;
        }
        if (::mount("tmpfs", QFile::encodeName(path_).constData(), "tmpfs", 0,
                    ("size=" + size).constData()) != 0) {
            why_ = QStringLiteral("mounting a tmpfs of %1 on %2 was refused (%3); these tests "
                                  "need root")
                       .arg(QString::fromLatin1(size), path_,
                            QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        mounted_ = true;
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(QFile::encodeName(path_).constData(), MNT_DETACH);
    }
    bool ok() const { return mounted_; }
    const QString& why() const { return why_; }
    const QString& path() const { return path_; }
    QString file(const char* name) const { return path_ + QLatin1Char('/') + QLatin1String(name); }

    // One file takes every free block, down to the last byte.
    bool fill() {
        const int fd = ::open(QFile::encodeName(file("fill")).constData(),
                              O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        for (const int size : {1 << 20, 4096, 1}) {
            const QByteArray block(size, 'x');
            while (::write(fd, block.constData(), size_t(size)) > 0) {
            }
        }
        const bool full = errno == ENOSPC;
        ::close(fd);
        return full;
    }
    bool unfill() { return QFile::remove(file("fill")); }
    // Gives back the last `bytes` of the fill.
    bool unfill(qint64 bytes) {
        QFile f(file("fill"));
        return f.size() > bytes && f.resize(f.size() - bytes);
    }

private:
    QTemporaryDir base_;
    QString path_;
    QString why_;
    bool mounted_ = false;
};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestFullDisk : public QObject {
    Q_OBJECT

    std::unique_ptr<Track> track;

    // A run of the program on `dir`, ready: ports open, input taken.
    std::unique_ptr<KorvaneRun> startOn(const QString& dir, const QStringList& arguments = {}) {
        if (!track->board.forgetLineSettings())
            return nullptr;
        auto run = std::make_unique<KorvaneRun>(QStringLiteral(KORVANE_BIN), dir);
        run->start(arguments);
        if (!run->waitStarted())
            return nullptr;
        QElapsedTimer t;
        t.start();
        while (!boardOpenedAt(track->board, B2400) && t.elapsed() < kStartMs)
            QTest::qWait(20);
        return boardOpenedAt(track->board, B2400) ? std::move(run) : nullptr;
    }

    static int count(const QString& db, const QString& sql) {
        return DbLook(db).value(sql).toInt();
    }

private slots:
    void init() {
        track = std::make_unique<Track>();
        QVERIFY2(track->ok(), qPrintable(track->why()));
    }
    void cleanup() { track.reset(); }

    void aFullDiskAtCloseLeavesTheSettingsFileAsItWas() {
        SmallDisk disk("16M");
        QVERIFY2(disk.ok(), qPrintable(disk.why()));
        const QString ini = disk.file("Korvane.ini");
        QVERIFY(writeIni(ini, kSp + "\n[Checks]\nSilenceS=30", track->devices(disk.path())));
        const QByteArray before = readAll(ini);

        auto run = startOn(disk.path());
        QVERIFY(run);
        QVERIFY(disk.fill());
        run->terminate();
        QVERIFY(run->waitFinished(10000));
        QCOMPARE(run->process().exitStatus(), QProcess::NormalExit);
        QVERIFY(run->process().exitCode() != 0);
        const QByteArray err = run->errors();
        QVERIFY2(err.contains((ini + QStringLiteral(" に書き込めません: ")).toUtf8()) &&
                     err.contains("No space left on device"),
                 err.constData());
        QCOMPARE(readAll(ini), before);

        // The next start measures over the stored length (500 cm: 36 km/h).
        QVERIFY(disk.unfill());
        run = startOn(disk.path());
        QVERIFY(run);
        track->board.clear();
        QVERIFY(track->dec1.send(passingLine("1234", "100.000")));
        QVERIFY(track->dec2.send(passingLine("1234", "100.500")));
        QTRY_COMPARE(track->board.received(), QByteArray("         3 60 00       .\r"));
        run->terminate();
        QVERIFY(run->waitFinished(10000));
        QCOMPARE(run->process().exitCode(), 0);
    }

    void passingsThatWaitAtCloseAreStoredAtTheNextStart() {
        SmallDisk disk("16M");
        QVERIFY2(disk.ok(), qPrintable(disk.why()));
        QVERIFY(writeIni(disk.file("Korvane.ini"), kSp, track->devices(disk.path())));
        const QString db = disk.file("Korvane.db");
        auto run =
            startOn(disk.path(), {QStringLiteral("--capture"), disk.file("session.capture")});
        QVERIFY(run);

        // 1 000 passings at 25 a second, 20 cars lapping; the last 375 while
        // the disk is full.
        QStringList sent;
        for (int i = 0; i < 1000; ++i) {
            if (i == 625) {
                QTRY_COMPARE(count(db, QStringLiteral("select count(*) from passing")), 625);
                // Nothing left in the log that a checkpoint could give back.
                DbLook(db, false).value(QStringLiteral("pragma wal_checkpoint(TRUNCATE)"));
                QVERIFY(disk.fill());
            }
            const int loop = 1 + i % 2;
            const QByteArray id = QByteArray::number(100 + i / 2 % 20);
            const QByteArray time = QByteArray::number(1000 + i * 0.04, 'f', 3);
            QVERIFY((loop == 1 ? track->dec1 : track->dec2).send(passingLine(id, time)));
            sent << QStringLiteral("%1 %2 %3").arg(loop).arg(QLatin1String(id), time);
            QTest::qWait(40);
        }
        QVERIFY(count(db, QStringLiteral("select count(*) from passing")) < 1000);
        run->terminate();
        QVERIFY(run->waitFinished(15000));
        QVERIFY(run->process().exitCode() != 0);
        // The capture that stopped at the full disk is told of too.
        QVERIFY2(run->errors().contains(disk.file("Korvane.pending").toUtf8()) &&
                     run->errors().contains("キャプチャファイルに書き込めません: " +
                                            disk.file("session.capture").toUtf8()),
                 run->errors().constData());
        QVERIFY(QFile::exists(disk.file("Korvane.pending")));

        QVERIFY(disk.unfill());
        // Standard error says how many wait in the file.
        const int waiting =
            1000 - DbLook(db, false).value(QStringLiteral("select count(*) from passing")).toInt();
        QVERIFY2(run->errors().contains(
                     QStringLiteral("記録できなかった通過 %1 件").arg(waiting).toUtf8()),
                 run->errors().constData());
        run = startOn(disk.path());
        QVERIFY(run);
        QTRY_VERIFY(!QFile::exists(disk.file("Korvane.pending")));
        QStringList stored;
        for (const QVariantList& r :
             DbLook(db).rows(QStringLiteral("select loop, tpid, time from passing order by id")))
            stored << QStringLiteral("%1 %2 %3")
                          .arg(r.at(0).toInt())
                          .arg(r.at(1).toString())
                          .arg(r.at(2).toDouble(), 0, 'f', 3);
        // Each decoder's passings in the order it sent them (two ports are
        // read in no fixed order between them).
        QCOMPARE(stored.filter(QRegularExpression("^1 ")), sent.filter(QRegularExpression("^1 ")));
        QCOMPARE(stored.filter(QRegularExpression("^2 ")), sent.filter(QRegularExpression("^2 ")));
        // No lap measured twice.
        QCOMPARE(count(db, QStringLiteral("select count(*) from (select 1 from attempt "
                                          "group by tpid, time1, time2 having count(*)>1)")),
                 0);
        run->terminate();
        QVERIFY(run->waitFinished(10000));
        QCOMPARE(run->process().exitCode(), 0);
    }

    void aSmallDiskStoresAgainOnceSpaceReturns() {
        SmallDisk disk("2M");
        QVERIFY2(disk.ok(), qPrintable(disk.why()));
        QVERIFY(writeIni(disk.file("Korvane.ini"), kSp, track->devices(disk.path())));
        const QString db = disk.file("Korvane.db");
        auto run = startOn(disk.path());
        QVERIFY(run);

        int t = 1000;
        const auto passing = [&] {
            return track->dec1.send(passingLine("7", QByteArray::number(++t)));
        };
        const auto stored = [&] {
            return DbLook(db).value(QStringLiteral("select max(time) from passing")).toInt() == t;
        };
        QVERIFY(passing());
        QTRY_VERIFY(stored());
        // Full, with nothing in the log that a checkpoint could give back.
        DbLook(db, false).value(QStringLiteral("pragma wal_checkpoint(TRUNCATE)"));
        QVERIFY(disk.fill());
        for (int i = 0; i < 10; ++i) {
            QVERIFY(passing());
            QTest::qWait(40);
        }
        QVERIFY(!stored());
        // A quarter of a megabyte comes back; the passings that follow need
        // many times that in the log before it is checkpointed on its own.
        QVERIFY(disk.unfill(256 << 10));
        for (int i = 0; i < 200; ++i) {
            QVERIFY(passing());
            QTest::qWait(40);
        }
        QTRY_VERIFY2_WITH_TIMEOUT(stored(), run->errors().constData(), 5000);
        QCOMPARE(DbLook(db).value(QStringLiteral("select count(*) from passing")).toInt(),
                 t - 1000);
        run->terminate();
        QVERIFY(run->waitFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestFullDisk)
#include "tst_fulldisk.moc"
