#include "Database.h"
#include "DatabaseDetail.h"

#include "Journal.h"
#include "SpeedTable.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

using dbdetail::releaseKept;

namespace {

QString pragmaValue(QSqlDatabase db, const QString& sql) {
    QSqlQuery q = runBound(db, sql);
    return q.next() ? q.value(0).toString() : QString();
}

} // namespace

namespace SpeedDb {

namespace {
const int kBusyTimeoutMs = 5000;
const int kCheckpointWaitMs = 250;
const qint64 kJournalSizeLimit = 4 << 20;
} // namespace

void open(const QString& path) {
    close();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    db.setDatabaseName(path);
    const auto fail = [&](const QString& why) {
        releaseKept();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(kConnection);
        throw DbError(QCoreApplication::translate("SpeedDb", "データベース %1 を開けません: %2")
                          .arg(QFileInfo(path).absoluteFilePath(), why));
    };
    if (!db.open())
        fail(engineMessage(db.lastError()));
    try {
        // Another program (a backup, a look with an SQLite tool) may hold
        // the file for a moment, also during the start-up checks: wait for
        // it rather than fail at once.
        runBound(db, QStringLiteral("pragma busy_timeout=%1").arg(kBusyTimeoutMs));
        // Write-ahead log with full synchronous commits: a passing, once
        // stored, survives a killed process and a power cut.
        if (pragmaValue(db, QStringLiteral("pragma journal_mode=wal"))
                .compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            fail(QStringLiteral("write-ahead logging is not available"));
        // After a checkpoint the log is cut back to this size rather than
        // keep the largest it ever grew to (on a small disk, all of it).
        runBound(db, QStringLiteral("pragma journal_size_limit=%1").arg(kJournalSizeLimit));
        runBound(db, QStringLiteral("pragma synchronous=full"));
        if (pragmaValue(db, QStringLiteral("pragma synchronous")) != QLatin1String("2"))
            fail(QStringLiteral("full synchronous commits are not available"));
        if (pragmaValue(db, QStringLiteral("pragma journal_mode"))
                .compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            fail(QStringLiteral("write-ahead logging is not in force"));
        // The statements of every passing run on the driver's handle with
        // this program's engine: both must be one library.
        if (pragmaValue(db, QStringLiteral("select sqlite_version()")) !=
            QLatin1String(sqlite3_libversion()))
            fail(QStringLiteral("the SQLite driver does not use the system's SQLite library"));
        SpeedTable::createSchema(db);
        // The journal tables: on a fresh file and on one of an older version.
        Journal::createSchema(db);
    } catch (const DbError& e) {
        if (!QSqlDatabase::contains(kConnection))
            throw;
        fail(e.message());
    }
}

void close() {
    releaseKept();
    if (!QSqlDatabase::contains(kConnection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(kConnection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(kConnection);
}

bool truncateLog() {
    if (!isOpen())
        return false;
    QSqlDatabase db = database();
    QSqlQuery q(db);
    // It waits for every reader (the live page's, the publisher's) to let
    // go of the log: not for the whole busy time-out, on the GUI thread. It
    // is tried again with the next attempt to store.
    q.exec(QStringLiteral("pragma busy_timeout=%1").arg(kCheckpointWaitMs));
    // The statement answers busy (non-zero) when it could not finish.
    const bool done = q.exec(QStringLiteral("pragma wal_checkpoint(TRUNCATE)")) && q.next() &&
                      q.value(0).toInt() == 0;
    q.finish();
    q.exec(QStringLiteral("pragma busy_timeout=%1").arg(kBusyTimeoutMs));
    return done;
}

bool isOpen() {
    return QSqlDatabase::contains(kConnection) &&
           QSqlDatabase::database(kConnection, false).isOpen();
}

QSqlDatabase database() {
    return QSqlDatabase::database(kConnection, false);
}

} // namespace SpeedDb
