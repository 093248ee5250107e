// Record attempts: a reverse run found in the journal's passings is stored
// with its chain link and completes a pair; runs that cannot complete one
// leave it open with the reason, and a reject after completion reopens it.
// With the slip switch on, each measurement either way gets a slip.
#include "Chain.h"
#include "Claim.h"
#include "Database.h"
#include "Journal.h"
#include "KeyStore.h"
#include "RecordRoom.h"
#include "RecordStore.h"
#include "SlipPrinter.h"
#include "TestHost.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <sodium.h>

namespace {

constexpr qint64 kMinute = 60 * 1000;

void writeIni(const QString& dir, const QByteArray& text) {
    QFile f(dir + QStringLiteral("/Korvane.ini"));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

qint64 passing(int loop, const QString& time) {
    static qint64 receivedMs = 0;
    receivedMs += 10000;
    Journal::recordPassing(receivedMs, loop, QStringLiteral("7"), time,
                           QStringLiteral("@\t1\t2\t7\t%1\t").arg(time).toLatin1());
    return Journal::lastPassingId();
}

// An attempt as measuring or the reverse finder stores it.
qint64 run(bool reverse, double speed, qint64 atMs, const QString& status = Journal::kOk,
           qint64 p1 = 0, qint64 p2 = 0, double span = 0.3) {
    Journal::Attempt a;
    a.tpid = QStringLiteral("7");
    a.passing1 = p1;
    a.passing2 = p2;
    a.time1 = reverse ? 10 + span : 10;
    a.time2 = reverse ? 10 : 10 + span;
    a.distCm = 500;
    a.speed = speed;
    a.speedText = QString::number(speed);
    a.status = status;
    a.measuredMs = atMs;
    return reverse ? Journal::recordReverseAttempt(a) : Journal::recordAttempt(a);
}

QString pdfText(const QString& pdf) {
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    text.waitForFinished(30000);
    return QString::fromUtf8(text.readAllStandardOutput());
}

MeasuredAttempt told(qint64 id) {
    MeasuredAttempt m;
    m.id = id;
    m.tpid = QStringLiteral("7");
    return m;
}

} // namespace

class TstRecord : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void init() {
        QFile::remove(dir.filePath(QStringLiteral("Korvane.db")));
        SpeedDb::open(dir.filePath(QStringLiteral("Korvane.db")));
        writeIni(dir.path(), "[Record]\nTwoWay=1\nWindowMin=60\n");
    }
    void cleanup() { SpeedDb::close(); }

    void reverseRunIsFoundStoredInTheChainAndCompletesThePair() {
        TestHost host(dir.path());
        host.inForce.Dist = 500;
        RecordRoom room(host);
        room.nowMs = [] { return qint64(3000); };
        room.created();
        QVERIFY(host.page(QStringLiteral("record")));

        // Loop 1 then loop 2: measuring's attempt, its uncertainty stored in its commit.
        const qint64 a1 = passing(1, QStringLiteral("10.000"));
        const qint64 a2 = passing(2, QStringLiteral("10.500"));
        const qint64 forward = run(false, 36, 1000, Journal::kOk, a1, a2, 0.5);
        emit host.attemptStoring(told(forward));
        emit host.attemptMeasured(told(forward));
        QVERIFY(Journal::runFacts(forward)->uKmh > 0);
        room.findReverseRuns();
        QCOMPARE(Journal::lastAttemptId(), forward);

        // Loop 2 then loop 1, the loop-1 line first: a reverse run of 0.25 s.
        passing(1, QStringLiteral("40.250"));
        passing(2, QStringLiteral("40.000"));
        room.findReverseRuns();
        const qint64 reverse = Journal::lastAttemptId();
        QVERIFY(reverse > forward);
        const Journal::Run r = *Journal::runFacts(reverse);
        QVERIFY(r.reverse);
        QCOMPARE(r.speed, 72.0);
        QCOMPARE(r.status, Journal::kOk);
        QVERIFY(r.uKmh > 0);
        QSqlQuery link(SpeedDb::database());
        QVERIFY(
            link.exec(QStringLiteral("select kind, row_id from chain order by seq desc limit 1")));
        QVERIFY(link.next());
        QCOMPARE(link.value(0).toString(), QStringLiteral("attempt"));
        QCOMPARE(link.value(1).toLongLong(), reverse);

        const QVector<RecordStore::RecordAttempt> all = RecordStore::newest(10);
        QCOMPARE(all.size(), 1);
        QCOMPARE(all[0].state, RecordStore::kCompleted);
        QCOMPARE(all[0].run2, reverse);
        QCOMPARE(all[0].mean, 54.0);
        // By keyboard: Space picks it, Tab leaves the list for 証明書.
        QWidget* page = host.page(QStringLiteral("record"));
        room.showList();
        page->window()->show();
        page->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(page->window()));
        room.list()->setFocus();
        QTest::keyClick(room.list(), Qt::Key_Space);
        QTest::keyClick(room.list(), Qt::Key_Tab);
        auto* button = page->findChild<QPushButton*>(QStringLiteral("recordCertificate"));
        QVERIFY(button && button->isEnabled());
        QCOMPARE(QApplication::focusWidget(), button);
        QTest::keyClick(button, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("recordPrint"));
        page->window()->hide();
        QCOMPARE(host.recordStates().size(), 1);
        QVERIFY(host.recordStates()[0].resultText.startsWith(QStringLiteral("54 ± ")));

