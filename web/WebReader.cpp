#include "WebReader.h"

#include "Database.h"
#include "FloatText.h"

#include <QJsonArray>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

namespace {

QString engineMessage(const QSqlError& e) {
    return e.databaseText().isEmpty() ? e.text() : e.databaseText();
}

// A bound statement, run at once; raises DbError.
QSqlQuery run(QSqlDatabase db, const QString& sql, const QVariantList& values = {}) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw DbError(engineMessage(q.lastError()));
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        throw DbError(engineMessage(q.lastError()));
    return q;
}

// Numbers in the program's decimal form, other stored texts as they stand.
QString speedText(const QVariant& v) {
    if (v.isNull())
        return {};
    if (v.metaType().id() == QMetaType::QString)
        return v.toString();
    return FloatToStr(v.toDouble());
}

// The place after a row of the ranking: its speed as stored (number or
// text, which order differently) and its rowid.
QString cursorOf(const QVariant& speed, qint64 rowid) {
    const bool text = speed.metaType().id() == QMetaType::QString;
    return QString::number(rowid) + (text ? QLatin1String("~t") : QLatin1String("~n")) +
           (text ? speed.toString() : QString::number(speed.toDouble(), 'g', 17));
}

bool parseCursor(const QString& c, QVariant* speed, qint64* rowid) {
    const qsizetype at = c.indexOf(QLatin1Char('~'));
    if (at <= 0 || at + 1 >= c.size())
        return false;
    bool ok = false;
    *rowid = c.left(at).toLongLong(&ok);
    if (!ok)
        return false;
    const QString value = c.mid(at + 2);
    if (c.at(at + 1) == QLatin1Char('t')) {
        *speed = value;
        return true;
    }
    const double d = value.toDouble(&ok);
    *speed = d;
    return ok && c.at(at + 1) == QLatin1Char('n');
}

QString likePattern(const QString& part) {
    QString p = part;
    p.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    p.replace(QLatin1String("%"), QLatin1String("\\%"));
    p.replace(QLatin1String("_"), QLatin1String("\\_"));
    return QLatin1Char('%') + p + QLatin1Char('%');
}

} // namespace

WebReader::WebReader(QString dbPath)
    : path_(std::move(dbPath)),
      connection_(QStringLiteral("web-read-%1").arg(quintptr(QThread::currentThreadId()), 0, 16)) {}

WebReader::~WebReader() {
    if (!QSqlDatabase::contains(connection_))
        return;
    QSqlDatabase::database(connection_, false).close();
    QSqlDatabase::removeDatabase(connection_);
}

QSqlDatabase WebReader::db() {
    if (QSqlDatabase::contains(connection_)) {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen())
            return db;
    }
    QSqlDatabase db = QSqlDatabase::contains(connection_)
                          ? QSqlDatabase::database(connection_, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path_);
    // A writer's commit holds the file for a moment only; a page is better
    // answered a little late than refused.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=500"));
    if (!db.open())
        throw DbError(engineMessage(db.lastError()));
    run(db, QStringLiteral("pragma query_only=1"));
    return db;
}

int WebReader::rankOf(const QVariant& speed) {
    QSqlQuery q =
        run(db(), QStringLiteral("select count(*) from speed where speed>0 and speed>?"), {speed});
    return q.next() ? q.value(0).toInt() + 1 : 1;
}

QVector<webtext::RankRow> WebReader::top(int n) {
    return ranking(QString(), n, QString()).rows;
}

