#include "EventServer.h"

#include "Csv.h"
#include "Database.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

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
    QString sql = QStringLiteral(
        "insert into korvane_attempt (event, station, attempt_id, tpid, name, speed, speed_text,"
        " dist_cm, flags, status, time1, time2, measured_at, changed_at) values ");
    const QString row = QStringLiteral(
        "(?, ?, ?, ?, ?, ?::double precision, ?, ?::integer, ?, ?, ?::double precision,"
        " ?::double precision, to_timestamp(?::bigint / 1000.0), to_timestamp(?::bigint / "
        "1000.0))");
    QVariantList values;
    for (int i = 0; i < attempts.size(); ++i) {
        const Attempt& a = attempts.at(i);
        sql += (i ? QStringLiteral(", ") : QString()) + row;
        values << event << station << a.id << a.tpid << a.name << a.speed << a.speedText << a.distCm
               << a.flags << a.status << a.time1 << a.time2 << a.measuredMs << a.changedMs;
    }
    sql += QStringLiteral(
        " on conflict (event, station, attempt_id) do update set tpid = excluded.tpid,"
        " name = excluded.name, speed = excluded.speed, speed_text = excluded.speed_text,"
        " dist_cm = excluded.dist_cm, flags = excluded.flags, status = excluded.status,"
        " time1 = excluded.time1, time2 = excluded.time2, measured_at = excluded.measured_at,"
        " changed_at = excluded.changed_at, published_at = now()");
    runBound(pg, sql, values);
}

QList<EventServer::RankingEntry> EventServer::ranking(QSqlDatabase pg, const QString& event) {
    QSqlQuery q = runBound(pg,
                           QStringLiteral("select tpid, name, speed_text, speed, station "
                                          "from korvane_ranking where event = ? "
                                          "order by speed desc, tpid"),
                           {event});
    QList<RankingEntry> out;
    while (q.next()) {
        RankingEntry e;
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

QByteArray EventServer::exportCsv(QSqlDatabase pg, const QString& event) {
    // The byte order mark makes spreadsheets on Japanese systems read UTF-8.
    QString text = QStringLiteral("\uFEFF");
    text += csvLine({QStringLiteral("順位"), QStringLiteral("ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID"), QStringLiteral("名前"),
                     QStringLiteral("スピード"), QStringLiteral("ステーション")});
    for (const RankingEntry& e : ranking(pg, event))
        text += csvLine({QString::number(e.rank), e.tpid, e.name, e.speedText, e.station});
    text += QLatin1String("\r\n");
    text += csvLine({QStringLiteral("ステーション"), QStringLiteral("番号"),
                     QStringLiteral("ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID"), QStringLiteral("名前"),
                     QStringLiteral("スピード"), QStringLiteral("区間 cm"), QStringLiteral("状態"),
                     QStringLiteral("フラグ"), QStringLiteral("計測時刻")});
    QSqlQuery q = runBound(
        pg,
        QStringLiteral("select station, attempt_id, tpid, name, speed_text, dist_cm, status, flags,"
                       " (extract(epoch from measured_at) * 1000)::bigint"
                       " from korvane_attempt where event = ? order by measured_at, station,"
                       " attempt_id"),
        {event});
    while (q.next()) {
        const QVariant ms = q.value(8);
        text += csvLine({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                         q.value(3).toString(), q.value(4).toString(), number(q.value(5)),
                         q.value(6).toString(), q.value(7).toString(),
                         ms.isNull() ? QString()
                                     : QDateTime::fromMSecsSinceEpoch(ms.toLongLong())
                                           .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))});
    }
    return text.toUtf8();
}

QString EventServer::channelFor(const QString& event) {
    const QByteArray digest =
        QCryptographicHash::hash(event.toUtf8(), QCryptographicHash::Sha256).left(8);
    return QStringLiteral("korvane_ev_") + QString::fromLatin1(digest.toHex());
}
