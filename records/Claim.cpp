#include "Claim.h"

#include <QList>
#include <QRegularExpression>

namespace {

const QByteArray kEvidenceTag("korvane-evidence:1");
const QByteArray kHeadTag("korvane-head:1");

// The fields of a claim after its tag, in the order given; nothing when the
// names are not exactly `names`.
std::optional<QList<QByteArray>> fields(const QByteArray& text, const QByteArray& tag,
                                        const QList<QByteArray>& names, QString* why) {
    const QList<QByteArray> parts = text.trimmed().split(';');
    if (parts.first() != tag) {
        *why = QStringLiteral("not a claim of the form %1;...").arg(QString::fromLatin1(tag));
        return std::nullopt;
    }
    if (parts.size() != names.size() + 1) {
        *why = QStringLiteral("a claim has %1 fields after its tag, this one %2")
                   .arg(names.size())
                   .arg(parts.size() - 1);
        return std::nullopt;
    }
    QList<QByteArray> values;
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray& p = parts.at(i + 1);
        if (!p.startsWith(names.at(i) + '=')) {
            *why = QStringLiteral("field %1 should be %2=")
                       .arg(i + 1)
                       .arg(QString::fromLatin1(names.at(i)));
            return std::nullopt;
        }
        values << p.mid(names.at(i).size() + 1);
    }
    return values;
}

bool isLowerHex(const QByteArray& s, qsizetype bytes) {
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]*$"));
    return s.size() == 2 * bytes && hex.match(QString::fromLatin1(s)).hasMatch();
}

std::optional<qint64> number(const QByteArray& s) {
    static const QRegularExpression digits(QStringLiteral("^(0|[1-9][0-9]{0,17})$"));
    if (!digits.match(QString::fromLatin1(s)).hasMatch())
        return std::nullopt;
    return s.toLongLong();
}

bool fingerprintField(const QByteArray& s, QString* out, QString* why) {
    if (!isLowerHex(s, 16)) {
        *why = QStringLiteral("fp is not 32 lower-case hex digits");
        return false;
    }
    *out = QString::fromLatin1(s);
    return true;
}

} // namespace

QString Claim::bareFingerprint(const QString& fingerprint) {
    return fingerprint.toLower().remove(QRegularExpression(QStringLiteral("[\\s:]")));
}

QByteArray Claim::evidenceClaim(const QString& fingerprint, const QVector<Entry>& entries) {
    QList<QByteArray> ids, seqs, hashes;
    for (const Entry& e : entries) {
        ids << QByteArray::number(e.attemptId);
        seqs << QByteArray::number(e.seq);
        hashes << e.hash.toHex();
    }
    return kEvidenceTag + ";fp=" + bareFingerprint(fingerprint).toLatin1() +
           ";attempt=" + ids.join(',') + ";row=" + seqs.join(',') + ";hash=" + hashes.join(',');
}

std::optional<Claim::Evidence> Claim::parseEvidence(const QByteArray& text, QString* why) {
    const auto f = fields(text, kEvidenceTag, {"fp", "attempt", "row", "hash"}, why);
    if (!f)
        return std::nullopt;
    Evidence e;
    if (!fingerprintField(f->at(0), &e.fingerprint, why))
        return std::nullopt;
    const QList<QByteArray> ids = f->at(1).split(','), seqs = f->at(2).split(','),
                            hashes = f->at(3).split(',');
    if (ids.size() != seqs.size() || ids.size() != hashes.size()) {
        *why = QStringLiteral("attempt, row and hash name %1, %2 and %3 entries")
                   .arg(ids.size())
                   .arg(seqs.size())
                   .arg(hashes.size());
        return std::nullopt;
    }
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const std::optional<qint64> id = number(ids.at(i)), seq = number(seqs.at(i));
        if (!id || !seq || *seq < 1 || !isLowerHex(hashes.at(i), Chain::kHashBytes)) {
            *why = QStringLiteral("entry %1 is not an attempt id, a row and a hash of 64 "
                                  "lower-case hex digits")
                       .arg(i + 1);
            return std::nullopt;
        }
        e.entries.push_back({*id, *seq, QByteArray::fromHex(hashes.at(i))});
    }
    return e;
}

QByteArray Claim::headClaim(const QString& fingerprint, const Chain::SignedHead& head) {
    return kHeadTag + ";fp=" + bareFingerprint(fingerprint).toLatin1() +
           ";row=" + QByteArray::number(head.seq) + ";hash=" + head.hash.toHex() +
           ";at=" + QByteArray::number(head.atMs) + ";sig=" + head.signature.toHex();
}

std::optional<Claim::Head> Claim::parseHead(const QByteArray& text, QString* why) {
    const auto f = fields(text, kHeadTag, {"fp", "row", "hash", "at", "sig"}, why);
    if (!f)
        return std::nullopt;
    Head h;
    if (!fingerprintField(f->at(0), &h.fingerprint, why))
        return std::nullopt;
    const std::optional<qint64> seq = number(f->at(1)), at = number(f->at(3));
    if (!seq || *seq < 1 || !at) {
        *why = QStringLiteral("row and at must be whole numbers");
        return std::nullopt;
    }
    if (!isLowerHex(f->at(2), Chain::kHashBytes) || !isLowerHex(f->at(4), 64)) {
        *why = QStringLiteral("hash must be 64 and sig 128 lower-case hex digits");
        return std::nullopt;
    }
    h.seq = *seq;
    h.atMs = *at;
    h.hash = QByteArray::fromHex(f->at(2));
    h.signature = QByteArray::fromHex(f->at(4));
    return h;
}

std::optional<Claim::Entry> Claim::attemptLink(qint64 attemptId) {
    const Chain::Head link = Chain::attemptLink(attemptId);
    if (link.seq == 0)
        return std::nullopt;
    return Entry{attemptId, link.seq, link.hash};
}
