#include "EventSource.h"

#include "EventRead.h"
#include "EventServer.h"
#include "PgLink.h"

#include <QJsonArray>

#include <utility>

using webtext::RankRow;

EventSource::EventSource(PgLink& link, QString event) : link_(link), event_(std::move(event)) {}

QVector<RankRow> EventSource::rows(const QString& className, qint64 sinceMs) {
    const QList<EventServer::RankingEntry> entries = link_.read([&](QSqlDatabase pg) {
        return sinceMs > 0 ? EventServer::periodRanking(pg, event_, className, sinceMs)
                           : EventServer::ranking(pg, event_, className);
    });
    QVector<RankRow> out;
    out.reserve(entries.size());
    for (const EventServer::RankingEntry& e : entries)
        out.push_back(RankRow{e.rank, e.tpid, e.name, e.speedText, e.station});
    return out;
}

QVector<RankRow> EventSource::top(int n) {
    return rows().mid(0, n);
}

// An event ranks hundreds of cars, not the station's hundreds of
// thousands: the whole ranking is read and the page cut from it.
LiveSource::Page EventSource::ranking(const QString& cursor, int limit, const QString& search) {
    QVector<RankRow> all = rows();
    if (!search.isEmpty())
        all.removeIf([&](const RankRow& r) {
            return !r.tpid.contains(search, Qt::CaseInsensitive) &&
                   !r.name.contains(search, Qt::CaseInsensitive);
        });
    const int from = std::max(0, cursor.toInt());
    Page page;
    page.rows = all.mid(from, limit);
    if (from + limit < all.size())
        page.next = QString::number(from + limit);
    return page;
}

QStringList EventSource::classNames() {
    return link_.read([this](QSqlDatabase pg) { return EventServer::classes(pg, event_); });
}

// All time from the bests the server keeps; a period from the attempts
// since then. The server counts what it counts (ok and accepted) whatever
// a station shows of suspect speeds.
std::optional<QVector<RankRow>> EventSource::classRanking(const QString& className, qint64 sinceMs,
                                                          bool) {
    if (!className.isEmpty() && !classNames().contains(className))
        return std::nullopt;
    return rows(className, sinceMs);
}

QString EventSource::name(const QString& tpid) {
    const QList<EventRead::Result> r =
        link_.read([&](QSqlDatabase pg) { return EventRead::attemptsOf(pg, event_, tpid, 1); });
    return r.isEmpty() ? QString() : r.first().name;
}

std::optional<webtext::SpeedEvent> EventSource::latestShown(bool) {
    const std::optional<EventRead::Result> r =
        link_.read([this](QSqlDatabase pg) { return EventRead::latest(pg, event_); });
    if (!r)
        return std::nullopt;
    webtext::SpeedEvent e;
    e.tpid = r->tpid;
    e.name = r->name;
    e.speedText = r->speedText;
    e.atMs = r->measuredMs;
    return e;
}

std::optional<QJsonObject> EventSource::driver(const QString& tpid, int maxAttempts, bool) {
    const QList<EventRead::Result> attempts = link_.read(
        [&](QSqlDatabase pg) { return EventRead::attemptsOf(pg, event_, tpid, maxAttempts); });
    if (attempts.isEmpty())
        return std::nullopt;
    QJsonObject out{{QStringLiteral("tpid"), tpid}, {QStringLiteral("name"), attempts.back().name}};
    QJsonArray list;
    for (const EventRead::Result& a : attempts) {
        if (a.best)
            out.insert(QStringLiteral("best"), a.speedText);
        list.append(QJsonObject{{QStringLiteral("id"), double(a.attemptId)},
                                {QStringLiteral("station"), a.station},
                                {QStringLiteral("speed"), a.speedText},
                                {QStringLiteral("kmh"), a.speed},
                                {QStringLiteral("at"), double(a.measuredMs)}});
    }
    // The best may be older than the attempts listed.
    if (!out.contains(QStringLiteral("best")))
        for (const RankRow& r : rows())
            if (r.tpid == tpid)
                out.insert(QStringLiteral("best"), r.speedText);
    out.insert(QStringLiteral("attempts"), list);
    return out;
}
