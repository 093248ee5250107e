// korvane-verify: checks a station's data folder (or a copy of it) against
// the chain of its journal and the heads its key signed; makes evidence
// bundles of attempts and checks them, and claims against them.
#include "Bundle.h"
#include "ChainCheck.h"
#include "Claim.h"
#include "DataDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>

#include <sodium.h>

#include <cstdio>

namespace {

void say(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
}

void complain(const QString& line) {
    std::fputs(qPrintable(QStringLiteral("korvane-verify: ") + line + QLatin1Char('\n')), stderr);
}

int usage() {
    std::fputs("usage: korvane-verify [--public-key FILE|FINGERPRINT] DATA_DIR|BUNDLE\n"
               "       korvane-verify --fingerprint DATA_DIR|BUNDLE\n"
               "       korvane-verify [--public-key FILE|FINGERPRINT] --head CLAIM "
               "DATA_DIR|BUNDLE\n"
               "       korvane-verify --export ATTEMPT_ID[,ATTEMPT_ID...] OUT[.zip] DATA_DIR\n"
               "       korvane-verify [--public-key FILE|FINGERPRINT] --claim CLAIM BUNDLE...\n",
               stderr);
    return 2;
}

void sayBreak(const ChainCheck::Break& b, const QStringList& dependents = {}) {
    say(QStringLiteral("BROKEN at row %1 of the chain: %2%3: %4: %5")
            .arg(b.seq)
            .arg(b.table, b.rowId.isEmpty() ? QString() : QStringLiteral(" ") + b.rowId, b.kind,
                 b.detail));
    for (const QString& d : dependents)
        say(QStringLiteral("  depends on it: ") + d);
}

// Where the evidence is: a data folder's or a bundle's, with its own public key.
struct Source {
    QString path;
    bool bundle = false;
    QMap<QString, QByteArray> files; // a bundle's
    QByteArray ownKey;
};

bool open(const QString& path, Source* s, QString* why) {
    s->path = path;
    s->bundle = Bundle::isBundle(path);
    if (!s->bundle) {
        s->ownKey = ChainCheck::publicKeyIn(path, why);
        return true;
    }
    if (!Bundle::load(path, &s->files, why))
        return false;
    const QByteArray hex = s->files.value(QStringLiteral("evidence.pub")).trimmed();
    s->ownKey = QByteArray::fromHex(hex);
    if (s->ownKey.size() != crypto_sign_PUBLICKEYBYTES || s->ownKey.toHex() != hex) {
        s->ownKey.clear();
        *why = QStringLiteral("%1: evidence.pub: not a public key").arg(path);
    }
    return true;
}

// The key the evidence must be signed with: the one given, else the source's
// own. 0 with the key set, else the exit status.
int chooseKey(const Source& s, const QString& keyArg, const QString& why, QByteArray* key) {
    if (keyArg.isEmpty()) {
        if (s.ownKey.isEmpty()) {
            complain(why);
            return 2;
        }
        *key = s.ownKey;
        say(QStringLiteral("public key: the %1's own, fingerprint %2; a key kept elsewhere "
                           "(--public-key) shows whether it was replaced")
                .arg(s.bundle ? QStringLiteral("bundle") : QStringLiteral("data folder"),
                     ChainCheck::fingerprint(*key)));
        return 0;
    }
    if (QFileInfo(keyArg).isFile()) {
        QString keyWhy;
        *key = ChainCheck::readPublicKey(keyArg, &keyWhy);
        if (key->isEmpty()) {
            complain(keyWhy);
            return 2;
        }
        say(QStringLiteral("public key: %1, fingerprint %2")
                .arg(keyArg, ChainCheck::fingerprint(*key)));
        return 0;
    }
    const QString wanted = Claim::bareFingerprint(keyArg);
    if (wanted.size() != 32 || wanted.contains(QRegularExpression(QStringLiteral("[^0-9a-f]")))) {
        complain(QStringLiteral("%1: neither a file nor a fingerprint").arg(keyArg));
        return 2;
    }
    if (s.ownKey.isEmpty() || Claim::bareFingerprint(ChainCheck::fingerprint(s.ownKey)) != wanted) {
        say(QStringLiteral("BROKEN: other key: the %1's public key %2 is not the one with "
                           "fingerprint %3")
                .arg(s.bundle ? QStringLiteral("bundle") : QStringLiteral("data folder"),
                     s.ownKey.isEmpty() ? why : ChainCheck::fingerprint(s.ownKey), keyArg));
        return 1;
    }
    *key = s.ownKey;
    say(QStringLiteral("public key: the %1's own, fingerprint %2 as given")
            .arg(s.bundle ? QStringLiteral("bundle") : QStringLiteral("data folder"),
                 ChainCheck::fingerprint(*key)));
    return 0;
}

int checkFolder(const QString& dir, const QByteArray& key) {
    const QString db = databasePathIn(dir);
    if (!QFileInfo::exists(db)) {
        complain(QStringLiteral("%1: no database").arg(QDir::toNativeSeparators(db)));
        return 2;
    }
    QElapsedTimer clock;
    clock.start();
    const ChainCheck::Result r = ChainCheck::verify(db, key);
    if (!r.error.isEmpty()) {
        complain(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(db), r.error));
        return 2;
    }
    say(QStringLiteral("chain: %1 rows%2, %3 signed heads, signed up to row %4 (%5 ms)")
            .arg(r.links)
            .arg(r.genesis ? QStringLiteral(" from a genesis") : QString())
            .arg(r.heads)
            .arg(r.signedUpTo)
            .arg(clock.elapsed()));
    if (r.first) {
        sayBreak(*r.first, r.dependents);
        return 1;
    }
    if (r.signedUpTo < r.links)
        say(QStringLiteral("rows %1 to %2 are not signed yet: they hold as a chain, but a station "
                           "with the data alone could have written them")
                .arg(r.signedUpTo + 1)
                .arg(r.links));
    return 0;
}

