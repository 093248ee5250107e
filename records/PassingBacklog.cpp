#include "PassingBacklog.h"

#include "Database.h"

#include <algorithm>

PassingBacklog::PassingBacklog(Store store, qsizetype limit)
    : store_(std::move(store)), limit_(std::max<qsizetype>(limit, 1)) {}

PassingBacklog::Result PassingBacklog::add(const QList<QueuedPassing>& passings) {
    queue_ += passings;
    qsizetype dropped = 0;
    if (queue_.size() > limit_) {
        dropped = queue_.size() - limit_;
        queue_.remove(0, dropped);
        waiting_ = std::max<qsizetype>(waiting_ - dropped, 0);
    }
    return flush(dropped);
}

PassingBacklog::Result PassingBacklog::retry() {
    return flush(0);
}

PassingBacklog::Result PassingBacklog::flush(qsizetype dropped) {
    Result r;
    r.dropped = dropped;
    if (queue_.isEmpty())
        return r;
    Batch batch;
    try {
        for (const QueuedPassing& p : std::as_const(queue_))
            store_(p);
        batch.commit();
    } catch (const DbError& e) {
        batch.rollback();
        waiting_ = queue_.size();
        r.stored = false;
        r.error = e.message();
        return r;
    }
    r.waited = waiting_;
    waiting_ = 0;
    queue_.clear();
    return r;
}
