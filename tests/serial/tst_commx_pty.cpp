// The component on real pseudo-terminals: data paths, exclusive opening,
// refusals by the driver, a vanishing device, descriptors and threads.

#include "CommX.h"
#include "PtyPair.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <cstdio>
#include <ctime>
#include <thread>

namespace {

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

void useDevice(const QString& path) {
    TCustomCommX::setDeviceResolver([path](int) { return path; });
}

int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

QByteArray allByteValues(int size) {
    QByteArray data(size, '\0');
    for (int i = 0; i < 256 && i < size; ++i)
        data[i] = char(i);
    auto* rng = QRandomGenerator::global();
    for (int i = 256; i < size; ++i)
        data[i] = char(rng->bounded(256));
    return data;
}

QString openError(TCustomCommX& c) {
    try {
        c.Open();
    } catch (const ECommError& e) {
        return e.message();
    }
    return QString();
}

// Child mode: hold the port until stdin closes.
int holdPort(const QString& path) {
    useDevice(path);
    TCommX comm;
    comm.setFlowCtrl(cfcNone);
    if (!openError(comm).isEmpty()) {
        std::puts("refused");
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    comm.Close();
    return 0;
}

} // namespace

class TestCommXPty : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void missingDevice();
    void driverRefusals();
    void blocksAndFullByteRange();
    void megabyteBothWays();
    void secondOpeningRefused();
    void unpluggedDevice();
    void noDescriptorOrThreadLeft();
};

void TestCommXPty::initTestCase() {
    PtyPair p;
    if (!p.ok())
        QSKIP("no pseudo-terminals on this machine");
}

void TestCommXPty::missingDevice() {
    useDevice(QStringLiteral("/dev/korvane-no-such-port"));
    TCommX c;
    c.setPortNo(3);
    QCOMPARE(openError(c), text("ポートをオープンできませんでした"));
    QCOMPARE(c.devicePath(), QStringLiteral("/dev/korvane-no-such-port"));
    QCOMPARE(c.lastOpenError(), qt_error_string(ENOENT));
    QVERIFY(!c.isOpen());

    TCustomCommX::setDeviceResolver({});
    QCOMPARE(TCustomCommX::resolveDevice(1), QStringLiteral("/dev/ttyS0"));
}

// The pseudo-terminal driver takes only 8 data bits and no parity, and no
// termios speed exists for 12345 bit/s: each refusal carries its own
// message, and the port is free again afterwards.
void TestCommXPty::driverRefusals() {
    PtyPair p;
    useDevice(p.slavePath());
    TCommX c;
    c.setBitRate(12345);
    QCOMPARE(openError(c), text("通信速度の設定でエラーが発生しました"));
    QVERIFY(!c.isOpen());
    c.setBitRate(115200);
    c.setCharSize(7);
    QCOMPARE(openError(c), text("通信ビット数の設定でエラーが発生しました"));
    c.setCharSize(8);
    c.setParityBit(cpbEven);
    QCOMPARE(openError(c), text("通信パリティチェックの設定でエラーが発生しました"));
    c.setParityBit(cpbNone);
    QCOMPARE(openError(c), QString()); // defaults otherwise, RTS/CTS included
    QVERIFY(c.isOpen());
    QVERIFY(c.Handle() != TCustomCommX::ClosedHandle);
    try {
        c.setBitRate(12345);
        QFAIL("refused bit rate accepted on an open port");
    } catch (const ECommError& e) {
        QCOMPARE(e.message(), text("通信速度の設定でエラーが発生しました"));
    }
    QVERIFY(c.isOpen());
    c.Close();
}

void TestCommXPty::blocksAndFullByteRange() {
    PtyPair p;
    useDevice(p.slavePath());
    TCommX c;
    c.setFlowCtrl(cfcNone);
    QList<int> sizes;
    c.OnTrans = [&](TCustomCommX*, int n) { sizes << n; };
    QByteArray got;
    c.OnReceive = [&](TCustomCommX* s, int n) {
        for (int i = 0; i < n; ++i) {
            const int b = s->ReadChar();
            QVERIFY(b >= 0 && b <= 255);
            got.append(char(b));
        }
    };
    c.Open();
    const QByteArray out = allByteValues(5000);
    QVERIFY(c.SendString(out));
    QCOMPARE(p.readExactly(out.size()), out);
    QTRY_COMPARE(sizes, (QList<int>{2048, 2048, 904}));

    QVERIFY(p.writeAll(QByteArray("\xff\x00\r\n\x11\x13", 6)));
    QTRY_COMPARE(got, QByteArray("\xff\x00\r\n\x11\x13", 6));
    c.setTimeOutReceive(50);
    QCOMPARE(c.ReadChar(), -1); // nothing came within the time-out
    c.Close();
}

