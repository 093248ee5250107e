// Decoder commands: setting both decoders' clocks (by button and by timer
// while a page that shows passings is up) and switching their protocol.
// The clock command goes out just after the PC's second turns (ClockAlign),
// and the periodic timer keeps its ticks on the turn.
#include "Ukorvane.h"
#include "WindowHost.h"

#include "ClockAlign.h"
#include "Framework.h"
#include "WindowParts.h"

#include "CommX.h"
#include "DecoderCommand.h"

#include "CuteBtn.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFrame>
#include <QLineEdit>
#include <QTime>
#include <QTimer>

namespace {

const int kIndicatorMs = 1000;

} // namespace

void TFkorvane::buildDecoderCommands() {
    indicatorTimer_ = new QTimer(this);
    indicatorTimer_->setSingleShot(true);
    connect(indicatorTimer_, &QTimer::timeout, this, [this] {
        Panel2->hide();
        repaint();
    });
    clockAlign_ = new ClockAlign(this);
    connect(clockAlign_, &ClockAlign::due, this,
            [this] { runHandler([this] { sendClockCommand(); }); });
}

const ClockSets& TFkorvane::clockSets() const {
    return clockAlign_->sent();
}

void TFkorvane::CuteButton1Click() {
    // The indicator is up from the request until a second after the
    // command went out.
    indicatorTimer_->stop();
    Panel2->show();
    Panel2->raise();
    repaint();
    clockAlign_->request(CommX1->isOpen() || CommX2->isOpen());
}

void TFkorvane::sendClockCommand() {
    const qint64 sentMs = QDateTime::currentMSecsSinceEpoch();
    const int s = SecondsOfDay(QTime::currentTime());
    const bool out = CommX1->isOpen() || CommX2->isOpen();
    CommX1->SendString(ClockCommand(S.Decid1, s));
    CommX2->SendString(ClockCommand(S.Decid2, s));
    if (out) {
        clockAlign_->noteSent(sentMs);
        // The next periodic command a whole period later, on a turn too.
        if (Timer2->isTicking())
            Timer2->restartIn(ClockAlign::untilNextTick(sentMs, Timer2->Interval()));
    }
    emit host_->clockCommandSent(monotonicNowMs());
    Edit10->setText(QString::fromLatin1(DisplayCopy(ClockCommand(S.Decid1, s))));
    // The indicator stays up for a second while the window goes on working.
    Panel2->show();
    Panel2->raise();
    repaint();
    indicatorTimer_->start(kIndicatorMs);
}

void TFkorvane::CuteButton3Click() {
    if (S.Decid1 != 0)
        CommX1->SendString(ProtocolCommand(S.Decid1));
    if (S.Decid2 != 0)
        CommX2->SendString(ProtocolCommand(S.Decid2));
    Edit10->setText(QString::fromLatin1(DisplayCopy(ProtocolCommand(S.Decid1))));
}

void TFkorvane::Timer2Timer() {
    if (CBox1->isChecked())
        CuteButton1->click();
}

void TFkorvane::TabSheet1Show() {
    Timer2->setEnabled(false);
}
void TFkorvane::TabSheet3Show() {
    Timer2->setEnabled(false);
}

void TFkorvane::TabSheet2Show() {
    if (S.Timer2 == 0) {
        Timer2->setEnabled(true);
        CuteButton1->click();
    }
}

void TFkorvane::TabSheet4Show() {
    TabSheet2Show();
}
