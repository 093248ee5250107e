#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "CertificatePaint.h"
#include "Language.h"
#include "SlipPrinter.h"

namespace {

const QString kHash1 =
    QStringLiteral("9b74c9897bac770ffc029102a200c5de0d6b3b1f2c7e4f5a6b7c8d9e0f1a2b3c");
const QString kHash2 =
    QStringLiteral("0e5d1f7a93c2b4a6d8e0f1a2b3c4d5e6f708192a3b4c5d6e7f8091a2b3c4d5e6");
const QString kFp =
    QStringLiteral("3f9a1c2b7d0e4f5612ab34cd56ef7890a1b2c3d4e5f60718293a4b5c6d7e8f90");

// A record attempt whose names are longer than any layout has room for: the
// figures, the hashes and the QR code must come through regardless.
CertificateData sample(DocumentKind kind) {
    CertificateData d;
    d.event =
        QStringLiteral("第12回 全日本ラジコンスピードチャレンジ 秋季大会 電動オープンクラス最高速度"
                       "記録会 兼 地区予選 兼 新型モーター試走会 The Very Long Autumn Open Meet");
    d.station = QStringLiteral("北コース 計測所1");
    d.atMs = 1792300000000;
    d.driver =
        QStringLiteral("山田 太郎左衛門之助 Yamada Taro-Zaemon-no-Suke of the Northern Club");
    d.className = QStringLiteral("電動ツーリング 1/10");
    d.tpid = QStringLiteral("4711023");
    d.sectionCm = 500;
    d.surveyToleranceMm = 5;
    CertificateRun r1;
    r1.attemptId = 1841;
    r1.measuredMs = d.atMs - 540000;
    r1.loop1Time = QStringLiteral("42127.463");
    r1.loop2Time = QStringLiteral("42127.775");
    r1.speedKmh = 57.692;
    r1.uncertaintyKmh = 0.31;
    r1.clockOffsetMs = 1.2;
    r1.chainSeq = 98765;
    r1.chainHash = kHash1;
    CertificateRun r2 = r1;
    r2.attemptId = 1847;
    r2.direction = RunDirection::Reverse;
    r2.loop1Time = QStringLiteral("42668.905");
    r2.loop2Time = QStringLiteral("42668.591");
    r2.speedKmh = 57.3249; // shown cut as the station shows it: 57.324
    r2.chainSeq = 98802;
    r2.chainHash = kHash2;
    d.meanKmh = 57.508;
    d.meanUncertaintyKmh = 0.22;
    d.margin = CertificateMargin{56.1, 1, 56.661, true};
    d.reviews = {{1841, QStringLiteral("accept"), d.atMs - 300000, QStringLiteral("旗の誤り")}};
    d.fingerprint = kFp;
    if (kind == DocumentKind::Certificate) {
        d.runs = {r1, r2};
        d.claim = QStringLiteral("korvane-evidence:1;fp=%1;attempt=1841,1847;row=98765,98802;"
                                 "hash=%2,%3")
                      .arg(kFp, kHash1, kHash2)
                      .toLatin1();
    } else {
        d.runs = {r1};
        d.claim = QStringLiteral("korvane-evidence:1;fp=%1;attempt=1841;row=98765;hash=%2")
                      .arg(kFp, kHash1)
                      .toLatin1();
    }
    return d;
}

QByteArray run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return "<" + program.toLatin1() + " failed: " + p.readAllStandardError() + ">";
    return p.readAllStandardOutput();
}

// A sink that holds every slip at a gate until the test opens it, and keeps
// the order in which slips reached it.
class GatedSink : public PdfFolderSink {
public:
    GatedSink(const QString& folder, QSemaphore* gate, QVector<qint64>* order, QMutex* mutex)
        : PdfFolderSink(folder), gate_(gate), order_(order), mutex_(mutex) {}
    bool print(const CertificateData& slip, QString* error) override {
        if (!gate_->tryAcquire(1, 20000))
            return false;
        QMutexLocker lock(mutex_);
        order_->append(slip.runs.first().attemptId);
        return PdfFolderSink::print(slip, error);
    }

private:
    QSemaphore* gate_;
    QVector<qint64>* order_;
    QMutex* mutex_;
};

class NoPrinterSink : public SlipSink {
public:
    explicit NoPrinterSink(QAtomicInt* asked) : asked_(asked) {}
    bool ready(QString* why) override {
        asked_->ref();
        *why = QStringLiteral("no default printer");
        return false;
    }
    bool print(const CertificateData&, QString*) override { return true; }

private:
    QAtomicInt* asked_;
};

} // namespace

