#pragma once

#include "WebText.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// Where the live pages' results come from: the station's own speed file
// (WebReader) or an event's server, for all its stations together. The
// pages, their JSON and its escaping are the same whichever it is. Every
// call runs in the server's thread and reads anew; a failed read raises (a
// std::exception whose text is the operator's, never sent to a page).
class LiveSource {
public:
    virtual ~LiveSource() = default;

    // The ranking holds only transponders with a speed that counts.

    // The fastest n rows of the ranking.
    virtual QVector<webtext::RankRow> top(int n) = 0;

    // A page of the ranking after `cursor` (empty: from the top), filtered
    // by a part of the ID or name when `search` is not empty. `next` is
    // empty after the last page; a cursor is only this source's to read.
    struct Page {
        QVector<webtext::RankRow> rows;
        QString next;
    };
    virtual Page ranking(const QString& cursor, int limit, const QString& search) = 0;

    virtual QString name(const QString& tpid) = 0;

    // Classes, where the source has them (none by default): the class the
    // transponder's newest attempt was measured in, the classes in their
    // order, and the counting bests of one class (every class for an empty
    // name) measured at sinceMs or later; nothing for a class that does not
    // exist.
    virtual QString className(const QString& tpid) {
        Q_UNUSED(tpid);
        return {};
    }
    virtual QStringList classNames() { return {}; }
    virtual std::optional<QVector<webtext::RankRow>>
    classRanking(const QString& className, qint64 sinceMs, bool suspectCounts) {
        Q_UNUSED(className);
        Q_UNUSED(sinceMs);
        Q_UNUSED(suspectCounts);
        return std::nullopt;
    }

    // The newest attempt that was shown (suspect ones only when they are
    // shown), for a server started after it.
    virtual std::optional<webtext::SpeedEvent> latestShown(bool suspectShown) = 0;

    // {"tpid", "name", "best", "attempts": [{"id", "speed", "kmh", "at"}]}
    // with the newest attempts that count, oldest first; nothing when the
    // ID has neither a best nor such an attempt.
    virtual std::optional<QJsonObject> driver(const QString& tpid, int maxAttempts,
                                              bool suspectShown) = 0;
};
