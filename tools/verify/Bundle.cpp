#include "Bundle.h"

#include "Chain.h"
#include "ChainRead.h"
#include "DataDir.h"
#include "SpeedText.h"
#include "Zip.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <sodium.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

const QString kFormat = QStringLiteral("korvane-bundle:1");
const QString kPub = QStringLiteral("evidence.pub");
const QString kReadme = QStringLiteral("README.txt");

// Attempt and passing columns (KORVANE_CHAIN_*_COLUMNS) by position.
enum {
    AId,
    ATpid,
    APassing1,
    APassing2,
    ATime1,
    ATime2,
    ADist,
    ASpeed,
    ASpeedText,
    AFlags,
    AStatus,
    AMeasured
};
enum { PId, PReceived, PLoop, PTpid, PTime, PRaw };

using ChainRead::Db;
using ChainRead::Failure;
using ChainRead::Stmt;

QJsonValue json(const QVariant& v) {
    if (!v.isValid() || v.isNull())
        return QJsonValue::Null;
    switch (v.metaType().id()) {
    case QMetaType::LongLong:
        return QJsonValue(v.toLongLong());
    case QMetaType::Double:
        return QJsonValue(v.toDouble());
    case QMetaType::QByteArray:
        return QJsonValue(QString::fromUtf8(v.toByteArray()));
    default:
        return QJsonValue(v.toString());
    }
}

QJsonValue hexOrNull(const QByteArray& b) {
    return b.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(QString::fromLatin1(b.toHex()));
}

struct ReviewStep {
    qint64 seq = 0;
    QString kind;
    QString reason;
    QVariantList before, after;
};

std::optional<ReviewStep> reviewOf(qint64 seq, const QString& kind, const QByteArray& data) {
    const std::optional<QVariantList> d = Chain::decode(data);
    if (!d || d->size() != 3)
        return std::nullopt;
    const std::optional<QVariantList> before = Chain::decode((*d)[1].toByteArray());
    const std::optional<QVariantList> after = Chain::decode((*d)[2].toByteArray());
    if (!before || !after)
        return std::nullopt;
    return ReviewStep{seq, kind, (*d)[0].toString(), *before, *after};
}

bool isReview(const QString& kind) {
    return kind == QLatin1String("accept") || kind == QLatin1String("reject") ||
           kind == QLatin1String("correct");
}

// The attempt as a reader sees it: made the same way from the chain's rows
// by the exporter and the verifier, so that the copy in bundle.json must be
// what the links hold.
QJsonObject readable(const QVariantList& a, const QVector<QVariantList>& passings,
                     const QVector<ReviewStep>& reviews) {
    QJsonArray ps;
    for (const QVariantList& p : passings)
        ps.append(QJsonObject{{QStringLiteral("id"), json(p.value(PId))},
                              {QStringLiteral("loop"), json(p.value(PLoop))},
                              {QStringLiteral("received_ms"), json(p.value(PReceived))},
                              {QStringLiteral("time"), json(p.value(PTime))},
                              {QStringLiteral("raw"), json(p.value(PRaw))}});
    QJsonArray rs;
    for (const ReviewStep& r : reviews)
        rs.append(QJsonObject{{QStringLiteral("row"), r.seq},
                              {QStringLiteral("kind"), r.kind},
                              {QStringLiteral("reason"), r.reason}});
    return QJsonObject{{QStringLiteral("id"), json(a.value(AId))},
                       {QStringLiteral("tpid"), json(a.value(ATpid))},
                       {QStringLiteral("time1"), json(a.value(ATime1))},
                       {QStringLiteral("time2"), json(a.value(ATime2))},
                       {QStringLiteral("dist_cm"), json(a.value(ADist))},
                       {QStringLiteral("speed_text"), json(a.value(ASpeedText))},
                       {QStringLiteral("status"), json(a.value(AStatus))},
                       {QStringLiteral("measured_ms"), json(a.value(AMeasured))},
                       {QStringLiteral("passings"), ps},
                       {QStringLiteral("reviews"), rs}};
}

