#include "Outbox.h"

#include "Database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {

void run(QSqlDatabase db, const char* sql) {
    runBound(db, QString::fromLatin1(sql));
}

} // namespace

void Outbox::install(QSqlDatabase db) {
    run(db, "create table if not exists outbox ("
            "seq integer primary key autoincrement, attempt_id integer not null)");
    run(db, "create trigger if not exists outbox_attempt_insert after insert on attempt "
            "begin insert into outbox (attempt_id) values (new.id); end");
    run(db, "create trigger if not exists outbox_attempt_update after update on attempt "
            "begin insert into outbox (attempt_id) values (new.id); end");
    instanceId(db);
}

QString Outbox::instanceId(QSqlDatabase db) {
    // A file from before the id gains one at the first start that names a
    // server. Random, so that two stations given the same name never share
    // it.
    run(db, "create table if not exists instance (id text not null)");
    runBound(db,
             QStringLiteral(
                 "insert into instance (id) select ? where not exists (select 1 from instance)"),
             {QUuid::createUuid().toString(QUuid::WithoutBraces)});
    QSqlQuery q = runBound(db, QStringLiteral("select id from instance limit 1"));
    if (!q.next())
        throw DbError(engineMessage(q.lastError()));
    return q.value(0).toString();
}

void Outbox::uninstall(QSqlDatabase db) {
    run(db, "drop trigger if exists outbox_attempt_insert");
    run(db, "drop trigger if exists outbox_attempt_update");
}
