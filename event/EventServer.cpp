#include "EventServer.h"

#include "Csv.h"
#include "Database.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <algorithm>
#include <iterator>

namespace {

// Any number, the same for every station: the lock the migrations take.
const qint64 kMigrationLock = 0x4b6f7276;

// Migration n brings the tables from version n-1 to n, one statement per
// entry: the driver takes one statement a call, and a statement may itself
// hold a ';' (in a text or a function's body). Appended, never edited: a
// server keeps what the earlier ones made.
const QStringList kMigrations[] = {
    // 1
    {QStringLiteral("create table korvane_attempt ("
                    " event text not null, station text not null, attempt_id bigint not null,"
                    " tpid text not null, name text not null default '',"
                    " speed double precision, speed_text text not null default '',"
                    " dist_cm integer, flags integer not null default 0, status text not null,"
                    " time1 double precision, time2 double precision,"
                    " measured_at timestamptz, changed_at timestamptz,"
                    " published_at timestamptz not null default now(),"
                    " primary key (event, station, attempt_id))"),
     QStringLiteral(
         "create index korvane_attempt_best on korvane_attempt (event, tpid, speed desc)"),
     QStringLiteral("create view korvane_ranking as"
                    " select distinct on (event, tpid) event, tpid, name, speed, speed_text,"
                    "  station, attempt_id, measured_at"
                    " from korvane_attempt"
                    " where status in ('ok', 'accepted') and speed is not null"
                    " order by event, tpid, speed desc, measured_at, station, attempt_id")},
    // 2
    {QStringLiteral("create table korvane_station ("
                    " event text not null, station text not null, instance text not null,"
                    " first_seen timestamptz not null default now(),"
                    " primary key (event, station))")},
    // 3 (each step also where a server holds it already, as one put back to
    // an earlier version by hand): the class travels with the attempt; the best per (event, class,
    // transponder) and per (event, transponder) over all classes is kept in
    // korvane_best by a trigger, in the transaction that brings the attempt,
    // so that a ranking is an index scan and a change is told by NOTIFY; the
    // stations' signed chain heads are kept in korvane_head.
    {QStringLiteral(
         "alter table korvane_attempt add column if not exists class text not null default ''"),
     // What a ranking counts, in the order that picks the best: the fastest,
     // the earliest of equal speeds, then any fixed order.
     QStringLiteral("create index if not exists korvane_attempt_class_counting on korvane_attempt"
                    " (event, class, tpid, speed desc, measured_at, station, attempt_id)"
                    " where status in ('ok', 'accepted') and speed is not null"),
     QStringLiteral("create index if not exists korvane_attempt_counting on korvane_attempt"
                    " (event, tpid, speed desc, measured_at, station, attempt_id)"
                    " where status in ('ok', 'accepted') and speed is not null"),
     QStringLiteral("drop index if exists korvane_attempt_best"),
     // overall: the best over every class (class is then ''), else the
     // best within `class`.
     QStringLiteral("create table if not exists korvane_best ("
                    " event text not null, overall boolean not null, class text not null,"
                    " tpid text not null, station text not null, attempt_id bigint not null,"
                    " name text not null, speed double precision not null,"
                    " speed_text text not null, measured_at timestamptz,"
                    " primary key (event, overall, class, tpid))"),
     QStringLiteral("create index if not exists korvane_best_rank on korvane_best"
                    " (event, overall, class, speed desc, tpid)"),
     QStringLiteral("insert into korvane_best select distinct on (event, class, tpid)"
                    " event, false, class, tpid, station, attempt_id, name, speed, speed_text,"
                    " measured_at from korvane_attempt"
                    " where status in ('ok', 'accepted') and speed is not null"
                    " order by event, class, tpid, speed desc, measured_at, station, attempt_id"
                    " on conflict do nothing"),
     QStringLiteral("insert into korvane_best select distinct on (event, tpid)"
                    " event, true, '', tpid, station, attempt_id, name, speed, speed_text,"
                    " measured_at from korvane_attempt"
                    " where status in ('ok', 'accepted') and speed is not null"
                    " order by event, tpid, speed desc, measured_at, station, attempt_id"
                    " on conflict do nothing"),
     QStringLiteral("create or replace view korvane_ranking as"
                    " select event, tpid, name, speed, speed_text, station, attempt_id, measured_at"
                    " from korvane_best where overall"),
     // As EventServer::channelFor names it.
     QStringLiteral("create or replace function korvane_channel(ev text) returns text"
                    " language sql immutable strict as $$"
                    " select 'korvane_ev_' || encode(substring(sha256(convert_to(ev, 'UTF8'))"
                    " from 1 for 8), 'hex') $$"),
     // Takes the key's best again from its counting attempts, of any
     // station, and tells the event's listeners when it changed.
     QStringLiteral(
         "create or replace function korvane_best_refresh(ev text, all_classes boolean, cl text, "
         "tp text)"
         " returns void language plpgsql as $$"
         " declare b record; was record; begin"
         "  if all_classes then"
         "   select station, attempt_id, name, speed, speed_text, measured_at into b"
         "    from korvane_attempt where event = ev and tpid = tp"
         "    and status in ('ok', 'accepted') and speed is not null"
         "    order by speed desc, measured_at, station, attempt_id limit 1;"
         "  else"
         "   select station, attempt_id, name, speed, speed_text, measured_at into b"
         "    from korvane_attempt where event = ev and class = cl and tpid = tp"
         "    and status in ('ok', 'accepted') and speed is not null"
         "    order by speed desc, measured_at, station, attempt_id limit 1;"
         "  end if;"
         "  select station, attempt_id, name, speed, speed_text, measured_at into was"
         "   from korvane_best where event = ev and overall = all_classes and class = cl"
         "   and tpid = tp;"
         "  if b.station is null then"
         "   if was.station is null then return; end if;"
         "   delete from korvane_best where event = ev and overall = all_classes"
         "    and class = cl and tpid = tp;"
         "  elsif was.station is not null and (b.station, b.attempt_id, b.name, b.speed,"
         "   b.speed_text, b.measured_at) is not distinct from (was.station, was.attempt_id,"
         "   was.name, was.speed, was.speed_text, was.measured_at) then"
         "   return;"
         "  else"
         "   insert into korvane_best values (ev, all_classes, cl, tp, b.station, b.attempt_id,"
         "    b.name, b.speed, b.speed_text, b.measured_at)"
         "    on conflict (event, overall, class, tpid) do update set station = excluded.station,"
         "    attempt_id = excluded.attempt_id, name = excluded.name, speed = excluded.speed,"
         "    speed_text = excluded.speed_text, measured_at = excluded.measured_at;"
         "  end if;"
         "  perform pg_notify(korvane_channel(ev), json_build_object('class',"
         "   case when all_classes then null else cl end, 'tpid', tp)::text);"
         " end $$"),
     // Stations publishing the same transponder at once are taken one after
     // the other (a lock per event and transponder, held to the commit):
     // each sees the other's attempt before it takes the best again. The
     // publisher sends its rows by transponder, so two batches take their
     // locks in the same order.
     QStringLiteral(
         "create or replace function korvane_attempt_changed() returns trigger language plpgsql as "
         "$$"
         " declare counted_old boolean := false; counted_new boolean := false; begin"
         "  if tg_op <> 'INSERT' then"
         "   counted_old := old.status in ('ok', 'accepted') and old.speed is not null;"
         "  end if;"
         "  if tg_op <> 'DELETE' then"
         "   counted_new := new.status in ('ok', 'accepted') and new.speed is not null;"
         "  end if;"
         "  if counted_old then"
         "   perform pg_advisory_xact_lock(hashtextextended(old.event || chr(1) || old.tpid, 7));"
         "   perform korvane_best_refresh(old.event, false, old.class, old.tpid);"
         "   perform korvane_best_refresh(old.event, true, '', old.tpid);"
         "  end if;"
         "  if counted_new and (not counted_old or (new.event, new.class, new.tpid)"
         "   is distinct from (old.event, old.class, old.tpid)) then"
         "   perform pg_advisory_xact_lock(hashtextextended(new.event || chr(1) || new.tpid, 7));"
         "   perform korvane_best_refresh(new.event, false, new.class, new.tpid);"
         "   perform korvane_best_refresh(new.event, true, '', new.tpid);"
         "  end if;"
         "  return null;"
         " end $$"),
     QStringLiteral("drop trigger if exists korvane_attempt_best on korvane_attempt"),
     QStringLiteral("create trigger korvane_attempt_best after insert or update or delete"
                    " on korvane_attempt for each row execute function korvane_attempt_changed()"),
     QStringLiteral("create table if not exists korvane_head ("
                    " event text not null, station text not null, seq bigint not null,"
                    " hash bytea not null, at timestamptz not null, signature bytea not null,"
                    " public_key bytea not null, published_at timestamptz not null default now(),"
                    " primary key (event, station, seq))")},
    // 4: a period's ranking (korvane-web's ?since=) reads the counting
    // attempts from a time on, not every attempt of the event.
    {QStringLiteral(
        "create index if not exists korvane_attempt_recent on korvane_attempt"
        " (event, measured_at) where status in ('ok', 'accepted') and speed is not null")},
};
static_assert(std::size(kMigrations) == EventServer::kSchemaVersion);

QString csvLine(const QStringList& fields) {
    QStringList out;
    for (const QString& f : fields)
        out << csvField(f);
    return out.join(QLatin1Char(',')) + QLatin1String("\r\n");
}

QString number(const QVariant& v) {
    return v.isNull() ? QString() : QString::number(v.toDouble(), 'g', 15);
}

} // namespace

