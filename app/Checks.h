#pragma once

#include <QString>

// How the decoders are watched: section "Checks" of "Korvane.ini". Set by
// hand in the file; the program only reads it.
struct CheckSettings {
    int SilenceS = 10;   // an open decoder port without a line this long raises the alarm
    int Beep = 1;        // 0: the alarm does not beep
    int MaxOffsetMs = 5; // the decoder clocks may be this far apart
    int AutoResync = 0;  // 1: past MaxOffsetMs, the clock command goes at once
};

// Reads the four keys; a missing file, section or key, or text that does not
// convert, gives the key's default, and so does a time of 0 or less (which
// would raise the alarm all the time).
CheckSettings LoadCheckSettings(const QString& iniPath);
