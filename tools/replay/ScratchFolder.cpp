#include "ScratchFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

const char kPrefix[] = "korvane-replay-";
const char kLockName[] = "replay.lock";
const qint64 kUnlockedAgeMs = 60 * 1000;

} // namespace

ScratchFolder::ScratchFolder(const QString& tempPath) {
    dir_ = std::make_unique<QTemporaryDir>(
        QDir(tempPath).filePath(QLatin1String(kPrefix) + QStringLiteral("XXXXXX")));
    if (!dir_->isValid())
        return;
    auto lock = std::make_unique<QLockFile>(dir_->filePath(QLatin1String(kLockName)));
    if (lock->tryLock(0))
        lock_ = std::move(lock);
}

ScratchFolder::~ScratchFolder() {
    // Unlocked before the folder goes, so that no replay starting now takes
    // a lock file that is about to be removed for one left behind.
    lock_.reset();
}

int ScratchFolder::removeLeftBehind(const QString& tempPath) {
    int removed = 0;
    const QFileInfoList folders =
        QDir(tempPath).entryInfoList({QLatin1String(kPrefix) + QLatin1Char('*')},
                                     QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    const QDateTime now = QDateTime::currentDateTime();
    for (const QFileInfo& folder : folders) {
        if (folder.isSymLink())
            continue;
        const QString lockPath = QDir(folder.filePath()).filePath(QLatin1String(kLockName));
        if (!QFileInfo::exists(lockPath) && folder.lastModified().msecsTo(now) < kUnlockedAgeMs)
            continue;
        // Taken only when its owner no longer runs (age alone never makes
        // a lock stale: a replay may run for hours).
        QLockFile lock(lockPath);
        lock.setStaleLockTime(0);
        if (!lock.tryLock(0))
            continue;
        lock.unlock();
        if (QDir(folder.filePath()).removeRecursively())
            ++removed;
    }
    return removed;
}
