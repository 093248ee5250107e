#pragma once

#include <QString>

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