int EventServer::schemaVersion(QSqlDatabase pg) {
    QSqlQuery has =
        runBound(pg, QStringLiteral("select to_regclass('korvane_schema') is not null"));
    if (!has.next() || !has.value(0).toBool())
        return 0;
    QSqlQuery q = runBound(pg, QStringLiteral("select max(version) from korvane_schema"));
    return q.next() ? q.value(0).toInt() : 0;
}

void EventServer::migrate(QSqlDatabase pg) {
    migrate(pg, QList<QStringList>(std::begin(kMigrations), std::end(kMigrations)));
}

void EventServer::migrate(QSqlDatabase pg, const QList<QStringList>& migrations) {
    const int target = int(migrations.size());
    if (!pg.transaction())
        throw DbError(pg.lastError().text());
    try {
        runBound(pg, QStringLiteral("select pg_advisory_xact_lock(?)"), {kMigrationLock});
        // The steps that find their work done (see migration 3) say so in
        // notices: nothing for the station's terminal.
        runBound(pg, QStringLiteral("set local client_min_messages to warning"));
        const int found = schemaVersion(pg);
        if (found > target)
            throw DbError(
                QCoreApplication::translate(
                    "EventServer", "サーバーの表は新しい版 (%1) です。このプログラムは版 %2 まで")
                    .arg(found)
                    .arg(target));
        // A server already on this version is only read: every station's
        // connect would otherwise rewrite the version row.
        if (found < target) {
            if (found == 0)
                runBound(pg, QStringLiteral("create table if not exists korvane_schema ("
                                            "version integer not null)"));
            for (int version = found; version < target; ++version)
                for (const QString& step : migrations.at(version))
                    runBound(pg, step);
            runBound(pg, QStringLiteral("delete from korvane_schema"));
            runBound(pg, QStringLiteral("insert into korvane_schema (version) values (?)"),
                     {target});
        }
        if (!pg.commit())
            throw DbError(pg.lastError().databaseText().trimmed());
    } catch (...) {
        pg.rollback();
        throw;
    }
}

