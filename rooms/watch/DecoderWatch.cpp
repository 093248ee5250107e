#include "DecoderWatch.h"

#include "DecoderHealth.h"
#include "Framework.h"
#include "PageParts.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTime>
#include <QTimer>

#include <cmath>

using namespace windowparts;

namespace {

const int kWatchMs = 1000;

} // namespace

DecoderWatch::DecoderWatch(Host& h) : Room(h) {
    checks_ = LoadCheckSettings(host.iniPath());
    HealthLimits limits;
    limits.silenceMs = qint64(checks_.SilenceS) * 1000;
    limits.maxOffsetMs = checks_.MaxOffsetMs;
    health_ = std::make_unique<DecoderHealth>(limits);

    // Along the window's bottom edge: in view whatever page is up.
    alarm_ = new QLabel(host.window());
    alarm_->setObjectName(QStringLiteral("AlarmLabel"));
    alarm_->setContentsMargins(6, 0, 6, 0);
    QFont bold = alarm_->font();
    bold.setBold(true);
    alarm_->setFont(bold);
    host.setBottomStrip(alarm_);
    alarm_->hide();

    timer_ = new QTimer(this);
    timer_->setInterval(kWatchMs);
    connect(timer_, &QTimer::timeout, this, [this] { runHandler([this] { tick(); }); });
    timer_->start();

    buildStatusPage();

    connect(&host, &Host::chunkReceived, this,
            [this](int loop, qint64, const QByteArray& bytes, qsizetype dropped,
                   const QStringList& lines) { received(loop, bytes.size(), dropped, lines); });
    // Port 3 is the board: it has no health of its own, only its line in the alarm.
    connect(&host, &Host::portOpened, this, [this](int port, qint64 atMs) {
        if (port != 3) {
            health_->portOpened(port, atMs);
            tellEvents();
        }
        showAlarm();
    });
    connect(&host, &Host::portClosed, this, [this](int port) {
        if (port != 3)
            health_->portClosed(port);
        showAlarm();
    });
    connect(&host, &Host::portFailed, this, [this](int port, const QString& reason) {
        if (port != 3)
            portFailed(port, reason);
        showAlarm();
    });
    connect(&host, &Host::clockCommandSent, this, [this](qint64 atMs) { health_->clockSet(atMs); });
}

DecoderWatch::~DecoderWatch() = default;

qint64 DecoderWatch::now() {
    QElapsedTimer t;
    t.start();
    return t.msecsSinceReference();
}

// Fresh after every chunk: a speed measured right after its passings is
// uncertain by the clocks as they stood then.
void DecoderWatch::postClocks() {
    ClockFigures c;
    const std::optional<double> offset = health_->interOffsetMs();
    c.known = offset.has_value();
    c.offsetMs = offset.value_or(0);
    c.spreadMs = health_->interSpreadMs().value_or(0);
    c.driftMs = health_->interDriftMs(now()).value_or(0);
    host.setClockFigures(c);
}

void DecoderWatch::tick() {
    const qint64 at = now();
    for (int loop = 1; loop <= 2; ++loop) {
        const PortState port = host.port(loop);
        const LoopFigures f = health_->figures(loop, at);
        if (port.open && port.lost)
            health_->portFailed(loop, deviceGone(port.devicePath));
        else if (port.open && !f.open)
            health_->portOpened(loop, at);
        else if (!port.open && f.open)
            health_->portClosed(loop);
    }
    health_->check(at);
    tellEvents();
    QList<LoopState> states;
    for (int loop = 1; loop <= 2; ++loop) {
        const LoopFigures f = health_->figures(loop, at);
        states.append({loop, f.failed   ? QStringLiteral("failed")
                             : f.silent ? QStringLiteral("silent")
                             : f.open   ? QStringLiteral("open")
                                        : QStringLiteral("closed")});
    }
    host.setLoopStates(states);
    postClocks();
    showAlarm(); // the offset in the warning follows the clocks
    showStatus();
}

void DecoderWatch::received(int loop, qsizetype bytes, qsizetype dropped,
                            const QStringList& lines) {
    health_->received(loop, now(), QTime::currentTime().msecsSinceStartOfDay(), bytes, dropped,
                      lines);
    postClocks();
    tellEvents();
}

void DecoderWatch::portFailed(int loop, const QString& reason) {
    health_->portFailed(loop, reason);
    tellEvents();
}

