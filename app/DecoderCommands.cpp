// Decoder commands: setting both decoders' clocks (by button and by timer
// while a page that shows passings is up) and switching their protocol.
#include "Ukorvane.h"

#include "Framework.h"
#include "WindowParts.h"

#include "CommX.h"
#include "DecoderCommand.h"

#include "CuteBtn.h"

#include <QCheckBox>
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
}

void TFkorvane::CuteButton1Click() {
    const int s = SecondsOfDay(QTime::currentTime());
    CommX1->SendString(ClockCommand(S.Decid1, s));
    CommX2->SendString(ClockCommand(S.Decid2, s));
    watchClockSet();
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
