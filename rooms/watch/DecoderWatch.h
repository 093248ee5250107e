#pragma once

// Decoder watch: what each decoder port sent, its clock against the PC's,
// and the alarm on every page when a decoder falls silent, its port fails
// or the two clocks drift apart; the status page shows the figures. The
// figures themselves are the health model's (decoder/DecoderHealth); this
// room feeds it from the road's signals and says what it found.

#include "Checks.h"
#include "Host.h"

#include <memory>

class DecoderHealth;
class QLabel;
class QTimer;
class QWidget;

class DecoderWatch : public Room {
    Q_OBJECT
public:
    explicit DecoderWatch(Host& host);
    ~DecoderWatch() override;

    DecoderHealth& health() { return *health_; }
    const CheckSettings& checks() const { return checks_; }
    // What the 1 s timer does: the ports' state into the health, its events
    // told, the loops' state on the bulletin, the alarm and the page redrawn.
    void tick();
    // The watch's clock: monotonic milliseconds (QElapsedTimer's reference).
    static qint64 now();

private:
    struct StatusPage;
    void received(int loop, qsizetype bytes, qsizetype dropped, const QStringList& lines);
    void portFailed(int loop, const QString& reason);
    void tellEvents();
    void postClocks();
    void showAlarm();
    void buildStatusPage();
    void showQr(const QByteArray& text);
    void showStatus();

    CheckSettings checks_;
    std::unique_ptr<DecoderHealth> health_;
    QLabel* alarm_ = nullptr;            // empty and hidden while all is well
    QTimer* timer_ = nullptr;            // looks for silence every second
    std::shared_ptr<StatusPage> status_; // shared: its type stays in StatusPage.cpp
};