        // Its certificate: the figures in the PDF's text, and a QR code that
        // names the two runs' chain links under the station's key.
        QString why;
        const QString pdf = dir.filePath(QStringLiteral("certificate.pdf"));
        const KeyStore::Keys keys = KeyStore::loadOrMake(dir.path());
        QVERIFY(!keys.secretKey.isEmpty());
        QVERIFY2(room.writeCertificate(all[0].id, pdf, &why), qPrintable(why));
        const QString words = pdfText(pdf);
        QVERIFY2(words.contains(QStringLiteral("54.000")) &&
                     words.contains(QStringLiteral("72.000")),
                 qPrintable(words));
        QProcess render;
        render.start(QStringLiteral("pdftoppm"),
                     {QStringLiteral("-r"), QStringLiteral("150"), QStringLiteral("-png"),
                      QStringLiteral("-singlefile"), pdf, dir.filePath(QStringLiteral("page"))});
        QVERIFY(render.waitForFinished(60000));
        QProcess scan;
        scan.start(QStringLiteral("zbarimg"),
                   {QStringLiteral("--quiet"), QStringLiteral("--raw"), QStringLiteral("-Sbinary"),
                    dir.filePath(QStringLiteral("page.png"))});
        QVERIFY(scan.waitForFinished(30000));
        const QByteArray scanned = scan.readAllStandardOutput().trimmed();
        const std::optional<Claim::Evidence> claim = Claim::parseEvidence(scanned, &why);
        QVERIFY2(claim, qPrintable(why));
        QCOMPARE(claim->entries.size(), 2);
        for (const Claim::Entry& e : claim->entries) {
            const std::optional<Claim::Entry> link = Claim::attemptLink(e.attemptId);
            QVERIFY(link && link->seq == e.seq && link->hash == e.hash);
        }
        QCOMPARE(claim->entries[1].attemptId, reverse);
        // The verifier takes the claim against an exported bundle of the
        // two runs, and refuses it once one byte of a raw line is changed.
        Chain::SignedHead head;
        head.seq = Chain::head().seq;
        head.hash = Chain::head().hash;
        head.atMs = 4000;
        head.publicKey = keys.publicKey;
        const QByteArray message = Chain::headMessage(head.seq, head.hash, head.atMs);
        head.signature.resize(crypto_sign_BYTES);
        crypto_sign_detached(reinterpret_cast<unsigned char*>(head.signature.data()), nullptr,
                             reinterpret_cast<const unsigned char*>(message.constData()),
                             quint64(message.size()),
                             reinterpret_cast<const unsigned char*>(keys.secretKey.constData()));
        Chain::storeSignedHead(head);
        const QString bundle = dir.filePath(QStringLiteral("bundle"));
        auto verify = [](const QStringList& args) {
            QProcess tool;
            tool.start(QStringLiteral(KORVANE_VERIFY_BIN), args);
            return tool.waitForFinished(60000) ? tool.exitCode() : -1;
        };
        QCOMPARE(verify({QStringLiteral("--export"),
                         QStringLiteral("%1,%2").arg(forward).arg(reverse), bundle, dir.path()}),
                 0);
        const QString claimText = QString::fromLatin1(scanned);
        QCOMPARE(verify({QStringLiteral("--claim"), claimText, bundle}), 0);
        QFile json(bundle + QStringLiteral("/bundle.json"));
        QVERIFY(json.open(QIODevice::ReadWrite));
        QByteArray contents = json.readAll();
        const qsizetype at = contents.indexOf("40.250\\t");
        QVERIFY(at > 0);
        contents[at + 5] = '1';
        QVERIFY(json.seek(0) && json.write(contents) == contents.size());
        json.close();
        QCOMPARE(verify({QStringLiteral("--claim"), claimText, bundle}), 1);
        // Only a completed record attempt has one.
        QVERIFY(!room.writeCertificate(all[0].id + 1, pdf, &why));

