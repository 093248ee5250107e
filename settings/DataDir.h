#pragma once

#include <QString>

// Where the settings file, the database and the page password live:
// the --data-dir argument, else $XDG_DATA_HOME/Ostrel/Korvane, else
// ~/.local/share/Ostrel/Korvane.
QString defaultDataDir();

// Creates the folder when missing; returns false when it cannot.
bool ensureDataDir(const QString& dir);

QString iniPathIn(const QString& dataDir);      // "Korvane.ini"
QString databasePathIn(const QString& dataDir); // "Korvane.db"

// Device path of serial port n (1..9): key COMn of section "Devices" of the
// settings file, else /dev/ttyS<n-1>.
QString devicePathForPort(const QString& iniPath, int portNo);
