#include "Chain.h"

#include "Database.h"

#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QtEndian>

#include <sodium.h>
#include <sqlite3.h>

#include <limits>

#define KV_PASSING_COLUMNS KORVANE_CHAIN_PASSING_COLUMNS
#define KV_ATTEMPT_COLUMNS KORVANE_CHAIN_ATTEMPT_COLUMNS

namespace {

enum Tag : char { Null = 0, Integer = 1, Real = 2, Text = 3, Blob = 4 };

void put64(QByteArray& out, quint64 v) {
    char b[8];
    qToBigEndian(v, b);
    out.append(b, 8);
}

void putBytes(QByteArray& out, Tag tag, const QByteArray& bytes) {
    out.append(char(tag));
    char b[4];
    qToBigEndian(quint32(bytes.size()), b);
    out.append(b, 4);
    out.append(bytes);
}

QVariantList rowOf(KeptStatement& q, int columns) {
    QVariantList row;
    row.reserve(columns);
    for (int c = 0; c < columns; ++c)
        row << q.value(c);
    return row;
}

// The head as last appended on this connection, so that a passing costs no
// read of it. Forgotten when a transaction is rolled back (the engine's hook:
// every path, an automatic rollback included) and when the connection
// changes.
struct CachedHead {
    sqlite3* handle = nullptr;
    bool valid = false;
    Chain::Head head;
};
CachedHead& cachedHead() {
    static CachedHead c;
    return c;
}

void forgetHead(void*) {
    cachedHead().valid = false;
}

sqlite3* speedHandle() {
    const QVariant h = SpeedDb::database().driver()->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(h.constData());
}

Chain::Head currentHead() {
    CachedHead& c = cachedHead();
    sqlite3* h = speedHandle();
    if (h && h == c.handle && c.valid)
        return c.head;
    const Chain::Head head = Chain::head();
    if (h) {
        if (h != c.handle)
            sqlite3_rollback_hook(h, forgetHead, nullptr);
        c.handle = h;
        c.head = head;
        c.valid = true;
    }
    return head;
}

void append(const QString& kind, qint64 rowId, const QByteArray& data, const QVariantList& row) {
    const Chain::Head h = currentHead();
    Chain::Link l;
    l.seq = h.seq + 1;
    l.kind = kind;
    l.rowId = rowId;
    l.atMs = QDateTime::currentMSecsSinceEpoch();
    l.data = data;
    l.hash = Chain::linkHash(h.hash, l, row);
    KeptStatement& q = KeptStatement::of(
        "insert into chain (seq, kind, row_id, at_ms, data, hash) values (?,?,?,?,?,?)");
    q.bind(1, l.seq);
    q.bind(2, l.kind);
    q.bind(3, l.rowId);
    q.bind(4, l.atMs);
    if (data.isEmpty())
        q.bindNull(5);
    else
        q.bind(5, data);
    q.bind(6, l.hash);
    try {
        q.run();
    } catch (...) {
        cachedHead().valid = false;
        throw;
    }
    cachedHead().head = {l.seq, l.hash};
}

sqlite3* handleOf(QSqlDatabase db) {
    const QVariant h = db.driver()->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0 ||
        !*static_cast<sqlite3* const*>(h.constData()))
        throw DbError(QStringLiteral("the database connection is not open"));
    return *static_cast<sqlite3* const*>(h.constData());
}

// SHA-256 over the encoded rows of one statement, and the largest first
// column seen.
struct RowsHash {
    qint64 maxId = 0;
    QByteArray hash;
};
RowsHash hashRows(sqlite3* db, const char* sql, qint64 upTo) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        const QString why = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(s);
        throw DbError(why);
    }
    sqlite3_bind_int64(s, 1, upTo);
    crypto_hash_sha256_state st;
    crypto_hash_sha256_init(&st);
    RowsHash r;
    int rc;
    const int columns = sqlite3_column_count(s);
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        QVariantList row;
        for (int c = 0; c < columns; ++c)
            row << Chain::columnValue(s, c);
        r.maxId = std::max(r.maxId, qint64(sqlite3_column_int64(s, 0)));
        const QByteArray e = Chain::encode(row);
        crypto_hash_sha256_update(&st, reinterpret_cast<const unsigned char*>(e.constData()),
                                  quint64(e.size()));
    }
    const QString why = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE)
        throw DbError(why);
    r.hash.resize(Chain::kHashBytes);
    crypto_hash_sha256_final(&st, reinterpret_cast<unsigned char*>(r.hash.data()));
    return r;
}

} // namespace

