// The chain over the journal and korvane-verify: an untouched copy of a
// station's records verifies; any one change a forger makes to a copy is
// found and the first row it breaks is named; an older data folder is
// covered from its genesis on.
#include "Claim.h"
#include "Tamper.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const int kAttempts = 1000;
const int kRounds = 200;

struct Run {
    int code = -1;
    QString out;
};

Run verifyTool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(KORVANE_VERIFY_BIN), args);
    Run r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return r;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// One hex digit (or character) changed at `at`.
QByteArray flipped(QByteArray bytes, qsizetype at) {
    bytes[at] = bytes[at] == '0' ? '1' : '0';
    return bytes;
}

} // namespace

class TstVerify : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    tamper::KeyPair key_;
    QString station_; // a data folder: the journal and the public key

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        station_ = dir_.filePath(QStringLiteral("station"));
        QVERIFY(QDir().mkpath(station_));
        tamper::build(station_ + QStringLiteral("/Korvane.db"), kAttempts, key_);
        QFile pub(station_ + QStringLiteral("/evidence.pub"));
        QVERIFY(pub.open(QIODevice::WriteOnly));
        pub.write(key_.pub.toHex() + '\n');
    }

    void everyChangeIsFoundAndAnUntouchedCopyVerifies() {
        QRandomGenerator rnd(27);
        const QString db = station_ + QStringLiteral("/Korvane.db");
        QElapsedTimer clock;
        clock.start();
        QStringList missed;
        for (int round = 0; round < kRounds; ++round) {
            const QString copy = dir_.filePath(QStringLiteral("copy.db"));
            QFile::remove(copy);
            QVERIFY(QFile::copy(db, copy));
            if (round % 20 == 0) {
                const ChainCheck::Result clean = ChainCheck::verify(copy, key_.pub);
                QVERIFY2(clean.ok(), qPrintable(clean.first ? clean.first->detail : clean.error));
                QCOMPARE(clean.signedUpTo, clean.links);
            }
            const tamper::Expected e = tamper::change(copy, rnd);
            const QString wrong = tamper::judge(ChainCheck::verify(copy, key_.pub), e);
            if (!wrong.isEmpty())
                missed << wrong;
        }
        QVERIFY2(missed.isEmpty(), qPrintable(missed.mid(0, 10).join(QLatin1Char('\n'))));
        qInfo("%d rounds in %lld ms", kRounds, qint64(clock.elapsed()));
    }

    // The attempt a deleted review touched no longer matches what the chain
    // says of it, but the gap in the chain is what broke.
    void aDeletedReviewIsNamedNotTheAttemptItTouched() {
        const QString copy = dir_.filePath(QStringLiteral("review.db"));
        QVERIFY(QFile::copy(station_ + QStringLiteral("/Korvane.db"), copy));
        qint64 seq = 0;
        {
            tamper::Db db(copy);
            seq = db.integer(QStringLiteral("select min(seq) from chain where kind='correct'"));
            QVERIFY(seq > 0);
            QVERIFY(db.run(QStringLiteral("delete from chain where seq=?"), {seq}));
        }
        const tamper::Expected e{QStringLiteral("review deleted"), QStringLiteral("chain"),
                                 QString::number(seq), QStringLiteral("missing")};
        const QString wrong = tamper::judge(ChainCheck::verify(copy, key_.pub), e);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    }

    void theToolTellsAndExitsAsTheCheckFound() {
        const Run fp = verifyTool({QStringLiteral("--fingerprint"), station_});
        QCOMPARE(fp.code, 0);
        const QString fingerprint = ChainCheck::fingerprint(key_.pub);
        QCOMPARE(fp.out.trimmed(), fingerprint);

        Run ok = verifyTool({station_});
        QVERIFY2(ok.code == 0, qPrintable(ok.out));
        QVERIFY2(ok.out.contains(QLatin1String("the data folder's own")), qPrintable(ok.out));
        ok = verifyTool({QStringLiteral("--public-key"), fingerprint, station_});
        QCOMPARE(ok.code, 0);

        // A key kept elsewhere that is not the station's: the folder's key was replaced.
        const tamper::KeyPair other;
        const Run replaced = verifyTool(
            {QStringLiteral("--public-key"), ChainCheck::fingerprint(other.pub), station_});
        QCOMPARE(replaced.code, 1);
        QVERIFY2(replaced.out.contains(QLatin1String("other key")), qPrintable(replaced.out));

        // A copy elsewhere verifies as the original; changed, it does not.
        const QString copy = dir_.filePath(QStringLiteral("copied"));
        QVERIFY(QDir().mkpath(copy));
        for (const QString& f : {QStringLiteral("Korvane.db"), QStringLiteral("evidence.pub")})
            QVERIFY(QFile::copy(station_ + QLatin1Char('/') + f, copy + QLatin1Char('/') + f));
        QCOMPARE(verifyTool({copy}).code, 0);
        tamper::Db(copy + QStringLiteral("/Korvane.db"))
            .run(QStringLiteral("update speed set speed='99.99' where tpid='1001'"));
        const Run best = verifyTool({copy});
        QCOMPARE(best.code, 1);
        QVERIFY2(best.out.contains(QLatin1String("speed 1001: changed")), qPrintable(best.out));
    }

    // A bundle of a corrected attempt verifies alone, as a folder and as a
    // zip that unzip takes; one changed byte, in the evidence or in its
    // readable copy, or in the zip, fails naming what broke.
    void aBundleVerifiesAloneAndOneChangedByteIsNamed() {
        if (QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty())
            QFAIL("unzip is missing: scripts/setup installs it");
        const qint64 id =
            tamper::Db(station_ + QStringLiteral("/Korvane.db"))
                .integer(QStringLiteral("select min(row_id) from chain where kind='correct'"));
        QVERIFY(id > 0);
        const QString folder = dir_.filePath(QStringLiteral("bundle"));
        const QString zip = dir_.filePath(QStringLiteral("bundle.zip"));
        for (const QString& out : {folder, zip}) {
            const Run made =
                verifyTool({QStringLiteral("--export"), QString::number(id), out, station_});
            QVERIFY2(made.code == 0, qPrintable(made.out));
            const Run checked = verifyTool({out});
            QVERIFY2(checked.code == 0 && checked.out.contains(QLatin1String("the section was "
                                                                             "measured anew")),
                     qPrintable(checked.out));
        }
        QProcess unzip;
        unzip.start(QStringLiteral("unzip"), {QStringLiteral("-t"), zip});
        QVERIFY(unzip.waitForFinished(30000));
        QVERIFY2(unzip.exitCode() == 0, unzip.readAllStandardOutput().constData());

        const QString json = folder + QStringLiteral("/bundle.json");
        const QByteArray good = readAll(json);
        // A digit of a passing's row as its link holds it.
        const qsizetype passing = good.indexOf("\"kind\": \"passing\"");
        const qsizetype row = good.indexOf("\"row\": \"", passing) + 20;
        writeAll(json, flipped(good, row));
        Run broken = verifyTool({folder});
        QCOMPARE(broken.code, 1);
        QVERIFY2(broken.out.contains(QRegularExpression(
                     QStringLiteral("BROKEN at row \\d+ of the chain: passing \\d+: changed"))),
                 qPrintable(broken.out));
        // A character of a raw line in the readable copy.
        writeAll(json, flipped(good, good.indexOf("\"raw\": \"@") + 11));
        broken = verifyTool({folder});
        QCOMPARE(broken.code, 1);
        QVERIFY2(
            broken.out.contains(QStringLiteral("attempt %1: changed: the readable copy").arg(id)),
            qPrintable(broken.out));
        // A byte of the zip.
        const QByteArray zipped = readAll(zip);
        const QString changedZip = dir_.filePath(QStringLiteral("changed.zip"));
        writeAll(changedZip, flipped(zipped, zipped.indexOf("\"hash\": \"") + 12));
        broken = verifyTool({changedZip});
        QCOMPARE(broken.code, 1);
        QVERIFY2(broken.out.contains(QLatin1String("bundle.json: its CRC does not hold")),
                 qPrintable(broken.out));
    }

    // A claim holds against the bundles of its attempts and fails on one
    // changed digit; a head claim holds against the folder it came from and
    // fails on a copy whose chain was cut before that head.
    void claimsAndHeadsHoldOnlyAsSigned() {
        const QString db = station_ + QStringLiteral("/Korvane.db");
        const QString copy = dir_.filePath(QStringLiteral("claims.db"));
        QVERIFY(QFile::copy(db, copy));
        QVector<Claim::Entry> entries;
        Chain::SignedHead head;
        SpeedDb::open(copy);
        for (const qint64 id : {qint64(10), qint64(kAttempts - 3)})
            entries << Claim::attemptLink(id).value();
        head = Chain::lastSignedHead().value();
        SpeedDb::close();
        const QString fp = ChainCheck::fingerprint(key_.pub);

        QStringList bundles;
        for (const Claim::Entry& e : std::as_const(entries)) {
            bundles << dir_.filePath(QStringLiteral("claimed-%1.zip").arg(e.attemptId));
            const Run made = verifyTool({QStringLiteral("--export"), QString::number(e.attemptId),
                                         bundles.last(), station_});
            QVERIFY2(made.code == 0, qPrintable(made.out));
        }
        const QString claim = QString::fromLatin1(Claim::evidenceClaim(fp, entries));
        Run r = verifyTool(QStringList{QStringLiteral("--claim"), claim} + bundles);
        QVERIFY2(r.code == 0, qPrintable(r.out));
        r = verifyTool(
            QStringList{QStringLiteral("--claim"),
                        QString::fromLatin1(flipped(claim.toLatin1(), claim.size() - 5))} +
            bundles);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.out.contains(QLatin1String("BROKEN: the claim's attempt")), qPrintable(r.out));
        // One attempt's bundle alone does not carry the other.
        r = verifyTool({QStringLiteral("--claim"), claim, bundles.first()});
        QCOMPARE(r.code, 1);

        const QString headClaim = QString::fromLatin1(Claim::headClaim(fp, head));
        r = verifyTool({QStringLiteral("--head"), headClaim, station_});
        QVERIFY2(r.code == 0, qPrintable(r.out));
        const QString cut = dir_.filePath(QStringLiteral("cut"));
        QVERIFY(QDir().mkpath(cut));
        QVERIFY(QFile::copy(station_ + QStringLiteral("/evidence.pub"),
                            cut + QStringLiteral("/evidence.pub")));
        QVERIFY(QFile::copy(db, cut + QStringLiteral("/Korvane.db")));
        {
            tamper::Db t(cut + QStringLiteral("/Korvane.db"));
            QVERIFY(t.run(QStringLiteral("delete from chain where seq>?"), {head.seq - 10}));
            QVERIFY(t.run(QStringLiteral("delete from chain_head where seq>?"), {head.seq - 10}));
        }
        r = verifyTool({QStringLiteral("--head"), headClaim, cut});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.out.contains(QLatin1String("truncated")), qPrintable(r.out));
    }

    // After an ID change the old ID's attempts went with its row: a review
    // of the old ID's new attempts must not bring back a best from before.
    void aReviewAfterAnIdChangeKeepsTheOldBestAway() {
        const QString db = dir_.filePath(QStringLiteral("moved.db"));
        SpeedDb::open(db);
        SpeedDb::checkNameColumn();
        qint64 ms = 1700000000000;
        const auto lap = [&](double t1, double elapsed) {
            for (int loop = 1; loop <= 2; ++loop) {
                const QString t = QString::number(loop == 1 ? t1 : t1 + elapsed, 'f', 3);
                Batch b;
                const QByteArray raw =
                    "@\t" + QByteArray::number(loop) + "\t0\t7\t" + t.toLatin1() + "\t0\t\r\n";
                ingest::storePassing({loop, QStringLiteral("7"), t, ms += 250, raw});
                b.commit();
            }
            if (const std::optional<SpeedTable::PendingRow> row = SpeedTable::nextPending())
                ingest::record(ingest::evaluate(*row, 500, SuspectChecks{}, ms));
            return Journal::lastAttemptId();
        };
        lap(100, 0.25); // 72 km/h, the old best
        SpeedTable::changeIdAndName(QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("m"));
        const qint64 best = lap(200, 0.5);
        lap(300, 1.0);
        Review::reject({best}, Review::Rules{});
        QCOMPARE(SpeedTable::storedBest(QStringLiteral("7")).value_or(QString()),
                 QStringLiteral("18"));
        tamper::signHead(key_);
        SpeedDb::close();
        const ChainCheck::Result r = ChainCheck::verify(db, key_.pub);
        QVERIFY2(r.ok(), qPrintable(r.first ? r.first->detail : r.error));
    }

    void anOlderFolderIsCoveredFromItsGenesis() {
        const QString db = dir_.filePath(QStringLiteral("older.db"));
        QVERIFY(QFile::copy(station_ + QStringLiteral("/Korvane.db"), db));
        {
            // The file as a version before the chain left it.
            tamper::Db old(db);
            QVERIFY(old.run(QStringLiteral("drop table chain")));
            QVERIFY(old.run(QStringLiteral("drop table chain_head")));
        }
        tamper::build(db, 60, key_, 3000); // opened anew: the genesis, then new rows
        ChainCheck::Result r = ChainCheck::verify(db, key_.pub);
        QVERIFY2(r.ok(), qPrintable(r.first ? r.first->detail : r.error));
        QVERIFY(r.genesis);

        const QString copy = dir_.filePath(QStringLiteral("older-copy.db"));
        QVERIFY(QFile::copy(db, copy));
        tamper::Db(copy).run(QStringLiteral("update passing set time=time+1 where id=5"));
        r = ChainCheck::verify(copy, key_.pub);
        QVERIFY(r.first);
        QCOMPARE(r.first->seq, 1);
        QCOMPARE(r.first->table, QStringLiteral("passing"));
        QCOMPARE(r.first->kind, QStringLiteral("changed"));
    }
};

QTEST_GUILESS_MAIN(TstVerify)
#include "tst_verify.moc"
