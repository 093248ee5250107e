#include "Database.h"

#include "FloatText.h"
#include "Journal.h"
#include "SpeedTable.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

QString engineMessage(const QSqlError& e) {
    QString m = e.databaseText();
    if (m.isEmpty())
        m = e.text();
    return m;
}

QSqlQuery runOn(QSqlDatabase db, const QString& sql) {
    QSqlQuery q(db);
    if (!q.exec(sql))
        throw DbError(engineMessage(q.lastError()));
    return q;
}

// Values are always texts or numbers; an empty text is an empty text, never
// NULL (an empty ID must match the rows whose ID is empty).
void bindAll(QSqlQuery& q, const QVariantList& values) {
    for (const QVariant& v : values) {
        if (v.metaType().id() == QMetaType::QString && v.toString().isNull())
            q.addBindValue(QString(QLatin1String("")));
        else
            q.addBindValue(v);
    }
}

QString pragmaValue(QSqlDatabase db, const QString& sql) {
    QSqlQuery q = runOn(db, sql);
    return q.next() ? q.value(0).toString() : QString();
}

} // namespace

namespace SpeedDb {

void open(const QString& path) {
    close();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    db.setDatabaseName(path);
    const auto fail = [&](const QString& why) {
        Journal::releaseStatements();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(kConnection);
        throw DbError(QStringLiteral("データベース %1 を開けません: %2")
                          .arg(QFileInfo(path).absoluteFilePath(), why));
    };
    if (!db.open())
        fail(engineMessage(db.lastError()));
    try {
        // Write-ahead log with full synchronous commits: a passing, once
        // stored, survives a killed process and a power cut.
        if (pragmaValue(db, QStringLiteral("pragma journal_mode=wal")).compare(
                QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            fail(QStringLiteral("write-ahead logging is not available"));
        runOn(db, QStringLiteral("pragma synchronous=full"));
        if (pragmaValue(db, QStringLiteral("pragma synchronous")) != QLatin1String("2"))
            fail(QStringLiteral("full synchronous commits are not available"));
        if (pragmaValue(db, QStringLiteral("pragma journal_mode")).compare(
                QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            fail(QStringLiteral("write-ahead logging is not in force"));
        runOn(db, QStringLiteral("pragma busy_timeout=2000"));
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
    Journal::releaseStatements();
    if (!QSqlDatabase::contains(kConnection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(kConnection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(kConnection);
}

bool isOpen() {
    return QSqlDatabase::contains(kConnection) && QSqlDatabase::database(kConnection, false).isOpen();
}

QSqlDatabase database() { return QSqlDatabase::database(kConnection, false); }

} // namespace SpeedDb

Query::Query() = default;
Query::~Query() = default;

void Query::setSql(const QStringList& lines, const QVariantList& values) {
    close();
    sql_ = lines.join(QLatin1Char('\n'));
    values_ = values;
}

void Query::close() {
    q_.reset();
    open_ = false;
    onRow_ = false;
}

bool Query::isOpen() const { return open_; }

void Query::exec() {
    close();
    QSqlQuery q(SpeedDb::database());
    if (!q.prepare(sql_))
        throw DbError(engineMessage(q.lastError()));
    bindAll(q, values_);
    if (!q.exec())
        throw DbError(engineMessage(q.lastError()));
}

void Query::open() {
    close();
    auto q = std::make_unique<QSqlQuery>(SpeedDb::database());
    q->setForwardOnly(false);
    if (!q->prepare(sql_))
        throw DbError(engineMessage(q->lastError()));
    bindAll(*q, values_);
    if (!q->exec())
        throw DbError(engineMessage(q->lastError()));
    q_ = std::move(q);
    open_ = true;
    onRow_ = q_->first();
}

bool Query::isEmpty() const { return !open_ || !onRow_; }

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
        throw DbError(QStringLiteral("フィールド '%1' が見つかりません").arg(column));
    return q_->value(i);
}

QString Query::asText(const QString& column) const {
    const QVariant v = value(column);
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

double Query::asFloat(const QString& column) const {
    const QVariant v = value(column);
    if (v.isNull())
        return 0;
    if (v.metaType().id() == QMetaType::QString) {
        const QString t = v.toString().trimmed();
        if (t.isEmpty())
            return 0;
        bool ok = false;
        const double d = t.toDouble(&ok);
        if (!ok)
            throw DbError(QStringLiteral("'%1' は正しい浮動小数点数値ではありません").arg(v.toString()));
        return d;
    }
    return v.toDouble();
}

void execSql(const QStringList& lines, const QVariantList& values) {
    Query q;
    q.setSql(lines, values);
    q.exec();
}

Batch::Batch() { active_ = SpeedDb::database().transaction(); }

Batch::~Batch() {
    if (!active_)
        return;
    SpeedDb::database().rollback();
    qWarning("Korvane: a batch of statements ended without commit and was rolled back");
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
