#pragma once

// The classes room's tables, beside `speed` in the same file:
//
//   class          id, name (unique), ord (the order of the selectors)
//   entry          id, class_id, tpid, name, number, current (1 on at most
//                  one entry per transponder: the class its attempts take)
//
// The class of an attempt is kept with the attempt, in the journal: the
// room answers Journal::classAt from currentClasses() held in memory.
//
// Every statement on these tables is here; each binds its values and raises
// DbError on a database failure, RecordError on a refusal the operator can
// act on.

#include "Journal.h"

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <optional>

namespace ClassStore {

// Creates the tables and their indexes where they are missing: a fresh file
// and a file of an older version alike.
void createSchema(QSqlDatabase db);

struct RaceClass {
    qint64 id = 0;
    QString name;
    int order = 0;
};
QVector<RaceClass> classes(); // in their order
qint64 addClass(const QString& name);
void renameClass(qint64 id, const QString& name);
// Swaps the class with its neighbour before (-1) or after (+1).
void moveClass(qint64 id, int step);
// Deletes the class with its entries. Refused (RecordError saying how many)
// while attempts were measured in it: they would lose their class unseen.
void deleteClass(qint64 id);

struct Entry {
    qint64 id = 0;
    qint64 classId = 0;
    QString tpid;
    QString name;
    QString number;
    bool current = false;
};
QVector<Entry> entries(qint64 classId); // by ID
std::optional<Entry> entry(qint64 id);
// The first entry of a transponder becomes its current one.
qint64 addEntry(qint64 classId, const QString& tpid, const QString& name, const QString& number);
void updateEntry(qint64 id, const QString& tpid, const QString& name, const QString& number);
void deleteEntry(qint64 id);
void makeCurrent(qint64 entryId);
// Transponder ID -> the class of its current entry, with the class's name.
QHash<QString, Journal::AttemptClass> currentClasses();

// One row of an import, checked before (EntryImport).
struct NewEntry {
    QString className;
    QString tpid;
    QString name;
    QString number;
};
// All rows in one transaction, classes created by name where missing: every
// row is written or none. Returns the number written.
int addEntries(const QVector<NewEntry>& rows);

} // namespace ClassStore
