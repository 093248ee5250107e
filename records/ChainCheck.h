#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Checks a station's database file against its chain (see Chain.h), on a
// connection of its own that changes nothing in the file: every link's hash
// anew from the rows it covers, every signed head against the station's
// public key, every row of passing and attempt held by a link, and every
// best of `speed` against what the chain's attempts and reviews give.
namespace ChainCheck {

// What broke first. kind is one of "changed", "missing", "reordered",
// "truncated", "other key".
struct Break {
    qint64 seq = 0; // the chain's row where it shows
    QString table;  // "passing", "attempt", "chain", "chain_head", "speed"
    QString rowId;  // the row of that table (a transponder ID for speed)
    QString kind;
    QString detail;
};

struct Result {
    QString error; // the file could not be read: nothing was checked
    qint64 links = 0;
    qint64 heads = 0;
    qint64 signedUpTo = 0; // the highest row a valid signature covers
    bool genesis = false;
    std::optional<Break> first;
    QStringList dependents; // the results that rest on the first break
    bool ok() const { return error.isEmpty() && !first; }
};

// publicKey: the 32 bytes every head must be signed with.
Result verify(const QString& databasePath, const QByteArray& publicKey);

// A public key's fingerprint as the station shows it: the first 16 bytes of
// its SHA-256 in hex, in groups of four.
QString fingerprint(const QByteArray& publicKey);

// The station's public key in its data folder: hex text in "evidence.pub".
inline const QString kPublicFile = QStringLiteral("evidence.pub");
// A public key file: hex text or 32 raw bytes; empty with why set when it
// cannot be read or holds no key.
QByteArray readPublicKey(const QString& path, QString* why);
QByteArray publicKeyIn(const QString& dataDir, QString* why);

} // namespace ChainCheck
