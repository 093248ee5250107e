#include "ClassStore.h"

#include "Database.h"
#include "Journal.h"
#include "Names.h"

#include <QCoreApplication>
#include <QSqlQuery>

namespace {

QSqlQuery sql(const QString& statement, const QVariantList& values = {}) {
    return runBound(SpeedDb::database(), statement, values);
}

void checkClassName(const QString& name) {
    if (name.trimmed().isEmpty())
        throw RecordError(
            QCoreApplication::translate("ClassesRoom", "クラス名を入力してください。"));
    QSqlQuery q = sql(QStringLiteral("select 1 from class where name=?"), {name});
    if (q.next())
        throw RecordError(
            QCoreApplication::translate("ClassesRoom", "クラス「%1」はすでにあります。").arg(name));
}

void checkEntry(qint64 classId, const QString& tpid, const QString& name, qint64 exceptId) {
    if (tpid.trimmed().isEmpty())
        throw RecordError(QCoreApplication::translate("ClassesRoom", "IDを入力してください。"));
    checkName(name);
    QSqlQuery q = sql(QStringLiteral("select 1 from entry where class_id=? and tpid=? and id<>?"),
                      {classId, tpid, exceptId});
    if (q.next())
        throw RecordError(QCoreApplication::translate(
                              "ClassesRoom", "ID %1 はこのクラスにすでにエントリーしています。")
                              .arg(tpid));
}

qint64 insertClass(const QString& name) {
    QSqlQuery q = sql(QStringLiteral("insert into class (name, ord) "
                                     "values (?, (select ifnull(max(ord),0)+1 from class))"),
                      {name});
    return q.lastInsertId().toLongLong();
}

qint64 insertEntry(qint64 classId, const QString& tpid, const QString& name,
                   const QString& number) {
    // The first entry of a transponder is the one it runs in.
    QSqlQuery q = sql(QStringLiteral("insert into entry (class_id, tpid, name, number, current) "
                                     "values (?,?,ifnull(?,''),ifnull(?,''), not exists "
                                     "(select 1 from entry where tpid=? and current=1))"),
                      {classId, tpid, name, number, tpid});
    return q.lastInsertId().toLongLong();
}

ClassStore::Entry entryOf(const QSqlQuery& q) {
    return {q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toString(),
            q.value(3).toString(),   q.value(4).toString(),   q.value(5).toInt() == 1};
}

const QString kEntryColumns = QStringLiteral("select id, class_id, tpid, name, number, current "
                                             "from entry ");

} // namespace

void ClassStore::createSchema(QSqlDatabase db) {
    runBound(db, QStringLiteral("create table if not exists class (id integer primary key, "
                                "name text not null unique, ord integer not null)"));
    runBound(db, QStringLiteral("create table if not exists entry (id integer primary key, "
                                "class_id integer not null references class(id), "
                                "tpid text not null, name text not null default '', "
                                "number text not null default '', "
                                "current integer not null default 0, unique(class_id, tpid))"));
    runBound(db, QStringLiteral("create unique index if not exists entry_current "
                                "on entry(tpid) where current=1"));
}

QVector<ClassStore::RaceClass> ClassStore::classes() {
    QSqlQuery q = sql(QStringLiteral("select id, name, ord from class order by ord, id"));
    QVector<RaceClass> out;
    while (q.next())
        out.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toInt()});
    return out;
}

qint64 ClassStore::addClass(const QString& name) {
    checkClassName(name);
    return insertClass(name);
}

void ClassStore::renameClass(qint64 id, const QString& name) {
    checkClassName(name);
    sql(QStringLiteral("update class set name=? where id=?"), {name, id});
}

void ClassStore::moveClass(qint64 id, int step) {
    const QVector<RaceClass> all = classes();
    int at = -1;
    for (int i = 0; i < all.size(); ++i)
        if (all[i].id == id)
            at = i;
    const int to = at + step;
    if (at < 0 || to < 0 || to >= all.size())
        return;
    Batch batch;
    try {
        // Renumbered as listed, so that equal orders of an older file part too.
        for (int i = 0; i < all.size(); ++i) {
            const int place = i == at ? to : i == to ? at : i;
            sql(QStringLiteral("update class set ord=? where id=?"), {place + 1, all[i].id});
        }
        batch.commit();
    } catch (...) {
        batch.rollback();
        throw;
    }
}

