// korvane-web under a crowd: a throw-away local PostgreSQL server
// (scripts/local-postgres), the real korvane-web on it, N WebSocket clients
// from 127.0.0.1 (its per-address cap raised for them), then R results
// written one every --every ms, each followed by a notification of the
// event's channel as a station's commit sends it. For each result: the time
// from just before its insert to its arrival at each client. Reports the
// results delivered of those expected, p50 / p99 / max of that time,
// korvane-web's resident memory before the clients, with them, after the
// results, and its CPU time over the results.
//
//   bench_eventweb [--clients 2000] [--results 30] [--every 300] [--threads 4] [--port 18490]
#include "BenchCommon.h"
#include "PgCluster.h"
#include "StuckClient.h"

#include "EventServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QWebSocket>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

using namespace bench;

namespace {

const QString kEvent = QStringLiteral("bench");

// CPU milliseconds of another process so far (user + system).
double cpuMsOf(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = f.readAll();
    const QList<QByteArray> rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (rest.value(11).toDouble() + rest.value(12).toDouble()) * 1000.0 /
           double(sysconf(_SC_CLK_TCK));
}

void waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int clients = intArg(argc, argv, "--clients", 2000);
    const int results = intArg(argc, argv, "--results", 30);
    const int everyMs = intArg(argc, argv, "--every", 300);
    const quint16 port = quint16(intArg(argc, argv, "--port", 18490));
    const int threadCount = std::max(1, intArg(argc, argv, "--threads", 4));

