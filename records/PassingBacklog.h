#pragma once

#include "SpillFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// What one attempt to store gave.
struct BacklogResult {
    bool stored = true;      // nothing waits any more
    qsizetype waited = 0;    // stored now after waiting for an earlier attempt
    qsizetype dropped = 0;   // the oldest, given up because the bound was reached
    qsizetype recovered = 0; // stored now from the spill file of an earlier run
    QString error;           // the database's reason when !stored
    QString spillError;      // the spill file could not be read or removed
};

// What a close left behind in the spill file.
struct SpillResult {
    qsizetype passings = 0; // waiting passings in the spill file now
    qsizetype measured = 0; // measured rows in it
    bool ok = true;         // false: what waited is lost (error says why)
    QString error;
};

// The passings the database would not take (disk full, read-only, locked),
// kept in order until it takes them again. Each attempt stores everything
// that waits plus the new passings in one commit, or nothing: a failed
// attempt is rolled back and all of it waits for the next one. The number
// that may wait is bounded; beyond it the oldest go first.
//
// Measured rows whose attempt and processed mark failed wait here too; they
// are stored ahead of the passings, since measuring saw the table without
// any passing that waits. After a failure for lack of space the next attempt
// first checkpoints the write-ahead log and cuts it back, so that the log
// does not keep the disk full.
//
// With a spill file, what cannot be stored at a close survives until the
// next start, which stores it first.
class PassingBacklog {
public:
    static constexpr qsizetype kDefaultLimit = 10000;
    using Store = std::function<void(const QueuedPassing&)>; // raises DbError

    explicit PassingBacklog(Store store, qsizetype limit = kDefaultLimit);
    ~PassingBacklog();

    using Result = BacklogResult;

    // The passings of one notification, behind those that wait.
    Result add(const QList<QueuedPassing>& passings);
    // Another attempt for those that wait.
    Result retry();

    // A measured row whose attempt and mark failed with `why`: it waits for
    // the next attempt. Nothing is tried now.
    Result addMeasured(const MeasuredRow& row, const QString& why);
    // The row waits here as measured: measuring passes over it.
    bool isMeasured(const QString& tpid, double time2) const;

    qsizetype size() const { return queue_.size(); }
    qsizetype measuredCount() const { return measured_.size(); }
    qsizetype limit() const { return limit_; }

    // The spill file beside the database at `databasePath`.
    void useSpillFile(const QString& databasePath);
    // At start: what an earlier close left in the spill file goes ahead of
    // everything and is stored now if it can be (the file is then removed).
    Result recover();
    // At close: one last attempt; whatever still cannot be stored is appended
    // to the spill file.
    SpillResult spill();

private:
    Result flush(qsizetype dropped);

    Store store_;
    qsizetype limit_;
    QList<MeasuredRow> measured_;
    QList<QueuedPassing> queue_;
    qsizetype waiting_ = 0; // how many of queue_ failed an earlier attempt
    bool diskFull_ = false; // the last attempt failed for lack of space
    std::unique_ptr<SpillFile> spill_;
    // How many at the front of measured_ and queue_ came from the spill
    // file (and are still in it).
    qsizetype fromFileMeasured_ = 0;
    qsizetype fromFilePassings_ = 0;
};

// The attempt of a measured row and its processed mark (with the new best),
// in the caller's commit. Raises DbError.
qint64 storeMeasured(const MeasuredRow& row); // the attempt's id, 0 for none
