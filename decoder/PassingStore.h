#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class ReceiveBuffer;

// Stores one decoder passing in the speed table: loop 1 sets time1 (a new
// transponder's row is created pending), loop 2 sets time2 and marks the
// row pending. Raises DbError on a database failure.
void StorePassing(int loop, const QString& tpid, const QString& time);

// Decoder text (Shift-JIS bytes) as shown and stored.
QString FromDecoderText(const QByteArray& bytes);

// What the lines of one notification gave: each line for the raw-line
// monitor and a timing note ("9:05:07/1") for each stored passing.
struct ReceivedLines {
    QStringList lines;
    QStringList notes;
};

// Cuts the complete lines out of a loop's receive buffer (up to the first
// empty line) and stores each passing record among them; the passings reach
// the disk in one commit. `out` holds what was done also when a database
// error ends the work midway (the error is raised after the commit of the
// passings stored before it).
void TakeLines(ReceiveBuffer& buffer, int loop, ReceivedLines& out);
