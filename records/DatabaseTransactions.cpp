#include "Database.h"

#include <QSqlError>

namespace {
bool groupOpen = false;
}

Batch::Batch() {
    // Inside a group the work joins the group's transaction. Anywhere else a
    // BEGIN that fails must stop the work: run in autocommit it would keep
    // what a rollback (a dry run, a failed step) means to undo.
    if (BatchGroup::open())
        return;
    QSqlDatabase db = SpeedDb::database();
    if (!db.transaction())
        throw DbError(engineMessage(db.lastError()));
    active_ = true;
}

Batch::~Batch() {
    if (!active_)
        return;
    SpeedDb::database().rollback();
    qWarning("Korvane: a batch of statements ended without commit and was rolled back");
}

void Batch::rollback() {
    if (!active_)
        return;
    active_ = false;
    SpeedDb::database().rollback();
}

void Batch::commit() {
    if (!active_)
        return;
    active_ = false;
    QSqlDatabase db = SpeedDb::database();
    if (!db.commit()) {
        const QString why = engineMessage(db.lastError());
        db.rollback();
        throw DbError(why);
    }
}

BatchGroup::BatchGroup() {
    QSqlDatabase db = SpeedDb::database();
    if (!db.transaction())
        throw DbError(engineMessage(db.lastError()));
    groupOpen = true;
    active_ = true;
}

BatchGroup::~BatchGroup() {
    if (!active_)
        return;
    active_ = false;
    groupOpen = false;
    SpeedDb::database().rollback();
}

void BatchGroup::commit() {
    if (!active_)
        return;
    active_ = false;
    groupOpen = false;
    QSqlDatabase db = SpeedDb::database();
    if (!db.commit()) {
        const QString why = engineMessage(db.lastError());
        db.rollback();
        throw DbError(why);
    }
}

bool BatchGroup::open() {
    return groupOpen;
}
