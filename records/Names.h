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