bool Chain::enabled() {
    static const bool on = !qEnvironmentVariableIsSet("KORVANE_BENCH_NO_CHAIN");
    return on;
}

void Chain::encodeValue(QByteArray& out, const QVariant& v) {
    if (!v.isValid() || v.isNull()) {
        out.append(char(Null));
        return;
    }
    switch (v.metaType().id()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
    case QMetaType::UInt:
    case QMetaType::Bool:
        out.append(char(Integer));
        put64(out, quint64(v.toLongLong()));
        return;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        quint64 bits;
        static_assert(sizeof bits == sizeof d);
        memcpy(&bits, &d, sizeof d);
        out.append(char(Real));
        put64(out, bits);
        return;
    }
    case QMetaType::QByteArray:
        putBytes(out, Blob, v.toByteArray());
        return;
    default:
        putBytes(out, Text, v.toString().toUtf8());
    }
}

QByteArray Chain::encode(const QVariantList& values) {
    QByteArray out;
    for (const QVariant& v : values)
        encodeValue(out, v);
    return out;
}

std::optional<QVariantList> Chain::decode(const QByteArray& bytes) {
    QVariantList out;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const char tag = bytes[at++];
        if (tag == Null) {
            out << QVariant();
        } else if (tag == Integer || tag == Real) {
            if (bytes.size() - at < 8)
                return std::nullopt;
            const quint64 bits = qFromBigEndian<quint64>(bytes.constData() + at);
            at += 8;
            if (tag == Integer) {
                out << QVariant(qint64(bits));
            } else {
                double d;
                memcpy(&d, &bits, sizeof d);
                out << QVariant(d);
            }
        } else if (tag == Text || tag == Blob) {
            if (bytes.size() - at < 4)
                return std::nullopt;
            const quint32 n = qFromBigEndian<quint32>(bytes.constData() + at);
            at += 4;
            if (quint64(bytes.size() - at) < n)
                return std::nullopt;
            const QByteArray b = bytes.mid(at, n);
            at += n;
            out << (tag == Text ? QVariant(QString::fromUtf8(b)) : QVariant(b));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

QByteArray Chain::sha256(const QByteArray& bytes) {
    QByteArray h(kHashBytes, '\0');
    crypto_hash_sha256(reinterpret_cast<unsigned char*>(h.data()),
                       reinterpret_cast<const unsigned char*>(bytes.constData()),
                       quint64(bytes.size()));
    return h;
}

QByteArray Chain::linkHash(const QByteArray& previous, const Link& link, const QVariantList& row) {
    QByteArray in = previous.isEmpty() ? QByteArray(kHashBytes, '\0') : previous;
    encodeValue(in, link.seq);
    encodeValue(in, link.kind);
    encodeValue(in, link.rowId);
    encodeValue(in, link.atMs);
    encodeValue(in, link.data.isEmpty() ? QVariant() : QVariant(link.data));
    for (const QVariant& v : row)
        encodeValue(in, v);
    return sha256(in);
}

QVariant Chain::columnValue(sqlite3_stmt* s, int column) {
    switch (sqlite3_column_type(s, column)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(s, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(s, column));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(s, column)),
                                   sqlite3_column_bytes(s, column)));
    case SQLITE_NULL:
        return QVariant();
    default:
        return QVariant(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, column)),
                              sqlite3_column_bytes(s, column)));
    }
}

