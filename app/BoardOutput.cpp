// The display board: its port and bit rate, the speed lines measuring sends
// (through sendToBoard's caller), test patterns and brightness.
#include "Ukorvane.h"

#include "WindowParts.h"
#include "Framework.h"

#include "BoardLines.h"
#include "CommX.h"

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
    connect(brightnessTimer_, &QTimer::timeout, this, [this] {
        if (brightnessQueue_.isEmpty())
            return;
        sendToBoard(brightnessQueue_.takeFirst());
        if (!brightnessQueue_.isEmpty())
            brightnessTimer_->start(kBrightnessSpacingMs);
    });
}

void TFkorvane::sendToBoard(const QByteArray& line) {
    BoardLine = line;
    CommX3->SendString(BoardLine);
}

void TFkorvane::sendBoardLines(const QList<QByteArray>& lines) {
    if (S.Port3 == 0)
        return;
    for (const QByteArray& line : lines)
        sendToBoard(line);
}

void TFkorvane::openBoardPort() {
    try {
        portPause();
        CommX3->Open();
    } catch (const std::exception& e) {
        ShowMessage(QStringLiteral("出力ポートは開けませんでした。"), openFailureDetail(CommX3, e));
        RGport3->setItemIndex(0);
    }
}

void TFkorvane::RGport3Click() {
    CommX3->Close();
    const int index = RGport3->ItemIndex();
    CommX3->setPortNo(index);
    S.Port3 = index;
    if (index == 0)
        return;
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

void TFkorvane::CuteButton28Click() { sendBoardLines(AllNullPattern()); }
void TFkorvane::CuteButton29Click() { sendBoardLines(AllEightPattern()); }
void TFkorvane::CuteButton58Click() { sendBoardLines(OneToZeroPattern()); }
void TFkorvane::CuteButton61Click() { sendBoardLines(ShowAddressPattern()); }

void TFkorvane::CuteButton2Click() {
    if (S.Port3 == 0)
        return;
    // The brightness line, then the two test lines 200 ms apart each.
    brightnessQueue_ = BrightnessFollowUpLines();
    sendToBoard(BrightnessLine(TBarbright->value()));
    brightnessTimer_->start(kBrightnessSpacingMs);
}
