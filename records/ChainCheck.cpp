#include "ChainCheck.h"

#include "Chain.h"
#include "ChainRead.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <sodium.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using ChainRead::Db;
using ChainRead::Failure;
using ChainRead::Stmt;

Chain::Link linkOf(const Stmt& q) {
    Chain::Link l;
    l.seq = q.integer(0);
    l.kind = q.value(1).toString();
    l.rowId = q.integer(2);
    l.atMs = q.integer(3);
    l.data = q.value(4).toByteArray();
    l.hash = q.value(5).toByteArray();
    return l;
}

const char* const kLinkAt = "select seq, kind, row_id, at_ms, data, hash from chain where seq=?";

double numberOf(const QVariant& v) {
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    return ok && std::isfinite(d) ? d : 0;
}

bool same(double a, double b) {
    return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

struct Review {
    QVariantList firstBefore;
    QVariantList lastAfter;
};

class Checker {
public:
    Checker(const QString& path, const QByteArray& key) : db_(path), key_(key) {}

    ChainCheck::Result run() {
        Stmt h(db_, "select seq from chain_head");
        while (h.step())
            headSeqs_.insert(h.integer(0));
        readReviews();
        walkChain();
        checkUnlinked(QStringLiteral("passing"), passingLinks_,
                      "select id from passing where id>? order by id", genesis_.passingMax);
        checkUnlinked(QStringLiteral("attempt"), attemptLinks_,
                      "select id from attempt where id>? order by id", genesis_.attemptMax);
        checkAttemptsNow();
        if (haveGenesis_)
            checkGenesis();
        checkHeads();
        if (!first_)
            checkBests();
        r_.first = first_;
        if (first_)
            r_.dependents = dependents(*first_);
        return r_;
    }

private:
    void broke(qint64 seq, const QString& table, const QString& rowId, const QString& kind,
               const QString& detail) {
        if (first_ && first_->seq <= seq)
            return;
        first_ = ChainCheck::Break{seq, table, rowId, kind, detail};
    }

    void readReviews() {
        Stmt q(db_, "select seq, row_id, data from chain where kind in "
                    "('accept','reject','correct') order by seq");
        while (q.step()) {
            const std::optional<QVariantList> d = Chain::decode(q.value(2).toByteArray());
            if (!d || d->size() != 3)
                continue; // its link does not verify
            const std::optional<QVariantList> before = Chain::decode((*d)[1].toByteArray());
            const std::optional<QVariantList> after = Chain::decode((*d)[2].toByteArray());
            if (!before || !after)
                continue;
            Review& r = reviews_[q.integer(1)];
            if (r.firstBefore.isEmpty())
                r.firstBefore = *before;
            r.lastAfter = *after;
        }
    }

    QVariantList rowOf(Stmt& q, qint64 id) {
        q.bind(1, id);
        return q.step() ? q.row() : QVariantList();
    }

    // The row as its link saw it at insert (for an attempt, before reviews).
    QVariantList linkedRow(const QString& kind, qint64 id) {
        if (kind == QLatin1String("passing"))
            return rowOf(passingRow_, id);
        const auto r = reviews_.constFind(id);
        if (r != reviews_.cend()) {
            // The row must still exist for its link to hold.
            return rowOf(attemptRow_, id).isEmpty() ? QVariantList() : r->firstBefore;
        }
        return rowOf(attemptRow_, id);
    }

    // Whether the row now under `id` is what the link at `seq` (of the same
    // kind, another row) covered: two rows traded places.
    bool tradedPlaces(const Chain::Link& at, const QVariantList& row) {
        Stmt q(db_, kLinkAt);
        for (qint64 seq = std::max<qint64>(1, at.seq - 16); seq <= at.seq + 16; ++seq) {
            if (seq == at.seq || !q.bind(1, seq).step())
                continue;
            const Chain::Link other = linkOf(q);
            if (other.kind != at.kind || other.rowId == at.rowId)
                continue;
            QByteArray previous;
            if (seq > 1) {
                Stmt p(db_, kLinkAt);
                if (!p.bind(1, seq - 1).step())
                    continue;
                previous = linkOf(p).hash;
            }
            QVariantList moved = row;
            moved[0] = other.rowId;
            if (Chain::linkHash(previous, other, moved) == other.hash)
                return true;
        }
        return false;
    }

    // The first row of the chain that is gone (0: none). An attempt's state
    // rests on the review rows after its own; with one of them gone, the
    // attempt cannot be told changed, and the gap is what broke first.
    qint64 firstGap() {
        Stmt q(db_, "select seq from chain order by seq");
        qint64 expected = 1;
        while (q.step()) {
            if (q.integer(0) != expected)
                return expected;
            ++expected;
        }
        return 0;
    }

    bool restsOnAGap(const QString& kind, qint64 seq) const {
        return gap_ > 0 && seq < gap_ && kind == QLatin1String("attempt");
    }

    void walkChain() {
        gap_ = firstGap();
        Stmt q(db_, "select seq, kind, row_id, at_ms, data, hash from chain order by seq");
        QByteArray previous;
        qint64 expected = 1;
        while (q.step()) {
            const Chain::Link l = linkOf(q);
            ++r_.links;
            lastSeq_ = l.seq;
            if (headSeqs_.contains(l.seq))
                hashAt_[l.seq] = l.hash;
            if (l.seq != expected) {
                broke(expected, QStringLiteral("chain"), QString::number(expected),
                      QStringLiteral("missing"),
                      QStringLiteral("rows %1 to %2 of the chain are gone")
                          .arg(expected)
                          .arg(l.seq - 1));
                return;
            }
            ++expected;
            const bool fact =
                l.kind == QLatin1String("passing") || l.kind == QLatin1String("attempt");
            QVariantList row;
            if (fact) {
                (l.kind == QLatin1String("passing") ? passingLinks_ : attemptLinks_)
                    .push_back(l.rowId);
                row = linkedRow(l.kind, l.rowId);
                if (row.isEmpty()) {
                    broke(l.seq, l.kind, QString::number(l.rowId), QStringLiteral("missing"),
                          QStringLiteral("the row the chain holds is gone"));
                    return;
                }
            } else if (l.kind == QLatin1String("genesis") && l.seq == 1) {
                if (const std::optional<Chain::Genesis> g = Chain::genesisOf(l.data)) {
                    genesis_ = *g;
                    haveGenesis_ = true;
                    r_.genesis = true;
                }
            } else if (l.kind == QLatin1String("clear") || l.kind == QLatin1String("move")) {
                const std::optional<QVariantList> d = Chain::decode(l.data);
                if (d && d->size() >= 3)
                    bases_[(*d)[0].toString()] = {(*d)[1].toLongLong(), numberOf((*d)[2])};
                // The old ID's attempts so far went with its row to the new ID.
                if (d && d->size() == 4)
                    bases_[(*d)[3].toString()] = {(*d)[1].toLongLong(), 0};
            }
            if (Chain::linkHash(previous, l, row) != l.hash && !restsOnAGap(l.kind, l.seq)) {
                const bool traded = fact && tradedPlaces(l, row);
                broke(l.seq, fact ? l.kind : QStringLiteral("chain"),
                      QString::number(fact ? l.rowId : l.seq),
                      traded ? QStringLiteral("reordered") : QStringLiteral("changed"),
                      traded ? QStringLiteral("holds what another row of the chain held")
                             : QStringLiteral("differs from what the chain holds"));
                return;
            }
            previous = l.hash;
        }
    }

    // Every row after the genesis is held by a link, in the order of the links.
    void checkUnlinked(const QString& table, const std::vector<qint64>& linked, const char* sql,
                       qint64 after) {
        Stmt q(db_, sql);
        q.bind(1, after);
        size_t at = 0;
        while (q.step()) {
            const qint64 id = q.integer(0);
            while (at < linked.size() && linked[at] < id)
                ++at; // a missing row: told by the walk
            if (at < linked.size() && linked[at] == id) {
                ++at;
                continue;
            }
            // Where the row would stand: the link of the next row held, or the end.
            broke(seqOfLink(table, at < linked.size() ? linked[at] : -1), table,
                  QString::number(id), QStringLiteral("changed"),
                  QStringLiteral("a row the chain does not hold"));
            return;
        }
    }

    qint64 seqOfLink(const QString& kind, qint64 rowId) {
        if (rowId < 0)
            return lastSeq_ + 1;
        Stmt k(db_, kind == QLatin1String("passing")
                        ? "select seq from chain where kind='passing' and row_id=? limit 1"
                        : "select seq from chain where kind='attempt' and row_id=? limit 1");
        return k.bind(1, rowId).step() ? k.integer(0) : lastSeq_ + 1;
    }

    // A reviewed attempt stands as its last review left it.
    void checkAttemptsNow() {
        if (gap_ > 0)
            return;
        for (auto r = reviews_.cbegin(); r != reviews_.cend(); ++r) {
            const QVariantList now = rowOf(attemptRow_, r.key());
            if (!now.isEmpty() && Chain::encode(now) != Chain::encode(r->lastAfter))
                broke(seqOfLink(QStringLiteral("attempt"), r.key()), QStringLiteral("attempt"),
                      QString::number(r.key()), QStringLiteral("changed"),
                      QStringLiteral("differs from what its last review left"));
        }
    }

    void checkGenesis() {
        crypto_hash_sha256_state st;
        QByteArray h(Chain::kHashBytes, '\0');
        crypto_hash_sha256_init(&st);
        Stmt p(db_, "select " KORVANE_CHAIN_PASSING_COLUMNS " from passing where id<=? "
                    "order by id");
        p.bind(1, genesis_.passingMax);
        while (p.step()) {
            const QByteArray e = Chain::encode(p.row());
            crypto_hash_sha256_update(&st, reinterpret_cast<const unsigned char*>(e.constData()),
                                      quint64(e.size()));
        }
        crypto_hash_sha256_final(&st, reinterpret_cast<unsigned char*>(h.data()));
        if (h != genesis_.passingsHash)
            broke(1, QStringLiteral("passing"), QString(), QStringLiteral("changed"),
                  QStringLiteral("the passings older than the chain differ from its genesis"));
        crypto_hash_sha256_init(&st);
        Stmt a(db_, "select " KORVANE_CHAIN_ATTEMPT_COLUMNS " from attempt where id<=? "
                    "order by id");
        a.bind(1, genesis_.attemptMax);
        while (a.step()) {
            const qint64 id = a.integer(0);
            const auto r = reviews_.constFind(id);
            const QByteArray e = Chain::encode(r != reviews_.cend() ? r->firstBefore : a.row());
            crypto_hash_sha256_update(&st, reinterpret_cast<const unsigned char*>(e.constData()),
                                      quint64(e.size()));
        }
        crypto_hash_sha256_final(&st, reinterpret_cast<unsigned char*>(h.data()));
        if (h != genesis_.attemptsHash)
            broke(1, QStringLiteral("attempt"), QString(), QStringLiteral("changed"),
                  QStringLiteral("the attempts older than the chain differ from its genesis"));
    }

    void checkHeads() {
        Stmt q(db_, "select id, seq, hash, at_ms, signature, public_key from chain_head "
                    "order by id");
        while (q.step()) {
            ++r_.heads;
            const qint64 seq = q.integer(1);
            const QByteArray hash = q.value(2).toByteArray();
            const qint64 atMs = q.integer(3);
            const QByteArray sig = q.value(4).toByteArray();
            const QByteArray key = q.value(5).toByteArray();
            const QByteArray m = Chain::headMessage(seq, hash, atMs);
            const bool valid =
                sig.size() == crypto_sign_BYTES && key.size() == crypto_sign_PUBLICKEYBYTES &&
                crypto_sign_verify_detached(
                    reinterpret_cast<const unsigned char*>(sig.constData()),
                    reinterpret_cast<const unsigned char*>(m.constData()), quint64(m.size()),
                    reinterpret_cast<const unsigned char*>(key.constData())) == 0;
            const QString head = QString::number(q.integer(0));
            if (key != key_) {
                broke(seq, QStringLiteral("chain_head"), head, QStringLiteral("other key"),
                      QStringLiteral("signed by %1, not by the station's key")
                          .arg(ChainCheck::fingerprint(key)));
                continue;
            }
            if (!valid) {
                broke(seq, QStringLiteral("chain_head"), head, QStringLiteral("changed"),
                      QStringLiteral("its signature does not hold"));
                continue;
            }
            if (seq > lastSeq_) {
                broke(lastSeq_ + 1, QStringLiteral("chain"), QString::number(lastSeq_ + 1),
                      QStringLiteral("truncated"),
                      QStringLiteral("a head was signed at row %1; the chain ends at %2")
                          .arg(seq)
                          .arg(lastSeq_));
                continue;
            }
            const auto at = hashAt_.constFind(seq);
            if (at == hashAt_.cend() || *at != hash) {
                broke(seq, QStringLiteral("chain"), QString::number(seq), QStringLiteral("changed"),
                      QStringLiteral("the chain up to here is not the one that was signed"));
                continue;
            }
            r_.signedUpTo = std::max(r_.signedUpTo, seq);
        }
    }

    // Every best in `speed` is one the chain's attempts give: not below the
    // best of its accepted and unflagged attempts since its base, and either
    // its base or one of its attempts that may count (flagged ones count
    // unless the station holds them, a setting the file does not keep).
    void checkBests() {
        struct Counted {
            double strict = 0;
            std::vector<double> allowed;
        };
        QHash<QString, Base> base = bases_;
        for (const Chain::Genesis::Floor& f : std::as_const(genesis_.floors))
            if (!base.contains(f.tpid))
                base[f.tpid] = {genesis_.attemptMax, numberOf(f.best)};
        QHash<QString, Counted> counted;
        Stmt a(db_, "select id, tpid, speed_text, status from attempt order by id");
        while (a.step()) {
            const QString tpid = a.value(1).toString();
            const Base b = base.value(tpid);
            if (a.integer(0) <= b.after)
                continue;
            const QString status = a.value(3).toString();
            const double v = numberOf(a.value(2));
            Counted& c = counted[tpid];
            if (status == QLatin1String("ok") || status == QLatin1String("accepted")) {
                c.strict = std::max(c.strict, v);
                c.allowed.push_back(v);
            } else if (status == QLatin1String("suspect")) {
                c.allowed.push_back(v);
            }
        }
        Stmt s(db_, "select tpid, speed from speed where tpid is not null and tpid<>''");
        while (s.step()) {
            const QString tpid = s.value(0).toString();
            const double stored = numberOf(s.value(1));
            const Base b = base.value(tpid);
            const Counted c = counted.value(tpid);
            const bool explained =
                same(stored, b.speed) || std::any_of(c.allowed.cbegin(), c.allowed.cend(),
                                                     [&](double v) { return same(v, stored); });
            if (stored + 1e-9 < std::max(b.speed, c.strict) || (!explained && stored != 0)) {
                broke(lastSeq_ + 1, QStringLiteral("speed"), tpid, QStringLiteral("changed"),
                      QStringLiteral("best %1 is not what the chain's attempts give (%2)")
                          .arg(s.value(1).toString())
                          .arg(std::max(b.speed, c.strict), 0, 'g', 17));
                return;
            }
        }
    }

    QStringList dependents(const ChainCheck::Break& b) {
        QStringList out;
        if (b.table == QLatin1String("passing") && !b.rowId.isEmpty()) {
            Stmt k(db_, "select id, tpid from attempt where ?1 in (passing1, passing2)");
            k.bind(1, b.rowId.toLongLong());
            while (k.step())
                out << QStringLiteral("attempt %1 (%2) and the best of %2")
                           .arg(k.integer(0))
                           .arg(k.value(1).toString());
        } else if (b.table == QLatin1String("attempt") && !b.rowId.isEmpty()) {
            Stmt k(db_, "select tpid from attempt where id=?");
            if (k.bind(1, b.rowId.toLongLong()).step())
                out << QStringLiteral("the best of %1").arg(k.value(0).toString());
        } else if (b.table == QLatin1String("speed")) {
            out << QStringLiteral("the best of %1").arg(b.rowId);
        } else {
            out << QStringLiteral("every result recorded from row %1 of the chain on").arg(b.seq);
        }
        return out;
    }

    struct Base {
        qint64 after = 0;
        double speed = 0;
    };

    Db db_;
    QByteArray key_;
    Stmt passingRow_{db_, "select " KORVANE_CHAIN_PASSING_COLUMNS " from passing where id=?"};
    Stmt attemptRow_{db_, "select " KORVANE_CHAIN_ATTEMPT_COLUMNS " from attempt where id=?"};
    ChainCheck::Result r_;
    std::optional<ChainCheck::Break> first_;
    QHash<qint64, Review> reviews_;
    QHash<QString, Base> bases_;
    std::vector<qint64> passingLinks_;
    std::vector<qint64> attemptLinks_;
    QSet<qint64> headSeqs_;
    QHash<qint64, QByteArray> hashAt_; // at the signed heads' rows
    Chain::Genesis genesis_;
    bool haveGenesis_ = false;
    qint64 lastSeq_ = 0;
    qint64 gap_ = 0;
};

} // namespace

