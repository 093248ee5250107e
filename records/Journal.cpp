#include "Journal.h"

#include "Database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <map>
#include <memory>

namespace {

QString engineMessage(const QSqlError& e) {
    return e.databaseText().isEmpty() ? e.text() : e.databaseText();
}

void run(QSqlDatabase db, const QString& sql) {
    QSqlQuery q(db);
    if (!q.exec(sql))
        throw DbError(engineMessage(q.lastError()));
}

// The journal's statements run once per passing or attempt: each is compiled
// once for the connection and then only bound and run.
// Never destroyed at exit: a statement must not outlive its driver, and a
// program that ends without closing the connection would otherwise tear
// them down in the wrong order.
std::map<int, std::unique_ptr<QSqlQuery>>& cache() {
    static auto* statements = new std::map<int, std::unique_ptr<QSqlQuery>>;
    return *statements;
}

enum Statement { InsertPassing, LatestOnLoop, PreviousAttempt, InsertAttempt };

QSqlQuery& prepared(Statement which, const char* sql) {
    std::unique_ptr<QSqlQuery>& q = cache()[which];
    if (!q) {
        auto fresh = std::make_unique<QSqlQuery>(SpeedDb::database());
        fresh->setForwardOnly(true);
        if (!fresh->prepare(QString::fromLatin1(sql)))
            throw DbError(engineMessage(fresh->lastError()));
        q = std::move(fresh);
    }
    return *q;
}

// An empty text is an empty text, never NULL, as in every other statement.
QVariant text(const QString& s) {
    return s.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(s);
}
QVariant idOrEmpty(qint64 id) {
    return id > 0 ? QVariant(id) : QVariant(QMetaType(QMetaType::LongLong));
}

void execute(QSqlQuery& q) {
    if (!q.exec()) {
        const QString why = engineMessage(q.lastError());
        q.finish();
        throw DbError(why);
    }
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

void Journal::releaseStatements() {
    cache().clear();
}

void Journal::recordPassing(qint64 receivedMs, int loop, const QString& tpid, const QString& time,
                            const QByteArray& raw) {
    QSqlQuery& q =
        prepared(InsertPassing,
                 "insert into passing (received_ms, loop, tpid, time, raw) values (?,?,?,?,?)");
    q.bindValue(0, receivedMs);
    q.bindValue(1, loop);
    q.bindValue(2, text(tpid));
    q.bindValue(3, text(time));
    q.bindValue(4, raw.isNull() ? QByteArray("") : raw);
    execute(q);
    q.finish();
}

Journal::PairFacts Journal::pairFacts(const QString& tpid) {
    PairFacts f;
    qint64 latest[3] = {0, 0, 0};
    for (int loop = 1; loop <= 2; ++loop) {
        QSqlQuery& q = prepared(LatestOnLoop, "select id, received_ms from passing "
                                              "where tpid=? and loop=? order by id desc limit 2");
        q.bindValue(0, text(tpid));
        q.bindValue(1, loop);
        execute(q);
        qint64 repeat = -1;
        if (q.next()) {
            latest[loop] = q.value(0).toLongLong();
            const qint64 at = q.value(1).toLongLong();
            if (q.next())
                repeat = at - q.value(1).toLongLong();
        }
        q.finish();
        (loop == 1 ? f.loop1RepeatMs : f.loop2RepeatMs) = repeat;
    }
    f.passing1 = latest[1];
    f.passing2 = latest[2];

    QSqlQuery& prev = prepared(
        PreviousAttempt, "select passing2 from attempt where tpid=? order by id desc limit 1");
    prev.bindValue(0, text(tpid));
    execute(prev);
    const qint64 previousPassing2 = prev.next() ? prev.value(0).toLongLong() : 0;
    prev.finish();
    f.loop1SincePrevious = f.passing1 > 0 && f.passing1 > previousPassing2;
    return f;
}

qint64 Journal::recordAttempt(const Attempt& a) {
    QSqlQuery& q =
        prepared(InsertAttempt,
                 "insert into attempt (tpid, passing1, passing2, time1, time2, dist_cm, speed, "
                 "speed_text, flags, status, measured_ms) values (?,?,?,?,?,?,?,?,?,?,?)");
    q.bindValue(0, text(a.tpid));
    q.bindValue(1, idOrEmpty(a.passing1));
    q.bindValue(2, idOrEmpty(a.passing2));
    q.bindValue(3, a.time1);
    q.bindValue(4, a.time2);
    q.bindValue(5, a.distCm);
    q.bindValue(6, a.speed);
    q.bindValue(7, text(a.speedText));
    q.bindValue(8, qint64(a.flags));
    q.bindValue(9, a.status);
    q.bindValue(10, a.measuredMs);
    execute(q);
    const qint64 id = q.lastInsertId().toLongLong();
    q.finish();
    return id;
}
