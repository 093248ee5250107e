// Load on the live results page: the real program with its web page on,
// loop-1 passings arriving at 50/s on decoder 1, and a probe car measured
// round after round (bench_latency's measure: loop-2 line written to its
// terminal -> board line read from the board's). Run once with no client,
// once with N WebSocket clients on 127.0.0.1 (the per-address cap raised in
// this run's settings) plus one client that never reads, and once with S
// connections from 127.0.0.2 that send half a request and wait, under the
// default limits. Reports the latency of each run, how late the pushed
// speeds reach the clients after the board line, the program's memory,
// whether the client that does not read was dropped, and, with the half
// requests held, how long a client from 127.0.0.3 waits for /api/latest and
// when the last half request was closed.
//
//   bench_web [--clients N] [--rounds N] [--slow S] [--port P]   (200, 60, 400, 18480)
#include "../ingest/BenchSupport.h"
#include "StuckClient.h"

#include <QThread>
#include <QTimer>
#include <QWebSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <vector>

using namespace bench;

namespace {

const int kBackgroundCars = 1000; // pre-filled rows; their loop-1 passings measure nothing

struct Stats {
    double min = 0, median = 0, p99 = 0, max = 0;
};
Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty())
        return {};
    const auto at = [&](double q) {
        return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
    };
    return {v.front(), at(0.5), at(0.99), v.back()};
}

// Decoder 1's writer: background loop-1 passings at 50/s, and the probe's
// loop-1 line when asked.
class Loop1Writer {
public:
    explicit Loop1Writer(e2e::Peer& dec) : dec_(dec), thread_([this] { run(); }) {}
    ~Loop1Writer() {
        stop_ = true;
        thread_.join();
    }
    void probe(const QByteArray& line) {
        std::lock_guard<std::mutex> lock(m_);
        probes_.push_back(line);
    }
    long sent() const { return sent_; }

private:
    void run() {
        auto next = Clock::now();
        long i = 0;
        while (!stop_) {
            QByteArray out;
            {
                std::lock_guard<std::mutex> lock(m_);
                for (const QByteArray& p : probes_)
                    out += p;
                probes_.clear();
            }
            out += e2e::passingLine(tpidOf(int(i % kBackgroundCars)),
                                    QByteArray::number(5000 + 0.02 * double(i), 'f', 3));
            ++i;
            if (!dec_.send(out))
                die("loop-1 write failed");
            ++sent_;
            next += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(next);
        }
    }
    e2e::Peer& dec_;
    std::mutex m_;
    std::vector<QByteArray> probes_;
    std::atomic<bool> stop_{false};
    std::atomic<long> sent_{0};
    std::thread thread_;
};

// The clients, in a thread with its own event loop (the probe loop blocks).
class Clients : public QObject {
public:
    std::atomic<int> connected{0};
    std::atomic<bool> ending{false}; // the program goes: its closing is no error
    std::mutex m;
    std::vector<std::pair<QString, Clock::time_point>> speeds; // tpid of each speed received
    std::map<QString, int> perTpid;

    void open(const QUrl& url, int n) {
        for (int i = 0; i < n; ++i) {
            auto* ws = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
            connect(ws, &QWebSocket::connected, this, [this] { ++connected; });
            connect(ws, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
                    [this, ws] {
                        if (!ending)
                            std::fprintf(stderr, "client: %s\n", qPrintable(ws->errorString()));
                    });
            connect(ws, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
                const auto now = Clock::now();
                if (qEnvironmentVariableIsSet("BENCH_WEB_TRACE"))
                    std::fprintf(stderr, "%s\n", qPrintable(text.left(160)));
                if (!text.contains(QLatin1String("\"type\":\"speed\"")))
                    return;
                const qsizetype at = text.indexOf(QLatin1String("\"tpid\":\""));
                const QString tpid =
                    text.mid(at + 8, text.indexOf(QLatin1Char('"'), at + 8) - at - 8);
                std::lock_guard<std::mutex> lock(m);
                speeds.emplace_back(tpid, now);
            });
            ws->open(url);
        }
    }
};

