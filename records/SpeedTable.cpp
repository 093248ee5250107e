#include "SpeedTable.h"

#include "Database.h"
#include "Journal.h"
#include "Review.h"

#include <QSqlQuery>

void SpeedTable::createSchema(QSqlDatabase db) {
    runBound(db, QStringLiteral("create table if not exists speed "
                                "(tpid text, time1 real, time2 real, speed real, sumi text)"));
    // One row per transponder, found without scanning the table. A table
    // that already holds duplicate IDs keeps working with a plain index.
    QSqlQuery unique(db);
    if (!unique.exec(QStringLiteral("create unique index if not exists speed_tpid on speed(tpid)")))
        runBound(db, QStringLiteral("create index if not exists speed_tpid_any on speed(tpid)"));
    // The head of the pending queue without a scan.
    runBound(db, QStringLiteral("create index if not exists speed_pending on speed(sumi, time2)"));
    // The ranking read a page at a time from any place in it.
    runBound(db, QStringLiteral("create index if not exists speed_rank on speed(speed)"));
}

void SpeedDb::checkNameColumn() {
    Query check;
    check.setSql({QStringLiteral("select pname from speed")});
    try {
        check.open();
        return;
    } catch (const DbError&) {
        // Only a missing column is mended here. Any other failure (a damaged
        // or locked file) is raised as the engine said it: the upgrade
        // would only hide it behind an error of its own.
        Query columns;
        columns.setSql({QStringLiteral("select 1 from pragma_table_info('speed')"
                                       " where lower(name)='pname'")});
        columns.open();
        if (!columns.isEmpty())
            throw;
    }
    check.setSql({QStringLiteral("alter table speed add PNAME varchar(30)")});
    check.exec();
}

bool SpeedTable::contains(const QString& tpid) {
    Query locate;
    locate.setSql({QStringLiteral("select tpid from speed where tpid=?")}, {tpid});
    locate.open();
    return !locate.isEmpty();
}

bool SpeedTable::storePassing(int loop, const QString& tpid, const QString& time) {
    // The update finds the transponder's row by index speed_tpid; only a
    // transponder without one needs the insert. A loop-2 update hands back
    // whether the row has a loop-1 time, so no lookup goes before it.
    if (loop == 1) {
        KeptStatement& update = KeptStatement::of("update speed set time1=? where tpid=?");
        update.bind(1, time);
        update.bind(2, tpid);
        update.run();
        if (update.changes() == 0) {
            KeptStatement& insert =
                KeptStatement::of("insert into speed (tpid,time1,sumi)values(?,?,'0')");
            insert.bind(1, tpid);
            insert.bind(2, time);
            insert.run();
        }
        return false;
    }
    KeptStatement& update = KeptStatement::of("update speed set time2=?,sumi='0' where tpid=? "
                                              "returning time1 is not null and time1<>''");
    update.bind(1, time);
    update.bind(2, tpid);
    const bool known = update.step();
    const bool hasTime1 = known && update.integer(0) == 1;
    if (known)
        update.run(); // the rows of any duplicate IDs: all updated already
    else {
        KeptStatement& insert =
            KeptStatement::of("insert into speed (tpid,time2,speed,sumi)values(?,?,'0','0')");
        insert.bind(1, tpid);
        insert.bind(2, time);
        insert.run();
    }
    return hasTime1;
}

std::optional<SpeedTable::PendingRow> SpeedTable::nextPending(const PassOver& passOver) {
    for (qint64 passed = 0;; ++passed) {
        KeptStatement& q =
            KeptStatement::of("select tpid,time1,time2,speed from speed "
                              "where sumi='0' and tpid<>'' order by time2 limit 1 offset ?");
        q.bind(1, passed);
        if (!q.step())
            return std::nullopt;
        const QVariant time1 = q.value(1);
        const QVariant time2 = q.value(2);
        PendingRow p;
        p.tpid = textOf(q.value(0));
        p.bestSpeed = textOf(q.value(3));
        q.reset();
        p.hasTime1 = !time1.isNull() && !time1.toString().isEmpty();
        p.hasTime2 = !time2.isNull() && !time2.toString().isEmpty();
        if (p.bestSpeed.isEmpty())
            p.bestSpeed = QStringLiteral("0");
        try {
            p.time1 = floatOf(time1);
            p.time2 = floatOf(time2);
        } catch (const DbError&) {
            p.convertible = false;
        }
        if (!passOver || !passOver(p))
            return p;
    }
}

