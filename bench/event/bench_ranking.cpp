// The event server's kept rankings, on a throw-away local PostgreSQL server
// (scripts/local-postgres in a temporary folder).
//
//   bench_ranking --rows N [--stations 100] [--cars 2000] [--events 10]
//       N attempts of 100 stations loaded with COPY (the trigger off, as for
//       rows already there when the migration ran), korvane_best then built
//       by the migration's own INSERT ... SELECT, and the read of an event's
//       top 100, overall and of one class, 3 runs each
//   bench_ranking --latency K
//       two stations' publishers: K attempts committed on one, each timed
//       until the other's combined ranking, read on the server's word,
//       shows it; 3 runs
#include "BenchCommon.h"
#include "PgCluster.h"

#include "Database.h"
#include "Journal.h"
#include "Outbox.h"
#include "Publisher.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>

#include <libpq-fe.h>

#include <algorithm>
#include <cstdio>

using namespace e2e;

namespace {

// 2026-06-01 10:00 UTC.
constexpr qint64 kEndMs = 1780308000000;

const char* const kClasses[] = {"GT", "Stock", "Open", ""};

template <typename F> qint64 until(F done, qint64 limitMs) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return t.elapsed();
}

double median(QList<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(v.size() / 2);
}

void exec(PGconn* c, const char* sql) {
    PGresult* r = PQexec(c, sql);
    const ExecStatusType st = PQresultStatus(r);
    PQclear(r);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK && st != PGRES_COPY_IN) {
        std::fprintf(stderr, "%s\n", PQerrorMessage(c));
        bench::die(sql);
    }
}

int kept(PgCluster& pg, int rows, int stations, int cars, int events) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("m"));
        db.setConnectOptions(pg.socketConnection());
        if (!db.open())
            bench::die("connect");
        EventServer::migrate(db);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("m"));

    PGconn* c = PQconnectdb(pg.socketConnection().toUtf8().constData());
    if (PQstatus(c) != CONNECTION_OK)
        bench::die(PQerrorMessage(c));
    exec(c, "alter table korvane_attempt disable trigger korvane_attempt_best");
    QElapsedTimer t;
    t.start();
    exec(c, "copy korvane_attempt (event, station, attempt_id, tpid, name, speed, speed_text,"
            " dist_cm, status, measured_at, class) from stdin");
    // The attempts spread evenly over 30 days, the last at kEndMs.
    const auto measuredAt = [rows](int i) {
        const qint64 ms = kEndMs - (qint64(rows - 1 - i) * 30 * 86400000LL) / std::max(1, rows);
        return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc())
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz+00"));
    };
    QByteArray chunk;
    for (int i = 0; i < rows; ++i) {
        // Speeds spread so that ties are rare but happen; one attempt in
        // ten is not counted.
        const double speed = 20 + double((qint64(i) * 7919) % 60000) / 1000.0;
        chunk += QStringLiteral("ev%1\tS%2\t%3\t%4\t\t%5\t%6\t500\t%7\t%9\t%8\n")
                     .arg(i % events)
                     .arg((i / events) % stations)
                     .arg(i)
                     .arg((i / (events * stations)) % cars)
                     .arg(speed, 0, 'f', 3)
                     .arg(speed, 0, 'f', 2)
                     .arg(i % 10 ? QStringLiteral("ok") : QStringLiteral("suspect"))
                     .arg(QLatin1String(kClasses[(i / 3) % 4]))
                     .arg(measuredAt(i))
                     .toUtf8();
        if (chunk.size() > (1 << 20) || i + 1 == rows) {
            if (PQputCopyData(c, chunk.constData(), int(chunk.size())) != 1)
                bench::die(PQerrorMessage(c));
            chunk.clear();
        }
    }
    if (PQputCopyEnd(c, nullptr) != 1)
        bench::die(PQerrorMessage(c));
    for (PGresult* r; (r = PQgetResult(c));) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK)
            bench::die(PQerrorMessage(c));
        PQclear(r);
    }
    const double loadS = double(t.elapsed()) / 1000;
    t.restart();
    // As the migration builds it for the rows it finds.
    exec(c, "insert into korvane_best select distinct on (event, class, tpid)"
            " event, false, class, tpid, station, attempt_id, name, speed, speed_text,"
            " measured_at from korvane_attempt"
            " where status in ('ok', 'accepted') and speed is not null"
            " order by event, class, tpid, speed desc, measured_at, station, attempt_id"
            " on conflict do nothing");
    exec(c, "insert into korvane_best select distinct on (event, tpid)"
            " event, true, '', tpid, station, attempt_id, name, speed, speed_text,"
            " measured_at from korvane_attempt"
            " where status in ('ok', 'accepted') and speed is not null"
            " order by event, tpid, speed desc, measured_at, station, attempt_id"
            " on conflict do nothing");
    exec(c, "alter table korvane_attempt enable trigger korvane_attempt_best");
    exec(c, "vacuum analyze korvane_best");
    const double buildS = double(t.elapsed()) / 1000;
    PQfinish(c);

    std::printf("%d attempts, %d stations, %d events, %d cars: COPY %.1f s, korvane_best built "
                "%.1f s\n",
                rows, stations, events, cars, loadS, buildS);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("r"));
    db.setConnectOptions(pg.socketConnection());
    if (!db.open())
        bench::die("connect");
    int status = 0;
    for (const QString& cls : {QString(), QStringLiteral("GT")}) {
        // The first read of a fresh connection prepares the statement.
        EventServer::ranking(db, QStringLiteral("ev3"), cls, 100);
        for (int run = 1; run <= 3; ++run) {
            QElapsedTimer r;
            r.start();
            const int n = int(EventServer::ranking(db, QStringLiteral("ev3"), cls, 100).size());
            const double ms = double(r.nsecsElapsed()) / 1e6;
            std::printf("top 100 of ev3 %s, run %d: %.2f ms (%d rows)\n",
                        cls.isEmpty() ? "overall" : "class GT", run, ms, n);
            if (n != 100)
                status = 1;
        }
    }
    // A period: the last day, about a thirtieth of the event's attempts.
    for (const QString& cls : {QString(), QStringLiteral("GT")}) {
        const qint64 since = kEndMs - 86400000;
        EventServer::periodRanking(db, QStringLiteral("ev3"), cls, since, 100);
        for (int run = 1; run <= 3; ++run) {
            QElapsedTimer r;
            r.start();
            const int n =
                int(EventServer::periodRanking(db, QStringLiteral("ev3"), cls, since, 100).size());
            std::printf("top 100 of ev3 %s of the last day, run %d: %.2f ms (%d rows)\n",
                        cls.isEmpty() ? "overall" : "class GT", run, double(r.nsecsElapsed()) / 1e6,
                        n);
        }
    }
    // The read's plan, to show it is the index scan it is meant to be.
    QSqlQuery plan(db);
    plan.exec(QStringLiteral("explain select tpid, name, speed_text, speed, station from "
                             "korvane_best where event = 'ev3' and overall and class = '' "
                             "order by speed desc, tpid limit 100"));
    while (plan.next())
        std::printf("  %s\n", qPrintable(plan.value(0).toString()));
    plan.finish();
    db.close();
    return status;
}

