// Throughput and CPU cost of the serial component through a pseudo-terminal
// pair, against the line rate of the fastest port setting (115200 bit/s,
// 11 520 bytes/s with 10 bits a character).

#include "CommX.h"
#include "PtyPair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <functional>

#include <sys/resource.h>
#include <thread>

namespace {

constexpr double kLineRate = 11520.0; // bytes/s
constexpr int kLineLength = 40;

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Runs the event loop until done() holds; checked after every event the
// component delivers, so no polling timer adds CPU of its own.
void runUntil(TCustomCommX& comm, const std::function<bool()>& done) {
    QEventLoop loop;
    const auto handler = comm.OnReceive;
    comm.OnReceive = [&](TCustomCommX* c, int n) {
        handler(c, n);
        if (done())
            loop.quit();
    };
    if (!done())
        loop.exec();
    comm.OnReceive = handler;
}

double threadCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

void idleFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PtyPair pty;
    if (!pty.ok()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    const QString path = pty.slavePath();
    TCustomCommX::setDeviceResolver([path](int) { return path; });
    TCommX comm;
    comm.setFlowCtrl(cfcNone);
    comm.setBitRate(115200);
    comm.Open();

    // Receive throughput: bulk reads in OnReceive.
    const qsizetype bulk = 8 << 20;
    qsizetype received = 0;
    comm.OnReceive = [&](TCustomCommX* c, int n) {
        QByteArray chunk(n, '\0');
        received += qMax(0, c->Read(chunk.data(), n));
    };
    {
        const QByteArray block(4096, 'r');
        QElapsedTimer wall;
        wall.start();
        const double cpu0 = cpuSeconds();
        std::thread writer([&] {
            for (qsizetype at = 0; at < bulk; at += block.size())
                pty.writeAll(block);
        });
        runUntil(comm, [&] { return received >= bulk; });
        writer.join();
        const double secs = wall.elapsed() / 1e3;
        std::printf("receive:  %.1f MB/s (%.0fx line rate), process CPU %.2f s for %lld bytes\n",
                    bulk / secs / 1e6, bulk / secs / kLineRate, cpuSeconds() - cpu0,
                    static_cast<long long>(bulk));
    }

    // Transmit throughput: one SendString, blocks of BufLenTrans.
    {
        const QByteArray data(bulk, 't');
        QElapsedTimer wall;
        wall.start();
        QByteArray echoed;
        std::thread reader([&] { echoed = pty.readExactly(bulk); });
        comm.SendString(data);
        reader.join();
        const double secs = wall.elapsed() / 1e3;
        std::printf("transmit: %.1f MB/s (%.0fx line rate)\n", bulk / secs / 1e6,
                    bulk / secs / kLineRate);
    }

    // CPU per received line, read byte by byte with ReadChar as the decoder
    // handlers do, lines written one at a time.
    {
        const int lines = 20000;
        int seen = 0;
        QByteArray buffer;
        comm.OnReceive = [&](TCustomCommX* c, int n) {
            for (int i = 0; i < n; ++i) {
                buffer.append(char(c->ReadChar()));
                if (buffer.endsWith("\r\n")) {
                    ++seen;
                    buffer.clear();
                }
            }
        };
        QByteArray line(kLineLength - 2, 'L');
        line += "\r\n";
        const double cpu0 = cpuSeconds();
        double writerCpu = 0;
        std::thread writer([&] {
            const double t0 = threadCpuSeconds();
            for (int i = 0; i < lines; ++i) {
                pty.writeAll(line);
                if (i % 64 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            writerCpu = threadCpuSeconds() - t0;
        });
        runUntil(comm, [&] { return seen >= lines; });
        writer.join();
        const double perLine = (cpuSeconds() - cpu0 - writerCpu) / lines;
        const double budget = kLineLength / kLineRate;
        std::printf("per line: %.1f us CPU (writer excluded); line time at 115200 bit/s %.0f us; "
                    "headroom %.0fx\n",
                    perLine * 1e6, budget * 1e6, budget / perLine);
    }

    // An idle open port.
    {
        const double cpu0 = cpuSeconds();
        idleFor(3000);
        std::printf("idle:     %.2f ms process CPU over 3 s with the port open\n",
                    (cpuSeconds() - cpu0) * 1e3);
    }
    comm.Close();
    return 0;
}
