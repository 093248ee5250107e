// Publishing to a local PostgreSQL server (scripts/local-postgres in a
// temporary folder): the catch-up of a queued outbox, and an outage during
// steady ingest with the station's commit times while the server is away.
//
//   bench_publish [--attempts N] [--batch B]     catch-up of N queued attempts
//   bench_publish --outage S [--rate R]          R attempts/s, server away S s
//   bench_publish --hang S [--rate R]            R attempts/s, server hung S s
#include "PgCluster.h"

#include "Database.h"
#include "Journal.h"
#include "Outbox.h"
#include "Publisher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace e2e;

namespace {

Journal::Attempt attempt(int i) {
    Journal::Attempt a;
    a.tpid = QString::number(100 + i % 50);
    a.time1 = i;
    a.time2 = i + 0.5;
    a.distCm = 500;
    a.speed = 30 + i % 17;
    a.speedText = QString::number(a.speed, 'f', 2);
    a.measuredMs = 1700000000000 + i;
    return a;
}

qint64 outbox() {
    QSqlQuery q(SpeedDb::database());
    return q.exec(QStringLiteral("select count(*) from outbox")) && q.next()
               ? q.value(0).toLongLong()
               : -1;
}

// Runs the event loop until `done` or the time is up; returns the ms taken.
template <typename F> qint64 until(F done, qint64 limitMs) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return t.elapsed();
}

double percentile(QList<qint64> v, double p) {
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return double(v.at(qsizetype(p * double(v.size() - 1)))) / 1000.0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int attempts = 10000, batch = 500, outage = 0, hang = 0, rate = 20;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const int v = args.at(i + 1).toInt();
        if (args.at(i) == QLatin1String("--attempts"))
            attempts = v;
        else if (args.at(i) == QLatin1String("--batch"))
            batch = v;
        else if (args.at(i) == QLatin1String("--outage"))
            outage = v;
        else if (args.at(i) == QLatin1String("--rate"))
            rate = v;
        else if (args.at(i) == QLatin1String("--hang"))
            hang = v;
    }

    PgCluster pg(QStringLiteral(KORVANE_SOURCE_DIR "/scripts/local-postgres"));
    if (!pg.start()) {
        std::fprintf(stderr, "bench_publish: %s\n", qPrintable(pg.why()));
        return 1;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Korvane.db"));
    SpeedDb::open(path);
    SpeedDb::checkNameColumn();
    Outbox::install(SpeedDb::database());
    const EventSettings s{pg.socketConnection(), QStringLiteral("bench"), QStringLiteral("bench")};
    Publisher::Options o;
    o.batch = batch;
    o.retryMaxMs = 2000;
    const auto onServer = [&] {
        return pg.value(QStringLiteral("select count(*) from korvane_attempt")).toLongLong();
    };

    if (!outage && !hang) {
        {
            Batch b;
            for (int i = 0; i < attempts; ++i)
                Journal::recordAttempt(attempt(i));
            b.commit();
        }
        Publisher p(s, path, o);
        p.start();
        const qint64 ms = until([] { return outbox() == 0; }, 600000);
        const qint64 n = onServer();
        std::printf(
            "catch-up: %d attempts queued, batch %d: %.2f s, %.0f attempts/s, on server %lld%s\n",
            attempts, batch, double(ms) / 1000, attempts * 1000.0 / double(std::max<qint64>(ms, 1)),
            n, n == attempts ? "" : "  MISMATCH");
        SpeedDb::close();
        return n == attempts ? 0 : 1;
    }

    // Steady ingest; the server away (or hung) for some seconds in the middle.
    auto p = std::make_unique<Publisher>(s, path, o);
    QElapsedTimer hung;
    qint64 toldMs = -1, toldWaiting = -1;
    QObject::connect(p.get(), &Publisher::statusChanged, [&](const PublisherStatus& st) {
        if (!hung.isValid())
            return;
        if (st.unanswered && toldMs < 0)
            toldMs = hung.elapsed();
        if (st.unanswered)
            toldWaiting = st.waiting;
    });
    p->start();
    QList<qint64> upUs, downUs;
    int made = 0;
    const auto ingestFor = [&](qint64 ms, QList<qint64>& commits) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            QElapsedTimer c;
            c.start();
            Batch b;
            Journal::recordAttempt(attempt(made++));
            b.commit();
            commits << c.nsecsElapsed() / 1000;
            until([] { return false; }, 1000 / rate);
        }
    };
    ingestFor(5000, upUs);
    if (hang) {
        // Suspended, as a hung machine: connections stay open, nothing answers.
        if (!pg.freeze()) {
            std::fputs("bench_publish: the server's processes were not found\n", stderr);
            return 1;
        }
        hung.start();
        ingestFor(qint64(hang) * 1000, downUs);
        const qint64 waiting = outbox();
        QElapsedTimer closing;
        closing.start();
        p.reset();
        const qint64 closeMs = closing.elapsed();
        pg.thaw();
        QElapsedTimer back;
        back.start();
        Publisher again(s, path, o);
        again.start();
        until([] { return outbox() == 0; }, 600000);
        const qint64 catchUp = back.elapsed();
        const qint64 n = onServer();
        const qint64 distinct =
            pg.value(QStringLiteral("select count(distinct attempt_id) from korvane_attempt"))
                .toLongLong();
        std::printf("hang %d s at %d attempts/s: told not answering after %.2f s (last told %lld "
                    "waiting), %lld waiting at the end; publisher stopped in %lld ms while hung; "
                    "all sent %.2f s after the server ran again; on server %lld of %d, %lld "
                    "distinct%s\n"
                    "station commit per attempt, server up: median %.2f ms, p99 %.2f ms; "
                    "server hung: median %.2f ms, p99 %.2f ms\n",
                    hang, rate, double(toldMs) / 1000, toldWaiting, waiting, closeMs,
                    double(catchUp) / 1000, n, made, distinct,
                    n == made && distinct == made ? "" : "  MISMATCH", percentile(upUs, 0.5),
                    percentile(upUs, 0.99), percentile(downUs, 0.5), percentile(downUs, 0.99));
        SpeedDb::close();
        return n == made && distinct == made && toldMs >= 0 ? 0 : 1;
    }
    pg.stop();
    ingestFor(qint64(outage) * 1000, downUs);
    const qint64 waiting = outbox();
    QElapsedTimer back;
    back.start();
    if (!pg.start()) {
        std::fprintf(stderr, "bench_publish: restart: %s\n", qPrintable(pg.why()));
        return 1;
    }
    until([] { return outbox() == 0; }, 600000);
    const qint64 catchUp = back.elapsed();
    const qint64 n = onServer();
    std::printf("outage %d s at %d attempts/s: %lld waiting at restart, all sent %.2f s after it "
                "(server start included); on server %lld of %d%s\n"
                "station commit per attempt, server up: median %.2f ms, p99 %.2f ms; "
                "server away: median %.2f ms, p99 %.2f ms\n",
                outage, rate, waiting, double(catchUp) / 1000, n, made,
                n == made ? "" : "  MISMATCH", percentile(upUs, 0.5), percentile(upUs, 0.99),
                percentile(downUs, 0.5), percentile(downUs, 0.99));
    SpeedDb::close();
    return n == made ? 0 : 1;
}
