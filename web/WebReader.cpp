#include "WebReader.h"

#include "Database.h"
#include "FloatText.h"
#include "Journal.h"
#include "SpeedTable.h"

#include <QJsonArray>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

namespace {

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
    runBound(db, QStringLiteral("pragma query_only=1"));
    return db;
}

int WebReader::rankOf(const QVariant& speed) {
    return SpeedTable::shownFaster(db(), speed) + 1;
}

QVector<webtext::RankRow> WebReader::top(int n) {
    return ranking(QString(), n, QString()).rows;
}

WebReader::Page WebReader::ranking(const QString& cursor, int limit, const QString& search) {
    QVariant afterSpeed;
    qint64 afterRowid = 0;
    if (!cursor.isEmpty() && !parseCursor(cursor, &afterSpeed, &afterRowid))
        afterSpeed = QVariant();
    const QVector<SpeedTable::RankedRow> found = SpeedTable::shownPage(
        db(), afterSpeed, afterRowid, search.isEmpty() ? QString() : likePattern(search), limit);

    Page page;
    QVector<QPair<QVariant, qint64>> keys; // speed as stored and rowid of each row
    for (const SpeedTable::RankedRow& f : found) {
        webtext::RankRow r;
        keys.push_back({f.speedValue, f.rowid});
        r.tpid = f.tpid;
        r.name = f.name;
        r.speedText = speedText(f.speedValue);
        page.rows.push_back(r);
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
            if (before < 0)
                before = SpeedTable::shownBefore(db(), keys[0].first, keys[0].second);
            page.rows[i].rank = int(before + i + 1);
        }
    }
    if (page.rows.size() == limit)
        page.next = cursorOf(keys.back().first, keys.back().second);
    return page;
}

QString WebReader::name(const QString& tpid) {
    const std::optional<SpeedTable::RankedRow> row = SpeedTable::row(db(), tpid);
    return row ? row->name : QString();
}

QString WebReader::className(const QString& tpid) {
    return Journal::latestClass(db(), tpid);
}

QStringList WebReader::classNames() {
    QStringList out;
    for (const Journal::ClassName& c : Journal::classNames(db()))
        out << c.name;
    return out;
}

std::optional<QVector<webtext::RankRow>>
WebReader::classRanking(const QString& className, qint64 sinceMs, bool suspectCounts) {
    qint64 classId = 0;
    if (!className.isEmpty()) {
        const std::optional<qint64> id = Journal::classNamed(db(), className);
        if (!id)
            return std::nullopt;
        classId = *id;
    }
    QVector<webtext::RankRow> rows;
    for (const Journal::RankedBest& b :
         Journal::classRanking(db(), classId, sinceMs, suspectCounts))
        rows.append({b.rank, b.tpid, b.name, b.speedText, QString()});
    return rows;
}

std::optional<webtext::SpeedEvent> WebReader::latestShown(bool suspectShown) {
    const std::optional<Journal::ShownAttempt> a = Journal::latestShown(db(), suspectShown);
    if (!a)
        return std::nullopt;
    webtext::SpeedEvent e;
    e.tpid = a->tpid;
    e.speedText = a->speedText;
    e.atMs = a->measuredMs;
    e.name = a->name;
    e.className = a->className;
    return e;
}

std::optional<QJsonObject> WebReader::driver(const QString& tpid, int maxAttempts,
                                             bool suspectShown) {
    QJsonObject out{{QStringLiteral("tpid"), tpid}};
    const std::optional<SpeedTable::RankedRow> row = SpeedTable::row(db(), tpid);
    if (row) {
        out.insert(QStringLiteral("name"), row->name);
        out.insert(QStringLiteral("best"), speedText(row->speedValue));
    }
    QJsonArray attempts;
    for (const Journal::ShownAttempt& a :
         Journal::shownAttempts(db(), tpid, suspectShown, maxAttempts)) {
        QJsonObject o{{QStringLiteral("id"), double(a.id)},
                      {QStringLiteral("speed"), a.speedText},
                      {QStringLiteral("kmh"), a.kmh},
                      {QStringLiteral("at"), double(a.measuredMs)}};
        // The expanded uncertainty as the station shows it, rounded up.
        if (!a.uText.isEmpty())
            o.insert(QStringLiteral("u"), a.uText);
        attempts.append(o);
    }
    if (!row && attempts.isEmpty())
        return std::nullopt;
    if (!row)
        out.insert(QStringLiteral("name"), QString());
    out.insert(QStringLiteral("attempts"), attempts);
    return out;
}
