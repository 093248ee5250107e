#include "Database.h"
#include "PasswordStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class tst_PasswordStore : public QObject {
    Q_OBJECT
private:
    static QString readError(const PasswordStore& s) {
        try {
            s.read();
        } catch (const FileError& e) {
            return e.message();
        }
        return {};
    }
    static QString writeError(const PasswordStore& s, const QString& value) {
        try {
            s.write(value);
        } catch (const FileError& e) {
            return e.message();
        }
        return {};
    }

private slots:
    void missingValueIsEmptyPassword() {
        QTemporaryDir dir;
        QCOMPARE(PasswordStore(dir.path()).read(), QString());
    }

    void roundTripAndOwnerOnlyMode_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << QString();
        QTest::newRow("ascii") << QStringLiteral("s3cret");
        QTest::newRow("japanese and quotes") << QStringLiteral("パス'word\"");
        QTest::newRow("trailing blank kept") << QStringLiteral("abc ");
    }
    void roundTripAndOwnerOnlyMode() {
        QFETCH(QString, value);
        QTemporaryDir dir;
        const PasswordStore store(dir.path());
        store.write(QStringLiteral("old"));
        store.write(value);
        // Read back by a new store, as the next start of the program does.
        QCOMPARE(PasswordStore(dir.path()).read(), value);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(store.path()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0600);
        QVERIFY(!QFile::exists(store.path() + QStringLiteral(".tmp")));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Passw")});
    }

    void failedWriteKeepsOldValue() {
        QTemporaryDir dir;
        const PasswordStore store(dir.path());
        store.write(QStringLiteral("old"));
        // Root ignores file modes, so block the temporary file with a directory.
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Passw.tmp")));
        QCOMPARE(writeError(store, QStringLiteral("new")),
                 QStringLiteral("'Passw' の設定に失敗しました"));
        QCOMPARE(store.read(), QStringLiteral("old"));
        QVERIFY(QDir(dir.path()).rmdir(QStringLiteral("Passw.tmp")));
        store.write(QStringLiteral("new"));
        QCOMPARE(store.read(), QStringLiteral("new"));
    }

    void missingFolderFailsToWrite() {
        QTemporaryDir dir;
        const PasswordStore store(dir.filePath(QStringLiteral("no/such")));
        QCOMPARE(writeError(store, QStringLiteral("x")),
                 QStringLiteral("'Passw' の設定に失敗しました"));
    }

    void leftoverTemporaryFromACrashIsIgnored() {
        QTemporaryDir dir;
        const PasswordStore store(dir.path());
        store.write(QStringLiteral("kept"));
        QFile half(store.path() + QStringLiteral(".tmp"));
        QVERIFY(half.open(QIODevice::WriteOnly));
        half.write("ha");
        half.close();
        QCOMPARE(store.read(), QStringLiteral("kept"));
        store.write(QStringLiteral("next"));
        QCOMPARE(store.read(), QStringLiteral("next"));
        QVERIFY(!QFile::exists(store.path() + QStringLiteral(".tmp")));
    }

    void valuesThatWouldNotReadBackAreRefused_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("nul") << QStringLiteral("a") + QChar(0) + QStringLiteral("b");
        QTest::newRow("trailing newline") << QStringLiteral("abc\n");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800));
    }
    void valuesThatWouldNotReadBackAreRefused() {
        QFETCH(QString, value);
        QTemporaryDir dir;
        const PasswordStore store(dir.path());
        store.write(QStringLiteral("old"));
        QCOMPARE(writeError(store, value), QStringLiteral("'Passw' の設定に失敗しました"));
        QCOMPARE(store.read(), QStringLiteral("old"));
    }

    void nonTextValueIsReported_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("invalid utf-8") << QByteArray("\xff\xfe\x00x", 4);
        QTest::newRow("embedded nul") << QByteArray("ab\0cd", 5);
    }
    void nonTextValueIsReported() {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const PasswordStore store(dir.path());
        QFile f(store.path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        QCOMPARE(readError(store), QStringLiteral("'Passw' のデータ型が不正です"));
    }

    void directoryInPlaceOfValueIsReported() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Passw")));
        QCOMPARE(readError(PasswordStore(dir.path())),
                 QStringLiteral("'Passw' のデータ型が不正です"));
    }

    void handEditedLineEndIsNotPartOfPassword() {
        QTemporaryDir dir;
        const PasswordStore store(dir.path());
        QFile f(store.path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("pit\r\n");
        f.close();
        QCOMPARE(store.read(), QStringLiteral("pit"));
    }
};

QTEST_GUILESS_MAIN(tst_PasswordStore)
#include "tst_passwordstore.moc"
