#pragma once

#include "Chain.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

// Claims: short ASCII texts that name results and the chain links holding
// them, small enough for a QR code, checked by `korvane-verify --claim` against
// evidence bundles and by `korvane-verify --head` against a data folder.
//
//   korvane-evidence:1;fp=<FP>;attempt=<ID>[,<ID>];row=<SEQ>[,<SEQ>];hash=<HEX>[,<HEX>]
//   korvane-head:1;fp=<FP>;row=<SEQ>;hash=<HEX>;at=<UTC ms>;sig=<HEX>
//
// FP is the key's fingerprint as ChainCheck::fingerprint gives it without its
// spaces; the three lists of an evidence claim run in step, one entry per
// attempt (the link of kind "attempt" that records it).
namespace Claim {

struct Entry {
    qint64 attemptId = 0;
    qint64 seq = 0;
    QByteArray hash; // 32 bytes
};

QByteArray evidenceClaim(const QString& fingerprint, const QVector<Entry>& entries);

struct Evidence {
    QString fingerprint; // bare: lower-case hex, no separators
    QVector<Entry> entries;
};
// Nothing, with why set, for a text that is not an evidence claim.
std::optional<Evidence> parseEvidence(const QByteArray& text, QString* why);

QByteArray headClaim(const QString& fingerprint, const Chain::SignedHead& head);

struct Head {
    QString fingerprint; // bare
    qint64 seq = 0;
    QByteArray hash;
    qint64 atMs = 0;
    QByteArray signature;
};
std::optional<Head> parseHead(const QByteArray& text, QString* why);

// A fingerprint as a claim writes it: lower case, without ':' or whitespace.
QString bareFingerprint(const QString& fingerprint);

// The link that records the attempt, on the speed table's connection (the
// newest links are looked at first: a claim is usually made soon after its
// attempt). Nothing when the chain holds none. Raises DbError.
std::optional<Entry> attemptLink(qint64 attemptId);

} // namespace Claim
