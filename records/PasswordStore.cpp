#include "PasswordStore.h"

#include "Database.h" // DbError: an error with a message for the operator

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kValue = QStringLiteral("Passw");

bool writeAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}
} // namespace

PasswordStore::PasswordStore(const QString& dataDir) : path_(QDir(dataDir).filePath(kValue)) {}

QString PasswordStore::read() const {
    const QFileInfo info(path_);
    if (!info.exists())
        return {};
    QFile f(path_);
    if (!info.isFile() || !f.open(QIODevice::ReadOnly))
        throw DbError(QStringLiteral("'%1' のデータ型が不正です").arg(kValue));
    const QByteArray data = f.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(data);
    if (utf8.hasError() || data.contains('\0'))
        throw DbError(QStringLiteral("'%1' のデータ型が不正です").arg(kValue));
    return text;
}

void PasswordStore::write(const QString& password) const {
    const QString tmp = path_ + QStringLiteral(".tmp");
    const QByteArray tmpName = QFile::encodeName(tmp);
    const auto fail = [&]() {
        ::unlink(tmpName.constData());
        throw DbError(QStringLiteral("'%1' の設定に失敗しました").arg(kValue));
    };
    ::unlink(tmpName.constData());
    const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        fail();
    const bool ok = writeAll(fd, password.toUtf8()) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok)
        fail();
    if (::rename(tmpName.constData(), QFile::encodeName(path_).constData()) != 0)
        fail();
    // Make the rename itself durable.
    const int dir = ::open(QFile::encodeName(QFileInfo(path_).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}