WebReader::Page WebReader::ranking(const QString& cursor, int limit, const QString& search) {
    QString sql = QStringLiteral("select rowid,tpid,pname,speed from speed where speed>0");
    QVariantList values;
    QVariant afterSpeed;
    qint64 afterRowid = 0;
    if (!cursor.isEmpty() && parseCursor(cursor, &afterSpeed, &afterRowid)) {
        sql += QStringLiteral(" and (speed,rowid)<(?,?)");
        values << afterSpeed << afterRowid;
    }
    if (!search.isEmpty()) {
        sql += QStringLiteral(" and (tpid like ? escape '\\' or pname like ? escape '\\')");
        values << likePattern(search) << likePattern(search);
    }
    sql += QStringLiteral(" order by speed desc, rowid desc limit ?");
    values << limit;

    Page page;
    QVector<QPair<QVariant, qint64>> keys; // speed as stored and rowid of each row
    {
        QSqlQuery q = run(db(), sql, values);
        while (q.next()) {
            webtext::RankRow r;
            keys.push_back({q.value(3), q.value(0).toLongLong()});
            r.tpid = q.value(1).toString();
            r.name = q.value(2).toString();
            r.speedText = speedText(q.value(3));
            page.rows.push_back(r);
        }
    }
    // Equal speeds share a rank. Unfiltered, the rows before the page are
    // counted once through the index and the page's own order does the
    // rest; a search's rows are far apart, each speed is counted.
    qint64 before = -1;
    for (int i = 0; i < page.rows.size(); ++i) {
        if (i > 0 && keys[i].first == keys[i - 1].first) {
            page.rows[i].rank = page.rows[i - 1].rank;
        } else if (i == 0 || !search.isEmpty()) {
            page.rows[i].rank = rankOf(keys[i].first);
        } else {
            if (before < 0) {
                QSqlQuery q = run(db(),
                                  QStringLiteral("select count(*) from speed where speed>0 "
                                                 "and (speed,rowid)>(?,?)"),
                                  {keys[0].first, keys[0].second});
                before = q.next() ? q.value(0).toLongLong() : 0;
            }
            page.rows[i].rank = int(before + i + 1);
        }
    }
    if (page.rows.size() == limit)
        page.next = cursorOf(keys.back().first, keys.back().second);
    return page;
}

QString WebReader::name(const QString& tpid) {
    QSqlQuery q = run(db(), QStringLiteral("select pname from speed where tpid=?"), {tpid});
    return q.next() ? q.value(0).toString() : QString();
}

std::optional<webtext::SpeedEvent> WebReader::latestShown(bool suspectShown) {
    QSqlQuery q =
        run(db(), QStringLiteral(
                      "select a.tpid, a.speed_text, a.measured_ms, s.pname from attempt a "
                      "left join speed s on s.tpid=a.tpid where a.status in ('ok','accepted'%1) "
                      "order by a.id desc limit 1")
                      .arg(suspectShown ? QStringLiteral(",'suspect'") : QString()));
    if (!q.next())
        return std::nullopt;
    webtext::SpeedEvent e;
    e.tpid = q.value(0).toString();
    e.speedText = q.value(1).toString();
    e.atMs = q.value(2).toLongLong();
    e.name = q.value(3).toString();
    return e;
}

std::optional<QJsonObject> WebReader::driver(const QString& tpid, int maxAttempts,
                                             bool suspectShown) {
    QJsonObject out{{QStringLiteral("tpid"), tpid}};
    bool known = false;
    {
        QSqlQuery q =
            run(db(), QStringLiteral("select pname, speed from speed where tpid=?"), {tpid});
        if (q.next()) {
            known = true;
            out.insert(QStringLiteral("name"), q.value(0).toString());
            out.insert(QStringLiteral("best"), speedText(q.value(1)));
        }
    }
    QJsonArray attempts;
    {
        // Newest first through index attempt_tpid, then turned oldest first.
        // Every status but these is left out, those added later included.
        QSqlQuery q = run(db(),
                          QStringLiteral("select id, speed_text, speed, measured_ms from attempt "
                                         "where tpid=? and (status in ('ok','accepted') or "
                                         "(status='suspect' and ?=1)) order by id desc limit ?"),
                          {tpid, suspectShown ? 1 : 0, maxAttempts});
        while (q.next())
            attempts.prepend(QJsonObject{{QStringLiteral("id"), q.value(0).toDouble()},
                                         {QStringLiteral("speed"), q.value(1).toString()},
                                         {QStringLiteral("kmh"), q.value(2).toDouble()},
                                         {QStringLiteral("at"), q.value(3).toDouble()}});
    }
    if (!known && attempts.isEmpty())
        return std::nullopt;
    if (!known)
        out.insert(QStringLiteral("name"), QString());
    out.insert(QStringLiteral("attempts"), attempts);
    return out;
}
