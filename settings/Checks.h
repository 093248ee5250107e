#pragma once

#include <QString>

// Section "Checks" of "Korvane.ini": how the decoders are watched and which
// attempts are suspect.

// How the decoders are watched: section "Checks" of "Korvane.ini". Set by
// hand in the file; the program only reads it.
struct CheckSettings {
    int SilenceS = 10;   // an open decoder port without a line this long raises the alarm
    int Beep = 1;        // 0: the alarm does not beep
    int MaxOffsetMs = 5; // the decoder clocks may be this far apart
    int AutoResync = 0;  // 1: past MaxOffsetMs, the clock command goes at once
    int MinFreeMB = 50;  // the status page warns when the data folder has less room
};

// Reads the five keys; a missing file, section or key, or text that does not
// convert, gives the key's default, and so does a time of 0 or less (which
// would raise the alarm all the time).
CheckSettings LoadCheckSettings(const QString& iniPath);

// The plausibility limits of attempts, keys of section "Checks" of
// "Korvane.ini". The operator edits them in the file; the program only reads
// them at start.
struct SuspectChecks {
    int MinKmh = 1;
    int MaxKmh = 500;
    int DoubleReadMs = 500;
    int MaxSectionS = 60;
    // 0: a suspect attempt is shown, sent and counted like any other.
    // 1: it waits for the operator before it reaches screen, board or best.
    int HoldSuspect = 0;
};

// A missing file, section or key, or text that does not convert, gives the
// key's default. HoldSuspect is on for any number but 0.
SuspectChecks LoadSuspectChecks(const QString& iniPath);
