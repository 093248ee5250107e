#pragma once

#include "ClockSets.h"

#include <QObject>

class QTimer;

// When the decoders' clock command goes out. The command carries whole
// seconds, so a decoder set at a random moment of the PC's second lags the
// PC by up to a second, and the next setting makes its clock jump by as
// much. Sent just after the PC's second turns, consecutive settings agree to
// the transmit time and a jump is only the drift between them.
class ClockAlign : public QObject {
    Q_OBJECT
public:
    // A command this long after the turn still counts as on it; a later
    // request waits for the next turn.
    static constexpr int kOnTurnMs = 20;
    // The periodic command is asked for this long before the turn it goes
    // out on, so that a tick a little late still catches that turn.
    static constexpr int kLeadMs = 50;

    explicit ClockAlign(QObject* parent = nullptr);

    // The command is due at once when nothing would be sent (no decoder port
    // open) or the second has just turned, otherwise at the next turn; the
    // caller never waits. A request while one waits joins it.
    void request(bool portOpen);
    bool waiting() const;

    // Milliseconds from a command sent at sentMs (PC time, UTC ms) to the
    // tick that asks for the next one a period later, on a turn.
    static qint64 untilNextTick(qint64 sentMs, qint64 periodMs);

    // The commands that went out to a decoder, for the attempts timed
    // across one.
    void noteSent(qint64 ms) { sent_.sent(ms); }
    const ClockSets& sent() const { return sent_; }

signals:
    void due();

private:
    void check();

    QTimer* timer_;
    ClockSets sent_;
};