void SpeedTable::markProcessed(const QString& tpid) {
    KeptStatement& q = KeptStatement::of("update speed set sumi='1' where tpid=?");
    q.bind(1, tpid);
    q.run();
}

void SpeedTable::markProcessed(const QString& tpid, const QString& newBestText) {
    KeptStatement& q = KeptStatement::of("update speed set sumi='1',speed=? where tpid=?");
    q.bind(1, newBestText);
    q.bind(2, tpid);
    q.run();
}

QString SpeedTable::rankingStatement() {
    return QStringLiteral(
        "select rowid,tpid,pname,speed from speed where speed>=0 order by speed desc, rowid desc");
}

namespace {

// Strict: a speed that is not a number raises (the ranks need numbers);
// otherwise it reads as 0, as the grid shows it.
QVector<SpeedTable::RankedRow> rankedRows(Query& q, bool strict) {
    QVector<SpeedTable::RankedRow> out;
    for (bool row = !q.isEmpty(); row; row = q.next()) {
        const QVariant speed = q.value(QStringLiteral("speed"));
        out.push_back({q.asText(QStringLiteral("tpid")), q.asText(QStringLiteral("pname")),
                       strict ? q.asFloat(QStringLiteral("speed")) : speed.toDouble(),
                       q.asText(QStringLiteral("speed")), speed,
                       q.value(QStringLiteral("rowid")).toLongLong()});
    }
    return out;
}

} // namespace

QVector<SpeedTable::RankedRow> SpeedTable::ranking() {
    Query q;
    q.setSql({rankingStatement()});
    q.open();
    return rankedRows(q, true);
}

QVector<SpeedTable::RankedRow> SpeedTable::rankingPage(const RankedRow* after, int limit) {
    Query q;
    if (after)
        q.setSql(
            {QStringLiteral(
                 "select rowid,tpid,pname,speed from speed where speed>=0 and (speed,rowid)<(?,?)"),
             QStringLiteral("order by speed desc, rowid desc limit ?")},
            {after->speedValue, after->rowid, limit});
    else
        q.setSql({QStringLiteral("select rowid,tpid,pname,speed from speed where speed>=0"),
                  QStringLiteral("order by speed desc, rowid desc limit ?")},
                 {limit});
    q.open();
    return rankedRows(q, false);
}

SpeedTable::Lookup SpeedTable::lookup(const QString& tpid) {
    Query q;
    q.setSql({QStringLiteral("select * from speed where tpid=?")}, {tpid});
    q.open();
    return {q.asText(QStringLiteral("pname")), q.asText(QStringLiteral("speed"))};
}

void SpeedTable::clearBest(const QString& tpid) {
    // The cleared record and the mark from which attempts count again go
    // together, or a review could bring the cleared best back.
    Batch both;
    try {
        execSql({QStringLiteral("update speed set speed='0' where tpid=?")}, {tpid});
        Review::markCleared(tpid);
        both.commit();
    } catch (...) {
        both.rollback();
        throw;
    }
}

namespace {

QVector<SpeedTable::NameRow> nameRows(Query& q) {
    QVector<SpeedTable::NameRow> rows;
    for (bool more = !q.isEmpty(); more; more = q.next())
        rows.push_back({q.asText(QStringLiteral("tpid")), q.asText(QStringLiteral("pname")),
                        q.value(QStringLiteral("rowid")).toLongLong()});
    return rows;
}

} // namespace

QVector<SpeedTable::NameRow> SpeedTable::names() {
    Query q;
    q.setSql({QStringLiteral("select rowid,tpid,pname from speed order by tpid, rowid")});
    q.open();
    return nameRows(q);
}

QVector<SpeedTable::NameRow> SpeedTable::namesPage(const QString& afterTpid, qint64 afterRowid,
                                                   int limit) {
    Query q;
    if (afterRowid > 0)
        q.setSql({QStringLiteral("select rowid,tpid,pname from speed where (tpid,rowid)>(?,?)"),
                  QStringLiteral("order by tpid, rowid limit ?")},
                 {afterTpid, afterRowid, limit});
    else
        q.setSql(
            {QStringLiteral("select rowid,tpid,pname from speed order by tpid, rowid limit ?")},
            {limit});
    q.open();
    return nameRows(q);
}