// Every byte arrives once and in order across many notifications, none
// translated, swallowed or echoed.
void TestCommXPty::megabyteBothWays() {
    PtyPair p;
    useDevice(p.slavePath());
    TCommX c;
    c.setFlowCtrl(cfcNone);
    c.setBitRate(115200);
    const QByteArray in = allByteValues(1 << 20);
    QByteArray got;
    got.reserve(in.size());
    int notices = 0;
    c.OnReceive = [&](TCustomCommX* s, int n) {
        ++notices;
        QByteArray chunk(n, '\0');
        QCOMPARE(s->Read(chunk.data(), n), n);
        got.append(chunk);
    };
    c.Open();
    std::thread writer([&] {
        for (qsizetype at = 0; at < in.size(); at += 4096)
            p.writeAll(in.mid(at, 4096));
    });
    QTRY_COMPARE_WITH_TIMEOUT(got.size(), in.size(), 60000);
    writer.join();
    QVERIFY(got == in);
    QVERIFY(notices > 1);

    const QByteArray out = allByteValues(1 << 20);
    QByteArray echoed;
    std::thread reader([&] { echoed = p.readExactly(out.size()); });
    QVERIFY(c.SendString(out)); // holds at 32 blocks while handling events
    reader.join();
    QVERIFY(echoed == out);
    QCOMPARE(c.ReceiveCount(), 0); // nothing echoed back
    c.Close();
}

void TestCommXPty::secondOpeningRefused() {
    PtyPair p;
    useDevice(p.slavePath());
    TCommX first, second;
    first.setFlowCtrl(cfcNone);
    second.setFlowCtrl(cfcNone);
    first.Open();
    QCOMPARE(openError(second), text("ポートをオープンできませんでした"));
    QCOMPARE(second.lastOpenError(), qt_error_string(EBUSY));
    first.Close();
    QCOMPARE(openError(second), QString()); // at once after Close

    // Another process is refused while this one holds the port...
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold"), p.slavePath()});
    QVERIFY(child.waitForStarted());
    QVERIFY(child.waitForReadyRead(10000));
    QCOMPARE(child.readLine().trimmed(), QByteArray("refused"));
    QVERIFY(child.waitForFinished(10000));
    second.Close();

    // ...and holds it itself until it is killed.
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--hold"), p.slavePath()});
    QVERIFY(holder.waitForStarted());
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
    QCOMPARE(openError(second), text("ポートをオープンできませんでした"));
    holder.kill();
    QVERIFY(holder.waitForFinished(10000));
    QCOMPARE(openError(second), QString());
    second.Close();
}

// The far end goes away while data flows: noticed within a second, no CPU
// spent afterwards, writes answer false, Close is quick, and a new device
// opens normally.
void TestCommXPty::unpluggedDevice() {
    auto p = std::make_unique<PtyPair>();
    useDevice(p->slavePath());
    TCommX c;
    c.setFlowCtrl(cfcNone);
    int received = 0;
    c.OnReceive = [&](TCustomCommX* s, int n) {
        QByteArray chunk(n, '\0');
        received += qMax(0, s->Read(chunk.data(), n));
    };
    c.Open();
    QVERIFY(p->writeAll(QByteArray(3000, 'd')));
    QTRY_VERIFY(received > 0);
    QVERIFY(p->writeAll(QByteArray(3000, 'e')));
    p->closeMaster();
    QTRY_VERIFY_WITH_TIMEOUT(c.deviceLost(), 1000);
    QVERIFY(!c.SendString("after"));

    const double before = processCpuMs();
    QTest::qWait(300);
    const double spent = processCpuMs() - before;
    QVERIFY2(spent < 100, qPrintable(QStringLiteral("%1 ms CPU while idle").arg(spent)));

    QElapsedTimer t;
    t.start();
    c.Close();
    QVERIFY(t.elapsed() < 1000);
    QVERIFY(!c.isOpen());

    PtyPair fresh;
    useDevice(fresh.slavePath());
    c.Open();
    QVERIFY(c.SendString("again"));
    QCOMPARE(fresh.readExactly(5), QByteArray("again"));
    c.Close();
}

void TestCommXPty::noDescriptorOrThreadLeft() {
    QTRY_COMPARE_WITH_TIMEOUT(TCustomCommX::liveWorkers(), 0, 3000);
    PtyPair p;
    useDevice(p.slavePath());
    const int fds = openDescriptors();
    {
        TCommX c;
        c.setFlowCtrl(cfcNone);
        c.Open();
        QVERIFY(c.SendString("bye"));
        c.Close();
    } // destroyed right after Close, workers still lingering
    QTRY_COMPARE_WITH_TIMEOUT(TCustomCommX::liveWorkers(), 0, 3000);
    QTRY_COMPARE(openDescriptors(), fds);
}

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--hold") == 0) {
        QCoreApplication a(argc, argv);
        return holdPort(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication a(argc, argv);
    TestCommXPty t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_commx_pty.moc"
