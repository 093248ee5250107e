#pragma once

// A read of a station's database that changes nothing in the file, for the
// checks that run on a copy someone handed over (the verifier, its bundles).
#include "Chain.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QVariantList>

#include <sqlite3.h>

#include <initializer_list>

namespace ChainRead {

// What stops a read: the file, the engine's message.
struct Failure {
    QString why;
};

class Db {
public:
    explicit Db(const QString& path) {
        if (!QFileInfo::exists(path))
            throw Failure{QStringLiteral("%1: no database").arg(QDir::toNativeSeparators(path))};
        // Read-write only so that a log left by a killed program is read;
        // nothing is written, and the log is not folded in at the end.
        int rc = sqlite3_open_v2(path.toUtf8().constData(), &db_, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
            rc = sqlite3_open_v2(path.toUtf8().constData(), &db_, SQLITE_OPEN_READONLY, nullptr);
        }
        if (rc != SQLITE_OK) {
            const QString why = QString::fromUtf8(sqlite3_errmsg(db_));
            sqlite3_close(db_);
            db_ = nullptr;
            throw Failure{why};
        }
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_exec(db_, "pragma query_only=1", nullptr, nullptr, nullptr);
    }
    ~Db() { sqlite3_close(db_); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;
    sqlite3* h() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

class Stmt {
public:
    Stmt(const Db& db, const char* sql) {
        if (sqlite3_prepare_v2(db.h(), sql, -1, &s_, nullptr) != SQLITE_OK) {
            const QString why = QString::fromUtf8(sqlite3_errmsg(db.h()));
            sqlite3_finalize(s_);
            throw Failure{why};
        }
    }
    ~Stmt() { sqlite3_finalize(s_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    // Binds one place, the statement started anew.
    Stmt& bind(int place, qint64 v) {
        sqlite3_reset(s_);
        sqlite3_bind_int64(s_, place, v);
        return *this;
    }
    // Binds the places from the first on, the statement started anew.
    Stmt& bind(std::initializer_list<qint64> values) {
        sqlite3_reset(s_);
        int place = 0;
        for (qint64 v : values)
            sqlite3_bind_int64(s_, ++place, v);
        return *this;
    }
    bool step() {
        const int rc = sqlite3_step(s_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            throw Failure{QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(s_)))};
        return false;
    }
    qint64 integer(int c) const { return sqlite3_column_int64(s_, c); }
    QVariant value(int c) const { return Chain::columnValue(s_, c); }
    QVariantList row() const {
        QVariantList r;
        for (int c = 0, n = sqlite3_column_count(s_); c < n; ++c)
            r << value(c);
        return r;
    }

private:
    sqlite3_stmt* s_ = nullptr;
};

} // namespace ChainRead
