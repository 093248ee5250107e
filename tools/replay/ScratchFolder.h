#pragma once

#include <QLockFile>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// The data folder of a replay that keeps no result: korvane-replay-XXXXXX in
// the temporary folder, removed when the replay ends. A lock file inside
// tells a folder in use from one a killed replay left behind, which the next
// replay removes.
class ScratchFolder {
public:
    // Makes the folder in `tempPath`.
    explicit ScratchFolder(const QString& tempPath);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool isValid() const { return lock_ != nullptr; }
    QString path() const { return dir_->path(); }

    // The folders left by replays that no longer run (a folder without its
    // lock only once it is a minute old: its replay may be making the
    // lock); returns how many were removed.
    static int removeLeftBehind(const QString& tempPath);

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QLockFile> lock_;
};