    // Each client is a descriptor here and one in korvane-web (which inherits this limit).
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < rlim_t(clients) + 200)
        die("too few file descriptors for the clients (ulimit -n)");

    e2e::PgCluster pg(QStringLiteral(KORVANE_SOURCE_DIR "/scripts/local-postgres"));
    if (!pg.start())
        die(qPrintable(QStringLiteral("no server: ") + pg.why()));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"));
    db.setConnectOptions(pg.socketConnection());
    if (!db.open())
        die("cannot connect");
    EventServer::migrate(db);
    QSqlQuery(db).exec(QStringLiteral("delete from korvane_attempt"));

    QProcess web;
    web.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    web.start(QStringLiteral(KORVANE_WEB_BIN),
              {"--database", pg.socketConnection(), "--event", kEvent, "--listen",
               QStringLiteral("127.0.0.1:%1").arg(port), "--max-connections",
               QString::number(clients + 100), "--max-per-address",
               QString::number(clients + 100)});
    if (!web.waitForStarted())
        die("korvane-web did not start");
    waitFor([&] { return ::close(connectFrom("127.0.0.1", port)) == 0; }, 10000);
    const QByteArray pid = QByteArray::number(web.processId());
    QThread::msleep(500);
    const qint64 rssBefore = rssKb(pid);

    // Message arrival per client and result (tpid "r<n>"), in ns of the
    // steady clock; written by the client threads, read once they are done.
    const auto now = [] {
        return qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
    };
    std::vector<std::atomic<qint64>> arrivedNs(size_t(clients) * size_t(results));
    for (auto& a : arrivedNs)
        a = -1;
    std::atomic<int> connected{0};
    // The clients in threads of their own: one thread reading 2000 sockets
    // would measure itself.
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<std::unique_ptr<QObject>> owners;
    for (int t = 0; t < threadCount; ++t) {
        auto thread = std::make_unique<QThread>();
        auto owner = std::make_unique<QObject>();
        owner->moveToThread(thread.get());
        thread->start();
        QMetaObject::invokeMethod(
            owner.get(),
            [&, t, o = owner.get()] {
                for (int i = t; i < clients; i += threadCount) {
                    auto* ws = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, o);
                    QObject::connect(ws, &QWebSocket::connected, [&connected] { ++connected; });
                    QObject::connect(
                        ws, &QWebSocket::textMessageReceived, [&, i](const QString& text) {
                            const qsizetype at = text.indexOf(QLatin1String("\"tpid\":\"r"));
                            if (at < 0 || !text.contains(QLatin1String("\"type\":\"speed\"")))
                                return;
                            const int n = QStringView(text).mid(at + 9).split(u'"').first().toInt();
                            if (n < 0 || n >= results)
                                return;
                            auto& slot = arrivedNs[size_t(i) * size_t(results) + size_t(n)];
                            if (slot < 0)
                                slot = now();
                        });
                    ws->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(port)));
                    // A few at a time, within the listen backlog.
                    if ((i / threadCount) % 20 == 19)
                        QThread::msleep(20);
                }
            },
            Qt::QueuedConnection);
        threads.push_back(std::move(thread));
        owners.push_back(std::move(owner));
    }
    waitFor([&] { return connected == clients; }, 60000);
    waitFor([] { return false; }, 1000);
    const qint64 rssClients = rssKb(pid);
    if (connected != clients)
        std::fprintf(stderr, "bench: only %d of %d clients connected\n", connected.load(), clients);

    const QString channel = EventServer::channelFor(kEvent);
    std::vector<qint64> sentNs(static_cast<size_t>(results), 0);
    const double cpu0 = cpuMsOf(web.processId());
    QSqlQuery insert(db), notify(db);
    insert.prepare(QStringLiteral(
        "insert into korvane_attempt (event, station, attempt_id, tpid, name, speed, speed_text,"
        " status, measured_at) values (?, 'A', ?, ?, 'Bench', ?, ?, 'ok', now())"));
    notify.prepare(QStringLiteral("select pg_notify(?, '')"));
    for (int r = 0; r < results; ++r) {
        sentNs[size_t(r)] = now();
        insert.addBindValue(kEvent);
        insert.addBindValue(r + 1);
        insert.addBindValue(QStringLiteral("r%1").arg(r));
        insert.addBindValue(30.0 + r);
        insert.addBindValue(QString::number(30.0 + r, 'f', 2));
        notify.addBindValue(channel);
        if (!insert.exec() || !notify.exec())
            die("insert failed");
        waitFor([] { return false; }, everyMs);
    }
    waitFor(
        [&] {
            for (int i = 0; i < clients; ++i)
                if (arrivedNs[size_t(i) * size_t(results) + size_t(results - 1)] < 0)
                    return false;
            return true;
        },
        10000);
    const double cpuMs = cpuMsOf(web.processId()) - cpu0;
    const qint64 rssAfter = rssKb(pid);

    std::vector<double> latencyMs;
    qint64 delivered = 0;
    for (int i = 0; i < clients; ++i)
        for (int r = 0; r < results; ++r)
            if (const qint64 at = arrivedNs[size_t(i) * size_t(results) + size_t(r)]; at >= 0) {
                ++delivered;
                latencyMs.push_back(double(at - sentNs[size_t(r)]) / 1e6);
            }
    std::sort(latencyMs.begin(), latencyMs.end());
    const auto at = [&](double q) {
        return latencyMs.empty() ? -1.0
                                 : latencyMs[std::min(latencyMs.size() - 1,
                                                      size_t(q * double(latencyMs.size())))];
    };
    std::printf("clients %d (connected %d), results %d every %d ms: delivered %lld of %lld; "
                "latency p50 %.1f ms, p99 %.1f ms, max %.1f ms; korvane-web RSS %lld KiB before, "
                "%lld with the clients, %lld after; CPU %.0f ms over the results\n",
                clients, connected.load(), results, everyMs, delivered, qint64(clients) * results,
                at(0.5), at(0.99), latencyMs.empty() ? -1.0 : latencyMs.back(), rssBefore,
                rssClients, rssAfter, cpuMs);
    for (size_t t = 0; t < threads.size(); ++t) {
        QMetaObject::invokeMethod(
            owners[t].get(), [o = owners[t].get()] { qDeleteAll(o->children()); },
            Qt::BlockingQueuedConnection);
        threads[t]->quit();
        threads[t]->wait();
    }
    web.terminate();
    web.waitForFinished(5000);
    return delivered == qint64(clients) * results ? 0 : 1;
}
