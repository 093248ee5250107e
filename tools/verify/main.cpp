// korvane-verify: checks a station's data folder (or a copy of it) against
// the chain of its journal and the heads its key signed.
#include "ChainCheck.h"
#include "DataDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>

namespace {

void say(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
}

void complain(const QString& line) {
    std::fputs(qPrintable(QStringLiteral("korvane-verify: ") + line + QLatin1Char('\n')), stderr);
}

int usage() {
    std::fputs("usage: korvane-verify [--public-key FILE|FINGERPRINT] DATA_DIR\n"
               "       korvane-verify --fingerprint DATA_DIR\n",
               stderr);
    return 2;
}

QString bareFingerprint(const QString& text) {
    return text.toLower().remove(QRegularExpression(QStringLiteral("[\\s:]")));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    bool fingerprintOnly = false;
    QString keyArg;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("--fingerprint")) {
            fingerprintOnly = true;
        } else if (opt == QLatin1String("--public-key") && !args.isEmpty()) {
            keyArg = args.takeFirst();
        } else {
            return usage();
        }
    }
    if (args.size() != 1)
        return usage();
    const QString dir = args.first();
    QString why;
    const QByteArray stationKey = ChainCheck::publicKeyIn(dir, &why);
    if (fingerprintOnly) {
        if (stationKey.isEmpty()) {
            complain(why);
            return 2;
        }
        say(ChainCheck::fingerprint(stationKey));
        return 0;
    }

    QByteArray key;
    if (keyArg.isEmpty()) {
        if (stationKey.isEmpty()) {
            complain(why);
            return 2;
        }
        key = stationKey;
        say(QStringLiteral("public key: the data folder's own (%1), fingerprint %2; a key kept "
                           "elsewhere (--public-key) shows whether it was replaced")
                .arg(QDir::toNativeSeparators(QDir(dir).filePath(ChainCheck::kPublicFile)),
                     ChainCheck::fingerprint(key)));
    } else if (QFileInfo(keyArg).isFile()) {
        key = ChainCheck::readPublicKey(keyArg, &why);
        if (key.isEmpty()) {
            complain(why);
            return 2;
        }
        say(QStringLiteral("public key: %1, fingerprint %2")
                .arg(keyArg, ChainCheck::fingerprint(key)));
    } else {
        const QString wanted = bareFingerprint(keyArg);
        if (wanted.size() != 32 ||
            wanted.contains(QRegularExpression(QStringLiteral("[^0-9a-f]")))) {
            complain(QStringLiteral("%1: neither a file nor a fingerprint").arg(keyArg));
            return 2;
        }
        if (stationKey.isEmpty() ||
            bareFingerprint(ChainCheck::fingerprint(stationKey)) != wanted) {
            say(QStringLiteral("BROKEN: other key: the data folder's public key %1 is not the "
                               "one with fingerprint %2")
                    .arg(stationKey.isEmpty() ? why : ChainCheck::fingerprint(stationKey), keyArg));
            return 1;
        }
        key = stationKey;
        say(QStringLiteral("public key: the data folder's own, fingerprint %1 as given")
                .arg(ChainCheck::fingerprint(key)));
    }

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
        const ChainCheck::Break& b = *r.first;
        say(QStringLiteral("BROKEN at row %1 of the chain: %2%3: %4: %5")
                .arg(b.seq)
                .arg(b.table, b.rowId.isEmpty() ? QString() : QStringLiteral(" ") + b.rowId, b.kind,
                     b.detail));
        for (const QString& d : r.dependents)
            say(QStringLiteral("  depends on it: ") + d);
        return 1;
    }
    if (r.signedUpTo < r.links)
        say(QStringLiteral("rows %1 to %2 are not signed yet: they hold as a chain, but a station "
                           "with the data alone could have written them")
                .arg(r.signedUpTo + 1)
                .arg(r.links));
    say(QStringLiteral("OK"));
    return 0;
}
