#pragma once

#include <QByteArray>
#include <QString>

// The station's Ed25519 key pair in its data folder: "evidence.key" (the
// secret key, 64 bytes, readable by its owner alone) and "evidence.pub" (the
// public key in hex, for anyone). Made at the first start.
namespace KeyStore {

inline const QString kSecretFile = QStringLiteral("evidence.key");

struct Keys {
    QByteArray publicKey; // 32 bytes; empty when unusable
    QByteArray secretKey; // 64 bytes; empty when unusable
    bool made = false;    // made now
    QString error;        // why there is no usable key (the file named)
};

// Reads the pair from `dir`, making it where neither file exists. A secret
// key that others may read, that cannot be read, or that does not match its
// public key gives an error and no key: nothing is signed with it.
Keys loadOrMake(const QString& dir);

} // namespace KeyStore
