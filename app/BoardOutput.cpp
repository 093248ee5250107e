// The display board: its port and bit rate, the speed lines measuring sends
// (through sendToBoard's caller), test patterns and brightness.
#include "Ukorvane.h"
#include "WindowHost.h"

#include "Framework.h"
#include "WindowParts.h"

#include "BoardLines.h"
#include "CommX.h"
#include "PortKeeper.h"

#include "CuteBtn.h"

#include <QSlider>
#include <QTimer>

using namespace windowparts;

namespace {

const int kBrightnessSpacingMs = 200;

} // namespace

void TFkorvane::buildBoardOutput() {
    CommX3 = new TCommX(this);
    CommX3->setObjectName(QStringLiteral("CommX3"));

    brightnessTimer_ = new QTimer(this);
    brightnessTimer_->setSingleShot(true);
    brightnessTimer_->setTimerType(Qt::PreciseTimer);
    connect(brightnessTimer_, &QTimer::timeout, this, [this] { sendBoardQueue(); });
}

void TFkorvane::sendToBoard(const QByteArray& line) {
    BoardLine = line;
    CommX3->SendString(BoardLine);
}

// While a brightness sequence runs, whatever else is meant for the board (a
// speed, a test pattern, the next press's sequence) waits behind it in
// order: lines slipped between its three would leave the board on 8s.
void TFkorvane::sendToBoardInTurn(const QByteArray& line, int gapMs) {
    if (boardQueue_.isEmpty() && gapMs == 0) {
        sendToBoard(line);
        return;
    }
    boardQueue_.append({line, gapMs});
    if (!brightnessTimer_->isActive())
        sendBoardQueue();
}

void TFkorvane::sendBoardQueue() {
    // A line that falls due while the board port is being reopened goes out
    // when the pause is over (endPortPause runs this again).
    if (inPortPause() || brightnessTimer_->isActive())
        return;
    while (!boardQueue_.isEmpty()) {
        int& gap = boardQueue_.first().second;
        if (gap > 0) {
            brightnessTimer_->start(gap);
            gap = 0;
            return;
        }
        sendToBoard(boardQueue_.takeFirst().first);
    }
}

void TFkorvane::sendBoardLines(const QList<QByteArray>& lines) {
    if (S.Port3 == 0)
        return;
    for (const QByteArray& line : lines)
        sendToBoardInTurn(line);
}

void TFkorvane::openBoardPort() {
    try {
        portPause();
        if (Dialogs::quitting())
            return; // stopping: no port opens any more
        CommX3->Open();
    } catch (const std::exception& e) {
        portOpenFailed(3, openFailureDetail(CommX3, e));
    }
}

void TFkorvane::RGport3Click() {
    CommX3->Close();
    const int index = RGport3->ItemIndex();
    CommX3->setPortNo(index);
    S.Port3 = index;
    portKeeper_->setWanted(CommX3, index != 0);
    if (index == 0) {
        emit host_->portClosed(3); // no port, no alarm for it
        return;
    }
    openBoardPort();
}

void TFkorvane::RGrateClick() {
    S.Rate = RGrate->ItemIndex();
    CommX3->Close();
    CommX3->setBitRate(BoardBitRate(S.Rate));
    if (S.Port3 == 0)
        return;
    openBoardPort();
}

void TFkorvane::CuteButton28Click() {
    sendBoardLines(AllNullPattern());
}
void TFkorvane::CuteButton29Click() {
    sendBoardLines(AllEightPattern());
}
void TFkorvane::CuteButton58Click() {
    sendBoardLines(OneToZeroPattern());
}
void TFkorvane::CuteButton61Click() {
    sendBoardLines(ShowAddressPattern());
}

void TFkorvane::CuteButton2Click() {
    if (S.Port3 == 0)
        return;
    // The brightness line, then the two test lines 200 ms apart each; a
    // press while a sequence runs starts its own after it.
    sendToBoardInTurn(BrightnessLine(TBarbright->value()));
    for (const QByteArray& line : BrightnessFollowUpLines())
        sendToBoardInTurn(line, kBrightnessSpacingMs);
}