int checkBundle(const Source& s, const QByteArray& key, Bundle::Report* out) {
    *out = Bundle::verify(s.files, key);
    const Bundle::Report& r = *out;
    if (!r.error.isEmpty()) {
        say(QStringLiteral("BROKEN: %1: %2").arg(s.path, r.error));
        return 1;
    }
    for (const QString& line : r.lines)
        say(line);
    say(QStringLiteral("bundle: %1 rows of the chain, %2 attempt(s)")
            .arg(r.links.size())
            .arg(r.attempts.size()));
    if (r.first) {
        sayBreak(*r.first);
        return 1;
    }
    return 0;
}

// The chain the claim's head is in holds up to it and under it.
int checkHead(const Source& s, const QByteArray& key, const QByteArray& text) {
    QString why;
    const std::optional<Claim::Head> h = Claim::parseHead(text, &why);
    if (!h) {
        say(QStringLiteral("BROKEN: the head claim: %1").arg(why));
        return 1;
    }
    if (h->fingerprint != Claim::bareFingerprint(ChainCheck::fingerprint(key))) {
        say(QStringLiteral("BROKEN: other key: the claim names key %1, the evidence is checked "
                           "with %2")
                .arg(h->fingerprint, ChainCheck::fingerprint(key)));
        return 1;
    }
    const QByteArray m = Chain::headMessage(h->seq, h->hash, h->atMs);
    if (crypto_sign_verify_detached(
            reinterpret_cast<const unsigned char*>(h->signature.constData()),
            reinterpret_cast<const unsigned char*>(m.constData()), quint64(m.size()),
            reinterpret_cast<const unsigned char*>(key.constData())) != 0) {
        say(QStringLiteral("BROKEN: the head claim's signature does not hold"));
        return 1;
    }
    // A data folder is first held against the head: a chain cut or changed
    // under it is what the claim is for, whatever else the folder shows.
    std::optional<QByteArray> hash;
    qint64 last = 0;
    if (s.bundle) {
        Bundle::Report r;
        if (const int code = checkBundle(s, key, &r))
            return code;
        if (r.links.contains(h->seq))
            hash = r.links.value(h->seq).hash;
    } else {
        const Bundle::At at = Bundle::linkAt(databasePathIn(s.path), h->seq);
        if (!at.error.isEmpty()) {
            complain(at.error);
            return 2;
        }
        hash = at.hash;
        last = at.lastSeq;
    }
    if (!hash) {
        if (!s.bundle && h->seq > last)
            say(QStringLiteral("BROKEN at row %1 of the chain: chain: truncated: the claimed head "
                               "was signed at row %2; the chain ends at %3")
                    .arg(last + 1)
                    .arg(h->seq)
                    .arg(last));
        else
            say(QStringLiteral("BROKEN: missing: the %1 does not hold row %2 of the chain")
                    .arg(s.bundle ? QStringLiteral("bundle") : QStringLiteral("data folder"))
                    .arg(h->seq));
        return 1;
    }
    if (*hash != h->hash) {
        say(QStringLiteral("BROKEN at row %1 of the chain: chain %1: changed: the chain up to here "
                           "is not the one the claimed head signed")
                .arg(h->seq));
        return 1;
    }
    if (!s.bundle)
        if (const int code = checkFolder(s.path, key))
            return code;
    say(QStringLiteral("the claimed head (row %1, signed %2) is in the chain")
            .arg(h->seq)
            .arg(h->atMs));
    say(QStringLiteral("OK"));
    return 0;
}

