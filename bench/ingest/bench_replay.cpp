// Attempts per second through korvane-replay: a capture of N laps (loop 1,
// loop 2 a quarter second later, a lap every 0.4 s on the capture's clock,
// so that every lap is measured) on 1000 transponders, replayed into a fresh
// folder; wall and CPU time of the replay process.
//
//   bench_replay [--laps N] [--durable]
#include "BenchSupport.h"

#include "Capture.h"

#include <QProcess>
#include <sys/resource.h>

using namespace bench;

namespace {

double childCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int laps = intArg(argc, argv, "--laps", 20000);
    bool durable = false;
    for (int i = 1; i < argc; ++i)
        durable = durable || !std::strcmp(argv[i], "--durable");

    QTemporaryDir dir;
    const QString cap = dir.filePath(QStringLiteral("bench.capture"));
    {
        capture::Writer w;
        if (!w.open(cap))
            die("cannot write the capture");
        w.setting(0, QStringLiteral("Dist"), 500);
        w.setting(0, QStringLiteral("Wait"), 0);
        qint64 ms = 1700000000000;
        for (int lap = 0; lap < laps; ++lap) {
            const QByteArray tpid = tpidOf(int((qint64(lap) * 7919) % 1000));
            const double t = 1000 + lap * 0.4;
            w.chunk(ms, 1, e2e::passingLine(tpid, QByteArray::number(t, 'f', 3)));
            w.chunk(ms + 250, 2, e2e::passingLine(tpid, QByteArray::number(t + 0.25, 'f', 3)));
            ms += 400;
        }
    }
    QStringList args{QStringLiteral("--quiet"), QStringLiteral("--data-dir"),
                     dir.filePath(QStringLiteral("data")), cap};
    if (durable)
        args.prepend(QStringLiteral("--durable"));
    const double cpu0 = childCpuSeconds();
    const auto t0 = Clock::now();
    QProcess p;
    p.start(QStringLiteral(KORVANE_REPLAY_BIN), args);
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        die(p.readAllStandardError().constData());
    const double wall = secondsSince(t0), cpu = childCpuSeconds() - cpu0;
    const QByteArray summary = p.readAllStandardError().trimmed().split('\n').last();
    std::printf("replay laps=%d%s: %.3f s wall (process), %.3f s CPU -> %.0f attempts/s wall, "
                "%.0f attempts per CPU second\n  %s\n",
                laps, durable ? " durable" : "", wall, cpu, laps / wall, laps / cpu,
                summary.constData());
    return 0;
}
