#pragma once

#include "Error.h"
#include "IntText.h" // tryStrToInt(), the conversion itself

#include <QString>

// The settings' and conversions' name for the one error type.
using KorvaneError = Error;

// tryStrToInt(), raising "'<text>' は整数ではありません" on failure.
int StrToInt(const QString& text);

// A settings value: "0x"/"0X" in front of a longer text reads as "$", then
// tryStrToInt(); a failed conversion gives the default.
int profileInt(const QString& text, int defaultValue);
