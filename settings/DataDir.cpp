#include "DataDir.h"

#include "IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

QString defaultDataDir() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Ostrel/Korvane");
}

namespace {

// mkdir -p that keeps the reason of the step that failed (QDir::mkpath only
// says that one did).
int makePath(const QByteArray& path) {
    if (::mkdir(path.constData(), 0777) == 0)
        return 0;
    const int err = errno;
    if (err == EEXIST) {
        struct stat st {};
        return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    }
    const qsizetype slash = path.lastIndexOf('/');
    if (err != ENOENT || slash <= 0)
        return err;
    if (const int parent = makePath(path.left(slash)))
        return parent;
    if (::mkdir(path.constData(), 0777) == 0 || errno == EEXIST)
        return 0;
    return errno;
}

} // namespace

DataDirFailure prepareDataDir(const QString& dir) {
    const QByteArray path = QFile::encodeName(QDir::cleanPath(QDir(dir).absolutePath()));
    if (const int err = makePath(path))
        return {DataDirFailure::Create, err};
    // The settings, the speed table and the password are each made beside
    // their old file and renamed over it: the folder itself must take files.
    if (::access(path.constData(), W_OK | X_OK) != 0)
        return {DataDirFailure::Write, errno};
    return {};
}

QString dataDirMessage(const QString& dir, const DataDirFailure& failure) {
    const QString reason = QString::fromLocal8Bit(std::strerror(failure.error));
    const QString what =
        failure.step == DataDirFailure::Write
            ? QCoreApplication::translate("TFkorvane", "データフォルダ %1 に書き込めません: %2")
            : QCoreApplication::translate("TFkorvane", "データフォルダ %1 を作成できません: %2");
    return what.arg(QDir::toNativeSeparators(dir), reason) + QLatin1Char('\n') +
           QCoreApplication::translate(
               "TFkorvane",
               "書き込めるフォルダを --data-dir で指定するか、このフォルダ"
               "（またはその親）をこのユーザーが書き込めるようにしてから起動し直してください。");
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
