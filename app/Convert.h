#pragma once

#include "IntText.h" // tryStrToInt(), the conversion itself

#include <QString>
#include <stdexcept>

// An error whose message is shown to the operator as it stands.
class KorvaneError : public std::runtime_error {
public:
    explicit KorvaneError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// tryStrToInt(), raising "'<text>' は整数ではありません" on failure.
int StrToInt(const QString& text);

// A settings value: "0x"/"0X" in front of a longer text reads as "$", then
// tryStrToInt(); a failed conversion gives the default.
int profileInt(const QString& text, int defaultValue);
