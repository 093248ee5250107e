#include "Database.h"

#include "FloatText.h"
#include "Journal.h"
#include "NumberText.h"
#include "SpeedTable.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <sqlite3.h>

#include <unordered_map>

QString engineMessage(const QSqlError& e) {
    // A server's message may end in a line break.
    const QString m = e.databaseText().trimmed();
    return m.isEmpty() ? e.text() : m;
}

QSqlQuery runBound(QSqlDatabase db, const QString& sql, const QVariantList& values) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (values.isEmpty()) {
        if (!q.exec(sql))
            throw DbError(engineMessage(q.lastError()));
        return q;
    }
    if (!q.prepare(sql))
        throw DbError(engineMessage(q.lastError()));
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        throw DbError(engineMessage(q.lastError()));
    return q;
}

namespace {

// Values are always texts or numbers; an empty text is an empty text, never
// NULL (an empty ID must match the rows whose ID is empty). By position, so
// that a kept statement takes the values of each run anew.
void bindAll(QSqlQuery& q, const QVariantList& values) {
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& v = values[i];
        if (v.metaType().id() == QMetaType::QString && v.toString().isNull())
            q.bindValue(i, QString(QLatin1String("")));
        else
            q.bindValue(i, v);
    }
}

// The kept statements of connection "DB", by their text; emptied before the
// connection closes.
std::unordered_map<QString, std::unique_ptr<QSqlQuery>>& keptStatements() {
    static std::unordered_map<QString, std::unique_ptr<QSqlQuery>> kept;
    return kept;
}

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

void releaseKept() {
    keptStatements().clear();
    literalStatements().statements.clear();
    literalStatements().handle = nullptr;
}

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

Query::Query(Keep keep) : keep_(keep) {}
Query::~Query() {
    close();
}

void Query::setSql(const QStringList& lines, const QVariantList& values) {
    close();
    sql_ = lines.join(QLatin1Char('\n'));
    values_ = values;
}

void Query::close() {
    if (q_ && q_ != own_.get())
        q_->finish(); // a kept statement stays prepared, its result goes
    q_ = nullptr;
    own_.reset();
    open_ = false;
    onRow_ = false;
}

bool Query::isOpen() const {
    return open_;
}

QSqlQuery* Query::prepared() {
    if (keep_ == Kept) {
        auto& kept = keptStatements();
        const auto found = kept.find(sql_);
        if (found != kept.end())
            return found->second.get();
        auto q = std::make_unique<QSqlQuery>(SpeedDb::database());
        q->setForwardOnly(true);
        if (!q->prepare(sql_))
            throw DbError(engineMessage(q->lastError()));
        return kept.emplace(sql_, std::move(q)).first->second.get();
    }
    own_ = std::make_unique<QSqlQuery>(SpeedDb::database());
    own_->setForwardOnly(false);
    if (!own_->prepare(sql_))
        throw DbError(engineMessage(own_->lastError()));
    return own_.get();
}

void Query::exec() {
    close();
    QSqlQuery* q = prepared();
    bindAll(*q, values_);
    const bool ok = q->exec();
    const QSqlError error = q->lastError();
    if (q != own_.get())
        q->finish();
    own_.reset();
    if (!ok)
        throw DbError(engineMessage(error));
}

void Query::open() {
    close();
    QSqlQuery* q = prepared();
    bindAll(*q, values_);
    if (!q->exec()) {
        const QSqlError error = q->lastError();
        if (q != own_.get())
            q->finish();
        own_.reset();
        throw DbError(engineMessage(error));
    }
    q_ = q;
    open_ = true;
    onRow_ = q_->first();
}

bool Query::isEmpty() const {
    return !open_ || !onRow_;
}

int Query::recordCount() {
    if (!open_)
        return 0;
    const int at = q_->at();
    int n = 0;
    if (q_->last())
        n = q_->at() + 1;
    if (at >= 0)
        q_->seek(at);
    else
        q_->first();
    return n;
}

bool Query::next() {
    if (!open_)
        return false;
    onRow_ = q_->next();
    return onRow_;
}

QVariant Query::value(const QString& column) const {
    if (!open_ || !onRow_)
        return {};
    const int i = q_->record().indexOf(column);
    if (i < 0)
        throw DbError(
            QCoreApplication::translate("SpeedDb", "フィールド '%1' が見つかりません").arg(column));
    return q_->value(i);
}

QString Query::asText(const QString& column) const {
    return textOf(value(column));
}

double Query::asFloat(const QString& column) const {
    return floatOf(value(column));
}

QString textOf(const QVariant& v) {
    if (v.isNull())
        return {};
    switch (v.metaType().id()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
    case QMetaType::UInt:
        return FloatToStr(v.toDouble());
    default:
        return v.toString();
    }
}

double floatOf(const QVariant& v) {
    if (v.isNull())
        return 0;
    if (v.metaType().id() == QMetaType::QString) {
        const QString t = v.toString().trimmed();
        if (t.isEmpty())
            return 0;
        if (const std::optional<double> d = TextToFloat(t))
            return *d;
        throw DbError(
            QCoreApplication::translate("SpeedDb", "'%1' は正しい浮動小数点数値ではありません")
                .arg(v.toString()));
    }
    // A real the engine read from "1e999" is infinite: no number either.
    if (const std::optional<double> d = FiniteFloat(v.toDouble()))
        return *d;
    throw DbError(
        QCoreApplication::translate("SpeedDb", "'%1' は正しい浮動小数点数値ではありません")
            .arg(v.toString()));
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

void execSql(const QStringList& lines, const QVariantList& values) {
    Query q;
    q.setSql(lines, values);
    q.exec();
}

namespace {
bool groupOpen = false;
}

Batch::Batch() {
    // Inside a group the work joins the group's transaction. Anywhere else a
    // BEGIN that fails must stop the work: run in autocommit it would keep
    // what a rollback (a dry run, a failed step) means to undo.
    if (BatchGroup::open())
        return;
    QSqlDatabase db = SpeedDb::database();
    if (!db.transaction())
        throw DbError(engineMessage(db.lastError()));
    active_ = true;
}

Batch::~Batch() {
    if (!active_)
        return;
    SpeedDb::database().rollback();
    qWarning("Korvane: a batch of statements ended without commit and was rolled back");
}

void Batch::rollback() {
    if (!active_)
        return;
    active_ = false;
    SpeedDb::database().rollback();
}

void Batch::commit() {
    if (!active_)
        return;
    active_ = false;
    QSqlDatabase db = SpeedDb::database();
    if (!db.commit()) {
        const QString why = engineMessage(db.lastError());
        db.rollback();
        throw DbError(why);
    }
}

BatchGroup::BatchGroup() {
    QSqlDatabase db = SpeedDb::database();
    if (!db.transaction())
        throw DbError(engineMessage(db.lastError()));
    groupOpen = true;
}

BatchGroup::~BatchGroup() {
    if (!groupOpen)
        return;
    groupOpen = false;
    SpeedDb::database().rollback();
}

void BatchGroup::commit() {
    if (!groupOpen)
        return;
    groupOpen = false;
    QSqlDatabase db = SpeedDb::database();
    if (!db.commit()) {
        const QString why = engineMessage(db.lastError());
        db.rollback();
        throw DbError(why);
    }
}

bool BatchGroup::open() {
    return groupOpen;
}
