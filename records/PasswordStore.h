#pragma once

#include <QString>

// The page password "Passw": plain text in a file of the data folder that
// only its owner may read and write. No file means the empty password.
class PasswordStore {
public:
    explicit PasswordStore(const QString& dataDir);

    QString path() const { return path_; }

    // File errors raise FileError: "'Passw' のデータ型が不正です" when the
    // stored value is not text.
    QString read() const;

    // Replaces the value atomically: a crash while writing leaves the old
    // value or the new one, never a part. Raises "'Passw' の設定に失敗しました".
    void write(const QString& password) const;

private:
    QString path_;
};