QByteArray compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray readme(const QVector<qint64>& attempts, const QString& fingerprint) {
    QStringList ids;
    for (qint64 id : attempts)
        ids << QString::number(id);
    return QStringLiteral(
               "Evidence bundle of a speed trap station\n"
               "\n"
               "Attempt(s): %1\n"
               "Station key fingerprint: %2\n"
               "\n"
               "bundle.json holds the attempt(s) with the raw lines of their two passings and\n"
               "the reviews that touched them, the station's hash chain from their passings up\n"
               "to the nearest head the station signed, and those signed heads. evidence.pub\n"
               "is the station's public key (Ed25519, hex).\n"
               "\n"
               "Check it, without the station, with:\n"
               "    korvane-verify BUNDLE\n"
               "and compare the fingerprint above with one you got from the station itself\n"
               "(printed papers, a photo of its status page), or give it:\n"
               "    korvane-verify --public-key FINGERPRINT BUNDLE\n"
               "The verifier recomputes every link, checks the signatures and that each\n"
               "speed follows from its passings' times and the section length. Any changed\n"
               "byte of bundle.json or evidence.pub makes it fail and name the break.\n"
               "The chain's encoding is described in the station's manual (evidence).\n")
        .arg(ids.join(QStringLiteral(", ")), fingerprint)
        .toUtf8();
}

} // namespace

