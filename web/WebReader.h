#pragma once

#include "LiveSource.h"
#include "WebText.h"

#include <QJsonObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// The live web page's reads of the speed database, on a connection of its
// own in the thread that creates the reader. The file is in write-ahead
// logging mode, so these reads never wait for the measuring thread's writes
// nor hold them up; every statement ends before the call returns, so no
// read snapshot is kept between requests (it would stall checkpoints).
// The connection only reads (query_only). Failures raise DbError.
class WebReader : public LiveSource {
public:
    explicit WebReader(QString dbPath);
    ~WebReader() override;
    WebReader(const WebReader&) = delete;
    WebReader& operator=(const WebReader&) = delete;

    // The ranking holds only transponders with a speed that counts: a row
    // without one (registered, cleared, or its only attempt rejected) is
    // none of the spectators' business.

    // The fastest n rows of the ranking (the order of the reference page).
    QVector<webtext::RankRow> top(int n) override;

    // A page of the ranking after `cursor` (empty: from the top), filtered
    // by a part of the ID or name when `search` is not empty, read through
    // index speed_rank by speed and row as the reference page does. `next`
    // is empty after the last page.
    Page ranking(const QString& cursor, int limit, const QString& search) override;

    QString name(const QString& tpid) override;
    // The class the transponder's newest attempt was measured in.
    QString className(const QString& tpid) override;

    // The classes, in their order; none on a station without classes.
    QStringList classNames() override;
    // The bests of the class named (every class for an empty name) measured
    // at sinceMs or later that count: ok or accepted, and suspect ones when
    // they are shown. Nothing for a class that does not exist.
    std::optional<QVector<webtext::RankRow>> classRanking(const QString& className, qint64 sinceMs,
                                                          bool suspectCounts) override;

    // The newest attempt that was shown (suspect ones only when they are
    // shown), for a server started after it.
    std::optional<webtext::SpeedEvent> latestShown(bool suspectShown) override;

    // The transponder's name, best speed and newest attempts that count
    // (oldest first): ok or accepted ones, and suspect ones when they are
    // shown as measured; each with its time and speed, no check's verdict.
    // Nothing when the ID has neither a row nor such an attempt.
    std::optional<QJsonObject> driver(const QString& tpid, int maxAttempts,
                                      bool suspectShown) override;

private:
    QSqlDatabase db();
    int rankOf(const QVariant& speed);

    QString path_;
    QString connection_;
};
