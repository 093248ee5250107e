#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// A passing on its way to the speed table.
// It keeps the time it was received, also while it waits.
struct QueuedPassing {
    int loop = 0;
    QString tpid;
    QString time;
    qint64 receivedMs = 0; // PC time, UTC milliseconds
    QByteArray raw;        // the line's bytes as received
};

// What one attempt to store gave.
struct BacklogResult {
    bool stored = true;    // nothing waits any more
    qsizetype waited = 0;  // stored now after waiting for an earlier attempt
    qsizetype dropped = 0; // the oldest, given up because the bound was reached
    QString error;         // the database's reason when !stored
};

// The passings the database would not take (disk full, read-only, locked),
// kept in order until it takes them again. Each attempt stores everything
// that waits plus the new passings in one commit, or nothing: a failed
// attempt is rolled back and all of it waits for the next one. The number
// that may wait is bounded; beyond it the oldest go first.
class PassingBacklog {
public:
    static constexpr qsizetype kDefaultLimit = 10000;
    using Store = std::function<void(const QueuedPassing&)>; // raises DbError

    explicit PassingBacklog(Store store, qsizetype limit = kDefaultLimit);

    using Result = BacklogResult;

    // The passings of one notification, behind those that wait.
    Result add(const QList<QueuedPassing>& passings);
    // Another attempt for those that wait.
    Result retry();

    qsizetype size() const { return queue_.size(); }
    qsizetype limit() const { return limit_; }

private:
    Result flush(qsizetype dropped);

    Store store_;
    qsizetype limit_;
    QList<QueuedPassing> queue_;
    qsizetype waiting_ = 0; // how many of queue_ failed an earlier attempt
};