QMap<QString, QByteArray> Bundle::make(const QString& dataDir, const QVector<qint64>& attempts,
                                       QString* why) {
    try {
        QString keyWhy;
        const QByteArray key = ChainCheck::publicKeyIn(dataDir, &keyWhy);
        if (key.isEmpty())
            throw Failure{keyWhy};
        Db db(databasePathIn(dataDir));

        // Every review once, by attempt: the links of other attempts in the
        // runs need their first `before` too.
        QHash<qint64, QVector<ReviewStep>> reviews;
        {
            Stmt q(db, "select seq, row_id, kind, data from chain where kind in "
                       "('accept','reject','correct') order by seq");
            while (q.step())
                if (const auto r =
                        reviewOf(q.integer(0), q.value(2).toString(), q.value(3).toByteArray()))
                    reviews[q.integer(1)].push_back(*r);
        }
        std::vector<qint64> heads;
        {
            Stmt q(db, "select distinct seq from chain_head order by seq");
            while (q.step())
                heads.push_back(q.integer(0));
        }
        Stmt last(db, "select coalesce(max(seq), 0) from chain");
        last.step();
        const qint64 lastSeq = last.integer(0);

        // The newest link of a row first: an exported attempt is usually recent.
        Stmt attemptLink(db, "select seq from chain where kind='attempt' and row_id=? "
                             "order by seq desc limit 1");
        Stmt passingLink(db, "select seq from chain where kind='passing' and row_id=? "
                             "order by seq desc limit 1");
        Stmt passingRow(db, "select " KORVANE_CHAIN_PASSING_COLUMNS " from passing where id=?");
        Stmt attemptRow(db, "select " KORVANE_CHAIN_ATTEMPT_COLUMNS " from attempt where id=?");

        // The links each attempt rests on, and runs from each to the nearest
        // signed head after it (or the chain's end).
        std::vector<std::pair<qint64, qint64>> runs;
        for (qint64 id : attempts) {
            if (!attemptLink.bind({id}).step() || !attemptRow.bind({id}).step())
                throw Failure{QStringLiteral("attempt %1: not in the chain").arg(id)};
            QVector<qint64> points{attemptLink.integer(0)};
            for (int c : {APassing1, APassing2}) {
                const QVariant p = attemptRow.value(c);
                if (p.isNull())
                    continue;
                if (!passingLink.bind({p.toLongLong()}).step())
                    throw Failure{QStringLiteral("passing %1 of attempt %2: not in the chain")
                                      .arg(p.toLongLong())
                                      .arg(id)};
                points << passingLink.integer(0);
            }
            for (const ReviewStep& r : reviews.value(id))
                points << r.seq;
            for (qint64 p : points) {
                const auto h = std::lower_bound(heads.cbegin(), heads.cend(), p);
                runs.push_back({p, h != heads.cend() && *h <= lastSeq ? *h : lastSeq});
            }
        }
        std::sort(runs.begin(), runs.end());
        std::vector<std::pair<qint64, qint64>> merged;
        for (const auto& r : runs) {
            if (!merged.empty() && r.first <= merged.back().second + 1)
                merged.back().second = std::max(merged.back().second, r.second);
            else
                merged.push_back(r);
        }

        QJsonArray segments;
        Stmt hashAt(db, "select hash from chain where seq=?");
        Stmt links(db, "select seq, kind, row_id, at_ms, data, hash from chain where seq "
                       "between ? and ? order by seq");
        Stmt headAt(db, "select seq, hash, at_ms, signature, public_key from chain_head "
                        "where seq=? order by id desc limit 1");
        QJsonArray headList;
        QSet<qint64> added;
        const auto addHead = [&](Stmt& h) {
            added.insert(h.integer(0));
            headList.append(
                QJsonObject{{QStringLiteral("seq"), h.integer(0)},
                            {QStringLiteral("hash"), hexOrNull(h.value(1).toByteArray())},
                            {QStringLiteral("at_ms"), h.integer(2)},
                            {QStringLiteral("signature"), hexOrNull(h.value(3).toByteArray())},
                            {QStringLiteral("public_key"), hexOrNull(h.value(4).toByteArray())}});
        };
        bool endsSigned = true;
        for (const auto& [from, to] : merged) {
            QByteArray previous(Chain::kHashBytes, '\0');
            if (from > 1 && hashAt.bind({from - 1}).step())
                previous = hashAt.value(0).toByteArray();
            QJsonArray ls;
            links.bind({from, to});
            while (links.step()) {
                const QString kind = links.value(1).toString();
                const qint64 rowId = links.integer(2);
                QVariantList row;
                if (kind == QLatin1String("passing")) {
                    if (!passingRow.bind({rowId}).step())
                        throw Failure{QStringLiteral("passing %1 is gone: check the data folder "
                                                     "with korvane-verify first")
                                          .arg(rowId)};
                    row = passingRow.row();
                } else if (kind == QLatin1String("attempt")) {
                    if (!attemptRow.bind({rowId}).step())
                        throw Failure{QStringLiteral("attempt %1 is gone: check the data folder "
                                                     "with korvane-verify first")
                                          .arg(rowId)};
                    const auto r = reviews.constFind(rowId);
                    row = r != reviews.cend() ? r->first().before : attemptRow.row();
                }
                ls.append(QJsonObject{
                    {QStringLiteral("seq"), links.integer(0)},
                    {QStringLiteral("kind"), kind},
                    {QStringLiteral("row_id"), rowId},
                    {QStringLiteral("at_ms"), links.integer(3)},
                    {QStringLiteral("data"), hexOrNull(links.value(4).toByteArray())},
                    {QStringLiteral("row"),
                     row.isEmpty() ? QJsonValue(QJsonValue::Null) : hexOrNull(Chain::encode(row))},
                    {QStringLiteral("hash"), hexOrNull(links.value(5).toByteArray())}});
            }
            segments.append(QJsonObject{{QStringLiteral("previous"), hexOrNull(previous)},
                                        {QStringLiteral("links"), ls}});
            if (headAt.bind({to}).step())
                addHead(headAt);
            else
                endsSigned = false;
        }
        // Nothing signed after the last run: the last signed head goes along,
        // so that the receiver sees how far the station had signed.
        if (!endsSigned) {
            Stmt h(db, "select seq, hash, at_ms, signature, public_key from chain_head "
                       "order by id desc limit 1");
            if (h.step() && !added.contains(h.integer(0)))
                addHead(h);
        }

        // The attempts as they stand now, from the chain's own rows.
        QJsonArray readables;
        for (qint64 id : attempts) {
            attemptRow.bind({id}).step();
            const QVector<ReviewStep> rs = reviews.value(id);
            const QVariantList a = rs.isEmpty() ? attemptRow.row() : rs.last().after;
            QVector<QVariantList> ps;
            for (int c : {APassing1, APassing2})
                if (!a.value(c).isNull() && passingRow.bind({a.value(c).toLongLong()}).step())
                    ps << passingRow.row();
            readables.append(readable(a, ps, rs));
        }

        const QJsonObject doc{{QStringLiteral("format"), kFormat},
                              {QStringLiteral("attempts"), readables},
                              {QStringLiteral("segments"), segments},
                              {QStringLiteral("heads"), headList}};
        QMap<QString, QByteArray> files;
        files.insert(kJson, QJsonDocument(doc).toJson(QJsonDocument::Indented));
        files.insert(kPub, key.toHex() + '\n');
        files.insert(kReadme, readme(attempts, ChainCheck::fingerprint(key)));
        return files;
    } catch (const Failure& f) {
        *why = f.why;
        return {};
    }
}