// The page's port takes connections: the program opens it in its web
// thread after the window is up, a while after the serial ports.
bool listening(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

struct RunResult {
    std::vector<double> latencyMs;
    std::map<QString, Clock::time_point> boardAt;
    qint64 rssStartKb = 0, rssEndKb = 0;
    long loop1Sent = 0;
    double seconds = 0;
};

RunResult measure(e2e::Peer& dec1, e2e::Peer& dec2, e2e::Peer& board, const e2e::DbLook& look,
                  int rounds, qint64 pid) {
    RunResult out;
    out.rssStartKb = rssKb(QByteArray::number(pid));
    const auto t00 = Clock::now();
    Loop1Writer writer(dec1);
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> phase(0, 299);
    auto lastResult = Clock::now();
    const auto sumi = [&](const QString& tpid) {
        return look.value(QStringLiteral("select sumi from speed where tpid=?"), {tpid}).toString();
    };
    for (int i = 0; i < rounds; ++i) {
        const QByteArray tpid = "P" + QByteArray::number(i);
        const QString id = QString::fromLatin1(tpid);
        const double t1 = 100 + 10 * i;
        writer.probe(e2e::passingLine(tpid, QByteArray::number(t1, 'f', 2)));
        // The new row is pending at once and processed without a speed.
        if (!waitUntil([&] { return sumi(id) == QLatin1String("1"); }, 10000, 2))
            die("probe row not processed");
        // Its run was a measuring run: the loop-2 line comes a measuring
        // period or more after it, at a random point of the period.
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + phase(rng)));
        board.clear();
        const auto t0 = Clock::now();
        // Faster round after round: each is a new best in the top ten.
        const double t2 = t1 + 1.0 - 0.005 * i;
        if (!dec2.send(e2e::passingLine(tpid, QByteArray::number(t2, 'f', 3))))
            die("loop-2 write failed");
        while (!board.received().endsWith('\r'))
            if (!board.waitReadable(5000))
                die("no board line");
        lastResult = Clock::now();
        out.boardAt[id] = lastResult;
        out.latencyMs.push_back(secondsSince(t0) * 1000);
    }
    out.loop1Sent = writer.sent();
    out.seconds = secondsSince(t00);
    out.rssEndKb = rssKb(QByteArray::number(pid));
    return out;
}