        // A closed course: the loop-1 passing of the next lap after a
        // measured run's loop-2 passing is no reverse run, and neither is
        // a loop-1 passing after a loop-2 passing a reverse run used.
        const qint64 b1 = passing(1, QStringLiteral("100.000"));
        const qint64 b2 = passing(2, QStringLiteral("100.300"));
        run(false, 60, 2000, Journal::kOk, b1, b2);
        const qint64 before = Journal::lastAttemptId();
        passing(1, QStringLiteral("130.000"));
        room.findReverseRuns();
        QCOMPARE(Journal::lastAttemptId(), before);
    }

    void badRunsLeaveTheAttemptOpenAndARejectReopensIt() {
        TestHost host(dir.path());
        RecordRoom room(host);
        room.nowMs = [] { return 65 * kMinute; };
        room.created();
        const qint64 first = run(false, 60, 0);
        room.weigh(first);
        auto open = [] { return RecordStore::openOf(QStringLiteral("7")); };
        QCOMPARE(open()->run1, first);

        // 61 minutes on: the window has passed; the later run starts anew.
        const qint64 late = run(true, 62, 61 * kMinute);
        room.weigh(late);
        QCOMPARE(open()->run1, late);
        QVERIFY(open()->reason.contains(QStringLiteral("61")));

        // The same direction again: no pair.
        const qint64 same = run(true, 63, 62 * kMinute);
        room.weigh(same);
        QCOMPARE(open()->run1, same);
        QVERIFY(open()->reason.contains(QString::number(same)));

        // A return run that is not a measurement leaves it waiting.
        const qint64 unmeasured = run(false, 61, 63 * kMinute, Journal::kNotMeasurement);
        room.weigh(unmeasured);
        QCOMPARE(open()->run1, same);
        QVERIFY(open()->reason.contains(QString::number(unmeasured)));

        const qint64 back = run(false, 61, 64 * kMinute);
        room.weigh(back);
        QVERIFY(!open());
        QCOMPARE(RecordStore::newest(1)[0].mean, 62.0);

        // Rejected on the history page after completion: open again, the
        // remaining run waiting for a new partner, the reason shown.
        Journal::setStatus(back, Journal::kRejected);
        room.reweigh();
        QVERIFY(open());
        QCOMPARE(open()->run1, same);
        QCOMPARE(open()->run2, 0);
        QVERIFY(open()->reason.contains(QString::number(back)));
        room.showList();
        QCOMPARE(room.list()->item(0, 8)->text(), open()->reason);
        QCOMPARE(host.recordStates()[0].state, QStringLiteral("waiting"));
    }

    // A record rests on runs nobody doubts: a suspect return run is held
    // as the partner and completes the attempt only once it is accepted.
    void aSuspectRunCompletesOnlyWhenAccepted() {
        TestHost host(dir.path());
        RecordRoom room(host);
        room.nowMs = [] { return 10 * kMinute; };
        room.created();
        auto open = [] { return RecordStore::openOf(QStringLiteral("7")); };
        room.weigh(run(false, 300, 0, Journal::kSuspect));
        QVERIFY(!open());

        const qint64 first = run(true, 60, kMinute);
        room.weigh(first);
        // The usual way's view of the run back (loop 2 before loop 1, not a
        // measurement there) says nothing about the attempt.
        Journal::Attempt view;
        view.tpid = QStringLiteral("7");
        view.time1 = 10.3;
        view.time2 = 10;
        view.distCm = 500;
        view.status = Journal::kNotMeasurement;
        view.measuredMs = kMinute + 1;
        room.weigh(Journal::recordAttempt(view));
        QVERIFY(open()->reason.isEmpty());
        const qint64 doubted = run(false, 64, 2 * kMinute, Journal::kSuspect);
        room.weigh(doubted);
        QCOMPARE(open()->run2, doubted);
        QVERIFY(open()->reason.contains(QString::number(doubted)));
        room.reweigh();
        QVERIFY(open());

        Journal::setStatus(doubted, Journal::kAccepted);
        room.reweigh();
        QVERIFY(!open());
        QCOMPARE(RecordStore::newest(1)[0].mean, 62.0);
        QCOMPARE(RecordStore::newest(1)[0].state, RecordStore::kCompleted);

        // Loop 1, loop 2, loop 2 again (the start of the run back) before the
        // usual way measured: timed to the second crossing, it is no partner.
        room.weigh(run(true, 61, 3 * kMinute));
        const qint64 l1 = passing(1, QStringLiteral("200.000"));
        passing(2, QStringLiteral("200.300"));
        const qint64 l2 = passing(2, QStringLiteral("202.900"));
        const qint64 slow = run(false, 6.5, 4 * kMinute, Journal::kOk, l1, l2);
        room.weigh(slow);
        QVERIFY(open());
        QVERIFY(open()->reason.contains(QString::number(slow)));
    }

    void withoutTwoWayNothingIsPaired() {
        writeIni(dir.path(), "[Record]\n");
        TestHost host(dir.path());
        RecordRoom room(host);
        room.created();
        QVERIFY(!host.page(QStringLiteral("record")));
        passing(2, QStringLiteral("40.000"));
        passing(1, QStringLiteral("40.250"));
        const qint64 id = run(false, 60, 0);
        emit host.attemptMeasured(told(id));
        QCOMPARE(Journal::lastAttemptId(), id);
        QVERIFY(RecordStore::newest(10).isEmpty());
    }

    // Slips keep the attempts' order, so once a later slip is there an
    // earlier one that was queued would be there too.
    void everyMeasurementGetsASlipEvenWithoutTwoWay() {
        writeIni(dir.path(), "[Record]\nSlipEveryAttempt=1\n");
        KeyStore::loadOrMake(dir.path());
        QTemporaryDir slips;
        TestHost host(dir.path());
        RecordRoom room(host);
        room.slipSink = [&] { return std::make_unique<PdfFolderSink>(slips.path()); };
        room.created();
        QVERIFY(!host.page(QStringLiteral("record")));
        auto slip = [&](qint64 id) {
            return slips.filePath(QStringLiteral("slip-%1.pdf").arg(id));
        };

        const qint64 unmeasured = run(false, 0, 0, Journal::kNotMeasurement);
        emit host.attemptMeasured(told(unmeasured));
        const qint64 suspect = run(false, 300, 1000, Journal::kSuspect);
        emit host.attemptMeasured(told(suspect));
        Journal::Attempt a;
        a.tpid = QStringLiteral("80421");
        a.time1 = 12.5;
        a.time2 = 12.794;
        a.distCm = 500;
        a.speed = 61.224;
        a.speedText = QStringLiteral("61.224");
        a.measuredMs = 2000;
        const qint64 ok = Journal::recordAttempt(a);
        emit host.attemptMeasured(told(ok));

        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(slip(ok)), 30000);
        QVERIFY(QFile::exists(slip(suspect)));
        QVERIFY(!QFile::exists(slip(unmeasured)));
        const QString words = pdfText(slip(ok));
        QVERIFY2(words.contains(QStringLiteral("80421")) &&
                     words.contains(QStringLiteral("61.224 km/h")) &&
                     words.contains(QStringLiteral("12.794")),
                 qPrintable(words));
        QVERIFY(RecordStore::newest(10).isEmpty());
    }

    void theCheckBoxSwitchesSlipsAtOnceAndKeepsTheRestOfTheFile() {
        writeIni(dir.path(), "[Record]\nTwoWay=1\nWindowMin=45\n[Web]\nPort=8080\n");
        QTemporaryDir slips;
        TestHost host(dir.path());
        host.inForce.Dist = 500;
        RecordRoom room(host);
        room.slipSink = [&] { return std::make_unique<PdfFolderSink>(slips.path()); };
        room.created();
        auto* box = host.page(QStringLiteral("record"))
                        ->findChild<QCheckBox*>(QStringLiteral("recordSlipEveryAttempt"));
        QVERIFY(box && !box->isChecked());

        const qint64 a1 = passing(1, QStringLiteral("10.000"));
        const qint64 a2 = passing(2, QStringLiteral("10.300"));
        const qint64 forward = run(false, 60, 1000, Journal::kOk, a1, a2);
        emit host.attemptMeasured(told(forward));
        room.findReverseRuns();

        box->click();
        const RecordSettings saved = LoadRecordSettings(host.iniPath());
        QCOMPARE(saved.SlipEveryAttempt, 1);
        QCOMPARE(saved.WindowMin, 45);
        QFile ini(host.iniPath());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(ini.readAll().contains("[Web]\nPort=8080\n"));

        // A reverse run is slipped as soon as it is stored.
        passing(1, QStringLiteral("40.250"));
        passing(2, QStringLiteral("40.000"));
        room.findReverseRuns();
        const qint64 reverse = Journal::lastAttemptId();
        QVERIFY(reverse > forward);
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(slips.filePath(QStringLiteral("slip-%1.pdf").arg(reverse))), 30000);
        QVERIFY(!QFile::exists(slips.filePath(QStringLiteral("slip-%1.pdf").arg(forward))));

        box->click();
        QCOMPARE(LoadRecordSettings(host.iniPath()).SlipEveryAttempt, 0);
    }
};

QTEST_MAIN(TstRecord)
#include "tst_record.moc"
