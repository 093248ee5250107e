#pragma once

#include "Error.h"

#include <QString>

// The settings' and conversions' name for the one error type.
using KorvaneError = Error;

// Integer text as the settings file and the numeric boxes take it: optional
// leading blanks, an optional sign, then decimal digits or "$" and up to
// eight hexadecimal digits (which wrap to a signed 32-bit value). Anything
// else, an empty text or a decimal out of the 32-bit range, fails.
bool tryStrToInt(const QString& text, int& out);

// The same conversion, raising "'<text>' は整数ではありません" on failure.
int StrToInt(const QString& text);

// A settings value: "0x"/"0X" in front of a longer text reads as "$", then as
// above; a failed conversion gives the default.
int profileInt(const QString& text, int defaultValue);
