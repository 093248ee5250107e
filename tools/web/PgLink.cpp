#include "PgLink.h"

#include "Database.h"

#include <QSqlError>

#include <utility>

PgLink::PgLink(QString name, QString options)
    : name_(std::move(name)), options_(std::move(options)) {}

PgLink::~PgLink() {
    close();
    QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase PgLink::db() {
    QSqlDatabase db = QSqlDatabase::contains(name_)
                          ? QSqlDatabase::database(name_, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
    if (open_ && db.isOpen())
        return db;
    if (!db.isValid())
        throw DbError(QStringLiteral("PostgreSQL のドライバ (QPSQL) がありません"));
    db.setConnectOptions(options_);
    if (!db.open()) {
        const QString why = engineMessage(db.lastError());
        db.close();
        throw DbError(why);
    }
    open_ = true;
    return db;
}

void PgLink::close() {
    open_ = false;
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::database(name_, false).close();
}
