#include "Outbox.h"

#include "Database.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

void run(QSqlDatabase db, const char* sql) {
    QSqlQuery q(db);
    if (!q.exec(QString::fromLatin1(sql))) {
        const QSqlError e = q.lastError();
        throw DbError(e.databaseText().isEmpty() ? e.text() : e.databaseText());
    }
}

} // namespace

void Outbox::install(QSqlDatabase db) {
    run(db, "create table if not exists outbox ("
            "seq integer primary key autoincrement, attempt_id integer not null)");
    run(db, "create trigger if not exists outbox_attempt_insert after insert on attempt "
            "begin insert into outbox (attempt_id) values (new.id); end");
    run(db, "create trigger if not exists outbox_attempt_update after update on attempt "
            "begin insert into outbox (attempt_id) values (new.id); end");
}

void Outbox::uninstall(QSqlDatabase db) {
    run(db, "drop trigger if exists outbox_attempt_insert");
    run(db, "drop trigger if exists outbox_attempt_update");
}
