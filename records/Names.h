#pragma once

#include "Error.h"

#include <QString>

// A refusal the operator can act on (a name or ID that cannot be stored, a
// file that cannot be written); the message is shown as it stands.
class RecordError : public Error {
public:
    using Error::Error;
};

// Driver names are kept to what the Japanese code page can hold in the name
// column: at most kMaxNameBytes bytes of Shift-JIS, a double-byte character
// counting two.
inline constexpr int kMaxNameBytes = 30;

// Bytes the name takes in Shift-JIS, or -1 when a character has no
// Shift-JIS form.
int shiftJisLength(const QString& name);

// Why the name cannot be stored, or an empty text when it can.
QString nameProblem(const QString& name);

// Raises RecordError with nameProblem() when the name cannot be stored.
void checkName(const QString& name);
