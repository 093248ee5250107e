#include "Database.h"
#include "DatabaseDetail.h"

#include <QSqlDriver>

#include <sqlite3.h>

namespace {

// Those of KeptStatement, by the address of their text, with the handle
// they were prepared on. Never destroyed at exit: a statement must not
// outlive its connection, and a program that ends without closing it would
// otherwise tear them down in the wrong order.
struct Literal {
    sqlite3* handle = nullptr;
    std::unordered_map<const char*, std::unique_ptr<KeptStatement>> statements;
};
Literal& literalStatements() {
    static auto* kept = new Literal;
    return *kept;
}

sqlite3* connectionHandle() {
    Literal& l = literalStatements();
    if (!l.handle) {
        const QVariant h = SpeedDb::database().driver()->handle();
        if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0 ||
            !*static_cast<sqlite3* const*>(h.constData()))
            throw DbError(QStringLiteral("the database connection is not open"));
        l.handle = *static_cast<sqlite3* const*>(h.constData());
    }
    return l.handle;
}

} // namespace

void dbdetail::releaseKept() {
    keptStatements().clear();
    literalStatements().statements.clear();
    literalStatements().handle = nullptr;
}

KeptStatement& KeptStatement::of(const char* sql) {
    std::unique_ptr<KeptStatement>& kept = literalStatements().statements[sql];
    if (!kept) {
        sqlite3* h = connectionHandle();
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v3(h, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
            const QString why = QString::fromUtf8(sqlite3_errmsg(h));
            sqlite3_finalize(s);
            literalStatements().statements.erase(sql);
            throw DbError(why);
        }
        kept.reset(new KeptStatement(s));
    }
    return *kept;
}

KeptStatement::~KeptStatement() {
    sqlite3_finalize(s_);
}

void KeptStatement::fail() {
    const QString why = QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(s_)));
    reset();
    throw DbError(why);
}

void KeptStatement::bind(int place, const QString& text) {
    // SQLITE_TRANSIENT: the engine keeps its own copy, as the Qt driver does.
    const void* chars = text.isNull() ? static_cast<const void*>(u"") : text.utf16();
    if (sqlite3_bind_text16(s_, place, chars, int(text.size() * sizeof(char16_t)),
                            SQLITE_TRANSIENT) != SQLITE_OK)
        fail();
}

void KeptStatement::bind(int place, const QByteArray& bytes) {
    if (sqlite3_bind_blob(s_, place, bytes.isNull() ? "" : bytes.constData(), int(bytes.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK)
        fail();
}

void KeptStatement::bind(int place, qint64 value) {
    if (sqlite3_bind_int64(s_, place, value) != SQLITE_OK)
        fail();
}

void KeptStatement::bind(int place, double value) {
    if (sqlite3_bind_double(s_, place, value) != SQLITE_OK)
        fail();
}

void KeptStatement::bindNull(int place) {
    if (sqlite3_bind_null(s_, place) != SQLITE_OK)
        fail();
}

bool KeptStatement::step() {
    const int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        fail();
    reset();
    return false;
}

void KeptStatement::run() {
    while (step()) {
    }
}

void KeptStatement::reset() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
}

int KeptStatement::changes() const {
    return sqlite3_changes(sqlite3_db_handle(s_));
}

qint64 KeptStatement::insertedId() const {
    return sqlite3_last_insert_rowid(sqlite3_db_handle(s_));
}

qint64 KeptStatement::integer(int column) const {
    return sqlite3_column_int64(s_, column);
}

QVariant KeptStatement::value(int column) const {
    switch (sqlite3_column_type(s_, column)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(s_, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(s_, column));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(s_, column)),
                                   sqlite3_column_bytes(s_, column)));
    case SQLITE_NULL:
        return QVariant();
    default: {
        const auto* chars = static_cast<const QChar*>(sqlite3_column_text16(s_, column));
        return QVariant(QString(chars, sqlite3_column_bytes16(s_, column) / int(sizeof(QChar))));
    }
    }
}
