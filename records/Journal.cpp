#include "Journal.h"

#include "Database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <utility>

namespace {

QString engineMessage(const QSqlError& e) {
    return e.databaseText().isEmpty() ? e.text() : e.databaseText();
}

void run(QSqlDatabase db, const QString& sql) {
    QSqlQuery q(db);
    if (!q.exec(sql))
        throw DbError(engineMessage(q.lastError()));
}

} // namespace

void Journal::createSchema(QSqlDatabase db) {
    run(db, QStringLiteral(
                "create table if not exists passing ("
                "id integer primary key, received_ms integer not null, loop integer not null, "
                "tpid text, time real, raw blob)"));
    // Filter by ID, newest first, and a transponder's latest passings per loop.
    run(db, QStringLiteral("create index if not exists passing_tpid on passing(tpid, loop, id)"));
    run(db,
        QStringLiteral(
            "create table if not exists attempt ("
            "id integer primary key, tpid text, "
            "passing1 integer references passing(id), passing2 integer references passing(id), "
            "time1 real, time2 real, dist_cm integer, speed real, speed_text text, "
            "flags integer not null default 0, status text not null, measured_ms integer, "
            "orig_speed real, orig_speed_text text, orig_dist_cm integer, changed_ms integer)"));
    // Newest first is the order of id; the filter by ID has its own index.
    run(db, QStringLiteral("create index if not exists attempt_tpid on attempt(tpid, id)"));
}

void Journal::recordPassing(qint64 receivedMs, int loop, const QString& tpid, const QString& time,
                            const QByteArray& raw) {
    KeptStatement& q = KeptStatement::of(
        "insert into passing (received_ms, loop, tpid, time, raw) values (?,?,?,?,?)");
    q.bind(1, receivedMs);
    q.bind(2, loop);
    q.bind(3, tpid);
    q.bind(4, time);
    q.bind(5, raw);
    q.run();
}

Journal::PairFacts Journal::pairFacts(const QString& tpid) {
    // One statement for what the measuring run asks of the journal: the two
    // latest passings on each loop (by index passing_tpid) and the loop-1
    // passing of the latest attempt (by index attempt_tpid), each row tagged
    // with its loop (0 for the attempt). The rows come in no set order: an
    // order over the whole would cost a sort per run.
    KeptStatement& q = KeptStatement::of(
        "select * from (select 1, id, received_ms from passing where tpid=? and loop=1 "
        "order by id desc limit 2) "
        "union all select * from (select 2, id, received_ms from passing where tpid=? and loop=2 "
        "order by id desc limit 2) "
        "union all select * from (select 0, coalesce(passing1, 0), 0 from attempt where tpid=? "
        "order by id desc limit 1)");
    for (int place = 1; place <= 3; ++place)
        q.bind(place, tpid);
    struct Seen {
        qint64 id = 0;
        qint64 ms = 0;
    };
    // Per loop the latest and the one before it (id 0: none).
    Seen latest[3], before[3];
    bool anyAttempt = false;
    while (q.step()) {
        const qint64 loop = q.integer(0);
        if (loop < 0 || loop > 2)
            continue;
        anyAttempt = anyAttempt || loop == 0;
        const Seen row{q.integer(1), q.integer(2)};
        if (row.id > latest[loop].id) {
            before[loop] = latest[loop];
            latest[loop] = row;
        } else if (row.id > before[loop].id) {
            before[loop] = row;
        }
    }
    PairFacts f;
    f.passing1 = latest[1].id;
    f.passing2 = latest[2].id;
    f.loop1RepeatMs = before[1].id > 0 ? latest[1].ms - before[1].ms : -1;
    f.loop2RepeatMs = before[2].id > 0 ? latest[2].ms - before[2].ms : -1;
    f.received1Ms = latest[1].ms;
    f.received2Ms = latest[2].ms;
    f.loop1SincePrevious = f.passing1 > 0 && f.passing1 > latest[0].id;
    f.loop1Unknown = f.passing1 == 0 && !anyAttempt;
    return f;
}

qint64 Journal::recordAttempt(const Attempt& a) {
    KeptStatement& q = KeptStatement::of(
        "insert into attempt (tpid, passing1, passing2, time1, time2, dist_cm, speed, "
        "speed_text, flags, status, measured_ms) values (?,?,?,?,?,?,?,?,?,?,?)");
    q.bind(1, a.tpid);
    // A missing passing is stored as empty.
    for (const auto& [place, id] : {std::pair{2, a.passing1}, std::pair{3, a.passing2}}) {
        if (id > 0)
            q.bind(place, id);
        else
            q.bindNull(place);
    }
    q.bind(4, a.time1);
    q.bind(5, a.time2);
    q.bind(6, a.distCm);
    q.bind(7, a.speed);
    q.bind(8, a.speedText);
    q.bind(9, qint64(a.flags));
    q.bind(10, a.status);
    q.bind(11, a.measuredMs);
    q.run();
    return q.insertedId();
}
