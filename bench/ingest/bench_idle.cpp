// Idle: CPU share of the running program (real binary, ports open, 100000
// processed rows, nothing pending, nothing arriving).
//
//   bench_idle [--seconds S] [--rows N]     (defaults 60 and 100000)
#include "BenchSupport.h"

using namespace bench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = intArg(argc, argv, "--seconds", 60);
    const int rows = intArg(argc, argv, "--rows", 100000);
    Rig rig(rows, "Dist=500\nWait=0\n");
    // Let the start-up finish its own work (the opening runs are not idle).
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const qint64 cpu0 = rig.run->cpuMicros();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = secondsSince(t0);
    const qint64 cpu = rig.run->cpuMicros() - cpu0;
    std::printf("idle rows=%d over %.1f s: CPU %.3f s -> %.2f%% of one core (goal < 1%%)\n", rows,
                wall, double(cpu) / 1e6, 100.0 * double(cpu) / 1e6 / wall);
    return 0;
}
