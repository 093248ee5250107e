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
// column: at most kMaxNameBytes bytes of Shift-JIS as Windows has it
// (Windows-31J), a double-byte character counting two.
inline constexpr int kMaxNameBytes = 30;

// Bytes the name takes in Windows-31J, or -1 when a character has no form
// there. The standard code points of the wave dash, minus sign, double
// vertical line, not sign and em dash count as their Windows forms.
int shiftJisLength(const QString& name);

// Why the name cannot be stored, or an empty text when it can.
QString nameProblem(const QString& name);

// Raises RecordError with nameProblem() when the name cannot be stored.
void checkName(const QString& name);