void DecoderWatch::tellEvents() {
    const QList<HealthEvent> events = health_->takeEvents();
    for (const HealthEvent& e : events) {
        const QString name = portName(e.loop);
        switch (e.kind) {
        case HealthEvent::Silent:
            host.note(QCoreApplication::translate("TFkorvane", " ループ%1 無信号（%2 秒以上）")
                          .arg(e.loop)
                          .arg(checks_.SilenceS));
            tellTerminal(name + QCoreApplication::translate("TFkorvane", " 無信号"));
            if (checks_.Beep != 0)
                QApplication::beep();
            break;
        case HealthEvent::PortFailed:
            host.note(QCoreApplication::translate("TFkorvane", " ループ%1 ポート異常: %2")
                          .arg(e.loop)
                          .arg(shortReason(e.reason)));
            tellTerminal(name + QCoreApplication::translate("TFkorvane", " ポート異常: ") +
                         shortReason(e.reason));
            if (checks_.Beep != 0)
                QApplication::beep();
            break;
        case HealthEvent::Back:
            host.note(QCoreApplication::translate("TFkorvane", " ループ%1 受信再開").arg(e.loop));
            tellTerminal(name + QCoreApplication::translate("TFkorvane", " 受信再開"));
            break;
        case HealthEvent::ClockNotSet:
            host.note(QCoreApplication::translate("TFkorvane",
                                                  " ループ%1 デコーダの時計が設定されていません")
                          .arg(e.loop));
            break;
        case HealthEvent::ClockSet:
            host.note(QCoreApplication::translate("TFkorvane",
                                                  " ループ%1 デコーダの時計が PC と合いました")
                          .arg(e.loop));
            break;
        case HealthEvent::PcClockStep:
            host.note(
                QCoreApplication::translate(
                    "TFkorvane", " ループ%1 PC の時計が変わりました（時計のずれを測り直します）")
                    .arg(e.loop));
            break;
        case HealthEvent::OffsetOver: {
            const double inter = health_->interOffsetMs().value_or(0);
            host.note(
                QCoreApplication::translate("TFkorvane", " ループ間の時計差 %1 ms（上限 %2 ms）")
                    .arg(inter, 0, 'f', 1)
                    .arg(checks_.MaxOffsetMs));
            if (checks_.AutoResync == 1) {
                // Also reached from the end of a receive run, where nothing
                // may raise: a failure is shown and the watch goes on.
                runHandler([this] { host.sendClockCommand(); });
                host.note(
                    QCoreApplication::translate("TFkorvane", " 時計合わせを送りました（自動）"));
            }
            break;
        }
        case HealthEvent::OffsetBack:
            host.note(
                QCoreApplication::translate("TFkorvane", " ループ間の時計差が上限内に戻りました"));
            break;
        }
    }
    if (!events.isEmpty())
        showAlarm();
}

void DecoderWatch::showAlarm() {
    const qint64 at = now();
    QStringList alarms, warnings, details;
    for (int loop = 1; loop <= 2; ++loop) {
        const LoopFigures f = health_->figures(loop, at);
        if (f.failed) {
            alarms << portName(loop) + QCoreApplication::translate("TFkorvane", " ポート異常（%1）")
                                           .arg(shortReason(f.failure));
            details << f.failure;
        } else if (f.silent) {
            alarms << portName(loop) + QCoreApplication::translate("TFkorvane", " 無信号");
        }
        if (f.clockNotSet)
            warnings << portName(loop) + QCoreApplication::translate("TFkorvane", " 時計未設定");
    }
    // The board has no health of its own: a port it should have and has not.
    if (const QString failure = host.port(3).failure; !failure.isEmpty()) {
        alarms << portName(3) + QCoreApplication::translate("TFkorvane", " 異常（%1）")
                                    .arg(shortReason(failure));
        details << failure;
    }
    if (health_->offsetOver()) {
        const std::optional<double> inter = health_->interOffsetMs();
        warnings << (inter ? QCoreApplication::translate("TFkorvane", "時計差 %1 ms")
                                 .arg(std::abs(*inter), 0, 'f', 1)
                           : QCoreApplication::translate("TFkorvane", "時計差 上限超え"));
    }
    const QString text = (alarms + warnings).join(QCoreApplication::translate("TFkorvane", "　"));
    // Red for a decoder that is not heard, amber for clocks to set.
    alarm_->setStyleSheet(alarms.isEmpty()
                              ? QStringLiteral("QLabel { background: #ffaa00; color: black; }")
                              : QStringLiteral("QLabel { background: #cc0000; color: white; }"));
    alarm_->setText(text);
    alarm_->setToolTip(details.join(QLatin1Char('\n')));
    alarm_->setVisible(!text.isEmpty());
}
