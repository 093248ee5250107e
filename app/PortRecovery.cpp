// Ports that stay open by themselves: a decoder or board port whose device
// is missing at start, or goes away later (an adapter pulled and put back),
// is opened again in the background and runs the steps that follow an
// opening, while the alarm says it is not open. The failures of the start-up
// are told together in one box once the window is up, instead of one modal
// box per port before it appears.
#include "Ukorvane.h"
#include "WindowHost.h"

#include "DecoderHealth.h"
#include "Framework.h"
#include "WindowParts.h"

#include "CommX.h"
#include "DecoderCommand.h"
#include "PortKeeper.h"

#include <QTimer>

using namespace windowparts;

namespace {

TCommX* portComm(const TFkorvane* w, int port) {
    return port == 1 ? w->CommX1 : port == 2 ? w->CommX2 : w->CommX3;
}

} // namespace

void TFkorvane::buildPortRecovery() {
    portKeeper_ = new PortKeeper(this);
    portKeeper_->setObjectName(QStringLiteral("PortKeeper"));
    // Never inside a port change or while the program stops.
    portKeeper_->mayRetry = [this] { return !inPortPause() && !Dialogs::quitting(); };
    for (int port : {1, 2, 3})
        portKeeper_->add(
            portComm(this, port),
            [this, port] { runHandler([this, port] { portReopened(port); }); },
            [this, port] { runHandler([this, port] { portLost(port); }); });
}

void TFkorvane::portReopened(int port) {
    note(QStringLiteral(" ") + portName(port) + tr(" 再接続"));
    tellTerminal(portName(port) + tr(" 再接続"));
    emit host_->portOpened(port, monotonicNowMs());
    if (port == 3)
        return;
    // As after the operator's choice of the port: the decoder settles, then
    // hears its protocol again (it may have been powered off meanwhile).
    portPause();
    TCommX* comm = portComm(this, port);
    if (Dialogs::quitting() || !comm->isOpen())
        return;
    const int decid = port == 1 ? S.Decid1 : S.Decid2;
    if (decid != 0)
        comm->SendString(ProtocolCommand(decid));
}

void TFkorvane::portLost(int port) {
    TCommX* comm = portComm(this, port);
    const QString reason = deviceGone(comm);
    if (port != 3) {
        emit host_->portFailed(port, reason); // the watch's own tick may have been first
        return;
    }
    portKeeper_->setFailure(comm, reason);
    const QString told = portName(port) + tr(" 異常: %1").arg(shortReason(reason));
    note(QStringLiteral(" ") + told);
    tellTerminal(told);
    emit host_->portFailed(port, reason);
}

// A port the operator chose that does not open: the alarm says so and the
// port is tried again in the background. At start the failure waits for the
// one box of the start-up; later the operator hears of it at once.
void TFkorvane::portOpenFailed(int port, const QString& detail) {
    TCommX* comm = portComm(this, port);
    portKeeper_->setFailure(comm, detail);
    emit host_->portFailed(port, detail);
    const QString line = portName(port) + QStringLiteral("  ") + detail;
    if (portKeeper_->gather(portName(port), line))
        return;
    ShowMessage(port == 1   ? tr("取り込みポート１は開けませんでした。")
                : port == 2 ? tr("取り込みポート２は開けませんでした。")
                            : tr("出力ポートは開けませんでした。"),
                detail);
}

void TFkorvane::tellStartFailures() {
    QStringList lines, hints;
    for (const QString& failure : portKeeper_->takeGathered()) {
        // One line per port; a permission hint (the same for every adapter
        // of a group) once, after them.
        lines << failure.section(QStringLiteral("\n\n"), 0, 0);
        const QString hint = failure.section(QStringLiteral("\n\n"), 1);
        if (!hint.isEmpty() && !hints.contains(hint))
            hints << hint;
    }
    if (lines.isEmpty())
        return;
    QString detail = lines.join(QLatin1Char('\n'));
    if (!hints.isEmpty())
        detail += QStringLiteral("\n\n") + hints.join(QStringLiteral("\n\n"));
    // Once the window is on the screen, the box over it.
    QTimer::singleShot(0, this, [detail] { ShowMessage(tr("ポートを開けません"), detail); });
}