bool Bundle::save(const QMap<QString, QByteArray>& files, const QString& out, QString* why) {
    if (out.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive)) {
        const QByteArray zip = Zip::write(files, why);
        if (zip.isEmpty())
            return false;
        QSaveFile f(out);
        if (!f.open(QIODevice::WriteOnly) || f.write(zip) != zip.size() || !f.commit()) {
            *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(out), f.errorString());
            return false;
        }
        return true;
    }
    if (QFileInfo::exists(out) && !QDir(out).isEmpty()) {
        *why = QStringLiteral("%1: exists and is not an empty folder")
                   .arg(QDir::toNativeSeparators(out));
        return false;
    }
    if (!QDir().mkpath(out)) {
        *why = QStringLiteral("%1: cannot be made").arg(QDir::toNativeSeparators(out));
        return false;
    }
    for (auto f = files.cbegin(); f != files.cend(); ++f) {
        QSaveFile file(QDir(out).filePath(f.key()));
        if (!file.open(QIODevice::WriteOnly) || file.write(f.value()) != f.value().size() ||
            !file.commit()) {
            *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.fileName()),
                                                file.errorString());
            return false;
        }
    }
    return true;
}

bool Bundle::isBundle(const QString& path) {
    const QFileInfo info(path);
    return (info.isFile() && path.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive)) ||
           (info.isDir() && QFileInfo::exists(QDir(path).filePath(kJson)));
}

bool Bundle::load(const QString& path, QMap<QString, QByteArray>* files, QString* why) {
    files->clear();
    if (QFileInfo(path).isFile()) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), f.errorString());
            return false;
        }
        if (!Zip::read(f.readAll(), files, why)) {
            *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), *why);
            return false;
        }
        return true;
    }
    for (const QString& name : {kJson, kPub}) {
        QFile f(QDir(path).filePath(name));
        if (!f.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(f.fileName()),
                                                f.errorString());
            return false;
        }
        files->insert(name, f.readAll());
    }
    return true;
}

namespace {

class Checker {
public:
    Checker(const QMap<QString, QByteArray>& files, const QByteArray& key)
        : files_(files), given_(key) {}

    Bundle::Report run() {
        try {
            read();
            checkLinks();
            checkHeads();
            checkAttempts();
        } catch (const Failure& f) {
            r_.error = f.why;
        }
        r_.first = first_;
        return r_;
    }

private:
    void broke(qint64 seq, const QString& table, const QString& rowId, const QString& kind,
               const QString& detail) {
        if (first_ && first_->seq <= seq)
            return;
        first_ = ChainCheck::Break{seq, table, rowId, kind, detail};
    }

