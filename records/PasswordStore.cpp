#include "PasswordStore.h"

#include "Error.h"
#include "WholeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {
const QString kValue = QStringLiteral("Passw");
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
    const auto fail = [&]() {
        throw FileError(
            QCoreApplication::translate("PasswordStore", "'%1' の設定に失敗しました").arg(kValue));
    };
    // A value that would not read back the same is not stored at all.
    const QByteArray bytes = password.toUtf8();
    if (password.contains(QChar(0)) || password.endsWith(QLatin1Char('\n')) ||
        QString::fromUtf8(bytes) != password)
        fail();
    // Only its owner may read it, also when the umask would allow more.
    if (!WholeFile::write(path_, bytes, nullptr, 0600))
        fail();
}
