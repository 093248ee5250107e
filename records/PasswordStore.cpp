#include "PasswordStore.h"

#include "Error.h"

#include <QCoreApplication>
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
    if (!info.isFile())
        throw FileError(
            QCoreApplication::translate("PasswordStore", "'%1' のデータ型が不正です").arg(kValue));
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(QCoreApplication::translate("PasswordStore", "'%1' を読み込めません: %2")
                            .arg(kValue, f.errorString()));
    QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw FileError(QCoreApplication::translate("PasswordStore", "'%1' を読み込めません: %2")
                            .arg(kValue, f.errorString()));
    // A value put in by hand with an editor ends in a line break that no
    // password box can type; it is not part of the password.
    if (data.endsWith('\n'))
        data.chop(data.endsWith("\r\n") ? 2 : 1);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(data);
    if (utf8.hasError() || data.contains('\0'))
        throw FileError(
            QCoreApplication::translate("PasswordStore", "'%1' のデータ型が不正です").arg(kValue));
    return text;
}

void PasswordStore::write(const QString& password) const {
    const QString tmp = path_ + QStringLiteral(".tmp");
    const QByteArray tmpName = QFile::encodeName(tmp);
    const auto fail = [&]() {
        ::unlink(tmpName.constData());
        throw FileError(
            QCoreApplication::translate("PasswordStore", "'%1' の設定に失敗しました").arg(kValue));
    };
    // A value that would not read back the same is not stored at all.
    const QByteArray bytes = password.toUtf8();
    if (password.contains(QChar(0)) || password.endsWith(QLatin1Char('\n')) ||
        QString::fromUtf8(bytes) != password)
        fail();
    ::unlink(tmpName.constData());
    const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        fail();
    const bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
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