    // A value of bundle.json that the check cannot go on without.
    [[noreturn]] void unreadable(const QString& what) {
        throw Failure{QStringLiteral("%1: %2").arg(Bundle::kJson, what)};
    }

    QByteArray hex(const QJsonValue& v, const QString& what, qsizetype bytes = -1) {
        if (v.isNull() && bytes < 0)
            return {};
        const QByteArray text = v.toString().toLatin1();
        const QByteArray b = QByteArray::fromHex(text);
        if (!v.isString() || b.toHex() != text || (bytes >= 0 && b.size() != bytes))
            unreadable(QStringLiteral("%1 is not hex").arg(what));
        return b;
    }

    qint64 integer(const QJsonObject& o, const QString& name, const QString& what) {
        const QJsonValue v = o.value(name);
        if (!v.isDouble() || double(v.toInteger()) != v.toDouble())
            unreadable(QStringLiteral("%1 has no whole number %2").arg(what, name));
        return v.toInteger();
    }

    void read() {
        const QByteArray pub = files_.value(QStringLiteral("evidence.pub")).trimmed();
        const QByteArray own = QByteArray::fromHex(pub);
        if (own.size() != crypto_sign_PUBLICKEYBYTES || own.toHex() != pub)
            throw Failure{QStringLiteral("evidence.pub: not a public key")};
        r_.key = given_.isEmpty() ? own : given_;
        if (own != r_.key)
            broke(0, QStringLiteral("chain_head"), QString(), QStringLiteral("other key"),
                  QStringLiteral("the bundle's public key %1 is not the one given (%2)")
                      .arg(ChainCheck::fingerprint(own), ChainCheck::fingerprint(r_.key)));

        QJsonParseError e;
        const QJsonDocument d = QJsonDocument::fromJson(files_.value(Bundle::kJson), &e);
        if (e.error != QJsonParseError::NoError)
            unreadable(
                QStringLiteral("not JSON (%1 at byte %2)").arg(e.errorString()).arg(e.offset));
        doc_ = d.object();
        if (doc_.value(QStringLiteral("format")).toString() != kFormat)
            unreadable(QStringLiteral("not a bundle of the form %1").arg(kFormat));
    }

