// Decoder watch: what each decoder port sent, its clock against the PC's,
// and the alarm on every page when a decoder falls silent, its port fails
// or the two clocks drift apart. The figures themselves are the health
// model's (decoder/DecoderHealth); this file feeds it and says what it found.
#include "Ukorvane.h"
#include "WindowHost.h"

#include "Framework.h"
#include "WindowParts.h"

#include "CommX.h"
#include "DecoderHealth.h"
#include "PortKeeper.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QTime>
#include <QTimer>

#include <cmath>

using namespace windowparts;

namespace {

const int kWatchMs = 1000;

} // namespace

void TFkorvane::buildDecoderWatch() {
    checks_ = LoadCheckSettings(iniPath());
    HealthLimits limits;
    limits.silenceMs = qint64(checks_.SilenceS) * 1000;
    limits.maxOffsetMs = checks_.MaxOffsetMs;
    health_ = std::make_shared<DecoderHealth>(limits);

    // In the menu bar's corner: in view whatever page is up.
    AlarmLabel = new QLabel(menuBar());
    AlarmLabel->setObjectName(QStringLiteral("AlarmLabel"));
    AlarmLabel->setContentsMargins(6, 0, 6, 0);
    QFont bold = AlarmLabel->font();
    bold.setBold(true);
    AlarmLabel->setFont(bold);
    menuBar()->setCornerWidget(AlarmLabel, Qt::TopRightCorner);
    AlarmLabel->hide();

    watchTimer = new QTimer(this);
    watchTimer->setInterval(kWatchMs);
    connect(watchTimer, &QTimer::timeout, this, [this] { runHandler([this] { watchTick(); }); });
    watchTimer->start();

    buildStatusPage();
    connect(N7, &QAction::triggered, this, &TFkorvane::N7Click);
    // After the rooms' items, where the menu always had it (履歴 before 状態).
    menuBar()->insertAction(host_->menuEnd, N7);

    connect(
        host_, &Host::chunkReceived, this,
        [this](int loop, qint64, const QByteArray& bytes, qsizetype dropped,
               const QStringList& lines) { watchReceived(loop, bytes.size(), dropped, lines); });
    connect(host_, &Host::portOpened, this, [this](int port, qint64 atMs) {
        if (port != 3) {
            health_->portOpened(port, atMs);
            watchEvents();
        }
        showAlarm();
    });
    connect(host_, &Host::portClosed, this, [this](int port) {
        if (port != 3)
            health_->portClosed(port);
        showAlarm();
    });
    connect(host_, &Host::portFailed, this, [this](int port, const QString& reason) {
        if (port != 3)
            watchPortFailed(port, reason);
        showAlarm();
    });
    connect(host_, &Host::statusLinesChanged, this, [this] {
        if (activePage() == TabSheet7)
            showStatus();
    });
    connect(host_, &Host::clockCommandSent, this, [this](qint64 atMs) { health_->clockSet(atMs); });
}

qint64 TFkorvane::watchNow() {
    QElapsedTimer t;
    t.start();
    return t.msecsSinceReference();
}

void TFkorvane::N7Click() {
    setActivePage(TabSheet7);
    showStatus();
}

void TFkorvane::watchTick() {
    const qint64 now = watchNow();
    for (int loop = 1; loop <= 2; ++loop) {
        const TCommX* comm = loop == 1 ? CommX1 : CommX2;
        const LoopFigures f = health_->figures(loop, now);
        if (comm->isOpen() && comm->deviceLost())
            health_->portFailed(loop, deviceGone(comm));
        else if (comm->isOpen() && !f.open)
            health_->portOpened(loop, now);
        else if (!comm->isOpen() && f.open)
            health_->portClosed(loop);
    }
    health_->check(now);
    watchEvents();
    QList<LoopState> states;
    for (int loop = 1; loop <= 2; ++loop) {
        const LoopFigures f = health_->figures(loop, now);
        states.append({loop, f.failed   ? QStringLiteral("failed")
                             : f.silent ? QStringLiteral("silent")
                             : f.open   ? QStringLiteral("open")
                                        : QStringLiteral("closed")});
    }
    host_->setLoopStates(states);
    showAlarm(); // the offset in the warning follows the clocks
    if (activePage() == TabSheet7)
        showStatus();
}

