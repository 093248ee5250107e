// Durable passings per second through the program's store path (the
// backlog's commit, lookup, insert or update on `speed`), with the journal
// row of each passing and without it, on a table of N transponders. Each
// commit is durable (write-ahead log, synchronous FULL, as the program opens
// its file) and holds the passings of one notification.
//
//   bench_journal [--rows N] [--passings M] [--per-commit K]
// Defaults: 100000 rows, 20000 passings, 4 passings to a commit.
#include "BenchSupport.h"

#include "Ingest.h"
#include "PassingBacklog.h"

#include <sys/resource.h>

using namespace bench;

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void runOnce(bool journal, int rows, int passings, int perCommit) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Korvane.db"));
    prefill(path, rows);
    try {
        SpeedDb::open(path);
        PassingBacklog backlog([journal](const QueuedPassing& p) {
            if (journal)
                ingest::storePassing(p);
            else
                SpeedTable::storePassing(p.loop, p.tpid, p.time);
        });
        const auto t0 = Clock::now();
        const double cpu0 = cpuSeconds();
        for (int done = 0; done < passings;) {
            QList<QueuedPassing> one;
            for (int k = 0; k < perCommit && done < passings; ++k, ++done) {
                const int j = done / 2;
                const QByteArray tpid = tpidOf(int((qint64(j) * 7919) % rows));
                const QByteArray time = QByteArray::number(1000 + j) + (done % 2 ? ".75" : ".25");
                const int loop = done % 2 + 1;
                one.append({loop, QString::fromLatin1(tpid), QString::fromLatin1(time),
                            1700000000000 + done, e2e::passingLine(tpid, time).chopped(2)});
            }
            if (!backlog.add(one).stored)
                die("a store failed");
        }
        const double wall = secondsSince(t0), cpu = cpuSeconds() - cpu0;
        std::printf("store rows=%d passings=%d per-commit=%d journal=%s: %.0f durable passings/s, "
                    "CPU %.1f us/passing\n",
                    rows, passings, perCommit, journal ? "on " : "off", passings / wall,
                    cpu * 1e6 / passings);
        std::fflush(stdout);
        SpeedDb::close();
    } catch (const DbError& e) {
        die(e.what());
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = intArg(argc, argv, "--rows", 100000);
    const int passings = intArg(argc, argv, "--passings", 20000);
    const int perCommit = std::max(1, intArg(argc, argv, "--per-commit", 4));
    // Alternately, so that a change in the machine's load touches both.
    for (int round = 0; round < 2; ++round) {
        runOnce(false, rows, passings, perCommit);
        runOnce(true, rows, passings, perCommit);
    }
    return 0;
}