class TstCertificate : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        for (const char* tool : {"pdftotext", "pdftoppm", "pdffonts", "pdfinfo", "zbarimg"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QFAIL(qPrintable(QStringLiteral("%1 is missing: scripts/setup installs it")
                                     .arg(QString::fromLatin1(tool))));
        QVERIFY(CertificatePaint::ensureFont());
    }
    void cleanup() { installLanguage(UiLanguage::Japanese); }

    void documentShowsFiguresAndScansToClaim_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("english");
        QTest::newRow("certificate ja") << int(DocumentKind::Certificate) << false;
        QTest::newRow("certificate en") << int(DocumentKind::Certificate) << true;
        QTest::newRow("slip ja") << int(DocumentKind::Slip) << false;
        QTest::newRow("slip en") << int(DocumentKind::Slip) << true;
    }
    // What a reader checks on paper: every figure, the hashes and the key, in
    // the document's own embedded font, and a QR code that scans to exactly
    // the claim (so nothing was drawn over it).
    void documentShowsFiguresAndScansToClaim() {
        QFETCH(int, kind);
        QFETCH(bool, english);
        const auto k = DocumentKind(kind);
        QVERIFY(installLanguage(english ? UiLanguage::English : UiLanguage::Japanese));
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("doc.pdf"));
        const CertificateData d = sample(k);
        QString error;
        QVERIFY2(CertificatePaint::writePdf(pdf, k, d, &error), qPrintable(error));

        const QString info = QString::fromUtf8(run(QStringLiteral("pdfinfo"), {pdf}));
        QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))),
                 qPrintable(info));
        if (k == DocumentKind::Slip) // 80 mm wide
            QVERIFY2(
                info.contains(QRegularExpression(QStringLiteral("Page size:\\s+22[67]\\S* x"))),
                qPrintable(info));

        const QString text =
            QString::fromUtf8(run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}));
        QString joined = text;
        joined.remove(QRegularExpression(QStringLiteral("\\s")));
        QStringList figures = {QStringLiteral("57.692"),
                               QStringLiteral("±0.31km/h"),
                               QStringLiteral("0.54%"),
                               QStringLiteral("5.000m±5mm"),
                               QStringLiteral("42127.463"),
                               QStringLiteral("42127.775"),
                               QStringLiteral("+1.2ms"),
                               QStringLiteral("4711023"),
                               QStringLiteral("山田"),
                               kHash1,
                               kFp};
        if (k == DocumentKind::Certificate)
            figures << QStringLiteral("57.508km/h") << QStringLiteral("±0.22km/h")
                    << QStringLiteral("56.661km/h") << QStringLiteral("57.324±0.31km/h") << kHash2;
        figures << (english ? QStringLiteral("Reason") : QStringLiteral("理由"));
        for (const QString& f : figures)
            QVERIFY2(joined.contains(f), qPrintable(f + QStringLiteral(" not in:\n") + text));
        if (english)
            QVERIFY2(!text.contains(QStringLiteral("ドライバー")), qPrintable(text));

        // Only IPAGothic, and embedded.
        const QStringList fonts = QString::fromUtf8(run(QStringLiteral("pdffonts"), {pdf}))
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                      .mid(2);
        QVERIFY(!fonts.isEmpty());
        for (const QString& f : fonts) {
            QVERIFY2(f.contains(QStringLiteral("IPAGothic")), qPrintable(f));
            // Embedded, with its Unicode map (for copying and searching).
            QVERIFY2(f.contains(QRegularExpression(QStringLiteral("\\byes\\s+\\w+\\s+yes\\b"))),
                     qPrintable(f));
        }

        run(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QStringLiteral("100"), QStringLiteral("-png"),
             QStringLiteral("-singlefile"), pdf, dir.filePath(QStringLiteral("page"))});
        QCOMPARE(run(QStringLiteral("zbarimg"),
                     {QStringLiteral("--quiet"), QStringLiteral("--raw"),
                      QStringLiteral("-Sbinary"), dir.filePath(QStringLiteral("page.png"))}),
                 d.claim);
    }

    // Slips reach the printer in the order they were given, while the caller
    // goes on at once; beyond the bound they are dropped with one notice.
    void slipPrinterQueuesInOrderWithoutBlocking() {
        QTemporaryDir dir;
        QSemaphore gate;
        QVector<qint64> order;
        QMutex mutex;
        QStringList notices;
        const int bound = 4;
        SlipPrinter printer(
            std::make_unique<GatedSink>(dir.path(), &gate, &order, &mutex),
            [&](const QString& n) { notices << n; }, nullptr, bound);
        CertificateData slip = sample(DocumentKind::Slip);
        QElapsedTimer clock;
        clock.start();
        int accepted = 0;
        for (int i = 1; i <= bound + 3; ++i) {
            slip.runs[0].attemptId = i;
            accepted += printer.print(slip);
        }
        // The gate is shut: a caller that waited on the sink would be held
        // until the sink gives up after 20 s.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(accepted, bound);
        QCOMPARE(notices.size(), 1);

        gate.release(bound);
        QTRY_COMPARE_WITH_TIMEOUT(printer.printed(), bound, 60000);
        QCOMPARE(order, (QVector<qint64>{1, 2, 3, 4}));
        QCOMPARE(printer.queued(), 0);
        for (int i = 1; i <= bound; ++i)
            QVERIFY(QFile::exists(dir.filePath(QStringLiteral("slip-%1.pdf").arg(i))));
        // The queue drained: a later burst is queued again, and a new overflow
        // would be told anew.
        slip.runs[0].attemptId = 9;
        gate.release(1);
        QVERIFY(printer.print(slip));
        QTRY_COMPARE_WITH_TIMEOUT(printer.printed(), bound + 1, 60000);
    }

    // Without a printer the operator hears it once, and slips are dropped
    // on the spot instead of waiting in a queue that only grows.
    void slipPrinterWithoutPrinterTellsOnceAndDrops() {
        QAtomicInt asked;
        QStringList notices;
        SlipPrinter printer(
            std::make_unique<NoPrinterSink>(&asked), [&](const QString& n) { notices << n; },
            nullptr, 16, 3600000);
        const CertificateData slip = sample(DocumentKind::Slip);
        printer.print(slip);
        QTRY_COMPARE(notices.size(), 1);
        QCOMPARE(notices.first(), QStringLiteral("no default printer"));
        for (int i = 0; i < 500; ++i)
            QVERIFY(!printer.print(slip));
        QCOMPARE(printer.queued(), 0);
        QCOMPARE(notices.size(), 1);
        QCOMPARE(asked.loadRelaxed(), 1);
        QCOMPARE(printer.dropped(), 501);
    }
};

QTEST_MAIN(TstCertificate)
#include "tst_certificate.moc"
