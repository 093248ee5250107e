#pragma once

#include <QString>

// Where the settings file, the database and the page password live:
// the --data-dir argument, else $XDG_DATA_HOME/Ostrel/Korvane, else
// ~/.local/share/Ostrel/Korvane.
QString defaultDataDir();

// Why a data folder cannot hold the program's files: the step that failed
// and the system's reason (an errno value).
struct DataDirFailure {
    enum Step { None, Create, Write };
    Step step = None;
    int error = 0;
};

// Creates the folder and its parents when missing and checks that files can
// be made in it.
DataDirFailure prepareDataDir(const QString& dir);
inline bool ensureDataDir(const QString& dir) {
    return prepareDataDir(dir).step == DataDirFailure::None;
}

// The operator's message for a folder that failed: which folder, the
// system's reason and what to do, in the window's language.
QString dataDirMessage(const QString& dir, const DataDirFailure& failure);

QString iniPathIn(const QString& dataDir);      // "Korvane.ini"
QString databasePathIn(const QString& dataDir); // "Korvane.db"

// Device path of serial port n (1..9): key COMn of section "Devices" of the
// settings file, else /dev/ttyS<n-1>.
QString devicePathForPort(const QString& iniPath, int portNo);
