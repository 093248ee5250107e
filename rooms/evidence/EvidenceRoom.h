#pragma once

#include "Chain.h"
#include "Host.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Signs the head of the journal's chain (records/Chain.h) with the station's
// key (KeyStore.h): every SignEvery rows (section "Evidence" of
// "Korvane.ini", default 100) and at every close, so that a copy of the
// chain's state exists that no one without the key can forge. The key's
// fingerprint, or why there is no key, is the room's line on the status page,
// with the last signed head as a QR code (Claim.h) beside it: a photo of the
// screen keeps a copy of the head outside the station.
// Measuring never waits for evidence: without a key the station measures on
// and says so.
class EvidenceRoom final : public Room {
    Q_OBJECT
public:
    explicit EvidenceRoom(Host& host);
    ~EvidenceRoom() override;

    void created() override;
    void close() override;

    bool signing() const { return !secretKey_.isEmpty(); }
    QString fingerprint() const { return fingerprint_; }
    int signEvery() const { return signEvery_; }
    // Signs the head when SignEvery rows or more came since the last signed
    // one (or whenever the head moved, with force).
    void signIfDue(bool force = false);

private:
    void showStatus(const std::optional<Chain::SignedHead>& head);

    QByteArray publicKey_;
    QByteArray secretKey_;
    QString fingerprint_;
    int signEvery_ = 100;
    qint64 signedSeq_ = 0;
    bool failed_ = false;    // a signing failure is told once
    bool scheduled_ = false; // a look at the head is on its way
};