QString EventServer::claimStation(QSqlDatabase pg, const QString& event, const QString& station,
                                  const QString& instance) {
    if (!pg.transaction())
        throw DbError(pg.lastError().text());
    try {
        // A station connecting at the same moment with the same name waits
        // here for the other's commit and then inserts nothing; the select,
        // a statement of its own, sees the row that won (whatever isolation
        // the server defaults to).
        runBound(pg, QStringLiteral("set transaction isolation level read committed"));
        runBound(pg,
                 QStringLiteral("insert into korvane_station (event, station, instance)"
                                " values (?, ?, ?) on conflict (event, station) do nothing"),
                 {event, station, instance});
        QSqlQuery q = runBound(pg,
                               QStringLiteral("select instance from korvane_station"
                                              " where event = ? and station = ?"),
                               {event, station});
        const QString holder = q.next() ? q.value(0).toString() : QString();
        q.finish();
        if (!pg.commit())
            throw DbError(pg.lastError().databaseText().trimmed());
        return holder;
    } catch (...) {
        pg.rollback();
        throw;
    }
}

void EventServer::upsert(QSqlDatabase pg, const QString& event, const QString& station,
                         const QList<Attempt>& attempts) {
    if (attempts.isEmpty())
        return;
    // By transponder: the trigger locks each transponder's bests in row
    // order, and two stations' batches in the same order cannot deadlock.
    QList<const Attempt*> order;
    for (const Attempt& a : attempts)
        order << &a;
    std::stable_sort(order.begin(), order.end(),
                     [](const Attempt* x, const Attempt* y) { return x->tpid < y->tpid; });
    QString sql = QStringLiteral(
        "insert into korvane_attempt (event, station, attempt_id, tpid, name, speed, speed_text,"
        " dist_cm, flags, status, time1, time2, measured_at, changed_at, class) values ");
    const QString row = QStringLiteral(
        "(?, ?, ?, ?, ?, ?::double precision, ?, ?::integer, ?, ?, ?::double precision,"
        " ?::double precision, to_timestamp(?::bigint / 1000.0), to_timestamp(?::bigint / "
        "1000.0), ?)");
    QVariantList values;
    for (int i = 0; i < order.size(); ++i) {
        const Attempt& a = *order.at(i);
        sql += (i ? QStringLiteral(", ") : QString()) + row;
        values << event << station << a.id << a.tpid << a.name << a.speed << a.speedText << a.distCm
               << a.flags << a.status << a.time1 << a.time2 << a.measuredMs << a.changedMs
               << (a.className.isNull() ? QString(QLatin1String("")) : a.className);
    }
    sql += QStringLiteral(
        " on conflict (event, station, attempt_id) do update set tpid = excluded.tpid,"
        " name = excluded.name, speed = excluded.speed, speed_text = excluded.speed_text,"
        " dist_cm = excluded.dist_cm, flags = excluded.flags, status = excluded.status,"
        " time1 = excluded.time1, time2 = excluded.time2, measured_at = excluded.measured_at,"
        " changed_at = excluded.changed_at, class = excluded.class, published_at = now()");
    runBound(pg, sql, values);
}

