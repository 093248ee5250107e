// Ingest: how many passings per second the real program's receive path
// stores (line cut, lookup, insert or update, durable commit) when both
// decoder terminals are fed as fast as they carry bytes, and the CPU time
// the program spends per passing (/proc/<pid>/stat, user + system).
//
//   bench_ingest [--rows N] [--passings M]
// Without --rows it runs on a table of 10 and then of 100000 transponders.
#include "BenchSupport.h"

#include <QHash>

#include <cstring>
#include <poll.h>

using namespace bench;

namespace {

struct Expected {
    double time1 = 0;
    double time2 = 0;
};

void runOnce(int rows, int passings) {
    Rig rig(rows, "Dist=500\nWait=0\n");

    // Loop 1 and loop 2 alternately, each pair one car; IDs spread over the
    // table so that a large table is not walked in order.
    const int pairs = passings / 2;
    QByteArray stream1, stream2;
    QHash<QByteArray, Expected> expected;
    QByteArray lastTpid;
    for (int j = 0; j < pairs; ++j) {
        const QByteArray tpid = tpidOf(int((qint64(j) * 7919) % rows));
        const QByteArray t1 = QByteArray::number(1000 + j) + ".25";
        const QByteArray t2 = QByteArray::number(1000 + j) + ".75";
        stream1 += e2e::passingLine(tpid, t1);
        stream2 += e2e::passingLine(tpid, t2);
        expected[tpid] = {t1.toDouble(), t2.toDouble()};
        lastTpid = tpid;
    }
    const Expected last = expected.value(lastTpid);
    const e2e::DbLook look(rig.run->dbPath());
    const auto lastStored = [&] {
        const QList<QVariantList> r = look.rows(QStringLiteral("select time1, time2 from speed where tpid=?"),
                                                {QString::fromLatin1(lastTpid)});
        return r.size() == 1 && r[0][0].toDouble() == last.time1 && r[0][1].toDouble() == last.time2;
    };

    const qint64 cpu0 = rig.run->cpuMicros();
    const auto t0 = Clock::now();
    qsizetype off1 = 0, off2 = 0;
    while (off1 < stream1.size() || off2 < stream2.size()) {
        pollfd p[2] = {{rig.dec1.fd(), short(off1 < stream1.size() ? POLLOUT : 0), 0},
                       {rig.dec2.fd(), short(off2 < stream2.size() ? POLLOUT : 0), 0}};
        if (::poll(p, 2, 10000) <= 0)
            die("the decoder terminals stopped taking bytes");
        const auto push = [](e2e::Peer& peer, const QByteArray& s, qsizetype& off) {
            const ssize_t n = ::write(peer.fd(), s.constData() + off, size_t(s.size() - off));
            if (n > 0)
                off += n;
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                die("write to a decoder terminal failed");
        };
        if (p[0].revents & POLLOUT)
            push(rig.dec1, stream1, off1);
        if (p[1].revents & POLLOUT)
            push(rig.dec2, stream2, off2);
    }
    const double fed = secondsSince(t0);
    if (!waitUntil(lastStored, 600000, 5))
        die("the last passing never reached the table");
    const double wall = secondsSince(t0);
    const qint64 cpu = rig.run->cpuMicros() - cpu0;

    // Every touched row holds its last passing of each loop.
    int wrong = 0;
    QHash<QByteArray, Expected> left = expected;
    for (const QVariantList& r : look.rows(QStringLiteral("select tpid, time1, time2 from speed"))) {
        const QByteArray tpid = r[0].toString().toLatin1();
        const auto it = left.find(tpid);
        if (it == left.end())
            continue;
        if (r[1].toDouble() != it->time1 || r[2].toDouble() != it->time2)
            ++wrong;
        left.erase(it);
    }
    wrong += int(left.size());
    const int total = pairs * 2;
    std::printf("ingest rows=%d passings=%d bytes=%lld: fed in %.3f s, stored in %.3f s -> %.0f passings/s; "
                "CPU %.1f us/passing (%.0f%% of one core); rows wrong or missing: %d\n",
                rows, total, (long long)(stream1.size() + stream2.size()), fed, wall, total / wall,
                double(cpu) / total, 100.0 * double(cpu) / 1e6 / wall, wrong);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int passings = intArg(argc, argv, "--passings", 20000);
    const int rows = intArg(argc, argv, "--rows", 0);
    if (rows > 0) {
        runOnce(rows, passings);
    } else {
        runOnce(10, passings);
        runOnce(100000, passings);
    }
    return 0;
}