void Chain::createSchema(QSqlDatabase db) {
    if (sodium_init() < 0)
        throw DbError(QStringLiteral("libsodium cannot start"));
    // A new connection (perhaps at the address of one closed before).
    cachedHead() = {};
    const bool had = runBound(db, QStringLiteral("select 1 from sqlite_master where "
                                                 "type='table' and name='chain'"))
                         .next();
    if (!had) {
        if (!db.transaction())
            throw DbError(engineMessage(db.lastError()));
        try {
            runBound(db, QStringLiteral("create table chain (seq integer primary key, "
                                        "kind text not null, row_id integer not null, "
                                        "at_ms integer not null, data blob, hash blob not null)"));
            // Rows older than the chain: one link that hashes them as they are.
            const bool older =
                runBound(db, QStringLiteral("select 1 from passing union all select 1 from "
                                            "attempt union all select 1 from speed limit 1"))
                    .next();
            if (older) {
                sqlite3* h = handleOf(db);
                const RowsHash p = hashRows(
                    h, "select " KV_PASSING_COLUMNS " from passing where id<=? order by id",
                    std::numeric_limits<qint64>::max());
                const RowsHash a = hashRows(
                    h, "select " KV_ATTEMPT_COLUMNS " from attempt where id<=? order by id",
                    std::numeric_limits<qint64>::max());
                QByteArray floors;
                QSqlQuery f = runBound(
                    db, QStringLiteral("select s.tpid, s.speed, b.after_attempt, b.base_speed "
                                       "from speed s left join best_base b on b.tpid=s.tpid "
                                       "where s.tpid is not null and s.tpid<>'' order by s.tpid"));
                while (f.next())
                    floors += encode({f.value(0).toString(), f.value(1),
                                      f.value(2).isNull() ? qint64(0) : f.value(2).toLongLong(),
                                      f.value(3).isNull() ? 0.0 : f.value(3).toDouble()});
                Link l;
                l.seq = 1;
                l.kind = QStringLiteral("genesis");
                l.atMs = QDateTime::currentMSecsSinceEpoch();
                l.data = encode({p.maxId, p.hash, a.maxId, a.hash, floors});
                l.hash = linkHash({}, l, {});
                runBound(db,
                         QStringLiteral("insert into chain (seq, kind, row_id, at_ms, data, hash) "
                                        "values (?,?,0,?,?,?)"),
                         {l.seq, l.kind, l.atMs, l.data, l.hash});
            }
            if (!db.commit())
                throw DbError(engineMessage(db.lastError()));
        } catch (...) {
            db.rollback();
            throw;
        }
    }
    runBound(db, QStringLiteral("create table if not exists chain_head (id integer primary key, "
                                "seq integer not null, hash blob not null, at_ms integer not null, "
                                "signature blob not null, public_key blob not null)"));
    // An attempt's reviews (the history's reasons): few rows, and none of
    // the passings' and attempts' links, so the store path pays nothing.
    runBound(db, QStringLiteral("create index if not exists chain_review on chain(row_id) "
                                "where kind in ('accept','reject','correct')"));
}

namespace {

// A REAL column never holds an integer: the engine keeps a whole number in
// it as one on the page but gives it back as a real, except through an
// insert's RETURNING, which gives the integer. Made what a read gives.
QVariantList asRead(QVariantList row, std::initializer_list<int> realColumns) {
    for (int c : realColumns)
        if (c < row.size() && row[c].metaType().id() == QMetaType::LongLong)
            row[c] = QVariant(double(row[c].toLongLong()));
    return row;
}

} // namespace

void Chain::appendPassing(const QVariantList& row) {
    append(QStringLiteral("passing"), row.value(0).toLongLong(), {}, asRead(row, {4}));
}

QVariantList Chain::attemptRow(qint64 id) {
    KeptStatement& q = KeptStatement::of("select " KV_ATTEMPT_COLUMNS " from attempt where id=?");
    q.bind(1, id);
    QVariantList row;
    if (q.step())
        row = rowOf(q, kAttemptColumnCount);
    q.reset();
    return row;
}

void Chain::appendAttempt(const QVariantList& row) {
    // time1, time2, speed, orig_speed
    append(QStringLiteral("attempt"), row.value(0).toLongLong(), {}, asRead(row, {4, 5, 7, 12}));
}

void Chain::appendReview(const QString& kind, qint64 attemptId, const QString& reason,
                         const QVariantList& before) {
    append(kind, attemptId, encode({reason, encode(before), encode(attemptRow(attemptId))}), {});
}

void Chain::appendBase(const QString& kind, const QString& tpid, const QString& oldTpid) {
    KeptStatement& q =
        KeptStatement::of("select after_attempt, base_speed from best_base where tpid=?");
    q.bind(1, tpid);
    QVariantList row{tpid};
    if (q.step())
        row << q.value(0) << q.value(1);
    q.reset();
    if (!oldTpid.isEmpty())
        row << oldTpid;
    append(kind, 0, encode(row), {});
}

