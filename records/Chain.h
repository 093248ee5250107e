#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVector>

#include <optional>

struct sqlite3;
struct sqlite3_stmt;

// Table `chain`: a hash chain over every fact the journal records, so that a
// station's records can be checked by anyone later (korvane-verify). Each
// link is appended in the transaction of the fact it covers: a killed program
// leaves a chain that holds up to its last commit.
//
//   chain       seq (1, 2, ... without gaps), kind, row_id (the passing or
//               attempt it covers; 0 for none), at_ms (PC time, UTC ms, of
//               the append), data (what the link itself holds: a review
//               action, the genesis), hash (32 bytes)
//   chain_head  id, seq, hash, at_ms, signature, public_key: heads of the
//               chain signed by the station's key (rooms/evidence)
//
// Kinds: "genesis" (the journal as it stood when the chain began), "passing",
// "attempt", "accept", "reject", "correct", "clear" (the ranking page
// cleared a record), "move" (the registration page gave a row a new ID).
//
// Canonical encoding of a value (encodeValue), chosen so that the same bytes
// come from the engine's storage classes on any machine:
//   null     0x00
//   integer  0x01, 8 bytes two's complement, big-endian
//   real     0x02, the 8 bytes of the IEEE 754 binary64, big-endian
//   text     0x03, length as 4 bytes big-endian, the UTF-8 bytes
//   blob     0x04, length as 4 bytes big-endian, the bytes
// A list of values is their encodings one after the other (encode).
//
// A link's hash is SHA-256 over
//   previous hash (32 zero bytes before the first link)
//   || encode(seq, kind, row_id, at_ms, data)
//   || encode(the covered row's columns, in the order of KORVANE_CHAIN_*_COLUMNS, as stored right
//   after the insert; nothing for a
//      link that covers no row)
//
// A review link's data is encode(reason, before, after) with before and
// after each encode(kAttemptColumns) of the attempt around the change; a
// clear's or a move's data is encode(tpid, after_attempt, base_speed) of
// the best_base row it left, a move's followed by the old ID. The genesis's data is described at
// genesis().
namespace Chain {

inline constexpr int kHashBytes = 32;

// The columns a link covers, in the order they are hashed (macros, so that
// they join the statements' literals).
#define KORVANE_CHAIN_PASSING_COLUMNS "id, received_ms, loop, tpid, time, raw"
#define KORVANE_CHAIN_ATTEMPT_COLUMNS                                                              \
    "id, tpid, passing1, passing2, time1, time2, dist_cm, speed, speed_text, flags, status, "      \
    "measured_ms, orig_speed, orig_speed_text, orig_dist_cm, changed_ms"
inline constexpr int kPassingColumnCount = 6;
inline constexpr int kAttemptColumnCount = 16;

// False only where a benchmark measures the store path without the chain
// (environment KORVANE_BENCH_NO_CHAIN): the verifier then finds the rows
// without links.
bool enabled();

void encodeValue(QByteArray& out, const QVariant& v);
QByteArray encode(const QVariantList& values);
// Reads an encoding back; nothing when the bytes are not one.
std::optional<QVariantList> decode(const QByteArray& bytes);
QByteArray sha256(const QByteArray& bytes);

struct Link {
    qint64 seq = 0;
    QString kind;
    qint64 rowId = 0;
    qint64 atMs = 0;
    QByteArray data; // empty: none
    QByteArray hash;
};
QByteArray linkHash(const QByteArray& previous, const Link& link, const QVariantList& row);

// A column as the engine stores it: null, integer, real, text or blob.
QVariant columnValue(sqlite3_stmt* s, int column);

// Creates the tables where missing. A file whose journal already holds rows
// and has no chain gets its genesis link in the same transaction.
void createSchema(QSqlDatabase db);

// Appended in the caller's transaction; each raises DbError. The row is
// the covered row's columns as the engine stored them (an insert's
// RETURNING KORVANE_CHAIN_*_COLUMNS).
void appendPassing(const QVariantList& row);
void appendAttempt(const QVariantList& row);
// The attempt's columns as stored now (kAttemptColumns); empty when it is gone.
QVariantList attemptRow(qint64 id);
// A review action on an attempt: kind "accept", "reject" or "correct".
void appendReview(const QString& kind, qint64 attemptId, const QString& reason,
                  const QVariantList& before);
// The transponder's best_base row changed: kind "clear" or "move" (from
// `oldTpid`, whose attempts stay with it).
void appendBase(const QString& kind, const QString& tpid, const QString& oldTpid = {});

struct Head {
    qint64 seq = 0; // 0: the chain is empty
    QByteArray hash;
};
Head head();

// The link that records the attempt (the newest first: one asked for is
// usually recent); seq 0 when the chain holds none.
Head attemptLink(qint64 attemptId);
// The reason given with the attempt's last review of `kind`; empty for none.
QString reviewReason(qint64 attemptId, const QString& kind);

// What the station's key signs for a head: "korvane-chain-head" || encode(seq,
// hash, at_ms).
QByteArray headMessage(qint64 seq, const QByteArray& hash, qint64 atMs);

struct SignedHead {
    qint64 seq = 0;
    QByteArray hash;
    qint64 atMs = 0;
    QByteArray signature;
    QByteArray publicKey;
};
// Stored in a transaction of its own.
void storeSignedHead(const SignedHead& h);
std::optional<SignedHead> lastSignedHead();
// On a connection of the caller's own (another thread's): the signed heads
// past `afterSeq`, oldest first, at most `limit`, the last one signed of each
// seq. Empty where the file has no signed heads; raises DbError.
QList<SignedHead> signedHeadsAfter(QSqlDatabase db, qint64 afterSeq, int limit);

// The genesis link's data: encode(passing_max, passings_hash, attempt_max,
// attempts_hash, bests) where the hashes are SHA-256 over the encoded rows
// (kPassingColumns / kAttemptColumns) up to the max id, oldest first, and
// bests is encode of (tpid, best text, after_attempt, base_speed) per row of
// `speed` with a transponder ID, by tpid.
struct Genesis {
    qint64 passingMax = 0;
    QByteArray passingsHash;
    qint64 attemptMax = 0;
    QByteArray attemptsHash;
    struct Floor {
        QString tpid;
        QVariant best;
        qint64 afterAttempt = 0;
        double baseSpeed = 0;
    };
    QVector<Floor> floors;
};
std::optional<Genesis> genesisOf(const QByteArray& data);

} // namespace Chain
