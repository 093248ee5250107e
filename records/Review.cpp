#include "Review.h"

#include "Database.h"
#include "FloatText.h"
#include "Journal.h"
#include "Names.h"
#include "NumberText.h"
#include "SpeedText.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

namespace {

QString engineMessage(const QSqlError& e) {
    return e.databaseText().isEmpty() ? e.text() : e.databaseText();
}

void run(QSqlDatabase db, const QString& sql) {
    QSqlQuery q(db);
    if (!q.exec(sql))
        throw DbError(engineMessage(q.lastError()));
}

// A stored speed as a number: a text that is no number, or no value, is 0
// (as the measuring rule reads a damaged best).
double numberOf(const QVariant& v) {
    if (v.isNull())
        return 0;
    const std::optional<double> d = v.metaType().id() == QMetaType::QString
                                        ? TextToFloat(v.toString())
                                        : FiniteFloat(v.toDouble());
    return d.value_or(0);
}

struct AttemptRow {
    qint64 id = 0;
    QString tpid;
    double time1 = 0;
    double time2 = 0;
    int distCm = 0;
    double speed = 0;
    QString speedText;
    unsigned flags = 0;
    QString status;
};

std::optional<AttemptRow> attempt(qint64 id) {
    Query q(Query::Kept);
    q.setSql({QStringLiteral("select id,tpid,time1,time2,dist_cm,speed,speed_text,flags,status"),
              QStringLiteral("from attempt where id=?")},
             {id});
    q.open();
    if (q.isEmpty())
        return std::nullopt;
    AttemptRow a;
    a.id = id;
    a.tpid = q.asText(QStringLiteral("tpid"));
    a.time1 = numberOf(q.value(QStringLiteral("time1")));
    a.time2 = numberOf(q.value(QStringLiteral("time2")));
    a.distCm = q.value(QStringLiteral("dist_cm")).toInt();
    a.speed = numberOf(q.value(QStringLiteral("speed")));
    a.speedText = q.asText(QStringLiteral("speed_text"));
    a.flags = q.value(QStringLiteral("flags")).toUInt();
    a.status = q.asText(QStringLiteral("status"));
    return a;
}

void setStatus(qint64 id, const QString& status) {
    Query q(Query::Kept);
    q.setSql({QStringLiteral("update attempt set status=? where id=?")}, {status, id});
    q.exec();
}

struct Base {
    qint64 afterAttempt = 0;
    double speed = 0;
};

Base baseOf(const QString& tpid) {
    Query q(Query::Kept);
    q.setSql({QStringLiteral("select after_attempt,base_speed from best_base where tpid=?")},
             {tpid});
    q.open();
    if (q.isEmpty())
        return {};
    return {q.value(QStringLiteral("after_attempt")).toLongLong(),
            numberOf(q.value(QStringLiteral("base_speed")))};
}

// The stored best as text; nothing when the transponder has no row.
std::optional<QString> storedBest(const QString& tpid) {
    Query q(Query::Kept);
    q.setSql({QStringLiteral("select speed from speed where tpid=?")}, {tpid});
    q.open();
    if (q.isEmpty())
        return std::nullopt;
    const QString text = q.asText(QStringLiteral("speed"));
    return text.isEmpty() ? QStringLiteral("0") : text;
}

// The best the counted attempts since the last clearing and the base give.
QString derivedBest(const QString& tpid, const Review::Rules& rules) {
    const Base base = baseOf(tpid);
    Query q(Query::Kept);
    q.setSql({QStringLiteral("select speed,speed_text from attempt where tpid=? and id>? and "
                             "(status in ('ok','accepted') or (status='suspect' and ?=1))"),
              QStringLiteral("order by speed desc, id desc limit 1")},
             {tpid, base.afterAttempt, rules.suspectCounts ? 1 : 0});
    q.open();
    if (!q.isEmpty() && numberOf(q.value(QStringLiteral("speed"))) > base.speed)
        return q.asText(QStringLiteral("speed_text"));
    return FloatToStr(base.speed);
}

// Stores the best; true when it differs from the one stored.
bool storeBest(const QString& tpid, const QString& best) {
    const std::optional<QString> now = storedBest(tpid);
    if (!now || (numberOf(*now) == numberOf(best) && TextToFloat(*now)))
        return false;
    Query q(Query::Kept);
    q.setSql({QStringLiteral("update speed set speed=? where tpid=?")}, {best, tpid});
    q.exec();
    return true;
}

// Runs the work in one transaction, kept when write is true.
template <class Work> Review::Outcome inTransaction(bool write, Work&& work) {
    Batch batch;
    try {
        const Review::Outcome o = work();
        if (write)
            batch.commit();
        else
            batch.rollback();
        return o;
    } catch (...) {
        batch.rollback();
        throw;
    }
}

struct Tally {
    int attempts = 0;
    QSet<QString> transponders;
    QSet<QString> bests;
    Review::Outcome outcome() const {
        return {attempts, int(transponders.size()), int(bests.size())};
    }
};

} // namespace

void Review::createSchema(QSqlDatabase db) {
    QSqlQuery exists(db);
    if (!exists.exec(
            QStringLiteral("select 1 from sqlite_master where type='table' and name='best_base'")))
        throw DbError(engineMessage(exists.lastError()));
    if (exists.next())
        return;
    exists.finish();
    if (!db.transaction())
        throw DbError(engineMessage(db.lastError()));
    try {
        run(db, QStringLiteral("create table best_base (tpid text primary key, "
                               "after_attempt integer not null, base_speed real not null)"));
        // Every best already stored stays as a base; the attempts kept so far
        // (if any) are behind it.
        run(db, QStringLiteral(
                    "insert into best_base (tpid, after_attempt, base_speed) "
                    "select tpid, (select ifnull(max(id),0) from attempt), ifnull(max(speed),0) "
                    "from speed where tpid is not null group by tpid"));
        if (!db.commit())
            throw DbError(engineMessage(db.lastError()));
    } catch (...) {
        db.rollback();
        throw;
    }
}