    // Every run of links from its previous hash; each link's row decoded.
    void checkLinks() {
        const QJsonArray segments = doc_.value(QStringLiteral("segments")).toArray();
        if (segments.isEmpty())
            unreadable(QStringLiteral("holds no links"));
        qint64 after = 0;
        for (const QJsonValue& sv : segments) {
            const QJsonObject s = sv.toObject();
            QByteArray previous = hex(s.value(QStringLiteral("previous")),
                                      QStringLiteral("a run's previous hash"), Chain::kHashBytes);
            const QJsonArray links = s.value(QStringLiteral("links")).toArray();
            if (links.isEmpty())
                unreadable(QStringLiteral("a run holds no links"));
            qint64 expected = 0;
            for (const QJsonValue& lv : links) {
                const QJsonObject o = lv.toObject();
                Chain::Link l;
                l.seq = integer(o, QStringLiteral("seq"), QStringLiteral("a link"));
                const QString what = QStringLiteral("link %1").arg(l.seq);
                l.kind = o.value(QStringLiteral("kind")).toString();
                l.rowId = integer(o, QStringLiteral("row_id"), what);
                l.atMs = integer(o, QStringLiteral("at_ms"), what);
                l.data = hex(o.value(QStringLiteral("data")), what + QStringLiteral("'s data"));
                l.hash = hex(o.value(QStringLiteral("hash")), what + QStringLiteral("'s hash"),
                             Chain::kHashBytes);
                const QByteArray rowBytes =
                    hex(o.value(QStringLiteral("row")), what + QStringLiteral("'s row"));
                const std::optional<QVariantList> row = Chain::decode(rowBytes);
                if (!row)
                    unreadable(QStringLiteral("%1's row is not in the chain's encoding").arg(what));
                if (expected == 0 && l.seq <= after)
                    unreadable(QStringLiteral("runs out of order at link %1").arg(l.seq));
                if (expected != 0 && l.seq != expected) {
                    broke(expected, QStringLiteral("chain"), QString::number(expected),
                          QStringLiteral("missing"),
                          QStringLiteral("rows %1 to %2 of the chain are gone from the run")
                              .arg(expected)
                              .arg(l.seq - 1));
                    return;
                }
                const bool fact =
                    l.kind == QLatin1String("passing") || l.kind == QLatin1String("attempt");
                if (Chain::linkHash(previous, l, *row) != l.hash) {
                    broke(l.seq, fact ? l.kind : QStringLiteral("chain"),
                          QString::number(fact ? l.rowId : l.seq), QStringLiteral("changed"),
                          QStringLiteral("differs from what the chain holds"));
                    return;
                }
                if (fact && (row->isEmpty() || row->value(0).toLongLong() != l.rowId)) {
                    broke(l.seq, l.kind, QString::number(l.rowId), QStringLiteral("changed"),
                          QStringLiteral("the link holds another row"));
                    return;
                }
                r_.links.insert(l.seq, {l.kind, l.rowId, l.hash, false});
                rows_.insert(l.seq, *row);
                data_.insert(l.seq, l.data);
                previous = l.hash;
                expected = l.seq + 1;
                after = l.seq;
            }
            runEnds_.push_back(after);
            runStarts_.push_back(links.first().toObject().value(QStringLiteral("seq")).toInteger());
        }
    }

    void checkHeads() {
        QSet<qint64> signedAt;
        for (const QJsonValue& hv : doc_.value(QStringLiteral("heads")).toArray()) {
            const QJsonObject o = hv.toObject();
            const qint64 seq = integer(o, QStringLiteral("seq"), QStringLiteral("a head"));
            const QString what = QStringLiteral("head at row %1").arg(seq);
            const QByteArray hash = hex(o.value(QStringLiteral("hash")), what, Chain::kHashBytes);
            const qint64 atMs = integer(o, QStringLiteral("at_ms"), what);
            const QByteArray sig =
                hex(o.value(QStringLiteral("signature")), what, crypto_sign_BYTES);
            const QByteArray key =
                hex(o.value(QStringLiteral("public_key")), what, crypto_sign_PUBLICKEYBYTES);
            if (key != r_.key) {
                broke(seq, QStringLiteral("chain_head"), QString::number(seq),
                      QStringLiteral("other key"),
                      QStringLiteral("signed by %1, not by the station's key")
                          .arg(ChainCheck::fingerprint(key)));
                continue;
            }
            const QByteArray m = Chain::headMessage(seq, hash, atMs);
            if (crypto_sign_verify_detached(
                    reinterpret_cast<const unsigned char*>(sig.constData()),
                    reinterpret_cast<const unsigned char*>(m.constData()), quint64(m.size()),
                    reinterpret_cast<const unsigned char*>(key.constData())) != 0) {
                broke(seq, QStringLiteral("chain_head"), QString::number(seq),
                      QStringLiteral("changed"), QStringLiteral("its signature does not hold"));
                continue;
            }
            // A head past the bundle's links or between its runs: nothing of
            // the bundle rests on it beyond its signature.
            const auto at = r_.links.constFind(seq);
            if (at != r_.links.cend()) {
                if (at->hash != hash)
                    broke(seq, QStringLiteral("chain"), QString::number(seq),
                          QStringLiteral("changed"),
                          QStringLiteral("the chain up to here is not the one that was signed"));
                else
                    signedAt.insert(seq);
            }
        }
        // Each run rests on the head at its end.
        for (size_t i = 0; i < runEnds_.size(); ++i) {
            if (signedAt.contains(runEnds_[i])) {
                for (qint64 s = runStarts_[i]; s <= runEnds_[i]; ++s)
                    r_.links[s].signedHead = true;
            } else {
                // Without a signature anyone with the rows could have written them.
                r_.unsignedRuns << QStringLiteral("%1 to %2").arg(runStarts_[i]).arg(runEnds_[i]);
                broke(runEnds_[i], QStringLiteral("chain_head"), QString(),
                      QStringLiteral("missing"),
                      QStringLiteral("no signed head covers rows %1 to %2 of the chain")
                          .arg(runStarts_[i])
                          .arg(runEnds_[i]));
            }
        }
    }

