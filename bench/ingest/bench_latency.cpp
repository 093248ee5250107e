// Latency: from a loop-2 passing line written to its decoder terminal to the
// speed line read from the board's, with Wait 0, over the real program.
//
//   bench_latency [--passings N]     (default 100)
#include "BenchSupport.h"

#include <algorithm>
#include <random>
#include <vector>

using namespace bench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int passings = intArg(argc, argv, "--passings", 100);
    Rig rig(0, "Dist=500\nWait=0\n");
    const e2e::DbLook look(rig.run->dbPath());
    const QByteArray tpid("4242");
    const auto row = [&] {
        const QList<QVariantList> r =
            look.rows(QStringLiteral("select time1, time2, sumi from speed where tpid=?"),
                      {QString::fromLatin1(tpid)});
        return r.size() == 1 ? r.first() : QVariantList();
    };

    std::vector<double> ms;
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> phase(0, 299);
    // The first round creates the row (pending at once, processed without a
    // speed) and is not counted.
    auto lastResult = Clock::now();
    for (int i = 0; i <= passings; ++i) {
        const double t1 = 1000 + 10 * i;
        const double t2 = t1 + 1.25;
        if (!rig.dec1.send(e2e::passingLine(tpid, QByteArray::number(t1, 'f', 2))))
            die("loop-1 write failed");
        if (!waitUntil(
                [&] {
                    const QVariantList r = row();
                    return !r.isEmpty() && r[0].toDouble() == t1;
                },
                10000, 2))
            die("loop-1 passing not stored");
        // Nothing pending any more (the first round's new row included).
        if (!waitUntil([&] { return row().value(2).toString() == QLatin1String("1"); }, 10000, 2))
            die("row not processed");
        // No result pending: results are at least 300 ms + Wait apart, so
        // the line goes after that, at a random point of the 300 ms
        // measuring period, as a car would.
        std::this_thread::sleep_until(lastResult + std::chrono::milliseconds(300 + phase(rng)));
        rig.board.clear();
        const auto t0 = Clock::now();
        if (!rig.dec2.send(e2e::passingLine(tpid, QByteArray::number(t2, 'f', 2))))
            die("loop-2 write failed");
        while (!rig.board.received().endsWith('\r')) {
            if (!rig.board.waitReadable(5000))
                die("no board line");
        }
        lastResult = Clock::now();
        const double elapsed = secondsSince(t0) * 1000;
        if (i > 0)
            ms.push_back(elapsed);
        if (!waitUntil(
                [&] {
                    const QVariantList r = row();
                    return !r.isEmpty() && r[1].toDouble() == t2 &&
                           r[2].toString() == QLatin1String("1");
                },
                10000, 2))
            die("loop-2 passing not processed");
    }
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) {
        return ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))];
    };
    std::printf("latency loop-2 line -> board line over %zu passings (Wait 0): min %.1f ms, median "
                "%.1f ms, "
                "p90 %.1f ms, max %.1f ms (goal: median <= 10 ms, max <= 30 ms)\n",
                ms.size(), ms.front(), at(0.5), at(0.9), ms.back());
    return 0;
}
