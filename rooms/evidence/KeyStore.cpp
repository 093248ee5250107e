#include "KeyStore.h"

#include "ChainCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sodium.h>

namespace {

constexpr QFileDevice::Permissions kOthers = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                             QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                             QFileDevice::WriteOther | QFileDevice::ExeOther;

bool writeNew(const QString& path, const QByteArray& bytes, QFileDevice::Permissions mode,
              QString* why) {
    QFile f(path);
    // Made with its final mode: the secret key is never readable by others,
    // not even for a moment.
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly, mode) ||
        f.write(bytes) != bytes.size() || !f.flush()) {
        *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), f.errorString());
        f.remove();
        return false;
    }
    return true;
}

} // namespace

KeyStore::Keys KeyStore::loadOrMake(const QString& dir) {
    Keys k;
    if (sodium_init() < 0) {
        k.error = QStringLiteral("libsodium cannot start");
        return k;
    }
    const QString secretPath = QDir(dir).filePath(kSecretFile);
    const QString publicPath = QDir(dir).filePath(ChainCheck::kPublicFile);
    const QFileInfo secret(secretPath);
    if (!secret.exists() && !QFileInfo::exists(publicPath)) {
        unsigned char pk[crypto_sign_PUBLICKEYBYTES];
        unsigned char sk[crypto_sign_SECRETKEYBYTES];
        crypto_sign_keypair(pk, sk);
        const QByteArray pub(reinterpret_cast<const char*>(pk), sizeof pk);
        const QByteArray sec(reinterpret_cast<const char*>(sk), sizeof sk);
        sodium_memzero(sk, sizeof sk);
        if (!writeNew(secretPath, sec, QFileDevice::ReadOwner | QFileDevice::WriteOwner, &k.error))
            return k;
        if (!writeNew(publicPath, pub.toHex() + '\n',
                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                          QFileDevice::ReadOther,
                      &k.error)) {
            QFile::remove(secretPath);
            return k;
        }
        k.publicKey = pub;
        k.secretKey = sec;
        k.made = true;
        return k;
    }
    if (!secret.exists()) {
        k.error = QStringLiteral("%1: missing").arg(QDir::toNativeSeparators(secretPath));
        return k;
    }
    if (secret.permissions() & kOthers) {
        k.error = QStringLiteral("%1: readable by others (mode must be 0600)")
                      .arg(QDir::toNativeSeparators(secretPath));
        return k;
    }
    QFile f(secretPath);
    if (!f.open(QIODevice::ReadOnly)) {
        k.error =
            QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(secretPath), f.errorString());
        return k;
    }
    const QByteArray sec = f.read(crypto_sign_SECRETKEYBYTES + 1);
    if (sec.size() != crypto_sign_SECRETKEYBYTES) {
        k.error = QStringLiteral("%1: not a secret key").arg(QDir::toNativeSeparators(secretPath));
        return k;
    }
    const QByteArray pub = ChainCheck::readPublicKey(publicPath, &k.error);
    if (pub.isEmpty())
        return k;
    unsigned char derived[crypto_sign_PUBLICKEYBYTES];
    crypto_sign_ed25519_sk_to_pk(derived, reinterpret_cast<const unsigned char*>(sec.constData()));
    if (QByteArray(reinterpret_cast<const char*>(derived), sizeof derived) != pub) {
        k.error =
            QStringLiteral("%1: does not belong to %2")
                .arg(QDir::toNativeSeparators(secretPath), QDir::toNativeSeparators(publicPath));
        return k;
    }
    k.publicKey = pub;
    k.secretKey = sec;
    return k;
}
