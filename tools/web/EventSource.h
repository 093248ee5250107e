#pragma once

#include "LiveSource.h"

#include <QString>

class PgLink;

// The live pages' results from the event's server: every station's
// attempts together, ranked as the server ranks them. Reads on the link it
// is given, each call anew (nothing is kept between calls, so any copy of
// the program answers alike).
class EventSource : public LiveSource {
public:
    EventSource(PgLink& link, QString event);

    QVector<webtext::RankRow> top(int n) override;
    // The cursor is the number of rows before the page.
    Page ranking(const QString& cursor, int limit, const QString& search) override;
    QString name(const QString& tpid) override;
    QStringList classNames() override;
    // All time only: a period (sinceMs > 0) is answered as unknown.
    std::optional<QVector<webtext::RankRow>> classRanking(const QString& className, qint64 sinceMs,
                                                          bool suspectCounts) override;
    // Only attempts that count reach the event's pages: suspect ones are
    // the station's to review.
    std::optional<webtext::SpeedEvent> latestShown(bool suspectShown) override;
    std::optional<QJsonObject> driver(const QString& tpid, int maxAttempts,
                                      bool suspectShown) override;

private:
    // The whole ranking, of one class or (empty) of every class together.
    QVector<webtext::RankRow> rows(const QString& className = {}, qint64 sinceMs = 0);

    PgLink& link_;
    QString event_;
};
