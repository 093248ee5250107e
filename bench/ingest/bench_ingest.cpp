// Ingest: how many passings per second the real program's receive path
// stores (line cut, lookup, insert or update, durable commit) when both
// decoder terminals are fed as fast as they carry bytes, and the CPU time
// the program spends per passing (/proc/<pid>/stat, user + system).
//
//   bench_ingest [--rows N] [--passings M] [--rate R] [--batch B]
// Without --rows it runs on a table of 10 and then of 100000 transponders.
// Without --rate the lines go as fast as the terminals take them; with it,
// at R passings per second in all. Each run ends with the same passings
// stored by SQLite alone, B (default 32) to a commit, for comparison.
#include "BenchSupport.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSqlError>

#include <algorithm>
#include <cstring>
#include <poll.h>
#include <vector>

using namespace bench;

namespace {

struct Expected {
    double time1 = 0;
    double time2 = 0;
};

// The same work done by SQLite alone in this process, as the reference the
// program is compared with: a table of `rows` rows as the program makes it,
// and for each passing a lookup by ID and an update or insert with
// statements prepared once, `batch` passings to a durable commit (WAL,
// synchronous FULL, as the program opens its file). Returns passings/s.
double rawSqlite(int rows, int passings, int batch) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("raw.db"));
    prefill(path, rows);
    double rate = 0;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(path);
        if (!db.open())
            die("raw database does not open");
        QSqlQuery pragma(db);
        pragma.exec(QStringLiteral("pragma journal_mode=wal"));
        pragma.exec(QStringLiteral("pragma synchronous=full"));
        QSqlQuery locate(db), update1(db), update2(db), insert1(db), insert2(db);
        locate.prepare(QStringLiteral("select rowid from speed where tpid=?"));
        update1.prepare(QStringLiteral("update speed set time1=? where rowid=?"));
        update2.prepare(QStringLiteral("update speed set time2=?,sumi='0' where rowid=?"));
        insert1.prepare(QStringLiteral("insert into speed (tpid,time1,sumi) values (?,?,'0')"));
        insert2.prepare(
            QStringLiteral("insert into speed (tpid,time2,speed,sumi) values (?,?,'0','0')"));
        QElapsedTimer t;
        t.start();
        for (int done = 0; done < passings;) {
            db.transaction();
            for (int k = 0; k < batch && done < passings; ++k, ++done) {
                const int j = done / 2;
                const QString tpid = QString::fromLatin1(tpidOf(int((qint64(j) * 7919) % rows)));
                const QString time = QString::number(1000 + j) +
                                     (done % 2 ? QStringLiteral(".75") : QStringLiteral(".25"));
                locate.addBindValue(tpid);
                if (!locate.exec())
                    die("raw lookup failed");
                const bool known = locate.next();
                const QVariant rowid = known ? locate.value(0) : QVariant();
                locate.finish();
                QSqlQuery& q =
                    known ? (done % 2 ? update2 : update1) : (done % 2 ? insert2 : insert1);
                if (known) {
                    q.addBindValue(time);
                    q.addBindValue(rowid);
                } else {
                    q.addBindValue(tpid);
                    q.addBindValue(time);
                }
                if (!q.exec())
                    die("raw store failed");
            }
            if (!db.commit())
                die("raw commit failed");
        }
        rate = passings / (double(t.nsecsElapsed()) / 1e9);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    return rate;
}

