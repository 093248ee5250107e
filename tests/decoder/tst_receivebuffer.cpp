#include "ReceiveBuffer.h"

#include <QtTest>

class TestReceiveBuffer : public QObject {
    Q_OBJECT
private slots:
    void linesWithinTheLimitAreUntouched();
    void noiseWithoutCrIsDiscarded();
    void validLineAfterNoiseIsProcessed();
    void completeLineBeforeNoiseSurvives();
    void uncutLinesCannotPileUp();
    void neverAboveTheLimit();
};

static QByteArray cutAll(ReceiveBuffer& b) {
    QByteArray all, line;
    while (b.cutLine(line))
        all += line + '|';
    return all;
}

void TestReceiveBuffer::linesWithinTheLimitAreUntouched() {
    ReceiveBuffer b;
    QCOMPARE(b.limit(), qsizetype(64 * 1024));
    QCOMPARE(b.append("@\t1\t0\t12"), qsizetype(0));
    QCOMPARE(b.append("34\t5.0\t\r\n"), qsizetype(0));
    QCOMPARE(cutAll(b), QByteArray("@\t1\t0\t1234\t5.0\t|"));
    QCOMPARE(b.size(), qsizetype(0));
}

void TestReceiveBuffer::noiseWithoutCrIsDiscarded() {
    ReceiveBuffer b;
    const QByteArray noise(4096, 'x');
    qsizetype discarded = 0;
    for (int i = 0; i < 16; ++i)
        QCOMPARE(b.append(noise), qsizetype(0)); // exactly 64 KiB is still kept
    discarded = b.append("y");
    QCOMPARE(discarded, qsizetype(64 * 1024 + 1));
    QCOMPARE(b.size(), qsizetype(0));
}

void TestReceiveBuffer::validLineAfterNoiseIsProcessed() {
    ReceiveBuffer b(100);
    QVERIFY(b.append(QByteArray(150, 'x')) > 0);
    QCOMPARE(b.append("@\t1\t0\t7\t2.5\t\r\n"), qsizetype(0));
    QCOMPARE(cutAll(b), QByteArray("@\t1\t0\t7\t2.5\t|"));
}

void TestReceiveBuffer::completeLineBeforeNoiseSurvives() {
    ReceiveBuffer b(100);
    // An empty line stopped the caller, so a good line is still waiting.
    b.append("\r\ngood\r\n");
    QByteArray line;
    QVERIFY(!b.cutLine(line));
    QCOMPARE(b.append(QByteArray(120, 'x')), qsizetype(120));
    QCOMPARE(b.data(), QByteArray("good\r\n"));
}

void TestReceiveBuffer::uncutLinesCannotPileUp() {
    ReceiveBuffer b(64);
    // Each notification brings two empty lines and the caller stops at the
    // first, so without the limit the buffer would grow forever.
    QByteArray line;
    for (int i = 0; i < 1000; ++i) {
        b.append("\r\n\r\n");
        QVERIFY(!b.cutLine(line));
        QVERIFY(b.size() <= 64);
    }
    // Oldest lines went first: a passing that arrives now is still there.
    b.append("@\t\t\t9\t1.0\t\r\n");
    QVERIFY(b.data().endsWith("@\t\t\t9\t1.0\t\r\n"));
}

void TestReceiveBuffer::neverAboveTheLimit() {
    ReceiveBuffer b(32);
    const QByteArrayList chunks{"abc\r\n", QByteArray(40, 'z'),  "\r",
                                "\nq",     QByteArray(31, '\r'), "tail"};
    for (int round = 0; round < 50; ++round)
        for (const QByteArray& c : chunks) {
            b.append(c);
            QVERIFY(b.size() <= b.limit());
        }
}

QTEST_APPLESS_MAIN(TestReceiveBuffer)
#include "tst_receivebuffer.moc"