int latency(PgCluster& pg, int attempts) {
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("A.db")),
                  b = dir.filePath(QStringLiteral("B.db"));
    SpeedDb::open(b);
    SpeedDb::checkNameColumn();
    Outbox::install(SpeedDb::database());
    SpeedDb::close();
    SpeedDb::open(a);
    SpeedDb::checkNameColumn();
    Outbox::install(SpeedDb::database());
    const QString event = QStringLiteral("latency");
    Publisher pa({pg.socketConnection(), QStringLiteral("A"), event}, a);
    Publisher pb({pg.socketConnection(), QStringLiteral("B"), event}, b);
    bool listening = false;
    QString top;
    QObject::connect(&pb, &Publisher::statusChanged,
                     [&](const PublisherStatus& s) { listening = s.listening; });
    QObject::connect(&pb, &Publisher::rankingChanged, &pb, &Publisher::requestRanking);
    QObject::connect(&pb, &Publisher::rankingReady,
                     [&](const QList<EventServer::RankingEntry>& rows, const QString&) {
                         if (!rows.isEmpty())
                             top = rows.first().tpid;
                     });
    pa.start();
    pb.start();
    if (until([&] { return listening; }, 30000) >= 30000)
        bench::die("station B does not listen");
    int status = 0;
    for (int run = 1, car = 0; run <= 3; ++run) {
        QList<double> ms;
        for (int i = 0; i < attempts; ++i, ++car) {
            Journal::Attempt x;
            x.tpid = QString::number(1000 + car);
            x.time1 = car;
            x.time2 = car + 0.5;
            x.distCm = 500;
            x.speed = 100 + car; // each one tops the ranking
            x.speedText = QString::number(x.speed, 'f', 2);
            x.measuredMs = QDateTime::currentMSecsSinceEpoch();
            Journal::recordAttempt(x); // committed here
            QElapsedTimer t;
            t.start();
            const qint64 took = until([&] { return top == x.tpid; }, 10000);
            if (took >= 10000)
                status = 1;
            ms << double(t.nsecsElapsed()) / 1e6;
            until([] { return false; }, 100);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("run %d: %d attempts, commit on A to B's ranking: median %.0f ms, max %.0f "
                    "ms\n",
                    run, attempts, median(ms), ms.back());
    }
    SpeedDb::close();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PgCluster pg(QStringLiteral(KORVANE_SOURCE_DIR "/scripts/local-postgres"));
    if (!pg.start())
        bench::die(qPrintable(pg.why()));
    const int rows = bench::intArg(argc, argv, "--rows", 0);
    if (rows > 0)
        return kept(pg, rows, bench::intArg(argc, argv, "--stations", 100),
                    bench::intArg(argc, argv, "--cars", 2000),
                    bench::intArg(argc, argv, "--events", 10));
    return latency(pg, bench::intArg(argc, argv, "--latency", 20));
}