// Milliseconds until a client from its own address has /api/latest's
// whole answer; negative when it has none within 5 s.
double servedMs(quint16 port) {
    const auto t0 = Clock::now();
    const int fd = connectFrom("127.0.0.3", port);
    if (fd < 0)
        return -1;
    const QByteArray request = "GET /api/latest HTTP/1.1\r\nHost: x\r\n\r\n";
    ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    const bool whole = wholeAnswer(readUntil(fd, 5000, wholeAnswer, 10));
    const double ms = whole ? secondsSince(t0) * 1000 : -1;
    ::close(fd);
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int clients = intArg(argc, argv, "--clients", 200);
    const int rounds = intArg(argc, argv, "--rounds", 60);
    const int slowClients = intArg(argc, argv, "--slow", 400);
    const quint16 port = quint16(intArg(argc, argv, "--port", 18480));
    const QByteArray sp =
        "Dist=500\nWait=0\n[Web]\nEnabled=1\nListen=127.0.0.1:" + QByteArray::number(port);
    // All the load run's clients come from 127.0.0.1.
    const QByteArray crowd = sp + "\nMaxPerAddress=" + QByteArray::number(clients + 10);

    RunResult alone, loaded;
    if (listening(port))
        die("the port is taken by another program (--port P chooses another)");
    {
        Rig rig(kBackgroundCars, sp);
        if (!waitUntil([&] { return listening(port); }, 30000, 20))
            die("the web page does not listen");
        alone = measure(rig.dec1, rig.dec2, rig.board, e2e::DbLook(rig.run->dbPath()), rounds,
                        rig.run->pid());
    }
    Clients* pool = nullptr;
    QThread clientThread;
    int stuck = -1;
    bool dropped = false;
    {
        Rig rig(kBackgroundCars, crowd);
        if (!waitUntil([&] { return listening(port); }, 30000, 20))
            die("the web page does not listen");
        clientThread.start();
        pool = new Clients;
        pool->moveToThread(&clientThread);
        const QUrl url(QStringLiteral("ws://127.0.0.1:%1/live").arg(port));
        QMetaObject::invokeMethod(pool, [pool, url, clients] { pool->open(url, clients); });
        if (!waitUntil([&] { return pool->connected == clients; }, 30000)) {
            std::fprintf(stderr, "%s\n", rig.run->errors().constData());
            die(qPrintable(
                QStringLiteral("only %1 clients connected").arg(pool->connected.load())));
        }
        stuck = stuckClient(port, 4096);
        if (stuck < 0)
            die("stuck client cannot connect");
        loaded = measure(rig.dec1, rig.dec2, rig.board, e2e::DbLook(rig.run->dbPath()), rounds,
                         rig.run->pid());
        // The last pushes reach the clients.
        waitUntil(
            [&] {
                std::lock_guard<std::mutex> lock(pool->m);
                return pool->speeds.size() >= size_t(clients) * size_t(rounds);
            },
            5000);
        dropped = closedByServer(stuck);
        pool->ending = true;
    }
    std::vector<double> pushMs;
    size_t received = 0;
    {
        std::lock_guard<std::mutex> lock(pool->m);
        received = pool->speeds.size();
        for (const auto& [tpid, at] : pool->speeds) {
            const auto b = loaded.boardAt.find(tpid);
            if (b != loaded.boardAt.end())
                pushMs.push_back(std::chrono::duration<double>(at - b->second).count() * 1000);
        }
    }
    QMetaObject::invokeMethod(
        pool, [pool] { delete pool; }, Qt::BlockingQueuedConnection);
    clientThread.quit();
    clientThread.wait();
    ::close(stuck);

    // Half requests held from one address while a client elsewhere is
    // served and cars are measured; fewer rounds, so that all of them fall
    // within the request time-out (10 s) that ends the half requests.
    RunResult slow;
    std::vector<double> served;
    double allClosedS = -1;
    int refused = 0;
    {
        Rig rig(kBackgroundCars, sp);
        if (!waitUntil([&] { return listening(port); }, 30000, 20))
            die("the web page does not listen");
        std::vector<int> held;
        for (int i = 0; i < slowClients; ++i) {
            const int fd = halfRequestClient("127.0.0.2", port);
            if (fd < 0)
                die("half-request client cannot connect");
            held.push_back(fd);
        }
        const auto heldAt = Clock::now();
        for (int i = 0; i < 20; ++i)
            served.push_back(servedMs(port));
        slow = measure(rig.dec1, rig.dec2, rig.board, e2e::DbLook(rig.run->dbPath()),
                       std::min(rounds, 12), rig.run->pid());
        std::vector<bool> closed(held.size(), false);
        while (secondsSince(heldAt) < 30 && std::count(closed.begin(), closed.end(), false)) {
            for (size_t i = 0; i < held.size(); ++i) {
                char buf[512];
                const ssize_t n = closed[i] ? 1 : ::recv(held[i], buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0 && !closed[i] && QByteArray(buf, int(n)).startsWith("HTTP/1.1 503"))
                    ++refused;
                if (!closed[i] && (n == 0 || (n < 0 && errno == ECONNRESET)))
                    closed[i] = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (std::count(closed.begin(), closed.end(), false) == 0)
            allClosedS = secondsSince(heldAt);
        for (const int fd : held)
            ::close(fd);
    }

    const Stats a = stats(alone.latencyMs), l = stats(loaded.latencyMs), p = stats(pushMs);
    std::printf("web load: %d rounds, loop-1 passings at 50/s (%.0f/s sent), Wait 0\n", rounds,
                double(loaded.loop1Sent) / loaded.seconds);
    std::printf(
        "  latency loop-2 -> board, no client:      median %.1f ms, p99 %.1f ms, max %.1f ms\n",
        a.median, a.p99, a.max);
    std::printf("  latency loop-2 -> board, %d clients:    median %.1f ms, p99 %.1f ms, max %.1f ms"
                " (goal: within 10 ms of the run without)\n",
                clients, l.median, l.p99, l.max);
    std::printf("  pushed speeds received: %zu of %d; board line -> client: median %.1f ms, "
                "p99 %.1f ms, max %.1f ms (goal: 100 ms)\n",
                received, clients * rounds, p.median, p.p99, p.max);
    std::printf("  program memory (RSS): no client %lld -> %lld KiB; %d clients %lld -> %lld KiB\n",
                alone.rssStartKb, alone.rssEndKb, clients, loaded.rssStartKb, loaded.rssEndKb);
    std::printf("  client that never reads: %s\n", dropped ? "dropped" : "NOT dropped");
    const Stats w = stats(slow.latencyMs);
    const bool allServed =
        std::count_if(served.begin(), served.end(), [](double ms) { return ms < 0; }) == 0;
    const Stats s = stats(served);
    std::printf("  %d half requests held from 127.0.0.2 (%d refused with 503):\n", slowClients,
                refused);
    std::printf(
        "    latency loop-2 -> board (%zu rounds): median %.1f ms, p99 %.1f ms, max %.1f ms\n",
        slow.latencyMs.size(), w.median, w.p99, w.max);
    std::printf("    /api/latest from 127.0.0.3: %s; median %.1f ms, max %.1f ms (goal: 1 s)\n",
                allServed ? "20 of 20 served" : "NOT all served", s.median, s.max);
    if (allClosedS >= 0)
        std::printf(
            "    the last half request closed %.1f s after the last was sent (time-out 10 s)\n",
            allClosedS);
    else
        std::printf("    half requests NOT all closed within 30 s\n");
    return dropped && allServed && allClosedS >= 0 && allClosedS < 11 ? 0 : 1;
}
