#pragma once

#include <QString>

// The operator's settings, section "SP" of "Korvane.ini".
struct Settings {
    int Port1 = 1;
    int Port2 = 4;
    int Port3 = 5;
    int Dist = 10;
    int Wait = 3;
    int Rate = 0;
    int Decid1 = 0;
    int Decid2 = 0;
    int Resetint = 300;
    int Timer2 = 0;
};

// Reads the ten keys; a missing file, section or key, or text that does not
// convert, gives the key's default. A port number outside 0..9 reads as 0.
Settings LoadSettings(const QString& iniPath);

// Writes the ten keys into section "SP", keeping every other line of the file
// as it stands, atomically. Raises "<path> に書き込めません: <the system's
// reason>" when the file cannot be written; the file then stays as it was.
void SaveSettings(const QString& iniPath, const Settings& s);