int checkClaim(const QByteArray& text, const QStringList& bundles, const QString& keyArg) {
    QString why;
    const std::optional<Claim::Evidence> c = Claim::parseEvidence(text, &why);
    if (!c) {
        say(QStringLiteral("BROKEN: the claim: %1").arg(why));
        return 1;
    }
    QVector<Bundle::Report> reports;
    for (const QString& path : bundles) {
        Source s;
        if (!Bundle::isBundle(path)) {
            complain(QStringLiteral("%1: not a bundle").arg(path));
            return 2;
        }
        if (!open(path, &s, &why)) {
            say(QStringLiteral("BROKEN: %1").arg(why));
            return 1;
        }
        QByteArray key;
        if (const int code = chooseKey(s, keyArg, why, &key))
            return code;
        if (Claim::bareFingerprint(ChainCheck::fingerprint(key)) != c->fingerprint) {
            say(QStringLiteral("BROKEN: other key: the claim names key %1, %2 is checked with %3")
                    .arg(c->fingerprint, path, ChainCheck::fingerprint(key)));
            return 1;
        }
        Bundle::Report r;
        if (const int code = checkBundle(s, key, &r))
            return code;
        reports << r;
    }
    for (const Claim::Entry& e : c->entries) {
        bool found = false;
        QString seen;
        for (const Bundle::Report& r : std::as_const(reports)) {
            if (!r.attempts.contains(e.attemptId))
                continue;
            const auto l = r.links.constFind(e.seq);
            if (l == r.links.cend() || l->kind != QLatin1String("attempt") ||
                l->rowId != e.attemptId) {
                seen =
                    QStringLiteral("row %1 of the chain is not its link in the bundle").arg(e.seq);
                continue;
            }
            if (l->hash != e.hash) {
                seen = QStringLiteral("the hash of row %1 is %2 in the bundle")
                           .arg(e.seq)
                           .arg(QString::fromLatin1(l->hash.toHex()));
                continue;
            }
            found = true;
        }
        if (!found) {
            say(QStringLiteral("BROKEN: the claim's attempt %1 at row %2: %3")
                    .arg(e.attemptId)
                    .arg(e.seq)
                    .arg(seen.isEmpty() ? QStringLiteral("no bundle given is about it") : seen));
            return 1;
        }
        say(QStringLiteral("claim: attempt %1 is row %2 of the chain, as the bundle holds")
                .arg(e.attemptId)
                .arg(e.seq));
    }
    say(QStringLiteral("OK"));
    return 0;
}

