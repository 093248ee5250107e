#include "Review.h"

#include "Chain.h"
#include "Database.h"
#include "FloatText.h"
#include "Journal.h"
#include "Names.h"
#include "NumberText.h"
#include "SpeedTable.h"
#include "SpeedText.h"

#include <QCoreApplication>
#include <QSet>

namespace {

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
    const std::optional<Journal::StoredAttempt> s = Journal::attempt(id);
    if (!s)
        return std::nullopt;
    return AttemptRow{s->id,
                      s->tpid,
                      numberOf(s->time1),
                      numberOf(s->time2),
                      s->distCm,
                      numberOf(s->speed),
                      s->speedText,
                      s->flags,
                      s->status};
}

struct Base {
    qint64 afterAttempt = 0;
    double speed = 0;
};

Base baseOf(const QString& tpid) {
    const std::optional<Journal::Base> b = Journal::base(tpid);
    if (!b)
        return {};
    return {b->afterAttempt, numberOf(b->speed)};
}

// The best the counted attempts since the last clearing and the base give.
QString derivedBest(const QString& tpid, const Review::Rules& rules) {
    const Base base = baseOf(tpid);
    const std::optional<Journal::Counted> best =
        Journal::bestCounted(tpid, base.afterAttempt, rules.suspectCounts);
    if (best && numberOf(best->speed) > base.speed)
        return best->speedText;
    return FloatToStr(base.speed);
}

// Stores the best; true when it differs from the one stored.
bool storeBest(const QString& tpid, const QString& best) {
    const std::optional<QString> now = SpeedTable::storedBest(tpid);
    if (!now || (numberOf(*now) == numberOf(best) && TextToFloat(*now)))
        return false;
    SpeedTable::setBest(tpid, best);
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

void Review::markCleared(const QString& tpid) {
    Journal::baseCleared(tpid);
    Chain::appendBase(QStringLiteral("clear"), tpid);
}

void Review::markMoved(const QString& tpid, const QString& oldTpid) {
    Journal::baseMoved(tpid);
    Chain::appendBase(QStringLiteral("move"), tpid, oldTpid);
}

Review::Outcome Review::accept(const QVector<qint64>& ids, const Rules&, const QString& reason) {
    return inTransaction(true, [&] {
        Tally t;
        for (qint64 id : ids) {
            const std::optional<AttemptRow> a = attempt(id);
            if (!a || a->status == Journal::kAccepted || a->status == Journal::kOk)
                continue;
            const QVariantList before = Chain::attemptRow(id);
            Journal::setStatus(id, Journal::kAccepted);
            Chain::appendReview(QStringLiteral("accept"), id, reason, before);
            ++t.attempts;
            t.transponders.insert(a->tpid);
            if (id <= baseOf(a->tpid).afterAttempt)
                continue; // before the record was cleared
            const std::optional<QString> best = SpeedTable::storedBest(a->tpid);
            if (best && IsNewBest(*best, a->speed) && storeBest(a->tpid, a->speedText))
                t.bests.insert(a->tpid);
        }
        return t.outcome();
    });
}

Review::Outcome Review::reject(const QVector<qint64>& ids, const Rules& rules,
                               const QString& reason) {
    return inTransaction(true, [&] {
        Tally t;
        for (qint64 id : ids) {
            const std::optional<AttemptRow> a = attempt(id);
            if (!a || a->status == Journal::kRejected)
                continue;
            const QVariantList before = Chain::attemptRow(id);
            Journal::setStatus(id, Journal::kRejected);
            Chain::appendReview(QStringLiteral("reject"), id, reason, before);
            ++t.attempts;
            t.transponders.insert(a->tpid);
            if (id <= baseOf(a->tpid).afterAttempt)
                continue;
            const std::optional<QString> best = SpeedTable::storedBest(a->tpid);
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
    return Journal::attemptsBetween(fromMs, toMs, tpid);
}

Review::Outcome Review::correct(const QVector<qint64>& ids, int distCm, qint64 nowMs,
                                const Rules& rules, bool write, const QString& reason) {
    if (distCm < 1)
        throw RecordError(
            QCoreApplication::translate("Review", "区間長 %1 cm は使えません").arg(distCm));
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
            const QVariantList before = Chain::attemptRow(id);
            Journal::correct(id, distCm, v, SpeedText(v), flags, status, nowMs);
            Chain::appendReview(QStringLiteral("correct"), id, reason, before);
            ++t.attempts;
            t.transponders.insert(a->tpid);
        }
        for (const QString& tpid : std::as_const(t.transponders))
            if (storeBest(tpid, derivedBest(tpid, rules)))
                t.bests.insert(tpid);
        return t.outcome();
    });
}

QString Review::correctionReason(qint64 attemptId) {
    return Chain::reviewReason(attemptId, QStringLiteral("correct"));
}
