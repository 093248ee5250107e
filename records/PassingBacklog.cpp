#include "PassingBacklog.h"

#include "Database.h"
#include "SpeedTable.h"

#include <algorithm>
#include <utility>

namespace {

// The engine's own words for SQLITE_FULL.
bool forLackOfSpace(const QString& why) {
    return why.contains(QLatin1String("database or disk is full"), Qt::CaseInsensitive);
}

} // namespace

qint64 storeMeasured(const MeasuredRow& row) {
    const qint64 id = row.attempt ? Journal::recordAttempt(*row.attempt, row.attemptClass) : 0;
    if (row.newBest.isEmpty())
        SpeedTable::markProcessed(row.tpid);
    else
        SpeedTable::markProcessed(row.tpid, row.newBest);
    return id;
}

PassingBacklog::PassingBacklog(Store store, qsizetype limit)
    : store_(std::move(store)), limit_(std::max<qsizetype>(limit, 1)) {}

PassingBacklog::~PassingBacklog() = default;

PassingBacklog::Result PassingBacklog::add(const QList<QueuedPassing>& passings) {
    queue_ += passings;
    qsizetype dropped = 0;
    if (queue_.size() > limit_) {
        dropped = queue_.size() - limit_;
        queue_.remove(0, dropped);
        waiting_ = std::max<qsizetype>(waiting_ - dropped, 0);
        // Still in the file: they come back at the next start.
        fromFilePassings_ = std::max<qsizetype>(fromFilePassings_ - dropped, 0);
    }
    return flush(dropped);
}

PassingBacklog::Result PassingBacklog::retry() {
    return flush(0);
}

PassingBacklog::Result PassingBacklog::addMeasured(const MeasuredRow& row, const QString& why) {
    measured_.append(row);
    waiting_ = queue_.size();
    diskFull_ = diskFull_ || forLackOfSpace(why);
    Result r;
    r.stored = false;
    r.error = why;
    return r;
}

bool PassingBacklog::isMeasured(const QString& tpid, double time2) const {
    return std::any_of(measured_.cbegin(), measured_.cend(),
                       [&](const MeasuredRow& m) { return m.tpid == tpid && m.time2 == time2; });
}

PassingBacklog::Result PassingBacklog::flush(qsizetype dropped) {
    Result r;
    r.dropped = dropped;
    if (queue_.isEmpty() && measured_.isEmpty())
        return r;
    // A log that filled the disk keeps it full until its pages are in the
    // database file and the log is cut back. The database file must grow to
    // take them: where the disk has no room even for that, the room held
    // for the spill file lends it for the moment.
    if (std::exchange(diskFull_, false) && !SpeedDb::truncateLog() && spill_) {
        spill_->releaseReserve();
        SpeedDb::truncateLog();
        spill_->keepReserve();
    }
    Batch batch;
    try {
        for (const MeasuredRow& m : std::as_const(measured_))
            storeMeasured(m);
        for (const QueuedPassing& p : std::as_const(queue_))
            store_(p);
        batch.commit();
    } catch (const DbError& e) {
        batch.rollback();
        waiting_ = queue_.size();
        diskFull_ = forLackOfSpace(e.message());
        r.stored = false;
        r.error = e.message();
        return r;
    }
    r.waited = waiting_;
    waiting_ = 0;
    queue_.clear();
    measured_.clear();
    const qsizetype fromFile = fromFileMeasured_ + fromFilePassings_;
    if (spill_ && spill_->exists() && fromFile > 0) {
        // Stored: the file must not bring them back a second time.
        fromFileMeasured_ = fromFilePassings_ = 0;
        r.recovered = fromFile;
        spill_->remove(&r.spillError);
    }
    return r;
}

void PassingBacklog::useSpillFile(const QString& databasePath) {
    spill_ = std::make_unique<SpillFile>(databasePath);
}

PassingBacklog::Result PassingBacklog::recover() {
    if (!spill_)
        return {};
    SpillContents in;
    QString unreadable;
    if (!spill_->read(in, &unreadable)) {
        // Left where it is, for the operator to look at.
        Result r = flush(0);
        r.spillError = unreadable;
        return r;
    }
    if (!in.measured.isEmpty() || !in.passings.isEmpty()) {
        measured_ = in.measured + measured_;
        queue_ = in.passings + queue_;
        fromFileMeasured_ = in.measured.size();
        fromFilePassings_ = in.passings.size();
    } else if (spill_->exists()) {
        spill_->remove(nullptr); // a header alone, or nothing readable
    }
    Result r = flush(0);
    if (in.skippedLines > 0 && r.spillError.isEmpty())
        r.spillError = QStringLiteral("%1: %2 unreadable lines left out")
                           .arg(spill_->path())
                           .arg(in.skippedLines);
    spill_->keepReserve();
    return r;
}

SpillResult PassingBacklog::spill() {
    SpillResult s;
    if (queue_.isEmpty() && measured_.isEmpty())
        return s;
    if (retry().stored)
        return s;
    s.measured = measured_.size();
    s.passings = queue_.size();
    if (!spill_) {
        s.ok = false;
        s.error = QStringLiteral("no spill file");
        return s;
    }
    const QList<MeasuredRow> measured = measured_.mid(fromFileMeasured_);
    const QList<QueuedPassing> passings = queue_.mid(fromFilePassings_);
    if (measured.isEmpty() && passings.isEmpty())
        return s;
    // The disk may be full: the space held for this is given back first.
    spill_->releaseReserve();
    s.ok = spill_->append(measured, passings, &s.error);
    if (s.ok) {
        fromFileMeasured_ = measured_.size();
        fromFilePassings_ = queue_.size();
    }
    return s;
}