void TFkorvane::watchReceived(int loop, qsizetype bytes, qsizetype dropped,
                              const QStringList& lines) {
    health_->received(loop, watchNow(), QTime::currentTime().msecsSinceStartOfDay(), bytes, dropped,
                      lines);
    watchEvents();
}

void TFkorvane::watchPortFailed(int loop, const QString& reason) {
    health_->portFailed(loop, reason);
    watchEvents();
}

void TFkorvane::watchEvents() {
    const QList<HealthEvent> events = health_->takeEvents();
    for (const HealthEvent& e : events) {
        const QString name = portName(e.loop);
        switch (e.kind) {
        case HealthEvent::Silent:
            note(tr(" ループ%1 無信号（%2 秒以上）").arg(e.loop).arg(checks_.SilenceS));
            tellTerminal(name + tr(" 無信号"));
            if (checks_.Beep != 0)
                QApplication::beep();
            break;
        case HealthEvent::PortFailed:
            note(tr(" ループ%1 ポート異常: %2").arg(e.loop).arg(shortReason(e.reason)));
            tellTerminal(name + tr(" ポート異常: ") + shortReason(e.reason));
            if (checks_.Beep != 0)
                QApplication::beep();
            break;
        case HealthEvent::Back:
            note(tr(" ループ%1 受信再開").arg(e.loop));
            tellTerminal(name + tr(" 受信再開"));
            break;
        case HealthEvent::ClockNotSet:
            note(tr(" ループ%1 デコーダの時計が設定されていません").arg(e.loop));
            break;
        case HealthEvent::ClockSet:
            note(tr(" ループ%1 デコーダの時計が PC と合いました").arg(e.loop));
            break;
        case HealthEvent::PcClockStep:
            note(tr(" ループ%1 PC の時計が変わりました（時計のずれを測り直します）").arg(e.loop));
            break;
        case HealthEvent::OffsetOver: {
            const double inter = health_->interOffsetMs().value_or(0);
            note(tr(" ループ間の時計差 %1 ms（上限 %2 ms）")
                     .arg(inter, 0, 'f', 1)
                     .arg(checks_.MaxOffsetMs));
            if (checks_.AutoResync == 1) {
                // Also reached from the end of a receive run, where nothing
                // may raise: a failure is shown and the watch goes on.
                runHandler([this] { CuteButton1Click(); });
                note(tr(" 時計合わせを送りました（自動）"));
            }
            break;
        }
        case HealthEvent::OffsetBack:
            note(tr(" ループ間の時計差が上限内に戻りました"));
            break;
        }
    }
    if (!events.isEmpty())
        showAlarm();
}

void TFkorvane::showAlarm() {
    const qint64 now = watchNow();
    QStringList alarms, warnings, details;
    for (int loop = 1; loop <= 2; ++loop) {
        const LoopFigures f = health_->figures(loop, now);
        if (f.failed) {
            alarms << portName(loop) + tr(" ポート異常（%1）").arg(shortReason(f.failure));
            details << f.failure;
        } else if (f.silent) {
            alarms << portName(loop) + tr(" 無信号");
        }
        if (f.clockNotSet)
            warnings << portName(loop) + tr(" 時計未設定");
    }
    // The board has no health of its own: a port it should have and has not.
    if (const QString failure = portKeeper_ ? portKeeper_->failure(CommX3) : QString();
        !failure.isEmpty()) {
        alarms << portName(3) + tr(" 異常（%1）").arg(shortReason(failure));
        details << failure;
    }
    if (health_->offsetOver()) {
        const std::optional<double> inter = health_->interOffsetMs();
        warnings << (inter ? tr("時計差 %1 ms").arg(std::abs(*inter), 0, 'f', 1)
                           : tr("時計差 上限超え"));
    }
    const QString text = (alarms + warnings).join(tr("　"));
    // Red for a decoder that is not heard, amber for clocks to set. A style
    // sheet, as the menu bar's style may paint over a palette.
    AlarmLabel->setStyleSheet(
        alarms.isEmpty() ? QStringLiteral("QLabel { background: #ffaa00; color: black; }")
                         : QStringLiteral("QLabel { background: #cc0000; color: white; }"));
    AlarmLabel->setText(text);
    AlarmLabel->setToolTip(details.join(QLatin1Char('\n')));
    AlarmLabel->setVisible(!text.isEmpty());
    menuBar()->adjustSize();
}
