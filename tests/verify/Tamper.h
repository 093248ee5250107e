#pragma once

// A station's journal built through the program's own store, measuring and
// review code, its chain's heads signed as the evidence room signs them, and
// one random change to a copy of it: the change a forger would make, and the
// row the verifier has to name for it. Shared by tst_verify (a few hundred
// rounds) and bench_tamper (ten thousand).
#include "Chain.h"
#include "ChainCheck.h"
#include "Database.h"
#include "Ingest.h"
#include "Journal.h"
#include "Review.h"
#include "SpeedTable.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <sodium.h>
#include <sqlite3.h>

#include <functional>
#include <memory>

namespace tamper {

struct KeyPair {
    QByteArray pub, sec;
    KeyPair() {
        if (sodium_init() < 0)
            qFatal("libsodium cannot start");
        pub.resize(crypto_sign_PUBLICKEYBYTES);
        sec.resize(crypto_sign_SECRETKEYBYTES);
        crypto_sign_keypair(reinterpret_cast<unsigned char*>(pub.data()),
                            reinterpret_cast<unsigned char*>(sec.data()));
    }
    QByteArray sign(const QByteArray& m) const {
        QByteArray s(crypto_sign_BYTES, '\0');
        crypto_sign_detached(reinterpret_cast<unsigned char*>(s.data()), nullptr,
                             reinterpret_cast<const unsigned char*>(m.constData()),
                             quint64(m.size()),
                             reinterpret_cast<const unsigned char*>(sec.constData()));
        return s;
    }
};

inline void signHead(const KeyPair& k) {
    const Chain::Head h = Chain::head();
    const qint64 at = 1700000000000 + h.seq;
    Chain::storeSignedHead(
        {h.seq, h.hash, at, k.sign(Chain::headMessage(h.seq, h.hash, at)), k.pub});
}

// `attempts` laps of 25 cars (IDs from firstId) through the store and measuring path, one in
// nine too fast (suspect), with reviews (accept, reject, correct with a
// reason), a cleared record and a changed ID along the way; the head signed
// every 100 rows. The database is closed at the end, its log folded in.
// grouped: ten thousand laps to a commit, for a large journal in little time.
inline void build(const QString& dbPath, int attempts, const KeyPair& key, int firstId = 1000,
                  bool grouped = false) {
    SpeedDb::open(dbPath);
    SpeedDb::checkNameColumn();
    std::unique_ptr<BatchGroup> group;
    qint64 ms = 1700000000000;
    qint64 signedSeq = 0;
    for (int lap = 0; lap < attempts; ++lap) {
        if (grouped && lap % 10000 == 0) {
            if (group)
                group->commit();
            group = std::make_unique<BatchGroup>();
        }
        const QString tpid = QString::number(firstId + lap % 25);
        const double t1 = 100 + lap * 0.5;
        // Now and then a lap far too short: a suspect attempt.
        const double t2 = t1 + (lap % 9 == 4 ? 0.004 : 0.25 + (lap % 7) * 0.01);
        for (int loop = 1; loop <= 2; ++loop) {
            const QString t = QString::number(loop == 1 ? t1 : t2, 'f', 3);
            const QByteArray raw = "@\t" + QByteArray::number(loop) + "\t0\t" + tpid.toLatin1() +
                                   '\t' + t.toLatin1() + "\t0\t\r\n";
            Batch b;
            ingest::storePassing({loop, tpid, t, ms, raw});
            b.commit();
            ms += 250;
        }
        if (const std::optional<SpeedTable::PendingRow> row = SpeedTable::nextPending())
            ingest::record(ingest::evaluate(*row, 500, SuspectChecks{}, ms));
        if (lap % 97 == 50) {
            const Review::Rules rules;
            // Recent attempts by id: a search by time reads the whole table.
            const qint64 last = Journal::lastAttemptId();
            const QVector<qint64> some{last - 20, last - 10, last - 5};
            if (last > 20) {
                Review::accept({some[0]}, rules);
                Review::reject({some[1]}, rules);
                Review::correct({some[2]}, 480, ms, rules, true,
                                QStringLiteral("the section was measured anew"));
            }
        }
        if (lap == attempts / 3)
            SpeedTable::clearBest(QString::number(firstId + 3));
        if (lap == attempts / 2)
            SpeedTable::changeIdAndName(QString::number(firstId + 7),
                                        QString::number(firstId + 100007),
                                        QStringLiteral("renamed"));
        if (Chain::head().seq >= signedSeq + 100) {
            signHead(key);
            signedSeq = Chain::head().seq;
        }
    }
    if (group)
        group->commit();
    signHead(key);
    SpeedDb::close();
}

// What the verifier must report for a change.
struct Expected {
    QString what; // the change, for a failure message
    QString table;
    QString rowId;
    QString kind;
};

class Db {
public:
    explicit Db(const QString& path) { sqlite3_open(path.toUtf8().constData(), &db_); }
    ~Db() { sqlite3_close(db_); }
    qint64 integer(const QString& sql) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db_, sql.toUtf8().constData(), -1, &s, nullptr);
        const qint64 v = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
        sqlite3_finalize(s);
        return v;
    }
    // One statement with its values bound in order.
    bool run(const QString& sql, const QVariantList& values = {}) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, sql.toUtf8().constData(), -1, &s, nullptr) != SQLITE_OK)
            return false;
        QList<QByteArray> keep;
        for (int i = 0; i < values.size(); ++i) {
            const QVariant& v = values[i];
            if (v.metaType().id() == QMetaType::QByteArray) {
                keep << v.toByteArray();
                sqlite3_bind_blob(s, i + 1, keep.last().constData(), int(keep.last().size()),
                                  SQLITE_STATIC);
            } else if (v.metaType().id() == QMetaType::Double) {
                sqlite3_bind_double(s, i + 1, v.toDouble());
            } else if (v.metaType().id() == QMetaType::QString) {
                keep << v.toString().toUtf8();
                sqlite3_bind_text(s, i + 1, keep.last().constData(), int(keep.last().size()),
                                  SQLITE_STATIC);
            } else {
                sqlite3_bind_int64(s, i + 1, v.toLongLong());
            }
        }
        const int rc = sqlite3_step(s);
        sqlite3_finalize(s);
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    QByteArray blob(const QString& sql) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db_, sql.toUtf8().constData(), -1, &s, nullptr);
        QByteArray b;
        if (sqlite3_step(s) == SQLITE_ROW)
            b = QByteArray(static_cast<const char*>(sqlite3_column_blob(s, 0)),
                           sqlite3_column_bytes(s, 0));
        sqlite3_finalize(s);
        return b;
    }

