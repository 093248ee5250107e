#pragma once

#include <QString>

#include <stdexcept>

// A refusal the operator can act on; the message is shown as it stands.
class RecordError : public std::runtime_error {
public:
    explicit RecordError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
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