namespace {

// Rows of tpid, name, speed_text, speed, station, fastest first: equal
// speeds share a rank.
QList<EventServer::RankingEntry> rankedRows(QSqlQuery& q) {
    QList<EventServer::RankingEntry> out;
    while (q.next()) {
        EventServer::RankingEntry e;
        e.tpid = q.value(0).toString();
        e.name = q.value(1).toString();
        e.speedText = q.value(2).toString();
        e.speed = q.value(3).toDouble();
        e.station = q.value(4).toString();
        e.rank =
            !out.isEmpty() && out.back().speed == e.speed ? out.back().rank : int(out.size()) + 1;
        out << e;
    }
    return out;
}

} // namespace

QList<EventServer::RankingEntry> EventServer::ranking(QSqlDatabase pg, const QString& event,
                                                      const QString& className, int limit) {
    // A null limit is none.
    QSqlQuery q = runBound(pg,
                           QStringLiteral("select tpid, name, speed_text, speed, station "
                                          "from korvane_best where event = ? and overall = ? and "
                                          "class = ? order by speed desc, tpid limit ?::bigint"),
                           {event, className.isEmpty(),
                            className.isNull() ? QString(QLatin1String("")) : className,
                            limit > 0 ? QVariant(limit) : QVariant(QMetaType(QMetaType::Int))});
    return rankedRows(q);
}

QList<EventServer::RankingEntry> EventServer::periodRanking(QSqlDatabase pg, const QString& event,
                                                            const QString& className,
                                                            qint64 sinceMs, int limit) {
    // Each car's best from the attempts measured since then, picked in the
    // order the kept table picks a best in.
    QSqlQuery q = runBound(
        pg,
        QStringLiteral("select tpid, name, speed_text, speed, station from ("
                       " select distinct on (tpid) tpid, name, speed_text, speed, station"
                       " from korvane_attempt where event = ? and status in ('ok', 'accepted')"
                       " and speed is not null and measured_at >= to_timestamp(?::bigint / 1000.0)"
                       " and (?::boolean or class = ?)"
                       " order by tpid, speed desc, measured_at, station, attempt_id) best"
                       " order by speed desc, tpid limit ?::bigint"),
        {event, sinceMs, className.isEmpty(),
         className.isNull() ? QString(QLatin1String("")) : className,
         limit > 0 ? QVariant(limit) : QVariant(QMetaType(QMetaType::Int))});
    return rankedRows(q);
}

QStringList EventServer::classes(QSqlDatabase pg, const QString& event) {
    QSqlQuery q = runBound(pg,
                           QStringLiteral("select distinct class from korvane_best where event = ?"
                                          " and not overall and class <> '' order by class"),
                           {event});
    QStringList out;
    while (q.next())
        out << q.value(0).toString();
    return out;
}

void EventServer::upsertHeads(QSqlDatabase pg, const QString& event, const QString& station,
                              const QList<Head>& heads) {
    if (heads.isEmpty())
        return;
    QString sql = QStringLiteral(
        "insert into korvane_head (event, station, seq, hash, at, signature, public_key) values ");
    QVariantList values;
    for (int i = 0; i < heads.size(); ++i) {
        const Head& h = heads.at(i);
        sql += (i ? QStringLiteral(", ") : QString()) +
               QStringLiteral("(?, ?, ?, ?, to_timestamp(?::bigint / 1000.0), ?, ?)");
        values << event << station << h.seq << h.hash << h.atMs << h.signature << h.publicKey;
    }
    sql += QStringLiteral(" on conflict (event, station, seq) do update set hash = excluded.hash,"
                          " at = excluded.at, signature = excluded.signature,"
                          " public_key = excluded.public_key, published_at = now()");
    runBound(pg, sql, values);
}