private:
    sqlite3* db_ = nullptr;
};

// Applies one random change to the file at `path` and says what the
// verifier must name.
inline Expected change(const QString& path, QRandomGenerator& rnd) {
    Db db(path);
    const qint64 passings = db.integer(QStringLiteral("select max(id) from passing"));
    const qint64 attempts = db.integer(QStringLiteral("select max(id) from attempt"));
    const qint64 links = db.integer(QStringLiteral("select max(seq) from chain"));
    const qint64 p = 1 + rnd.bounded(passings - 1);
    const qint64 a = 1 + rnd.bounded(attempts);
    const QString ps = QString::number(p), as = QString::number(a);
    switch (rnd.bounded(9)) {
    case 0: {
        QByteArray raw = db.blob(QStringLiteral("select raw from passing where id=%1").arg(p));
        const int at = rnd.bounded(int(raw.size()));
        raw[at] = char(raw[at] ^ (1 + rnd.bounded(255)));
        db.run(QStringLiteral("update passing set raw=? where id=?"), {raw, p});
        return {QStringLiteral("a byte of raw line %1").arg(p), QStringLiteral("passing"), ps,
                QStringLiteral("changed")};
    }
    case 1:
        db.run(QStringLiteral("update passing set time=time+0.001 where id=?"), {p});
        return {QStringLiteral("the time of passing %1").arg(p), QStringLiteral("passing"), ps,
                QStringLiteral("changed")};
    case 2:
        db.run(QStringLiteral("update attempt set speed=speed+0.5, speed_text=speed_text||'1' "
                              "where id=?"),
               {a});
        return {QStringLiteral("the speed of attempt %1").arg(a), QStringLiteral("attempt"), as,
                QStringLiteral("changed")};
    case 3:
        db.run(QStringLiteral("update attempt set status=case status when 'ok' then 'rejected' "
                              "else 'ok' end where id=?"),
               {a});
        return {QStringLiteral("the status of attempt %1").arg(a), QStringLiteral("attempt"), as,
                QStringLiteral("changed")};
    case 4:
        db.run(QStringLiteral("delete from passing where id=?"), {p});
        return {QStringLiteral("passing %1 deleted").arg(p), QStringLiteral("passing"), ps,
                QStringLiteral("missing")};
    case 5: {
        const qint64 seq = 1 + rnd.bounded(links - 1);
        db.run(QStringLiteral("delete from chain where seq=?"), {seq});
        return {QStringLiteral("link %1 deleted").arg(seq), QStringLiteral("chain"),
                QString::number(seq), QStringLiteral("missing")};
    }
    case 6: {
        // Two passings trade places (their contents; the ids stay).
        const QString cols = QStringLiteral("received_ms, loop, tpid, time, raw");
        db.run(QStringLiteral("create temp table t as select * from passing where id in (?,?)"),
               {p, p + 1});
        db.run(QStringLiteral("update passing set (%1) = (select %1 from t where t.id=?) "
                              "where id=?")
                   .arg(cols),
               {p + 1, p});
        db.run(QStringLiteral("update passing set (%1) = (select %1 from t where t.id=?) "
                              "where id=?")
                   .arg(cols),
               {p, p + 1});
        return {QStringLiteral("passings %1 and %2 swapped").arg(p).arg(p + 1),
                QStringLiteral("passing"), ps, QStringLiteral("reordered")};
    }
    case 7: {
        // The tail cut before the last signed head, rows and links alike.
        // After the last review: a forger would have to undo what the
        // reviews cut off did to their attempts as well.
        const qint64 headSeq = db.integer(QStringLiteral("select max(seq) from chain_head"));
        const qint64 reviewed = db.integer(QStringLiteral(
            "select ifnull(max(seq),0) from chain where kind not in ('passing','attempt')"));
        const qint64 from = qMax(reviewed, headSeq - 150);
        if (from >= headSeq - 1)
            return change(path, rnd);
        const qint64 keep = from + rnd.bounded(headSeq - 1 - from);
        const qint64 p0 = db.integer(
            QStringLiteral(
                "select ifnull(min(row_id),1e18) from chain where kind='passing' and seq>%1")
                .arg(keep));
        const qint64 a0 = db.integer(
            QStringLiteral(
                "select ifnull(min(row_id),1e18) from chain where kind='attempt' and seq>%1")
                .arg(keep));
        db.run(QStringLiteral("delete from passing where id>=?"), {p0});
        db.run(QStringLiteral("delete from attempt where id>=?"), {a0});
        db.run(QStringLiteral("delete from chain where seq>?"), {keep});
        return {QStringLiteral("the tail cut after link %1").arg(keep), QStringLiteral("chain"),
                QString::number(keep + 1), QStringLiteral("truncated")};
    }
    default: {
        // Another key signs every head anew.
        const KeyPair other;
        const qint64 heads = db.integer(QStringLiteral("select max(id) from chain_head"));
        for (qint64 id = 1; id <= heads; ++id) {
            const qint64 seq =
                db.integer(QStringLiteral("select seq from chain_head where id=%1").arg(id));
            const qint64 at =
                db.integer(QStringLiteral("select at_ms from chain_head where id=%1").arg(id));
            const QByteArray hash =
                db.blob(QStringLiteral("select hash from chain_head where id=%1").arg(id));
            db.run(QStringLiteral("update chain_head set signature=?, public_key=? where id=?"),
                   {other.sign(Chain::headMessage(seq, hash, at)), other.pub, id});
        }
        return {QStringLiteral("signed by another key"), QStringLiteral("chain_head"),
                QStringLiteral("1"), QStringLiteral("other key")};
    }
    }
}

// Empty when the verifier named what it had to.
inline QString judge(const ChainCheck::Result& r, const Expected& e) {
    if (!r.error.isEmpty())
        return QStringLiteral("%1: not read: %2").arg(e.what, r.error);
    if (!r.first)
        return QStringLiteral("%1: not detected").arg(e.what);
    const ChainCheck::Break& b = *r.first;
    if (b.table != e.table || b.rowId != e.rowId || b.kind != e.kind)
        return QStringLiteral("%1: told %2 %3 %4 (%5), not %6 %7 %8")
            .arg(e.what, b.table, b.rowId, b.kind, b.detail, e.table, e.rowId, e.kind);
    return {};
}

} // namespace tamper
