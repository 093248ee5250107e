#include "DecoderText.h"

#include <QtTest>

class TestDecoderText : public QObject {
    Q_OBJECT
private slots:
    void cutLine_data();
    void cutLine();
    void cutField_data();
    void cutField();
    void passing_data();
    void passing();
    void lineSplitAcrossChunks_data();
    void lineSplitAcrossChunks();
};

void TestDecoderText::cutLine_data() {
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("rest");
    QTest::newRow("no CR keeps the buffer")
        << QByteArray("@\t1\t") << QByteArray() << QByteArray("@\t1\t");
    QTest::newRow("CR LF dropped")
        << QByteArray("abc\r\ndef") << QByteArray("abc") << QByteArray("def");
    QTest::newRow("any byte after CR dropped")
        << QByteArray("abc\rXdef") << QByteArray("abc") << QByteArray("def");
    QTest::newRow("empty line") << QByteArray("\r\nabc\r\n") << QByteArray()
                                << QByteArray("abc\r\n");
    QTest::newRow("CR last empties") << QByteArray("abc\r") << QByteArray("abc") << QByteArray();
    QTest::newRow("lone CR") << QByteArray("\r") << QByteArray() << QByteArray();
    QTest::newRow("only the first line")
        << QByteArray("a\r\nb\r\n") << QByteArray("a") << QByteArray("b\r\n");
    QTest::newRow("LF alone is no end") << QByteArray("a\nb") << QByteArray() << QByteArray("a\nb");
}

void TestDecoderText::cutLine() {
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, rest);
    QByteArray got = "stale";
    CutLine(buffer, got);
    QCOMPARE(got, line);
    QCOMPARE(buffer, rest);
}

void TestDecoderText::cutField_data() {
    QTest::addColumn<QByteArray>("rest");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("first field") << QByteArray("@\t1\t") << QByteArray("@") << QByteArray("1\t");
    QTest::newRow("empty field") << QByteArray("\tx\t") << QByteArray() << QByteArray("x\t");
    QTest::newRow("no TAB: not a field")
        << QByteArray("37.512") << QByteArray() << QByteArray("37.512");
    QTest::newRow("empty rest") << QByteArray() << QByteArray() << QByteArray();
}

void TestDecoderText::cutField() {
    QFETCH(QByteArray, rest);
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, after);
    QByteArray got = "stale";
    CutField(rest, got);
    QCOMPARE(got, field);
    QCOMPARE(rest, after);
}

void TestDecoderText::passing_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("isPassing");
    QTest::addColumn<QByteArray>("tpid");
    QTest::addColumn<QByteArray>("time");
    QTest::newRow("decoder line") << QByteArray("@\t1\t2\t1234\t37.512\t0") << true
                                  << QByteArray("1234") << QByteArray("37.512");
    QTest::newRow("@ inside field 1")
        << QByteArray("x@y\t1\t2\t77\t1.5\t") << true << QByteArray("77") << QByteArray("1.5");
    QTest::newRow("no @") << QByteArray("#\t1\t2\t1234\t37.512\t") << false << QByteArray()
                          << QByteArray();
    QTest::newRow("@ only in a later field")
        << QByteArray("x\t@\t2\t1234\t37.512\t") << false << QByteArray() << QByteArray();
    QTest::newRow("no TAB at all") << QByteArray("@1234") << false << QByteArray() << QByteArray();
    QTest::newRow("time without trailing TAB")
        << QByteArray("@\t1\t2\t1234\t37.512") << true << QByteArray("1234") << QByteArray();
    QTest::newRow("fields missing") << QByteArray("@\t1\t") << true << QByteArray() << QByteArray();
    QTest::newRow("bytes kept as sent") << QByteArray("@\t\t\t\x83\x65\xff\t 1.0 \t") << true
                                        << QByteArray("\x83\x65\xff") << QByteArray(" 1.0 ");
}

void TestDecoderText::passing() {
    QFETCH(QByteArray, line);
    QFETCH(bool, isPassing);
    QFETCH(QByteArray, tpid);
    QFETCH(QByteArray, time);
    const std::optional<Passing> p = ParsePassing(line);
    QCOMPARE(p.has_value(), isPassing);
    if (p) {
        QCOMPARE(p->tpid, tpid);
        QCOMPARE(p->time, time);
    }
}

// Chunks as the port delivers them; each is appended and lines are cut until
// an empty one, as the receive handler does.
void TestDecoderText::lineSplitAcrossChunks_data() {
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QByteArray>("left");
    QTest::newRow("two chunks") << QByteArrayList{"@\t1\t0\t12", "34\t37.512\t0\t\r\n"}
                                << QByteArrayList{"@\t1\t0\t1234\t37.512\t0\t"} << QByteArray();
    // The LF of the first line arrives with the next chunk and opens the
    // next line; the "@" is still found behind it.
    QTest::newRow("CR last byte of a chunk")
        << QByteArrayList{"@\t1\t0\t1\t1.0\t\r", "\n@\t1\t0\t2\t2.0\t\r\n"}
        << QByteArrayList{"@\t1\t0\t1\t1.0\t", "\n@\t1\t0\t2\t2.0\t"} << QByteArray();
    QTest::newRow("empty line holds the rest back")
        << QByteArrayList{"a\r\n\r\nb\r\n"} << QByteArrayList{"a"} << QByteArray("b\r\n");
    QTest::newRow("partial line waits")
        << QByteArrayList{"a\r\nb", "c"} << QByteArrayList{"a"} << QByteArray("bc");
}

void TestDecoderText::lineSplitAcrossChunks() {
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArray, left);
    QByteArray buffer;
    QByteArrayList got;
    for (const QByteArray& chunk : chunks) {
        buffer += chunk;
        QByteArray line;
        for (CutLine(buffer, line); !line.isEmpty(); CutLine(buffer, line))
            got << line;
    }
    QCOMPARE(got, lines);
    QCOMPARE(buffer, left);
    for (const QByteArray& line : got)
        QVERIFY(ParsePassing(line).has_value() == line.contains('@'));
}

QTEST_APPLESS_MAIN(TestDecoderText)
#include "tst_decodertext.moc"