ChainCheck::Result ChainCheck::verify(const QString& databasePath, const QByteArray& publicKey) {
    Result r;
    if (sodium_init() < 0) {
        r.error = QStringLiteral("libsodium cannot start");
        return r;
    }
    try {
        return Checker(databasePath, publicKey).run();
    } catch (const Failure& f) {
        r.error = f.why;
        return r;
    }
}

QString ChainCheck::fingerprint(const QByteArray& publicKey) {
    const QByteArray hex = Chain::sha256(publicKey).left(16).toHex();
    QStringList groups;
    for (qsizetype i = 0; i < hex.size(); i += 4)
        groups << QString::fromLatin1(hex.mid(i, 4));
    return groups.join(QLatin1Char(' '));
}

QByteArray ChainCheck::readPublicKey(const QString& path, QString* why) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), f.errorString());
        return {};
    }
    const QByteArray bytes = f.read(1024);
    if (bytes.size() == crypto_sign_PUBLICKEYBYTES)
        return bytes;
    const QByteArray key = QByteArray::fromHex(bytes.trimmed());
    if (key.size() != crypto_sign_PUBLICKEYBYTES ||
        bytes.trimmed().size() != 2 * crypto_sign_PUBLICKEYBYTES) {
        *why = QStringLiteral("%1: not a public key").arg(QDir::toNativeSeparators(path));
        return {};
    }
    return key;
}

QByteArray ChainCheck::publicKeyIn(const QString& dir, QString* why) {
    return readPublicKey(QDir(dir).filePath(kPublicFile), why);
}
