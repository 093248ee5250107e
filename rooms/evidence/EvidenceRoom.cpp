#include "EvidenceRoom.h"

#include "Chain.h"
#include "ChainCheck.h"
#include "Claim.h"
#include "Database.h"
#include "IniFile.h"
#include "KeyStore.h"

#include <QDateTime>
#include <QTimer>

#include <sodium.h>

EvidenceRoom::EvidenceRoom(Host& host) : Room(host) {}

EvidenceRoom::~EvidenceRoom() {
    sodium_memzero(secretKey_.data(), size_t(secretKey_.size()));
}

void EvidenceRoom::created() {
    IniFile ini(host.iniPath());
    ini.load();
    bool ok = false;
    const int every = ini.value(QStringLiteral("Evidence"), QStringLiteral("SignEvery")).toInt(&ok);
    if (ok && every > 0)
        signEvery_ = every;

    const KeyStore::Keys keys = KeyStore::loadOrMake(host.dataDir());
    if (!keys.error.isEmpty()) {
        const QString text = tr("証拠: 署名できません（%1）。計測は続けます。").arg(keys.error);
        host.setStatusLine(QStringLiteral("Evidence"), {text, keys.error});
        host.note(QLatin1Char(' ') + text);
        return;
    }
    publicKey_ = keys.publicKey;
    secretKey_ = keys.secretKey;
    fingerprint_ = ChainCheck::fingerprint(publicKey_);
    if (keys.made)
        host.note(QLatin1Char(' ') + tr("証拠の鍵を作りました（指紋 %1）").arg(fingerprint_));
    std::optional<Chain::SignedHead> last;
    try {
        if (SpeedDb::isOpen())
            last = Chain::lastSignedHead();
    } catch (const DbError&) {
        // Signed anew at the next row.
    }
    if (last)
        signedSeq_ = last->seq;
    // A head another key signed is not this station's to show.
    if (last && last->publicKey != publicKey_)
        last.reset();
    showStatus(last);
    // Each stored passing and attempt may bring the head to its next
    // signing. Looked at once the road's own work is done: a signature's
    // commit never delays a passing's.
    const auto soon = [this] {
        if (!std::exchange(scheduled_, true))
            QTimer::singleShot(0, this, [this] {
                scheduled_ = false;
                signIfDue();
            });
    };
    connect(&host, &Host::chunkReceived, this, soon);
    connect(&host, &Host::attemptMeasured, this, soon);
    signIfDue();
}

void EvidenceRoom::close() {
    signIfDue(true);
}

void EvidenceRoom::signIfDue(bool force) {
    if (!signing() || !SpeedDb::isOpen())
        return;
    try {
        const Chain::Head head = Chain::head();
        if (head.seq == 0 || head.seq < signedSeq_ + (force ? 1 : signEvery_))
            return;
        Chain::SignedHead h;
        h.seq = head.seq;
        h.hash = head.hash;
        h.atMs = QDateTime::currentMSecsSinceEpoch();
        h.publicKey = publicKey_;
        const QByteArray m = Chain::headMessage(h.seq, h.hash, h.atMs);
        h.signature.resize(crypto_sign_BYTES);
        crypto_sign_detached(reinterpret_cast<unsigned char*>(h.signature.data()), nullptr,
                             reinterpret_cast<const unsigned char*>(m.constData()),
                             quint64(m.size()),
                             reinterpret_cast<const unsigned char*>(secretKey_.constData()));
        Chain::storeSignedHead(h);
        signedSeq_ = h.seq;
        failed_ = false;
        showStatus(h);
    } catch (const DbError& e) {
        // Measuring goes on; the next row tries again.
        if (!std::exchange(failed_, true))
            host.note(QLatin1Char(' ') + tr("証拠: 署名を保存できません（%1）").arg(e.message()));
    }
}

void EvidenceRoom::showStatus(const std::optional<Chain::SignedHead>& head) {
    StatusLine line{tr("証拠の鍵の指紋: %1").arg(fingerprint_),
                    tr("korvane-verify --fingerprint で同じ指紋が出ます。公開鍵 %1 "
                       "は局の外にも保管してください。")
                        .arg(ChainCheck::kPublicFile),
                    {}};
    if (head) {
        // The row signed goes to the tooltip: the line shares the page's
        // last row with the code and the other rooms' lines.
        line.toolTip +=
            QLatin1Char('\n') +
            tr("QR コードは最後に署名した先頭です。korvane-verify --head で照合できます。") +
            tr("　署名済み: %1 行まで").arg(head->seq);
        line.qrText = Claim::headClaim(fingerprint_, *head);
    }
    host.setStatusLine(QStringLiteral("Evidence"), line);
}