void ClassStore::deleteClass(qint64 id) {
    const qint64 attempts = Journal::countInClass(id);
    if (attempts > 0)
        throw RecordError(
            QCoreApplication::translate(
                "ClassesRoom",
                "このクラスには計測が %1 件あります。計測のあるクラスは削除できません。")
                .arg(attempts));
    Batch batch;
    try {
        sql(QStringLiteral("delete from entry where class_id=?"), {id});
        sql(QStringLiteral("delete from class where id=?"), {id});
        batch.commit();
    } catch (...) {
        batch.rollback();
        throw;
    }
}

QVector<ClassStore::Entry> ClassStore::entries(qint64 classId) {
    QSqlQuery q =
        classId > 0
            ? sql(kEntryColumns + QStringLiteral("where class_id=? order by tpid, id"), {classId})
            : sql(kEntryColumns + QStringLiteral("order by class_id, tpid, id"));
    QVector<Entry> out;
    while (q.next())
        out.append(entryOf(q));
    return out;
}

std::optional<ClassStore::Entry> ClassStore::entry(qint64 id) {
    QSqlQuery q = sql(kEntryColumns + QStringLiteral("where id=?"), {id});
    if (!q.next())
        return std::nullopt;
    return entryOf(q);
}

qint64 ClassStore::addEntry(qint64 classId, const QString& tpid, const QString& name,
                            const QString& number) {
    checkEntry(classId, tpid, name, 0);
    return insertEntry(classId, tpid, name, number);
}

void ClassStore::updateEntry(qint64 id, const QString& tpid, const QString& name,
                             const QString& number) {
    const std::optional<Entry> old = entry(id);
    if (!old)
        return;
    checkEntry(old->classId, tpid, name, id);
    Batch batch;
    try {
        // A new ID is a transponder of its own: current only where it has no
        // current entry yet.
        sql(QStringLiteral(
                "update entry set tpid=?, name=ifnull(?,''), number=ifnull(?,''), current=case "
                "when tpid=? then current when exists (select 1 from entry e "
                "where e.tpid=? and e.current=1) then 0 else 1 end where id=?"),
            {tpid, name, number, tpid, tpid, id});
        batch.commit();
    } catch (...) {
        batch.rollback();
        throw;
    }
}

void ClassStore::deleteEntry(qint64 id) {
    sql(QStringLiteral("delete from entry where id=?"), {id});
}

void ClassStore::makeCurrent(qint64 entryId) {
    Batch batch;
    try {
        sql(QStringLiteral("update entry set current=0 where current=1 and "
                           "tpid=(select tpid from entry where id=?)"),
            {entryId});
        sql(QStringLiteral("update entry set current=1 where id=?"), {entryId});
        batch.commit();
    } catch (...) {
        batch.rollback();
        throw;
    }
}

QHash<QString, Journal::AttemptClass> ClassStore::currentClasses() {
    QSqlQuery q = sql(QStringLiteral("select e.tpid, c.id, c.name from entry e "
                                     "join class c on c.id=e.class_id where e.current=1"));
    QHash<QString, Journal::AttemptClass> out;
    while (q.next())
        out.insert(q.value(0).toString(), {q.value(1).toLongLong(), q.value(2).toString()});
    return out;
}

int ClassStore::addEntries(const QVector<NewEntry>& rows) {
    QHash<QString, qint64> classIds;
    for (const RaceClass& c : classes())
        classIds.insert(c.name, c.id);
    Batch batch;
    try {
        for (const NewEntry& r : rows) {
            auto found = classIds.find(r.className);
            if (found == classIds.end())
                found = classIds.insert(r.className, insertClass(r.className));
            insertEntry(*found, r.tpid, r.name, r.number);
        }
        batch.commit();
    } catch (...) {
        batch.rollback();
        throw;
    }
    return int(rows.size());
}
