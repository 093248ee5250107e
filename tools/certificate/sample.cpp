// korvane-certificate-sample [--slip] [--lang en|ja] OUT.pdf
// Writes a certificate (or a slip) of a made-up record attempt, for the
// manual's pictures and for looking at the layout after changing it.
#include "CertificatePaint.h"
#include "Language.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption slipOption(QStringLiteral("slip"), QStringLiteral("a slip of run 1"));
    const QCommandLineOption langOption(QStringLiteral("lang"), QStringLiteral("en or ja"),
                                        QStringLiteral("LANG"), QStringLiteral("ja"));
    parser.addOptions({slipOption, langOption});
    parser.addPositionalArgument(QStringLiteral("OUT.pdf"), QStringLiteral("the file to write"));
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    installLanguage(
        chooseLanguage(parser.value(langOption), [](const char*) { return QByteArray(); }));

    const qint64 t0 = QDateTime(QDate(2026, 10, 18), QTime(11, 42, 7)).toMSecsSinceEpoch();
    CertificateData d;
    d.event =
        QStringLiteral("第12回 全日本RCスピードチャレンジ 秋季大会・電動オープン最高速度記録会");
    d.station = QStringLiteral("北コース 計測所1");
    d.atMs = t0 + 9 * 60000;
    d.driver = QStringLiteral("山田 太郎");
    d.className = QStringLiteral("電動ツーリング 1/10");
    d.tpid = QStringLiteral("4711023");
    d.sectionCm = 500;
    d.surveyToleranceMm = 5;
    CertificateRun forward;
    forward.attemptId = 1841;
    forward.direction = RunDirection::Forward;
    forward.measuredMs = t0;
    forward.loop1Time = QStringLiteral("42127.463");
    forward.loop2Time = QStringLiteral("42127.775");
    forward.speedKmh = 57.692;
    forward.uncertaintyKmh = 0.31;
    forward.clockOffsetMs = 1.2;
    forward.clockSpreadMs = 0.4;
    forward.chainSeq = 98765;
    forward.chainHash =
        QStringLiteral("9b74c9897bac770ffc029102a200c5de0d6b3b1f2c7e4f5a6b7c8d9e0f1a2b3c");
    forward.status = QStringLiteral("accepted");
    CertificateRun reverse = forward;
    reverse.attemptId = 1847;
    reverse.direction = RunDirection::Reverse;
    reverse.measuredMs = t0 + 9 * 60000;
    reverse.loop1Time = QStringLiteral("42668.905");
    reverse.loop2Time = QStringLiteral("42668.591");
    reverse.speedKmh = 57.324;
    reverse.clockOffsetMs = 1.4;
    reverse.chainSeq = 98802;
    reverse.chainHash =
        QStringLiteral("0e5d1f7a93c2b4a6d8e0f1a2b3c4d5e6f708192a3b4c5d6e7f8091a2b3c4d5e6");
    reverse.status = QStringLiteral("ok");
    d.runs = {forward, reverse};
    d.meanKmh = 57.508;
    d.meanUncertaintyKmh = 0.22;
    d.margin = CertificateMargin{56.1, 1, 56.661, true};
    d.reviews = {{1841, QStringLiteral("accept"), t0 + 4 * 60000,
                  QStringLiteral("ループ2の前で旗が振られたが、走行に影響なし")}};
    d.fingerprint =
        QStringLiteral("3f9a1c2b7d0e4f5612ab34cd56ef7890a1b2c3d4e5f60718293a4b5c6d7e8f90");
    const QString fp = d.fingerprint;
    d.claim =
        QStringLiteral("korvane-evidence:1;fp=%1;attempt=1841,1847;row=98765,98802;hash=%2,%3")
            .arg(fp, forward.chainHash, reverse.chainHash)
            .toLatin1();

    DocumentKind kind = DocumentKind::Certificate;
    if (parser.isSet(slipOption)) {
        kind = DocumentKind::Slip;
        d.runs = {forward};
        d.atMs = forward.measuredMs;
        d.claim = QStringLiteral("korvane-evidence:1;fp=%1;attempt=1841;row=98765;hash=%2")
                      .arg(fp, forward.chainHash)
                      .toLatin1();
    }
    QString error;
    if (!CertificatePaint::writePdf(parser.positionalArguments().first(), kind, d, &error)) {
        std::fprintf(stderr, "korvane-certificate-sample: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
