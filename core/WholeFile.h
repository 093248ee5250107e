#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A file written whole: the new content goes to "<path>.tmp" in the same
// folder, is flushed and synced, and only then renamed over the file, so
// that a full disk, a removed medium or a killed process leaves the old file
// byte for byte or the new one, never a part. Every system call's result is
// looked at; a failure keeps the system's reason (errorString()) and removes
// the temporary file.
//
// A write buffered by the library and flushed only at close would report a
// full disk to nobody and rename an empty file over the old one: the content
// goes to the file descriptor as it is given.
class WholeFile {
public:
    // mode: the permissions of a new file; -1 keeps those of the file it
    // replaces, or gives 0666 less the umask to a new one.
    explicit WholeFile(const QString& path, int mode = -1) : path_(path), mode_(mode) {
        // A symbolic link stays one: what it points to gets the new content.
        const QFileInfo info(path);
        if (info.isSymLink())
            path_ = info.symLinkTarget();
        tmp_ = QFile::encodeName(path_ + QStringLiteral(".tmp"));
    }
    ~WholeFile() { discard(); }
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;

    // Appends to the new content; false once anything failed.
    bool write(const QByteArray& bytes) {
        if (!open())
            return false;
        const char* p = bytes.constData();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_, p, size_t(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return fail(n < 0 ? errno : ENOSPC);
            p += n;
            left -= n;
        }
        return true;
    }

    // Syncs the new content and puts it in place of the file (syncing the
    // folder, so that the rename itself survives a power cut).
    bool commit() {
        if (!open())
            return false;
        if (::fsync(fd_) != 0)
            return fail(errno);
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            return fail(errno);
        if (::rename(tmp_.constData(), QFile::encodeName(path_).constData()) != 0)
            return fail(errno);
        committed_ = true;
        const int dir = ::open(QFile::encodeName(QFileInfo(path_).absolutePath()).constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0)
            return true; // the content is in place; only its durability is unsure
        const bool synced = ::fsync(dir) == 0 || errno == EINVAL;
        const int why = errno;
        ::close(dir);
        return synced || fail(why);
    }

    // The system's reason for the first failure.
    const QString& errorString() const { return error_; }

    // The whole content in one go.
    static bool write(const QString& path, const QByteArray& bytes, QString* why = nullptr,
                      int mode = -1) {
        WholeFile f(path, mode);
        const bool ok = f.write(bytes) && f.commit();
        if (!ok && why)
            *why = f.errorString();
        return ok;
    }

private:
    bool open() {
        if (failed_ || committed_)
            return false;
        if (fd_ >= 0)
            return true;
        int mode = mode_;
        struct stat old;
        if (mode < 0 && ::stat(QFile::encodeName(path_).constData(), &old) == 0)
            mode = int(old.st_mode & 07777);
        // A leftover of a killed writer goes; anything else there (a folder)
        // makes the write fail rather than be followed.
        ::unlink(tmp_.constData());
        fd_ = ::open(tmp_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                     mode < 0 ? 0666 : mode_t(mode));
        if (fd_ < 0)
            return fail(errno);
        created_ = true;
        // The umask must not narrow the permissions of a file that had them.
        if (mode >= 0 && ::fchmod(fd_, mode_t(mode)) != 0)
            return fail(errno);
        return true;
    }

    bool fail(int err) {
        if (!failed_)
            error_ = QString::fromLocal8Bit(std::strerror(err));
        failed_ = true;
        discard();
        return false;
    }

    // The temporary file of a write that did not come to its rename goes.
    void discard() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        if (created_ && !committed_) {
            created_ = false;
            ::unlink(tmp_.constData());
        }
    }

    QString path_;
    QByteArray tmp_;
    int mode_;
    int fd_ = -1;
    bool failed_ = false;
    bool created_ = false;
    bool committed_ = false;
    QString error_;
};
