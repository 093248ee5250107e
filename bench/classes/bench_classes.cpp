// The ranking of a class over a period, read the way the ranking page's class
// view reads it (Journal::periodBests), on a journal of --attempts attempts
// (default 10^6) spread over 30 days, --classes classes (default 12) and
// --cars transponders (default 1000), each car in one class. Then the CPU
// of storing an attempt with a durable commit, without and with its class
// (in the attempt's own INSERT). --runs repeats the whole (default 3).
#include "BenchCommon.h"
#include "ClassStore.h"
#include "Database.h"
#include "Journal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

using namespace bench;

namespace {

int option(const QStringList& args, const char* name, int fallback) {
    const int at = int(args.indexOf(QLatin1String(name)));
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

void fill(int attempts, int classes, int cars, qint64 nowMs) {
    QSqlDatabase db = SpeedDb::database();
    db.transaction();
    QSqlQuery cls(db);
    cls.prepare(QStringLiteral("insert into class (name, ord) values (?, ?)"));
    for (int c = 1; c <= classes; ++c) {
        cls.addBindValue(QStringLiteral("class %1").arg(c));
        cls.addBindValue(c);
        cls.exec();
    }
    QSqlQuery att(db);
    att.prepare(QStringLiteral("insert into attempt (id, tpid, speed, speed_text, status, "
                               "measured_ms, class_id) values (?,?,?,?,?,?,?)"));
    const qint64 span = 30LL * 86400 * 1000;
    quint32 seed = 12345;
    for (int i = 1; i <= attempts; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int car = int(seed % unsigned(cars));
        const double speed = 20 + (seed >> 8) % 10000 / 100.0;
        const qint64 ms = nowMs - span + span * i / attempts;
        att.addBindValue(i);
        att.addBindValue(QString::number(car));
        att.addBindValue(speed);
        att.addBindValue(QString::number(speed));
        att.addBindValue(i % 50 == 0 ? QStringLiteral("rejected") : QStringLiteral("ok"));
        att.addBindValue(ms);
        att.addBindValue(car % classes + 1);
        att.exec();
    }
    db.commit();
}

struct Timed {
    double ms = 0;
    int rows = 0;
};

Timed rank(qint64 classId, qint64 sinceMs) {
    QElapsedTimer t;
    t.start();
    const int rows = int(Journal::periodBests(SpeedDb::database(), classId, sinceMs, true).size());
    return {t.nsecsElapsed() / 1e6, rows};
}

// CPU microseconds per attempt stored with its own durable commit, with the
// class of its transponder looked up as measuring does (Journal::classAt,
// answered from the room's map of 100 cars) and written in its INSERT.
void store(int count, bool withClass) {
    QHash<QString, Journal::AttemptClass> current;
    for (int car = 0; car < 100; ++car)
        current.insert(QStringLiteral("9%1").arg(car), {1, QStringLiteral("class 1")});
    Journal::setClassResolver(
        withClass ? std::function([&current](const QString& tpid) { return current.value(tpid); })
                  : nullptr);
    const double before = cpuMs();
    for (int i = 0; i < count; ++i) {
        Journal::Attempt a;
        a.tpid = QStringLiteral("9%1").arg(i % 100);
        a.speed = 50;
        a.speedText = QStringLiteral("50");
        a.measuredMs = QDateTime::currentMSecsSinceEpoch();
        Batch batch;
        Journal::recordAttempt(a, Journal::classAt(a.tpid));
        batch.commit();
    }
    std::printf("  store %s: %.1f us CPU per attempt\n",
                withClass ? "with class   " : "without class", (cpuMs() - before) * 1000 / count);
    Journal::setClassResolver({});
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int attempts = option(args, "--attempts", 1000000);
    const int classes = option(args, "--classes", 12);
    const int cars = option(args, "--cars", 1000);
    const int runs = option(args, "--runs", 3);
    for (int run = 1; run <= runs; ++run) {
        QTemporaryDir dir;
        SpeedDb::open(dir.filePath(QStringLiteral("Korvane.db")));
        SpeedDb::checkNameColumn();
        ClassStore::createSchema(SpeedDb::database());
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        QElapsedTimer t;
        t.start();
        fill(attempts, classes, cars, now);
        std::printf("run %d: %d attempts, %d classes, %d cars (filled in %.1f s)\n", run, attempts,
                    classes, cars, t.elapsed() / 1000.0);
        const qint64 today = QDateTime(QDate::currentDate(), QTime(0, 0)).toMSecsSinceEpoch();
        const struct {
            const char* what;
            qint64 classId;
            qint64 since;
        } cases[] = {
            {"class, all time", 3, 0},
            {"class, today", 3, today},
            {"class, last 7 days", 3, now - 7LL * 86400 * 1000},
            {"every class, today", 0, today},
        };
        for (const auto& c : cases) {
            rank(c.classId, c.since); // the file's pages into the cache, as a page shown before
            const Timed r = rank(c.classId, c.since);
            std::printf("  %-20s %7.1f ms, %d rows\n", c.what, r.ms, r.rows);
        }
        store(2000, false);
        store(2000, true);
        SpeedDb::close();
    }
    return 0;
}
