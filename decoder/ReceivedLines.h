#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ReceiveBuffer;

// Decoder text (Shift-JIS bytes) as shown and stored.
QString FromDecoderText(const QByteArray& bytes);

// The same text only when the bytes are Shift-JIS that decodes to one text
// and back to the very same bytes; otherwise nothing.
std::optional<QString> DecoderTextExactly(const QByteArray& bytes);

// What the lines of one notification gave: each line for the raw-line
// monitor and a timing note ("9:05:07/1") for each stored passing.
struct ReceivedLines {
    QStringList lines;
    QStringList notes;
};

// Where a passing goes: its transponder ID and time as text, and the line's
// bytes as received (without the line end). It may raise; that ends the work
// (see TakeLines).
using PassingSink =
    std::function<void(const QString& tpid, const QString& time, const QByteArray& line)>;

// Cuts the complete lines out of a loop's receive buffer (up to the first
// empty line) and hands each passing record among them to `store`; a passing
// whose ID or time is not exact Shift-JIS is shown and noted, never stored. `out`
// holds what was done also when `store` raises midway: the lines up to the
// failed passing are listed, the notes name only the passings stored, and the
// lines after it stay in the buffer for the next notification.
void TakeLines(ReceiveBuffer& buffer, int loop, ReceivedLines& out, const PassingSink& store);
