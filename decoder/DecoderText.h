#pragma once

#include <QByteArray>

#include <optional>

// Decoder lines are byte strings in the decoder's code page; nothing here
// decodes them, so a transponder ID or time reaches the table byte for byte.

// Takes the first line out of a receive buffer. The line ends at the first
// CR; the CR and exactly one byte after it (the decoder's LF) are dropped.
// Without a CR the line is empty and the buffer stays as it is. A CR as the
// buffer's last byte empties it: the LF of the next chunk then starts the
// next line.
void CutLine(QByteArray& buffer, QByteArray& line);

// Takes the first TAB-terminated field out of the rest of a line. Text after
// the last TAB is never a field: without a TAB the field is empty and the
// rest stays as it is.
void CutField(QByteArray& rest, QByteArray& field);

struct Passing {
    QByteArray tpid; // field 4
    QByteArray time; // field 5, seconds on the decoder clock
};

// A line is a passing record when its first field contains "@". Missing
// fields come back empty; the caller stores them as they stand.
std::optional<Passing> ParsePassing(QByteArray line);