int exportBundle(const QString& idsArg, const QString& out, const QString& dir) {
    QVector<qint64> ids;
    for (const QString& t : idsArg.split(QLatin1Char(','))) {
        bool ok = false;
        const qint64 id = t.trimmed().toLongLong(&ok);
        if (!ok || id < 1 || ids.contains(id)) {
            complain(QStringLiteral("%1: not a list of attempt ids").arg(idsArg));
            return 2;
        }
        ids << id;
    }
    QString why;
    const QMap<QString, QByteArray> files = Bundle::make(dir, ids, &why);
    if (files.isEmpty() || !Bundle::save(files, out, &why)) {
        complain(why);
        return 2;
    }
    const Bundle::Report r = Bundle::verify(files);
    say(QStringLiteral("wrote %1: %2 attempt(s), %3 rows of the chain")
            .arg(QDir::toNativeSeparators(out))
            .arg(ids.size())
            .arg(r.links.size()));
    if (!r.ok()) {
        // Written as the folder holds it: the receiver sees the same.
        say(QStringLiteral("the bundle does not verify:"));
        if (r.first)
            sayBreak(*r.first);
        else
            say(r.error);
        if (!r.unsignedRuns.isEmpty())
            say(QStringLiteral("the station signs its chain every few rows and at close: export "
                               "again once it has"));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (sodium_init() < 0) {
        complain(QStringLiteral("libsodium cannot start"));
        return 2;
    }
    QStringList args = app.arguments().mid(1);
    bool fingerprintOnly = false;
    QString keyArg, headArg, claimArg, exportArg;
    bool head = false, claim = false, exporting = false;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("--fingerprint")) {
            fingerprintOnly = true;
        } else if (opt == QLatin1String("--public-key") && !args.isEmpty()) {
            keyArg = args.takeFirst();
        } else if (opt == QLatin1String("--head") && !args.isEmpty()) {
            head = true;
            headArg = args.takeFirst();
        } else if (opt == QLatin1String("--claim") && !args.isEmpty()) {
            claim = true;
            claimArg = args.takeFirst();
        } else if (opt == QLatin1String("--export") && !args.isEmpty()) {
            exporting = true;
            exportArg = args.takeFirst();
        } else {
            return usage();
        }
    }
    if (int(fingerprintOnly) + int(head) + int(claim) + int(exporting) > 1)
        return usage();
    if (exporting) {
        if (args.size() != 2 || !keyArg.isEmpty())
            return usage();
        return exportBundle(exportArg, args.at(0), args.at(1));
    }
    if (claim) {
        if (args.isEmpty())
            return usage();
        return checkClaim(claimArg.toLatin1(), args, keyArg);
    }
    if (args.size() != 1)
        return usage();

    Source s;
    QString why;
    if (!open(args.first(), &s, &why)) {
        say(QStringLiteral("BROKEN: %1").arg(why));
        return 1;
    }
    if (fingerprintOnly) {
        if (s.ownKey.isEmpty()) {
            complain(why);
            return 2;
        }
        say(ChainCheck::fingerprint(s.ownKey));
        return 0;
    }
    QByteArray key;
    if (const int code = chooseKey(s, keyArg, why, &key))
        return code;
    if (head)
        return checkHead(s, key, headArg.toLatin1());
    int code = 0;
    if (s.bundle) {
        Bundle::Report r;
        code = checkBundle(s, key, &r);
    } else {
        code = checkFolder(s.path, key);
    }
    if (code == 0)
        say(QStringLiteral("OK"));
    return code;
}