void runOnce(int rows, int passings, int rate, int batch) {
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
        const QList<QVariantList> r =
            look.rows(QStringLiteral("select time1, time2 from speed where tpid=?"),
                      {QString::fromLatin1(lastTpid)});
        return r.size() == 1 && r[0][0].toDouble() == last.time1 &&
               r[0][1].toDouble() == last.time2;
    };

    const qint64 cpu0 = rig.run->cpuMicros();
    const auto t0 = Clock::now();
    qsizetype off1 = 0, off2 = 0;
    const qsizetype lineBytes = stream1.size() / pairs; // lines are of equal length
    while (off1 < stream1.size() || off2 < stream2.size()) {
        // With a rate, only the lines due by now may go.
        const qsizetype due = rate > 0
                                  ? qsizetype(secondsSince(t0) * rate / 2) * lineBytes + lineBytes
                                  : stream1.size();
        const qsizetype end1 = std::min(due, stream1.size());
        const qsizetype end2 = std::min(due, stream2.size());
        pollfd p[2] = {{rig.dec1.fd(), short(off1 < end1 ? POLLOUT : 0), 0},
                       {rig.dec2.fd(), short(off2 < end2 ? POLLOUT : 0), 0}};
        const int ready = ::poll(p, 2, off1 < end1 || off2 < end2 ? 3000 : 1);
        if (ready < 0 && errno != EINTR)
            die("poll failed");
        if (ready == 0 && (off1 < end1 || off2 < end2)) {
            // Both terminals full for 3 s: the program no longer reads them.
            const QList<QVariantList> m =
                look.rows(QStringLiteral("select max(time1), max(time2) from speed"));
            const int stored1 = m.isEmpty() ? 0 : int(m[0][0].toDouble()) - 999;
            const int stored2 = m.isEmpty() ? 0 : int(m[0][1].toDouble()) - 999;
            const double at = secondsSince(t0) - 3;
            std::printf(
                "ingest rows=%d: STALLED after %.3f s with %lld of %lld bytes fed; stored %d "
                "loop-1 and %d "
                "loop-2 passings of %d each (%.0f passings/s until then); CPU %.1f us/passing\n",
                rows, at, (long long)(off1 + off2), (long long)(stream1.size() + stream2.size()),
                stored1, stored2, pairs, (stored1 + stored2) / at,
                double(rig.run->cpuMicros() - cpu0) / std::max(1, stored1 + stored2));
            std::fflush(stdout);
            return;
        }
        const auto push = [](e2e::Peer& peer, const QByteArray& s, qsizetype& off, qsizetype end) {
            const ssize_t n = ::write(peer.fd(), s.constData() + off, size_t(end - off));
            if (n > 0)
                off += n;
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                die("write to a decoder terminal failed");
        };
        if (p[0].revents & POLLOUT)
            push(rig.dec1, stream1, off1, end1);
        if (p[1].revents & POLLOUT)
            push(rig.dec2, stream2, off2, end2);
    }
    const double fed = secondsSince(t0);
    // A tail of bytes that were never announced would leave the run waiting:
    // after 2 s without the last passing, a status line (no "@", only shown
    // in the monitor) every 50 ms brings such a tail in, and is counted.
    int nudges = 0;
    const auto t1 = Clock::now();
    while (!lastStored()) {
        if (secondsSince(t1) > 600)
            die("the last passing never reached the table");
        if (secondsSince(t1) > 2.0 + 0.05 * nudges) {
            rig.dec1.send("#\r\n");
            rig.dec2.send("#\r\n");
            ++nudges;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double wall = secondsSince(t0);
    const qint64 cpu = rig.run->cpuMicros() - cpu0;

    // Every touched row holds its last passing of each loop.
    int wrong = 0;
    QHash<QByteArray, Expected> left = expected;
    for (const QVariantList& r :
         look.rows(QStringLiteral("select tpid, time1, time2 from speed"))) {
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
    const double raw = rawSqlite(rows, total, batch);
    std::printf(
        "ingest rows=%d passings=%d rate=%s bytes=%lld: fed in %.3f s, stored in %.3f s -> %.0f "
        "passings/s; "
        "CPU %.1f us/passing (%.0f%% of one core); rows wrong or missing: %d; tail nudges: %d; "
        "raw SQLite, %d to a commit: %.0f passings/s (program at %.0f%% of it)\n",
        rows, total, rate > 0 ? qPrintable(QString::number(rate)) : "max",
        (long long)(stream1.size() + stream2.size()), fed, wall, total / wall, double(cpu) / total,
        100.0 * double(cpu) / 1e6 / wall, wrong, nudges, batch, raw, 100.0 * total / wall / raw);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int passings = intArg(argc, argv, "--passings", 20000);
    const int rows = intArg(argc, argv, "--rows", 0);
    const int rate = intArg(argc, argv, "--rate", 0);
    const int batch = intArg(argc, argv, "--batch", 32);
    // --chain-compare: each table size twice, the program without the chain
    // over its journal (a switch for this comparison alone) and with it.
    bool compare = false;
    for (int i = 1; i < argc; ++i)
        compare = compare || !std::strcmp(argv[i], "--chain-compare");
    for (const int size : rows > 0 ? std::vector<int>{rows} : std::vector<int>{10, 100000}) {
        for (const bool chain :
             compare ? std::vector<bool>{false, true} : std::vector<bool>{true}) {
            if (chain) {
                qunsetenv("KORVANE_BENCH_NO_CHAIN");
            } else {
                qputenv("KORVANE_BENCH_NO_CHAIN", "1");
            }
            if (compare)
                std::printf("chain %s: ", chain ? "on " : "off");
            runOnce(size, passings, rate, batch);
        }
    }
    return 0;
}