Chain::Head Chain::head() {
    KeptStatement& q = KeptStatement::of("select seq, hash from chain order by seq desc limit 1");
    Head h;
    if (q.step()) {
        h.seq = q.integer(0);
        h.hash = q.value(1).toByteArray();
    }
    q.reset();
    return h;
}

Chain::Head Chain::attemptLink(qint64 attemptId) {
    KeptStatement& q = KeptStatement::of(
        "select seq, hash from chain where kind='attempt' and row_id=? order by seq desc limit 1");
    q.bind(1, attemptId);
    Head h;
    if (q.step()) {
        h.seq = q.integer(0);
        h.hash = q.value(1).toByteArray();
    }
    q.reset();
    return h;
}

QString Chain::reviewReason(qint64 attemptId, const QString& kind) {
    // The kinds as the review index names them, so that it is used.
    KeptStatement& q = KeptStatement::of("select kind, data from chain where row_id=? and kind in "
                                         "('accept','reject','correct') order by seq desc");
    q.bind(1, attemptId);
    QString reason;
    while (q.step()) {
        if (q.value(0).toString() != kind)
            continue;
        if (const std::optional<QVariantList> d = decode(q.value(1).toByteArray()))
            reason = d->value(0).toString();
        break;
    }
    q.reset();
    return reason;
}

QByteArray Chain::headMessage(qint64 seq, const QByteArray& hash, qint64 atMs) {
    QByteArray m("korvane-chain-head");
    encodeValue(m, seq);
    encodeValue(m, hash);
    encodeValue(m, atMs);
    return m;
}

void Chain::storeSignedHead(const SignedHead& h) {
    Batch batch;
    try {
        KeptStatement& q =
            KeptStatement::of("insert into chain_head (seq, hash, at_ms, signature, public_key) "
                              "values (?,?,?,?,?)");
        q.bind(1, h.seq);
        q.bind(2, h.hash);
        q.bind(3, h.atMs);
        q.bind(4, h.signature);
        q.bind(5, h.publicKey);
        q.run();
        batch.commit();
    } catch (...) {
        batch.rollback();
        throw;
    }
}

std::optional<Chain::SignedHead> Chain::lastSignedHead() {
    KeptStatement& q = KeptStatement::of(
        "select seq, hash, at_ms, signature, public_key from chain_head order by id desc limit 1");
    std::optional<SignedHead> h;
    if (q.step())
        h = SignedHead{q.integer(0), q.value(1).toByteArray(), q.integer(2),
                       q.value(3).toByteArray(), q.value(4).toByteArray()};
    q.reset();
    return h;
}

QList<Chain::SignedHead> Chain::signedHeadsAfter(QSqlDatabase db, qint64 afterSeq, int limit) {
    QList<SignedHead> out;
    if (!runBound(db, QStringLiteral("select 1 from sqlite_master where type = 'table' and name ="
                                     " 'chain_head'"))
             .next())
        return out;
    QSqlQuery q = runBound(db,
                           QStringLiteral("select seq, hash, at_ms, signature, public_key from "
                                          "chain_head where id in (select max(id) from chain_head"
                                          " where seq > ? group by seq) order by seq limit ?"),
                           {afterSeq, limit});
    while (q.next())
        out << SignedHead{q.value(0).toLongLong(), q.value(1).toByteArray(),
                          q.value(2).toLongLong(), q.value(3).toByteArray(),
                          q.value(4).toByteArray()};
    return out;
}

std::optional<Chain::Genesis> Chain::genesisOf(const QByteArray& data) {
    const std::optional<QVariantList> v = decode(data);
    if (!v || v->size() != 5)
        return std::nullopt;
    Genesis g;
    g.passingMax = (*v)[0].toLongLong();
    g.passingsHash = (*v)[1].toByteArray();
    g.attemptMax = (*v)[2].toLongLong();
    g.attemptsHash = (*v)[3].toByteArray();
    const std::optional<QVariantList> f = decode((*v)[4].toByteArray());
    if (!f || f->size() % 4 != 0)
        return std::nullopt;
    for (qsizetype i = 0; i < f->size(); i += 4)
        g.floors << Genesis::Floor{(*f)[i].toString(), (*f)[i + 1], (*f)[i + 2].toLongLong(),
                                   (*f)[i + 3].toDouble()};
    return g;
}
