#pragma once

// Entries read from a CSV file and checked before anything is written: the
// operator sees each line's problem first, then the good lines are written
// together (ClassStore::addEntries) or not at all.
//
// The file is UTF-8 (with or without a byte order mark) or Shift-JIS as
// Windows writes it; a line that reads in neither is a problem of its own.
// Columns are class, ID, name, number in that order, or as a first line of
// column names says (the names entriesCsv writes, or their English).

#include "ClassStore.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

namespace EntryImport {

struct Line {
    int line = 0; // in the file, from 1
    ClassStore::NewEntry entry;
    QString problem; // the line is left out; empty when it is written
    QString note;    // written as it stands, but worth a look
};

struct Preview {
    QString encoding; // "UTF-8" or "Shift-JIS"
    // What keeps the whole file out (a column nobody knows): nothing is
    // written while it is set.
    QString fileProblem;
    QVector<Line> lines;

    int goodCount() const;
    QVector<ClassStore::NewEntry> goodEntries() const;
};

// `entered`: per class name, the IDs already entered in it.
Preview preview(const QByteArray& file, const QHash<QString, QSet<QString>>& entered);

// The entries as CSV: UTF-8 with a byte order mark, a line of column names,
// CRLF line ends, fields guarded as the program's other exports.
QByteArray entriesCsv(const QVector<ClassStore::RaceClass>& classes,
                      const QVector<ClassStore::Entry>& entries);

} // namespace EntryImport
