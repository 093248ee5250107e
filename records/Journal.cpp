#include "Journal.h"

#include "Chain.h"
#include "Database.h"
#include "Uncertainty.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <utility>

namespace {

void run(QSqlDatabase db, const QString& sql) {
    runBound(db, sql);
}

// Table best_base where it is missing. A file that had best speeds before the
// table existed keeps each of them as its transponder's base and counts only
// later attempts, so that no best is lost for want of the attempts that made it.
void createBaseSchema(QSqlDatabase db) {
    if (runBound(db, QStringLiteral(
                         "select 1 from sqlite_master where type='table' and name='best_base'"))
            .next())
        return;
    if (!db.transaction())
        throw DbError(engineMessage(db.lastError()));
    try {
        run(db, QStringLiteral("create table best_base (tpid text primary key, "
                               "after_attempt integer not null, base_speed real not null)"));
        // Every best already stored stays as a base; the attempts kept so far
        // (if any) are behind it.
        run(db, QStringLiteral(
                    "insert into best_base (tpid, after_attempt, base_speed) "
                    "select tpid, (select ifnull(max(id),0) from attempt), ifnull(max(speed),0) "
                    "from speed where tpid is not null group by tpid"));
        if (!db.commit())
            throw DbError(engineMessage(db.lastError()));
    } catch (...) {
        db.rollback();
        throw;
    }
}

const QString kListed = QStringLiteral(
    "select a.id,a.measured_ms,a.tpid,(select pname from speed s where s.tpid=a.tpid) as pname,"
    "a.speed_text,a.dist_cm,a.flags,a.status,a.orig_speed_text,a.orig_dist_cm,a.class_name,"
    "r.u_kmh,r.u_pct,r.direction from attempt a left join attempt_run r on r.attempt_id=a.id");

Journal::ListedAttempt listedOf(const Query& q) {
    Journal::ListedAttempt r;
    r.id = q.value(QStringLiteral("id")).toLongLong();
    r.measuredMs = q.value(QStringLiteral("measured_ms")).toLongLong();
    r.tpid = q.asText(QStringLiteral("tpid"));
    r.name = q.asText(QStringLiteral("pname"));
    r.speedText = q.asText(QStringLiteral("speed_text"));
    r.distCm = q.value(QStringLiteral("dist_cm")).toInt();
    r.flags = q.value(QStringLiteral("flags")).toUInt();
    r.status = q.asText(QStringLiteral("status"));
    r.origSpeedText = q.asText(QStringLiteral("orig_speed_text"));
    r.origDistCm = q.value(QStringLiteral("orig_dist_cm")).toInt();
    r.className = q.asText(QStringLiteral("class_name"));
    r.uKmh = q.value(QStringLiteral("u_kmh"));
    r.uPct = q.value(QStringLiteral("u_pct"));
    r.reverse = q.asText(QStringLiteral("direction")) == Journal::kReverse;
    return r;
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
    // The bests of a period over every transponder.
    run(db, QStringLiteral("create index if not exists attempt_measured on attempt(measured_ms)"));
    // The bests of a class's period from the index alone. Attempts in no
    // class (a station without classes: all of them) are not in it and cost
    // it nothing.
    if (!runBound(
             db, QStringLiteral("select 1 from pragma_table_info('attempt') where name='class_id'"))
             .next())
        run(db, QStringLiteral("alter table attempt add column class_id integer"));
    // The class's name as it was at measuring time travels with the attempt
    // (published results, exports), whatever becomes of the class later.
    if (!runBound(db, QStringLiteral(
                          "select 1 from pragma_table_info('attempt') where name='class_name'"))
             .next())
        run(db, QStringLiteral("alter table attempt add column class_name text"));
    // Two-way runs and the uncertainty of each speed (rooms/record), beside
    // the attempt rather than in it: a change of an attempt's row is news
    // to whatever follows the table (the event's outbox), and these are
    // not.
    run(db, QStringLiteral("create table if not exists attempt_run (attempt_id integer primary "
                           "key references attempt(id), direction text, u_kmh real, u_pct real)"));
    run(db, QStringLiteral("create index if not exists attempt_class_best on attempt(class_id, "
                           "measured_ms, status, tpid, speed, speed_text) "
                           "where class_id is not null"));
    // A class's bests of all time: its rows by car, each car's run in a row,
    // so that the engine groups them as it reads instead of sorting them.
    run(db, QStringLiteral("create index if not exists attempt_class_car on attempt(class_id, "
                           "tpid, status, speed, measured_ms, speed_text) "
                           "where class_id is not null"));
    // What a best speed is derived from after a review.
    createBaseSchema(db);
    // The chain over all of the above; an older file's rows go into its genesis.
    Chain::createSchema(db);
}

void Journal::recordPassing(qint64 receivedMs, int loop, const QString& tpid, const QString& time,
                            const QByteArray& raw) {
    // The row comes back as stored (the time as a number where it is one),
    // for the chain to hash without reading it again.
    KeptStatement& q =
        KeptStatement::of("insert into passing (received_ms, loop, tpid, time, raw) values "
                          "(?,?,?,?,?) returning " KORVANE_CHAIN_PASSING_COLUMNS);
    q.bind(1, receivedMs);
    q.bind(2, loop);
    q.bind(3, tpid);
    q.bind(4, time);
    q.bind(5, raw);
    QVariantList row;
    if (q.step())
        for (int c = 0; c < Chain::kPassingColumnCount; ++c)
            row << q.value(c);
    q.reset();
    if (Chain::enabled())
        Chain::appendPassing(row);
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

namespace {

std::function<Journal::AttemptClass(const QString&)>& classResolver() {
    static std::function<Journal::AttemptClass(const QString&)> resolver;
    return resolver;
}

} // namespace

void Journal::setClassResolver(std::function<AttemptClass(const QString&)> resolver) {
    classResolver() = std::move(resolver);
}

Journal::AttemptClass Journal::classAt(const QString& tpid) {
    const auto& resolver = classResolver();
    return resolver ? resolver(tpid) : AttemptClass{};
}

qint64 Journal::recordAttempt(const Attempt& a, const AttemptClass& inClass) {
    // The class in the row's own statement: a class costs the store path two
    // bound values, not a statement of its own.
    KeptStatement& q = KeptStatement::of(
        "insert into attempt (tpid, passing1, passing2, time1, time2, dist_cm, speed, "
        "speed_text, flags, status, measured_ms, class_id, class_name) "
        "values (?,?,?,?,?,?,?,?,?,?,?,?,?) returning " KORVANE_CHAIN_ATTEMPT_COLUMNS);
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
    if (inClass.id > 0) {
        q.bind(12, inClass.id);
        q.bind(13, inClass.name);
    } else {
        q.bindNull(12);
        q.bindNull(13);
    }
    QVariantList row;
    if (q.step())
        for (int c = 0; c < Chain::kAttemptColumnCount; ++c)
            row << q.value(c);
    q.reset();
    if (Chain::enabled())
        Chain::appendAttempt(row);
    return row.value(0).toLongLong();
}

namespace {

// The conditions of a filter, with their values.
void filterBy(const Journal::ListFilter& f, QStringList& where, QVariantList& values) {
    if (!f.tpid.isEmpty()) {
        where << QStringLiteral("a.tpid=?");
        values << f.tpid;
    }
    if (f.forReviewOnly) {
        where << QStringLiteral("a.status in (?,?)");
        values << Journal::kSuspect << Journal::kNotMeasurement;
    }
}

QVector<Journal::ListedAttempt> listedWhere(const QStringList& where, QVariantList values,
                                            int limit) {
    values << limit;
    Query q;
    q.setSql({kListed,
              (where.isEmpty() ? QString()
                               : QStringLiteral("where ") + where.join(QStringLiteral(" and "))) +
                  QStringLiteral(" order by a.id desc limit ?")},
             values);
    q.open();
    QVector<Journal::ListedAttempt> rows;
    for (bool more = !q.isEmpty(); more; more = q.next())
        rows << listedOf(q);
    return rows;
}

} // namespace

QVector<Journal::ListedAttempt> Journal::listed(const QString& tpid, qint64 beforeId, int limit) {
    return listed(ListFilter{tpid, false}, beforeId, limit);
}

QVector<Journal::ListedAttempt> Journal::listed(const ListFilter& filter, qint64 beforeId,
                                                int limit) {
    QStringList where;
    QVariantList values;
    filterBy(filter, where, values);
    if (beforeId > 0) {
        where << QStringLiteral("a.id<?");
        values << beforeId;
    }
    return listedWhere(where, values, limit);
}

QVector<Journal::ListedAttempt> Journal::listedNewer(const ListFilter& filter, qint64 afterId,
                                                     int limit) {
    QStringList where;
    QVariantList values;
    filterBy(filter, where, values);
    where << QStringLiteral("a.id>?");
    values << afterId;
    return listedWhere(where, values, limit);
}

qint64 Journal::countForReview(const QString& tpid) {
    QStringList where;
    QVariantList values;
    filterBy(ListFilter{tpid, true}, where, values);
    Query q;
    q.setSql({QStringLiteral("select count(*) as n from attempt a where ") +
              where.join(QStringLiteral(" and "))},
             values);
    q.open();
    return q.isEmpty() ? 0 : q.value(QStringLiteral("n")).toLongLong();
}

std::optional<Journal::ListedAttempt> Journal::listedOne(qint64 id) {
    Query q;
    q.setSql({kListed, QStringLiteral("where a.id=?")}, {id});
    q.open();
    if (q.isEmpty())
        return std::nullopt;
    return listedOf(q);
}

std::optional<Journal::StoredAttempt> Journal::attempt(qint64 id) {
    Query q(Query::Kept);
    q.setSql({QStringLiteral("select id,tpid,time1,time2,dist_cm,speed,speed_text,flags,status"),
              QStringLiteral("from attempt where id=?")},
             {id});
    q.open();
    if (q.isEmpty())
        return std::nullopt;
    StoredAttempt a;
    a.id = id;
    a.tpid = q.asText(QStringLiteral("tpid"));
    a.time1 = q.value(QStringLiteral("time1"));
    a.time2 = q.value(QStringLiteral("time2"));
    a.distCm = q.value(QStringLiteral("dist_cm")).toInt();
    a.speed = q.value(QStringLiteral("speed"));
    a.speedText = q.asText(QStringLiteral("speed_text"));
    a.flags = q.value(QStringLiteral("flags")).toUInt();
    a.status = q.asText(QStringLiteral("status"));
    return a;
}

void Journal::setStatus(qint64 id, const QString& status) {
    Query q(Query::Kept);
    q.setSql({QStringLiteral("update attempt set status=? where id=?")}, {status, id});
    q.exec();
}

void Journal::correct(qint64 id, int distCm, double speed, const QString& speedText, unsigned flags,
                      const QString& status, qint64 changedMs) {
    Query q(Query::Kept);
    q.setSql({QStringLiteral("update attempt set orig_speed=ifnull(orig_speed,speed), "
                             "orig_speed_text=ifnull(orig_speed_text,speed_text), "
                             "orig_dist_cm=ifnull(orig_dist_cm,dist_cm),"),
              QStringLiteral("dist_cm=?, speed=?, speed_text=?, flags=?, status=?, "
                             "changed_ms=? where id=?")},
             {distCm, speed, speedText, qint64(flags), status, changedMs, id});
    q.exec();
}

QVector<qint64> Journal::attemptsBetween(qint64 fromMs, qint64 toMs, const QString& tpid) {
    Query q;
    if (tpid.isEmpty())
        q.setSql({QStringLiteral("select id from attempt where measured_ms between ? and ? "
                                 "order by id")},
                 {fromMs, toMs});
    else
        q.setSql({QStringLiteral("select id from attempt where tpid=? and "
                                 "measured_ms between ? and ? order by id")},
                 {tpid, fromMs, toMs});
    q.open();
    QVector<qint64> ids;
    for (bool row = !q.isEmpty(); row; row = q.next())
        ids << q.value(QStringLiteral("id")).toLongLong();
    return ids;
}

std::optional<Journal::Base> Journal::base(const QString& tpid) {
    Query q(Query::Kept);
    q.setSql({QStringLiteral("select after_attempt,base_speed from best_base where tpid=?")},
             {tpid});
    q.open();
    if (q.isEmpty())
        return std::nullopt;
    return Base{q.value(QStringLiteral("after_attempt")).toLongLong(),
                q.value(QStringLiteral("base_speed"))};
}

std::optional<Journal::Counted> Journal::bestCounted(const QString& tpid, qint64 afterAttempt,
                                                     bool suspectCounts) {
    Query q(Query::Kept);
    q.setSql({QStringLiteral("select speed,speed_text from attempt where tpid=? and id>? and "
                             "(status in ('ok','accepted') or (status='suspect' and ?=1))"),
              QStringLiteral("order by speed desc, id desc limit 1")},
             {tpid, afterAttempt, suspectCounts ? 1 : 0});
    q.open();
    if (q.isEmpty())
        return std::nullopt;
    return Counted{q.value(QStringLiteral("speed")), q.asText(QStringLiteral("speed_text"))};
}

void Journal::baseCleared(const QString& tpid) {
    execSql({QStringLiteral("insert into best_base (tpid, after_attempt, base_speed) "
                            "values (?, (select ifnull(max(id),0) from attempt), 0)"),
             QStringLiteral("on conflict(tpid) do update set "
                            "after_attempt=excluded.after_attempt, base_speed=0")},
            {tpid});
}

void Journal::baseMoved(const QString& tpid) {
    execSql(
        {QStringLiteral("insert into best_base (tpid, after_attempt, base_speed) values "
                        "(?, (select ifnull(max(id),0) from attempt), "
                        "(select ifnull(max(speed),0) from speed where tpid=?))"),
         QStringLiteral("on conflict(tpid) do update set "
                        "after_attempt=excluded.after_attempt, base_speed=excluded.base_speed")},
        {tpid, tpid});
}

qint64 Journal::lastAttemptId() {
    Query last;
    last.setSql({QStringLiteral("select coalesce(max(id),0) as last from attempt")});
    last.open();
    return last.value(QStringLiteral("last")).toLongLong();
}

QVector<Journal::StoredAttempt> Journal::attemptsAfter(qint64 after) {
    QSqlQuery q = runBound(SpeedDb::database(),
                           QStringLiteral("select id, measured_ms, tpid, time1, time2, dist_cm, "
                                          "speed_text, status, flags from attempt where id>? "
                                          "order by id"),
                           {after});
    QVector<StoredAttempt> out;
    while (q.next()) {
        StoredAttempt a;
        a.id = q.value(0).toLongLong();
        a.measuredMs = q.value(1).toLongLong();
        a.tpid = q.value(2).toString();
        a.time1 = q.value(3);
        a.time2 = q.value(4);
        a.distCm = q.value(5).toInt();
        a.speedText = q.value(6).toString();
        a.status = q.value(7).toString();
        a.flags = unsigned(q.value(8).toLongLong());
        out << a;
    }
    return out;
}

std::optional<Journal::ShownAttempt> Journal::latestShown(QSqlDatabase db, bool suspectShown) {
    QSqlQuery q =
        runBound(db, QStringLiteral(
                         "select a.id, a.tpid, a.speed_text, a.measured_ms, s.pname, a.class_name "
                         "from attempt a "
                         "left join speed s on s.tpid=a.tpid where a.status in ('ok','accepted'%1) "
                         "order by a.id desc limit 1")
                         .arg(suspectShown ? QStringLiteral(",'suspect'") : QString()));
    if (!q.next())
        return std::nullopt;
    ShownAttempt a;
    a.id = q.value(0).toLongLong();
    a.tpid = q.value(1).toString();
    a.speedText = q.value(2).toString();
    a.measuredMs = q.value(3).toLongLong();
    a.name = q.value(4).toString();
    a.className = q.value(5).toString();
    return a;
}

QVector<Journal::ShownAttempt> Journal::shownAttempts(QSqlDatabase db, const QString& tpid,
                                                      bool suspectShown, int limit) {
    // Newest first through index attempt_tpid, then turned oldest first.
    // Every status but these is left out, those added later included.
    QSqlQuery q =
        runBound(db,
                 QStringLiteral("select a.id, a.speed_text, a.speed, a.measured_ms, r.u_kmh "
                                "from attempt a left join attempt_run r on r.attempt_id=a.id "
                                "where a.tpid=? and (a.status in ('ok','accepted') or "
                                "(a.status='suspect' and ?=1)) order by a.id desc limit ?"),
                 {tpid, suspectShown ? 1 : 0, limit});
    QVector<ShownAttempt> out;
    while (q.next()) {
        ShownAttempt a;
        a.id = q.value(0).toLongLong();
        a.tpid = tpid;
        a.speedText = q.value(1).toString();
        a.kmh = q.value(2).toDouble();
        a.measuredMs = q.value(3).toLongLong();
        if (!q.value(4).isNull())
            a.uText = UncertaintyText(q.value(4).toDouble());
        out.prepend(a);
    }
    return out;
}

void Journal::setClass(qint64 attemptId, qint64 classId) {
    KeptStatement& q = KeptStatement::of("update attempt set class_id=? where id=?");
    if (classId > 0)
        q.bind(1, classId);
    else
        q.bindNull(1);
    q.bind(2, attemptId);
    q.run();
}

std::optional<qint64> Journal::classOf(qint64 attemptId) {
    QSqlQuery q =
        runBound(SpeedDb::database(),
                 QStringLiteral("select ifnull(class_id,0) from attempt where id=?"), {attemptId});
    if (!q.next())
        return std::nullopt;
    return q.value(0).toLongLong();
}

qint64 Journal::countInClass(qint64 classId) {
    QSqlQuery q =
        runBound(SpeedDb::database(),
                 QStringLiteral("select count(*) from attempt where class_id=?"), {classId});
    return q.next() ? q.value(0).toLongLong() : 0;
}

QVector<Journal::PeriodBest> Journal::periodBests(QSqlDatabase db, qint64 classId, qint64 sinceMs,
                                                  bool suspectCounts) {
    // The engine takes the other columns of a max() group from the row that
    // holds the maximum: the best attempt's own text.
    const QString select =
        QStringLiteral("select a.tpid, max(a.speed), a.speed_text, "
                       "(select s.pname from speed s where s.tpid=a.tpid limit 1) from attempt a ");
    const QString counted = QStringLiteral(
        "a.measured_ms>=? and (a.status in ('ok','accepted') or (a.status='suspect' and ?=1))");
    const QVariant suspect = suspectCounts ? 1 : 0;
    QSqlQuery q =
        classId > 0
            // The engine knows nothing of how many rows a period holds: all
            // of a class's rows read best by car, a part of them by time.
            ? runBound(db,
                       select +
                           (sinceMs > 0 ? QStringLiteral("indexed by attempt_class_best")
                                        : QStringLiteral("indexed by attempt_class_car")) +
                           QStringLiteral(" where a.class_id=? and ") + counted +
                           QStringLiteral(" group by a.tpid"),
                       {classId, sinceMs, suspect})
            // Grouped by the column itself the engine would walk the whole
            // table by index attempt_tpid instead of the period's rows by
            // attempt_measured: grouped by an expression of it.
            : runBound(db,
                       select + QStringLiteral("where ") + counted +
                           QStringLiteral(" group by +a.tpid"),
                       {sinceMs, suspect});
    QVector<PeriodBest> out;
    while (q.next())
        out.append({q.value(0).toString(), q.value(3).toString(), q.value(1).toDouble(),
                    q.value(2).toString()});
    std::stable_sort(out.begin(), out.end(),
                     [](const PeriodBest& x, const PeriodBest& y) { return x.speed > y.speed; });
    return out;
}

QVector<Journal::RankedBest> Journal::classRanking(QSqlDatabase db, qint64 classId, qint64 sinceMs,
                                                   bool suspectCounts) {
    QHash<QString, QString> names;
    if (!classNames(db).isEmpty()) {
        QSqlQuery q = runBound(db,
                               QStringLiteral("select tpid, name from entry where name<>'' and "
                                              "(class_id=? or (?=0 and current=1))"),
                               {classId, classId});
        while (q.next())
            names.insert(q.value(0).toString(), q.value(1).toString());
    }
    QVector<RankedBest> out;
    double previous = -1;
    int rank = 0;
    const QVector<PeriodBest> bests = periodBests(db, classId, sinceMs, suspectCounts);
    for (int i = 0; i < bests.size(); ++i) {
        const PeriodBest& b = bests[i];
        if (b.speed != previous)
            rank = i + 1;
        previous = b.speed;
        out.append({rank, b.tpid, names.value(b.tpid, b.name), b.speedText});
    }
    return out;
}

QString Journal::latestClass(QSqlDatabase db, const QString& tpid) {
    QSqlQuery q = runBound(
        db, QStringLiteral("select class_name from attempt where tpid=? order by id desc limit 1"),
        {tpid});
    return q.next() ? q.value(0).toString() : QString();
}

QVector<Journal::ClassName> Journal::classNames(QSqlDatabase db) {
    // The classes' tables are made by the room that keeps them: a file it
    // never opened has none.
    if (!runBound(db,
                  QStringLiteral("select 1 from sqlite_master where type='table' and name='class'"))
             .next())
        return {};
    QSqlQuery q = runBound(db, QStringLiteral("select id, name from class order by ord, id"));
    QVector<ClassName> out;
    while (q.next())
        out.append({q.value(0).toLongLong(), q.value(1).toString()});
    return out;
}

std::optional<qint64> Journal::classNamed(QSqlDatabase db, const QString& name) {
    for (const ClassName& c : classNames(db))
        if (c.name == name)
            return c.id;
    return std::nullopt;
}

QString Journal::publishStatement() {
    return QStringLiteral("select o.seq, a.id, a.tpid,"
                          " (select s.pname from speed s where s.tpid = a.tpid limit 1),"
                          " a.speed, a.speed_text, a.dist_cm, a.flags, a.status, a.time1, a.time2,"
                          " a.measured_ms, a.changed_ms, a.class_name"
                          " from outbox o left join attempt a on a.id = o.attempt_id"
                          " order by o.seq limit ?");
}

// --- two-way runs and uncertainty (rooms/record) -------------------------------

void Journal::setUncertainty(qint64 attemptId, double uKmh, double uPct) {
    KeptStatement& q = KeptStatement::of(
        "insert into attempt_run (attempt_id, u_kmh, u_pct) values (?,?,?) "
        "on conflict(attempt_id) do update set u_kmh=excluded.u_kmh, u_pct=excluded.u_pct");
    q.bind(1, attemptId);
    q.bind(2, uKmh);
    q.bind(3, uPct);
    q.run();
}

qint64 Journal::recordReverseAttempt(const Attempt& a) {
    // The chain covers the row as inserted; its direction shows there as
    // a loop-1 time after the loop-2 time.
    const qint64 id = recordAttempt(a);
    KeptStatement& q =
        KeptStatement::of("insert into attempt_run (attempt_id, direction) values (?, 'reverse') "
                          "on conflict(attempt_id) do update set direction='reverse'");
    q.bind(1, id);
    q.run();
    return id;
}

qint64 Journal::lastPassingId() {
    KeptStatement& q = KeptStatement::of("select ifnull(max(id),0) from passing");
    const qint64 id = q.step() ? q.integer(0) : 0;
    q.reset();
    return id;
}

namespace {

Journal::PassingRow passingOf(const KeptStatement& q) {
    Journal::PassingRow p;
    p.id = q.integer(0);
    p.receivedMs = q.integer(1);
    p.loop = int(q.integer(2));
    p.tpid = textOf(q.value(3));
    p.time = q.value(4);
    p.raw = q.value(5).toByteArray();
    return p;
}

} // namespace

QVector<Journal::PassingRow> Journal::passingsAfter(qint64 afterId, int limit) {
    KeptStatement& q = KeptStatement::of("select id, received_ms, loop, tpid, time, raw from "
                                         "passing where id>? order by id limit ?");
    q.bind(1, afterId);
    q.bind(2, limit);
    QVector<PassingRow> out;
    while (q.step())
        out << passingOf(q);
    return out;
}

QVector<Journal::PassingRow> Journal::latestPassings(const QString& tpid, int loop, int limit) {
    KeptStatement& q =
        KeptStatement::of("select id, received_ms, loop, tpid, time, raw from passing "
                          "where tpid=? and loop=? order by id desc limit ?");
    q.bind(1, tpid);
    q.bind(2, loop);
    q.bind(3, limit);
    QVector<PassingRow> out;
    while (q.step())
        out << passingOf(q);
    return out;
}

bool Journal::passingPaired(const QString& tpid, qint64 passingId) {
    // Through index attempt_tpid, newest first: a passing is paired by one of
    // the attempts measured soon after it.
    KeptStatement& q = KeptStatement::of(
        "select 1 from (select a.passing1 as passing1, a.passing2 as passing2, r.direction as "
        "direction, a.status as status from attempt a left join attempt_run r on "
        "r.attempt_id=a.id where a.tpid=? order by a.id desc limit 64) where (direction='reverse' "
        "and (passing1=? or passing2=?)) "
        "or (direction is null and passing2=? and status<>'unmeasured') limit 1");
    q.bind(1, tpid);
    q.bind(2, passingId);
    q.bind(3, passingId);
    q.bind(4, passingId);
    const bool paired = q.step();
    q.reset();
    return paired;
}

std::optional<Journal::Run> Journal::runFacts(qint64 attemptId) {
    KeptStatement& q = KeptStatement::of(
        "select a.id, a.tpid, a.time1, a.time2, a.dist_cm, a.speed, a.speed_text, a.status, "
        "a.measured_ms, r.direction, r.u_kmh, r.u_pct, a.passing1, a.passing2 from attempt a "
        "left join attempt_run r on r.attempt_id=a.id where a.id=?");
    q.bind(1, attemptId);
    std::optional<Run> r;
    if (q.step()) {
        r = Run();
        r->id = q.integer(0);
        r->tpid = textOf(q.value(1));
        r->time1 = q.value(2).toDouble();
        r->time2 = q.value(3).toDouble();
        r->distCm = int(q.integer(4));
        r->speed = q.value(5).toDouble();
        r->speedText = textOf(q.value(6));
        r->status = textOf(q.value(7));
        r->measuredMs = q.integer(8);
        r->reverse = textOf(q.value(9)) == kReverse;
        r->uKmh = q.value(10).isNull() ? -1 : q.value(10).toDouble();
        r->uPct = q.value(11).isNull() ? -1 : q.value(11).toDouble();
        r->passing1 = q.integer(12);
        r->passing2 = q.integer(13);
    }
    q.reset();
    return r;
}

bool Journal::passingBetween(const QString& tpid, int loop, qint64 afterId, qint64 beforeId) {
    KeptStatement& q = KeptStatement::of(
        "select 1 from passing where tpid=? and loop=? and id>? and id<? limit 1");
    q.bind(1, tpid);
    q.bind(2, loop);
    q.bind(3, afterId);
    q.bind(4, beforeId);
    const bool found = q.step();
    q.reset();
    return found;
}
