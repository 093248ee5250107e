#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "QrCode.h"

// What a QR code is for here is that a scanner returns the exact bytes: the
// tests read the codes back with zbarimg, from a bitmap and from a PDF page.
class TstQrCode : public QObject {
    Q_OBJECT

    // zbarimg in binary mode gives the bytes as they are (no newline added).
    QByteArray scan(const QString& file) {
        QProcess p;
        p.start(QStringLiteral("zbarimg"), {QStringLiteral("--quiet"), QStringLiteral("--raw"),
                                            QStringLiteral("-Sbinary"), file});
        if (!p.waitForFinished(30000))
            return "<zbarimg hung>";
        return p.readAllStandardOutput();
    }

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
            QFAIL("zbarimg is missing: scripts/setup installs zbar-tools");
    }

    void readsBackFromImageAndPdf() {
        QTemporaryDir dir;
        // A claim as long as the certificates carry, with separators, a hash and
        // Japanese text in UTF-8.
        const QByteArray text =
            "korvane-evidence:1;fp=3f9a1c2b7d0e4f56;attempt=1234567;row=98765;"
            "hash=9b74c9897bac770ffc029102a200c5de0d6b3b1f2c7e4f5a6b7c8d9e0f1a2b3c;名前=山田";
        const QrCode code = QrCode::encode(text);
        QVERIFY(!code.isNull());

        const QString png = dir.filePath(QStringLiteral("q.png"));
        QVERIFY(code.image(4).save(png));
        QCOMPARE(scan(png), text);

        // In a PDF it is drawn as vector rectangles: render it with poppler as a
        // reader would and scan that.
        const QString pdf = dir.filePath(QStringLiteral("q.pdf"));
        {
            QPdfWriter writer(pdf);
            writer.setResolution(300);
            QPainter p(&writer);
            code.paint(p, QRectF(300, 300, 900, 900));
        }
        QProcess render;
        render.start(QStringLiteral("pdftoppm"),
                     {QStringLiteral("-r"), QStringLiteral("100"), QStringLiteral("-png"),
                      QStringLiteral("-singlefile"), pdf, dir.filePath(QStringLiteral("page"))});
        QVERIFY(render.waitForFinished(30000));
        QCOMPARE(scan(dir.filePath(QStringLiteral("page.png"))), text);
    }

    void tooLongIsNull() { QVERIFY(QrCode::encode(QByteArray(4000, 'x')).isNull()); }
};

QTEST_MAIN(TstQrCode)
#include "tst_qrcode.moc"
