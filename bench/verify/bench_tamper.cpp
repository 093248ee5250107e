// The verifier against a forger: a journal of --attempts laps (default 1000)
// built through the program's store, measuring and review code, then
// --rounds (default 10000) rounds of one random change to a copy of it,
// every change checked to be found with its first broken row named, and the
// untouched copy verified every --clean-every rounds (default 1: each
// round). With --rounds 0 it times the verifier on the journal alone. Then
// the korvane-verify program on the data folder, --tool-runs times (default
// 3), wall and CPU time of each run.
//
//   bench_tamper [--attempts N] [--rounds R] [--clean-every K] [--tool-runs T]
#include "BenchCommon.h"
#include "Tamper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace bench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int attempts = intArg(argc, argv, "--attempts", 1000);
    const int rounds = intArg(argc, argv, "--rounds", 10000);
    const int cleanEvery = std::max(1, intArg(argc, argv, "--clean-every", 1));
    const int toolRuns = intArg(argc, argv, "--tool-runs", 3);
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("Korvane.db"));
    const tamper::KeyPair key;
    QElapsedTimer clock;
    clock.start();
    tamper::build(db, attempts, key, 1000, true);
    std::printf("journal of %d attempts built in %.1f s\n", attempts, clock.elapsed() / 1000.0);

    clock.restart();
    const ChainCheck::Result whole = ChainCheck::verify(db, key.pub);
    std::printf("verify: %s, %lld rows, %lld signed heads, %.3f s\n", whole.ok() ? "OK" : "BROKEN",
                (long long)whole.links, (long long)whole.heads, clock.elapsed() / 1000.0);
    // A break the check names late (a best) still walks every row: the
    // program's time is measured all the same, and the exit status tells.
    if (!whole.ok()) {
        if (whole.first)
            std::printf("  at row %lld: %s %s: %s: %s\n", (long long)whole.first->seq,
                        qPrintable(whole.first->table), qPrintable(whole.first->rowId),
                        qPrintable(whole.first->kind), qPrintable(whole.first->detail));
    }

    // The program as a receiver of the data folder runs it.
    {
        QFile pub(dir.filePath(QStringLiteral("evidence.pub")));
        if (!pub.open(QIODevice::WriteOnly) || pub.write(key.pub.toHex() + '\n') <= 0)
            return 2;
    }
    for (int run = 0; run < toolRuns; ++run) {
        rusage before{}, after{};
        getrusage(RUSAGE_CHILDREN, &before);
        clock.restart();
        QProcess tool;
        tool.start(QStringLiteral(KORVANE_VERIFY_BIN), {dir.path()});
        if (!tool.waitForFinished(-1) || tool.exitCode() != (whole.ok() ? 0 : 1)) {
            std::printf("korvane-verify failed: %s\n", tool.readAllStandardOutput().constData());
            return 1;
        }
        const double wall = clock.elapsed() / 1000.0;
        getrusage(RUSAGE_CHILDREN, &after);
        const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
        const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) +
                           seconds(after.ru_stime) - seconds(before.ru_stime);
        std::printf("korvane-verify run %d: exit %d, %.2f s wall, %.2f s CPU\n", run + 1,
                    tool.exitCode(), wall, cpu);
    }

    QRandomGenerator rnd(27);
    int found = 0, clean = 0, cleanOk = 0;
    QStringList missed;
    clock.restart();
    const QString copy = dir.filePath(QStringLiteral("copy.db"));
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(copy);
        if (!QFile::copy(db, copy))
            return 2;
        if (round % cleanEvery == 0) {
            ++clean;
            cleanOk += ChainCheck::verify(copy, key.pub).ok() ? 1 : 0;
        }
        const tamper::Expected e = tamper::change(copy, rnd);
        const QString wrong = tamper::judge(ChainCheck::verify(copy, key.pub), e);
        if (wrong.isEmpty())
            ++found;
        else if (missed.size() < 20)
            missed << wrong;
    }
    if (rounds > 0)
        std::printf("tamper: %d rounds in %.1f s: %d found and named (%.2f %%), untouched copy "
                    "verified %d of %d\n",
                    rounds, clock.elapsed() / 1000.0, found, 100.0 * found / rounds, cleanOk,
                    clean);
    for (const QString& m : std::as_const(missed))
        std::printf("  %s\n", qPrintable(m));
    return whole.ok() && found == rounds && cleanOk == clean ? 0 : 1;
}
