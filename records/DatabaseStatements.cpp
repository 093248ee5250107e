#include "Database.h"
#include "DatabaseDetail.h"

#include "FloatText.h"
#include "NumberText.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

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

} // namespace

// The kept statements of connection "DB", by their text; emptied before the
// connection closes.
std::unordered_map<QString, std::unique_ptr<QSqlQuery>>& dbdetail::keptStatements() {
    static std::unordered_map<QString, std::unique_ptr<QSqlQuery>> kept;
    return kept;
}

using dbdetail::keptStatements;

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

void execSql(const QStringList& lines, const QVariantList& values) {
    Query q;
    q.setSql(lines, values);
    q.exec();
}