void SpeedTable::rename(const QString& tpid, const QString& name) {
    execSql({QStringLiteral("update speed set pname=?"), QStringLiteral("where tpid=?")},
            {name, tpid});
}

void SpeedTable::changeIdAndName(const QString& oldTpid, const QString& tpid, const QString& name) {
    if (tpid == oldTpid) {
        execSql({QStringLiteral("update speed set tpid=?,pname=?"), QStringLiteral("where tpid=?")},
                {tpid, name, oldTpid});
        return;
    }
    // The attempts stay with the old ID: under the new one the best it
    // carries is a base, or a review would lose it.
    Batch both;
    try {
        execSql({QStringLiteral("update speed set tpid=?,pname=?"), QStringLiteral("where tpid=?")},
                {tpid, name, oldTpid});
        Review::markMoved(tpid, oldTpid);
        // Its attempts so far went with the row: a best the old ID earns
        // from now on starts anew, as the chain's move link records.
        Journal::baseCleared(oldTpid);
        both.commit();
    } catch (...) {
        both.rollback();
        throw;
    }
}

std::optional<QString> SpeedTable::storedBest(const QString& tpid) {
    Query q(Query::Kept);
    q.setSql({QStringLiteral("select speed from speed where tpid=?")}, {tpid});
    q.open();
    if (q.isEmpty())
        return std::nullopt;
    const QString text = q.asText(QStringLiteral("speed"));
    return text.isEmpty() ? QStringLiteral("0") : text;
}

void SpeedTable::setBest(const QString& tpid, const QString& best) {
    Query q(Query::Kept);
    q.setSql({QStringLiteral("update speed set speed=? where tpid=?")}, {best, tpid});
    q.exec();
}

QVector<SpeedTable::RankedRow> SpeedTable::shownPage(QSqlDatabase db, const QVariant& afterSpeed,
                                                     qint64 afterRowid, const QString& like,
                                                     int limit) {
    QString sql = QStringLiteral("select rowid,tpid,pname,speed from speed where speed>0");
    QVariantList values;
    if (afterSpeed.isValid()) {
        sql += QStringLiteral(" and (speed,rowid)<(?,?)");
        values << afterSpeed << afterRowid;
    }
    if (!like.isEmpty()) {
        sql += QStringLiteral(" and (tpid like ? escape '\\' or pname like ? escape '\\')");
        values << like << like;
    }
    sql += QStringLiteral(" order by speed desc, rowid desc limit ?");
    values << limit;
    QSqlQuery q = runBound(db, sql, values);
    QVector<RankedRow> rows;
    while (q.next()) {
        RankedRow r;
        r.rowid = q.value(0).toLongLong();
        r.tpid = q.value(1).toString();
        r.name = q.value(2).toString();
        r.speedValue = q.value(3);
        rows.push_back(r);
    }
    return rows;
}

int SpeedTable::shownFaster(QSqlDatabase db, const QVariant& speed) {
    QSqlQuery q = runBound(
        db, QStringLiteral("select count(*) from speed where speed>0 and speed>?"), {speed});
    return q.next() ? q.value(0).toInt() : 0;
}

qint64 SpeedTable::shownBefore(QSqlDatabase db, const QVariant& speed, qint64 rowid) {
    QSqlQuery q = runBound(
        db, QStringLiteral("select count(*) from speed where speed>0 and (speed,rowid)>(?,?)"),
        {speed, rowid});
    return q.next() ? q.value(0).toLongLong() : 0;
}

std::optional<SpeedTable::RankedRow> SpeedTable::row(QSqlDatabase db, const QString& tpid) {
    QSqlQuery q =
        runBound(db, QStringLiteral("select pname, speed from speed where tpid=?"), {tpid});
    if (!q.next())
        return std::nullopt;
    RankedRow r;
    r.tpid = tpid;
    r.name = q.value(0).toString();
    r.speedValue = q.value(1);
    return r;
}