qint64 EventServer::lastHeadSeq(QSqlDatabase pg, const QString& event, const QString& station) {
    QSqlQuery q = runBound(pg,
                           QStringLiteral("select coalesce(max(seq), 0) from korvane_head"
                                          " where event = ? and station = ?"),
                           {event, station});
    return q.next() ? q.value(0).toLongLong() : 0;
}

namespace {

// The overall part has no class column: sheets read before classes
// existed keep their columns.
void rankingPart(QString& text, QSqlDatabase pg, const QString& event, const QString& className) {
    QStringList heading{QStringLiteral("順位"), QStringLiteral("ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID"),
                        QStringLiteral("名前"), QStringLiteral("スピード"),
                        QStringLiteral("ステーション")};
    if (!className.isEmpty())
        heading << QStringLiteral("クラス");
    text += csvLine(heading);
    for (const EventServer::RankingEntry& e : EventServer::ranking(pg, event, className)) {
        QStringList row{QString::number(e.rank), e.tpid, e.name, e.speedText, e.station};
        if (!className.isEmpty())
            row << className;
        text += csvLine(row);
    }
    text += QLatin1String("\r\n");
}

QString msText(const QVariant& ms) {
    return ms.isNull() ? QString()
                       : QDateTime::fromMSecsSinceEpoch(ms.toLongLong())
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

} // namespace

QByteArray EventServer::exportCsv(QSqlDatabase pg, const QString& event, const QString& className) {
    // The byte order mark makes spreadsheets on Japanese systems read UTF-8.
    QString text = QStringLiteral("\uFEFF");
    if (className.isEmpty()) {
        rankingPart(text, pg, event, {});
        for (const QString& c : classes(pg, event))
            rankingPart(text, pg, event, c);
    } else {
        rankingPart(text, pg, event, className);
    }
    text +=
        csvLine({QStringLiteral("ステーション"), QStringLiteral("番号"),
                 QStringLiteral("ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID"), QStringLiteral("名前"), QStringLiteral("スピード"),
                 QStringLiteral("区間 cm"), QStringLiteral("状態"), QStringLiteral("フラグ"),
                 QStringLiteral("計測時刻"), QStringLiteral("クラス")});
    QSqlQuery q = runBound(
        pg,
        QStringLiteral("select station, attempt_id, tpid, name, speed_text, dist_cm, status, flags,"
                       " (extract(epoch from measured_at) * 1000)::bigint, class"
                       " from korvane_attempt where event = ? and (? or class = ?)"
                       " order by measured_at, station, attempt_id"),
        {event, className.isEmpty(), className.isNull() ? QString(QLatin1String("")) : className});
    while (q.next())
        text += csvLine({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                         q.value(3).toString(), q.value(4).toString(), number(q.value(5)),
                         q.value(6).toString(), q.value(7).toString(), msText(q.value(8)),
                         q.value(9).toString()});
    if (!className.isEmpty())
        return text.toUtf8();
    // A copy of each station's last signed head outside the station: its
    // records can be checked against it later. Only where a station signs.
    QSqlQuery h = runBound(
        pg,
        QStringLiteral("select distinct on (station) station, seq, encode(hash, 'hex'),"
                       " (extract(epoch from at) * 1000)::bigint, encode(signature, 'hex'),"
                       " encode(public_key, 'hex') from korvane_head where event = ?"
                       " order by station, seq desc"),
        {event});
    for (bool first = true; h.next(); first = false) {
        if (first) {
            text += QLatin1String("\r\n");
            text += csvLine({QStringLiteral("ステーション"), QStringLiteral("チェーン番号"),
                             QStringLiteral("ハッシュ"), QStringLiteral("署名時刻"),
                             QStringLiteral("署名"), QStringLiteral("公開鍵")});
        }
        text += csvLine({h.value(0).toString(), h.value(1).toString(), h.value(2).toString(),
                         msText(h.value(3)), h.value(4).toString(), h.value(5).toString()});
    }
    return text.toUtf8();
}

QString EventServer::channelFor(const QString& event) {
    const QByteArray digest =
        QCryptographicHash::hash(event.toUtf8(), QCryptographicHash::Sha256).left(8);
    return QStringLiteral("korvane_ev_") + QString::fromLatin1(digest.toHex());
}
