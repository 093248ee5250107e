#include "Database.h"

#include "FloatText.h"
#include "Journal.h"
#include "NumberText.h"
#include "Review.h"
#include "SpeedTable.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <unordered_map>

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

QString pragmaValue(QSqlDatabase db, const QString& sql) {
    QSqlQuery q = runOn(db, sql);
    return q.next() ? q.value(0).toString() : QString();
}

} // namespace

namespace SpeedDb {

namespace {
const int kBusyTimeoutMs = 5000;
}

void open(const QString& path) {
    close();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    db.setDatabaseName(path);
    const auto fail = [&](const QString& why) {
        Journal::releaseStatements();
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
        runOn(db, QStringLiteral("pragma busy_timeout=%1").arg(kBusyTimeoutMs));
        // Write-ahead log with full synchronous commits: a passing, once
        // stored, survives a killed process and a power cut.
        if (pragmaValue(db, QStringLiteral("pragma journal_mode=wal"))
                .compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            fail(QStringLiteral("write-ahead logging is not available"));
        runOn(db, QStringLiteral("pragma synchronous=full"));
        if (pragmaValue(db, QStringLiteral("pragma synchronous")) != QLatin1String("2"))
            fail(QStringLiteral("full synchronous commits are not available"));
        if (pragmaValue(db, QStringLiteral("pragma journal_mode"))
                .compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            fail(QStringLiteral("write-ahead logging is not in force"));
        SpeedTable::createSchema(db);
        // The journal tables: on a fresh file and on one of an older version.
        Journal::createSchema(db);
        // What a best speed is derived from after a review.
        Review::createSchema(db);
    } catch (const DbError& e) {
        if (!QSqlDatabase::contains(kConnection))
            throw;
        fail(e.message());
    }
}

void close() {
    keptStatements().clear();
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

void execSql(const QStringList& lines, const QVariantList& values) {
    Query q;
    q.setSql(lines, values);
    q.exec();
}

namespace {
bool groupOpen = false;
}

Batch::Batch() {
    if (!BatchGroup::open())
        active_ = SpeedDb::database().transaction();
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
