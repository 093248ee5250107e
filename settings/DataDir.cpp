#include "DataDir.h"

#include "IniFile.h"

#include <QDir>

QString defaultDataDir() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Ostrel/Korvane");
}

bool ensureDataDir(const QString& dir) {
    return QDir().mkpath(dir);
}

QString iniPathIn(const QString& dataDir) {
    return QDir(dataDir).filePath(QStringLiteral("Korvane.ini"));
}

QString databasePathIn(const QString& dataDir) {
    return QDir(dataDir).filePath(QStringLiteral("Korvane.db"));
}

QString devicePathForPort(const QString& iniPath, int portNo) {
    IniFile ini(iniPath);
    ini.load();
    const QString mapped =
        ini.value(QStringLiteral("Devices"), QStringLiteral("COM%1").arg(portNo));
    if (!mapped.isEmpty())
        return mapped;
    return QStringLiteral("/dev/ttyS%1").arg(portNo - 1);
}
