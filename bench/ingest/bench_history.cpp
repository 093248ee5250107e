// The history page following the event: the real program with the history
// page shown while N laps arrive at R a second (one car's loop-1 and loop-2
// lines per lap, 20 cars in turn, one in ten read twice on loop 2 so that
// suspect rows come too); the attempts it measured and its CPU over the run,
// against the same run with the start page shown.
//
//   bench_history [--attempts N] [--rate R]     (defaults 500 and 20)
#include "BenchSupport.h"

#include "Peer.h"

using namespace bench;

namespace {

struct Figures {
    double wall = 0;
    double cpuS = 0;
    int attempts = 0;
};

Figures runOn(const char* page, int attempts, int rate) {
    Rig rig(0, "Dist=500\nWait=0\n[Checks]\nDoubleReadMs=100\n",
            {QStringLiteral("--page"), QString::fromLatin1(page)});
    // Let the start-up finish its own work.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const e2e::DbLook db(rig.run->dbPath());
    const auto stored = [&] {
        return db.value(QStringLiteral("select count(*) from attempt")).toInt();
    };
    const qint64 cpu0 = rig.run->cpuMicros();
    const auto t0 = Clock::now();
    const auto period = std::chrono::microseconds(1000000 / rate);
    for (int i = 0; i < attempts; ++i) {
        std::this_thread::sleep_until(t0 + period * i);
        const QByteArray car = tpidOf(i % 20);
        const double t = 1000 + i * 0.05;
        if (!rig.dec1.send(e2e::passingLine(car, QByteArray::number(t, 'f', 3))) ||
            !rig.dec2.send(e2e::passingLine(car, QByteArray::number(t + 0.4, 'f', 3))))
            die("a decoder line was not taken");
        if (i % 10 == 9 &&
            !rig.dec2.send(e2e::passingLine(car, QByteArray::number(t + 0.42, 'f', 3))))
            die("a decoder line was not taken");
    }
    // Done when nothing was stored for a second: measuring takes a row at
    // most every measuring period (300 ms after a shown speed), so of laps
    // at 20/s only a share become attempts, the rest overwritten by the
    // car's next lap. The page's last refresh falls within that second.
    int last = -1;
    int still = 0;
    if (!waitUntil(
            [&] {
                const int now = stored();
                still = now == last ? still + 1 : 0;
                last = now;
                return still >= 4;
            },
            60000, 250))
        std::fprintf(stderr, "bench: still storing after a minute\n");
    Figures f;
    f.wall = secondsSince(t0);
    f.cpuS = double(rig.run->cpuMicros() - cpu0) / 1e6;
    f.attempts = stored();
    return f;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int attempts = intArg(argc, argv, "--attempts", 500);
    const int rate = intArg(argc, argv, "--rate", 20);
    for (const char* page : {"history", "start"}) {
        const Figures f = runOn(page, attempts, rate);
        std::printf("%d laps at %d/s, page %s: %d attempts measured, CPU %.2f s over %.1f s -> "
                    "%.1f%% of one core%s\n",
                    attempts, rate, page, f.attempts, f.cpuS, f.wall, 100.0 * f.cpuS / f.wall,
                    std::strcmp(page, "history") ? "" : " (goal < 20%)");
        std::fflush(stdout);
    }
    return 0;
}