void Review::markCleared(const QString& tpid) {
    execSql({QStringLiteral("insert into best_base (tpid, after_attempt, base_speed) "
                            "values (?, (select ifnull(max(id),0) from attempt), 0)"),
             QStringLiteral("on conflict(tpid) do update set "
                            "after_attempt=excluded.after_attempt, base_speed=0")},
            {tpid});
}

void Review::markMoved(const QString& tpid) {
    execSql(
        {QStringLiteral("insert into best_base (tpid, after_attempt, base_speed) values "
                        "(?, (select ifnull(max(id),0) from attempt), "
                        "(select ifnull(max(speed),0) from speed where tpid=?))"),
         QStringLiteral("on conflict(tpid) do update set "
                        "after_attempt=excluded.after_attempt, base_speed=excluded.base_speed")},
        {tpid, tpid});
}

Review::Outcome Review::accept(const QVector<qint64>& ids, const Rules&) {
    return inTransaction(true, [&] {
        Tally t;
        for (qint64 id : ids) {
            const std::optional<AttemptRow> a = attempt(id);
            if (!a || a->status == Journal::kAccepted || a->status == Journal::kOk)
                continue;
            setStatus(id, Journal::kAccepted);
            ++t.attempts;
            t.transponders.insert(a->tpid);
            if (id <= baseOf(a->tpid).afterAttempt)
                continue; // before the record was cleared
            const std::optional<QString> best = storedBest(a->tpid);
            if (best && IsNewBest(*best, a->speed) && storeBest(a->tpid, a->speedText))
                t.bests.insert(a->tpid);
        }
        return t.outcome();
    });
}

Review::Outcome Review::reject(const QVector<qint64>& ids, const Rules& rules) {
    return inTransaction(true, [&] {
        Tally t;
        for (qint64 id : ids) {
            const std::optional<AttemptRow> a = attempt(id);
            if (!a || a->status == Journal::kRejected)
                continue;
            setStatus(id, Journal::kRejected);
            ++t.attempts;
            t.transponders.insert(a->tpid);
            if (id <= baseOf(a->tpid).afterAttempt)
                continue;
            const std::optional<QString> best = storedBest(a->tpid);
            // Only a best this attempt made (or tied) can go with it.
            if (best && numberOf(a->speedText) >= numberOf(*best) &&
                storeBest(a->tpid, derivedBest(a->tpid, rules)))
                t.bests.insert(a->tpid);
        }
        return t.outcome();
    });
}

std::optional<int> Review::sectionLength(const QString& text) {
    // Full-width digits, as a Japanese input method types them, count too.
    const QString t = text.normalized(QString::NormalizationForm_KC).trimmed();
    if (t.isEmpty() || t.size() > 4)
        return std::nullopt;
    for (QChar c : t)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    const int cm = t.toInt();
    if (cm < 1 || cm > 5000)
        return std::nullopt;
    return cm;
}

QVector<qint64> Review::attemptsBetween(qint64 fromMs, qint64 toMs, const QString& tpid) {
    Query q;
    if (tpid.isEmpty())
        q.setSql({QStringLiteral("select id from attempt where measured_ms between ? and ? "
                                 "order by id")},
                 {fromMs, toMs});
    else
        q.setSql({QStringLiteral("select id from attempt where tpid=? and "
                                 "measured_ms between ? and ? order by id")},
                 {tpid, fromMs, toMs});
    q.open();
    QVector<qint64> ids;
    for (bool row = !q.isEmpty(); row; row = q.next())
        ids << q.value(QStringLiteral("id")).toLongLong();
    return ids;
}

Review::Outcome Review::correct(const QVector<qint64>& ids, int distCm, qint64 nowMs,
                                const Rules& rules, bool write) {
    if (distCm < 1)
        throw RecordError(QStringLiteral("区間長 %1 cm は使えません").arg(distCm));
    return inTransaction(write, [&] {
        Tally t;
        for (qint64 id : ids) {
            const std::optional<AttemptRow> a = attempt(id);
            const double e = a ? a->time2 - a->time1 : 0;
            if (!a || a->distCm == distCm || !(e > 0))
                continue;
            const double v = ComputeSpeed(e, distCm);
            AttemptFacts facts;
            facts.kmh = v;
            facts.elapsedS = e;
            const unsigned speedFlags = FlagTooSlow | FlagTooFast;
            const unsigned flags =
                (a->flags & ~speedFlags) | (PlausibilityFlags(facts, rules.limits) & speedFlags);
            // The operator's decision stands; otherwise the flags decide.
            QString status = a->status;
            if (status == Journal::kOk || status == Journal::kSuspect)
                status = flags ? Journal::kSuspect : Journal::kOk;
            Query q(Query::Kept);
            q.setSql({QStringLiteral("update attempt set orig_speed=ifnull(orig_speed,speed), "
                                     "orig_speed_text=ifnull(orig_speed_text,speed_text), "
                                     "orig_dist_cm=ifnull(orig_dist_cm,dist_cm),"),
                      QStringLiteral("dist_cm=?, speed=?, speed_text=?, flags=?, status=?, "
                                     "changed_ms=? where id=?")},
                     {distCm, v, SpeedText(v), qint64(flags), status, nowMs, id});
            q.exec();
            ++t.attempts;
            t.transponders.insert(a->tpid);
        }
        for (const QString& tpid : std::as_const(t.transponders))
            if (storeBest(tpid, derivedBest(tpid, rules)))
                t.bests.insert(tpid);
        return t.outcome();
    });
}
