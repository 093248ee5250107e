// The evidence room: the station's key made at the first start and kept
// from others, the chain's head signed every SignEvery rows and at close,
// and a key it must not use told on the status page and in the event log
// while measuring goes on.
#include "DecoderWatch.h"
#include "EvidenceRoom.h"
#include "TestHost.h"

#include "Chain.h"
#include "ChainCheck.h"
#include "Claim.h"
#include "Database.h"
#include "Journal.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// n passings, each committed as the backlog commits them.
void passings(int n) {
    for (int i = 0; i < n; ++i) {
        Batch b;
        Journal::recordPassing(1700000000000 + i, 1, QStringLiteral("7"), QStringLiteral("1.5"),
                               "@\t1\t0\t7\t1.500\t0\t\r\n");
        b.commit();
    }
}

// What a camera reads from the code on the status page: the label as drawn,
// enlarged without smoothing as a photo of the screen would be.
QByteArray scanned(QLabel* qr, const QString& dir) {
    const QString file = dir + QStringLiteral("/qr.png");
    const QImage shot = qr->grab().toImage();
    if (!shot.scaled(shot.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(file))
        return "<not saved>";
    QProcess p;
    p.start(QStringLiteral("zbarimg"),
            {QStringLiteral("--quiet"), QStringLiteral("--raw"), QStringLiteral("-Sbinary"), file});
    if (!p.waitForFinished(30000))
        return "<zbarimg hung>";
    return p.readAllStandardOutput();
}

} // namespace

class TstEvidence : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { SpeedDb::close(); }

    void theHeadIsSignedEveryNRowsAndAtClose() {
        QTemporaryDir dir;
        TestHost host(dir.path());
        QFile ini(host.iniPath());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Evidence]\r\nSignEvery=5\r\n");
        ini.close();
        SpeedDb::open(host.databasePath());
        auto& room = static_cast<EvidenceRoom&>(host.adopt(std::make_unique<EvidenceRoom>(host)));
        host.roomsCreated();

        QVERIFY(room.signing());
        const QFileDevice::Permissions mode =
            QFile(dir.filePath(QStringLiteral("evidence.key"))).permissions();
        QVERIFY(mode & QFileDevice::ReadOwner);
        QVERIFY(!(mode & (QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                          QFileDevice::ReadOther | QFileDevice::WriteOther)));
        QVERIFY(
            host.statusLines().value(QStringLiteral("Evidence")).text.contains(room.fingerprint()));

        passings(4);
        emit host.attemptMeasured({});
        QCoreApplication::processEvents();
        QVERIFY(!Chain::lastSignedHead()); // 4 rows: not yet
        passings(1);
        emit host.attemptMeasured({});
        QTRY_VERIFY(Chain::lastSignedHead());
        QCOMPARE(Chain::lastSignedHead()->seq, 5);
        passings(2);
        host.roomsClose();
        QCOMPARE(Chain::lastSignedHead()->seq, 7);

        QString why;
        const QByteArray pub = ChainCheck::publicKeyIn(dir.path(), &why);
        QCOMPARE(ChainCheck::fingerprint(pub), room.fingerprint());
        SpeedDb::close();
        const ChainCheck::Result r = ChainCheck::verify(host.databasePath(), pub);
        QVERIFY(r.ok());
        QCOMPARE(r.signedUpTo, 7);
    }

    // The status page carries the last signed head as a code, and a newer
    // head replaces it as soon as it is signed.
    void theStatusPageShowsTheLastSignedHeadAsAQrCode() {
        if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
            QFAIL("zbarimg is missing: scripts/setup installs zbar-tools");
        QTemporaryDir dir;
        TestHost host(dir.path());
        QFile ini(host.iniPath());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Evidence]\r\nSignEvery=3\r\n");
        ini.close();
        SpeedDb::open(host.databasePath());
        host.adopt(std::make_unique<DecoderWatch>(host));
        auto& room = static_cast<EvidenceRoom&>(host.adopt(std::make_unique<EvidenceRoom>(host)));
        host.roomsCreated();
        host.showPage(host.page(QStringLiteral("status")));
        auto* qr = host.top.findChild<QLabel*>(QStringLiteral("StatusQr"));
        QVERIFY(qr);
        QVERIFY(qr->isHidden()); // nothing signed yet

        for (const qint64 seq : {3, 6}) {
            passings(3);
            emit host.attemptMeasured({});
            QTRY_COMPARE(Chain::lastSignedHead() ? Chain::lastSignedHead()->seq : 0, seq);
            const QByteArray claim = Claim::headClaim(room.fingerprint(), *Chain::lastSignedHead());
            QTRY_VERIFY(!qr->isHidden());
            QCOMPARE(scanned(qr, dir.path()), claim);
        }
        host.roomsClose();
    }

    void aKeyOthersMayReadIsToldAndMeasuringGoesOn() {
        QTemporaryDir dir;
        {
            TestHost first(dir.path());
            first.adopt(std::make_unique<EvidenceRoom>(first));
            first.roomsCreated(); // makes the key
        }
        QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("evidence.key")),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ReadOther));
        TestHost host(dir.path());
        SpeedDb::open(host.databasePath());
        auto& room = static_cast<EvidenceRoom&>(host.adopt(std::make_unique<EvidenceRoom>(host)));
        host.roomsCreated();
        QVERIFY(!room.signing());
        const QString line = host.statusLines().value(QStringLiteral("Evidence")).text;
        QVERIFY2(line.contains(QLatin1String("0600")), qPrintable(line));
        QVERIFY(host.notes.join(QString()).contains(QLatin1String("0600")));
        passings(3);
        emit host.attemptMeasured({});
        QCoreApplication::processEvents();
        host.roomsClose();
        QCOMPARE(Chain::head().seq, 3);
        QVERIFY(!Chain::lastSignedHead());
    }
};

QTEST_MAIN(TstEvidence)
#include "tst_evidence.moc"