    const QVariantList* rowOf(const QString& kind, qint64 id, qint64* seq) const {
        for (auto l = r_.links.cbegin(); l != r_.links.cend(); ++l)
            if (l->kind == kind && l->rowId == id) {
                *seq = l.key();
                return &rows_.find(l.key()).value();
            }
        return nullptr;
    }

    void checkAttempts() {
        const QJsonArray attempts = doc_.value(QStringLiteral("attempts")).toArray();
        if (attempts.isEmpty())
            unreadable(QStringLiteral("names no attempt"));
        for (const QJsonValue& av : attempts) {
            const QJsonObject given = av.toObject();
            const qint64 id = integer(given, QStringLiteral("id"), QStringLiteral("an attempt"));
            r_.attempts << id;
            const QString idText = QString::number(id);
            qint64 seq = 0;
            const QVariantList* linked = rowOf(QStringLiteral("attempt"), id, &seq);
            if (!linked) {
                broke(std::numeric_limits<qint64>::max(), QStringLiteral("attempt"), idText,
                      QStringLiteral("missing"), QStringLiteral("the bundle holds no link of it"));
                continue;
            }
            // Its reviews, each from where the one before left it.
            QVector<ReviewStep> reviews;
            QVariantList now = *linked;
            for (auto l = r_.links.cbegin(); l != r_.links.cend(); ++l) {
                if (!isReview(l->kind) || l->rowId != id)
                    continue;
                const std::optional<ReviewStep> r =
                    reviewOf(l.key(), l->kind, data_.value(l.key()));
                if (!r || Chain::encode(r->before) != Chain::encode(now)) {
                    broke(l.key(), QStringLiteral("chain"), QString::number(l.key()),
                          QStringLiteral("changed"),
                          QStringLiteral("the review of attempt %1 does not start from where "
                                         "the attempt stood")
                              .arg(id));
                    return;
                }
                reviews << *r;
                now = r->after;
            }
            QVector<QVariantList> passings;
            for (int c : {APassing1, APassing2}) {
                if (now.value(c).isNull())
                    continue;
                qint64 ps = 0;
                const QVariantList* p =
                    rowOf(QStringLiteral("passing"), now.value(c).toLongLong(), &ps);
                if (!p) {
                    broke(seq, QStringLiteral("passing"), now.value(c).toString(),
                          QStringLiteral("missing"),
                          QStringLiteral("a passing of attempt %1 is not in the bundle").arg(id));
                    return;
                }
                passings << *p;
            }
            checkSpeed(seq, now, passings);
            if (compact(readable(now, passings, reviews)) != compact(given))
                broke(seq, QStringLiteral("attempt"), idText, QStringLiteral("changed"),
                      QStringLiteral("the readable copy in %1 is not what the chain holds")
                          .arg(Bundle::kJson));
            report(now, passings, reviews, seq);
        }
    }

    static bool same(double a, double b) {
        return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
    }

    void checkSpeed(qint64 seq, const QVariantList& a, const QVector<QVariantList>& passings) {
        const QString id = a.value(AId).toString();
        const double t1 = a.value(ATime1).toDouble(), t2 = a.value(ATime2).toDouble();
        if (passings.size() == 2) {
            const bool ok = passings[0].value(PLoop).toLongLong() == 1 &&
                            passings[1].value(PLoop).toLongLong() == 2 &&
                            passings[0].value(PTpid) == a.value(ATpid) &&
                            passings[1].value(PTpid) == a.value(ATpid) &&
                            same(passings[0].value(PTime).toDouble(), t1) &&
                            same(passings[1].value(PTime).toDouble(), t2);
            if (!ok) {
                broke(seq, QStringLiteral("attempt"), id, QStringLiteral("changed"),
                      QStringLiteral("its times are not its passings' on loops 1 and 2"));
                return;
            }
        }
        const int dist = int(a.value(ADist).toLongLong());
        // A run the other way (two-way courses) crosses loop 2 first: its
        // loop-1 time is the later one.
        const double e = std::fabs(t2 - t1);
        const double v = e > 0 && dist > 0 ? ComputeSpeed(e, dist) : 0;
        if (!(e > 0) || dist < 1 || SpeedText(v) != a.value(ASpeedText).toString() ||
            !same(v, a.value(ASpeed).toDouble()))
            broke(seq, QStringLiteral("attempt"), id, QStringLiteral("changed"),
                  QStringLiteral("speed %1 does not follow from %2 s over %3 cm (%4)")
                      .arg(a.value(ASpeedText).toString())
                      .arg(e, 0, 'f', 3)
                      .arg(dist)
                      .arg(e > 0 && dist > 0 ? SpeedText(v) : QStringLiteral("none")));
    }

    void report(const QVariantList& a, const QVector<QVariantList>& passings,
                const QVector<ReviewStep>& reviews, qint64 seq) {
        r_.lines << QStringLiteral("attempt %1 (row %2 of the chain): %3, %4 km/h over %5 cm, %6")
                        .arg(a.value(AId).toString())
                        .arg(seq)
                        .arg(a.value(ATpid).toString(), a.value(ASpeedText).toString(),
                             a.value(ADist).toString(), a.value(AStatus).toString());
        for (const QVariantList& p : passings)
            r_.lines << QStringLiteral("  loop %1 passing %2: %3")
                            .arg(p.value(PLoop).toString(), p.value(PId).toString(),
                                 p.value(PRaw).toString().trimmed().replace(QLatin1Char('\t'),
                                                                            QLatin1Char(' ')));
        for (const ReviewStep& r : reviews)
            r_.lines << QStringLiteral("  %1 at row %2%3")
                            .arg(r.kind)
                            .arg(r.seq)
                            .arg(r.reason.isEmpty() ? QString() : QStringLiteral(": ") + r.reason);
    }

    const QMap<QString, QByteArray>& files_;
    QByteArray given_;
    QJsonObject doc_;
    Bundle::Report r_;
    std::optional<ChainCheck::Break> first_;
    QHash<qint64, QVariantList> rows_;
    QHash<qint64, QByteArray> data_;
    std::vector<qint64> runStarts_, runEnds_;
};

} // namespace

Bundle::Report Bundle::verify(const QMap<QString, QByteArray>& files, const QByteArray& key) {
    if (sodium_init() < 0) {
        Report r;
        r.error = QStringLiteral("libsodium cannot start");
        return r;
    }
    return Checker(files, key).run();
}

Bundle::At Bundle::linkAt(const QString& databasePath, qint64 seq) {
    At at;
    try {
        Db db(databasePath);
        Stmt last(db, "select coalesce(max(seq), 0) from chain");
        last.step();
        at.lastSeq = last.integer(0);
        Stmt q(db, "select hash from chain where seq=?");
        if (q.bind({seq}).step())
            at.hash = q.value(0).toByteArray();
    } catch (const Failure& f) {
        at.error = f.why;
    }
    return at;
}
