// Decoder ports, decoder commands, passing input, speed measurement and the
// display board: the handlers of the road of a passing.
#include "Ukorvane.h"

#include "DataDir.h"
#include "Framework.h"

#include "BoardLines.h"
#include "CommX.h"
#include "DecoderCommand.h"
#include "DeviceAccess.h"
#include "Measurement.h"
#include "PassingStore.h"
#include "ReceiveBuffer.h"

#include "Database.h"

#include "CuteBtn.h"
#include "Spin.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QSlider>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace {

const int kPortPauseMs = 380;
const int kIndicatorMs = 1000;
const int kBrightnessSpacingMs = 200;
const int kMonitorLines = 18;
// The hidden event log keeps the latest notes only, so that a long day of
// passings cannot fill the memory.
const int kEventLogLines = 10000;
// After a failed measurement run the next one waits a little longer.
const int kRetryAfterFaultMs = 2000;

QString openFailureDetail(const TCustomCommX* comm, const std::exception& e) {
    QString reason = comm->lastOpenError();
    if (reason.isEmpty())
        reason = QString::fromUtf8(e.what());
    const QString hint = deviceAccessHint(comm->devicePath());
    if (!hint.isEmpty())
        reason += QStringLiteral("\n\n") + hint;
    return comm->devicePath().isEmpty() ? reason : comm->devicePath() + QStringLiteral(": ") + reason;
}

} // namespace

void TFkorvane::buildPorts() {
    const QString ini = iniPath();
    TCustomCommX::setDeviceResolver([ini](int portNo) { return devicePathForPort(ini, portNo); });

    CommX1 = new TCommX(this);
    CommX1->setObjectName(QStringLiteral("CommX1"));
    CommX1->setFlowCtrl(cfcNone);
    CommX1->OnReceive = [this](TCustomCommX* sender, int n) { CommX1Receive(sender, n); };
    CommX2 = new TCommX(this);
    CommX2->setObjectName(QStringLiteral("CommX2"));
    CommX2->setFlowCtrl(cfcNone);
    CommX2->OnReceive = [this](TCustomCommX* sender, int n) { CommX2Receive(sender, n); };
    CommX3 = new TCommX(this);
    CommX3->setObjectName(QStringLiteral("CommX3"));

    RecvBuf1 = std::make_unique<ReceiveBuffer>();
    RecvBuf2 = std::make_unique<ReceiveBuffer>();

    holdTimer_ = new QTimer(this);
    holdTimer_->setSingleShot(true);
    connect(holdTimer_, &QTimer::timeout, this, [this] { Timer1->setEnabled(true); });

    indicatorTimer_ = new QTimer(this);
    indicatorTimer_->setSingleShot(true);
    connect(indicatorTimer_, &QTimer::timeout, this, [this] {
        Panel2->hide();
        repaint();
    });

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

bool TFkorvane::holding() const { return holdTimer_ && holdTimer_->isActive(); }

void TFkorvane::startDecoderInput() {
    RecvReady1 = 1;
    RecvReady2 = 1;
}

void TFkorvane::stopDecoderInput() {
    RecvReady1 = 0;
    RecvReady2 = 0;
}

void TFkorvane::note(const QString& suffix) {
    memoAdd(Memo3, LongTimeText(QTime::currentTime()) + suffix);
    while (memoCount(Memo3) > kEventLogLines)
        memoDeleteFirst(Memo3);
}

// --- decoder ports and commands ----------------------------------------------

void TFkorvane::selectDecoderPort(int loop) {
    TCommX* comm = loop == 1 ? CommX1 : CommX2;
    TRadioGroup* group = loop == 1 ? RGport1 : RGport2;
    const int index = group->ItemIndex();
    comm->Close();
    comm->setPortNo(index);
    (loop == 1 ? S.Port1 : S.Port2) = index;
    if (index == 0)
        return;
    try {
        pauseResponsive(kPortPauseMs);
        comm->Open();
        pauseResponsive(kPortPauseMs);
        const int decid = loop == 1 ? S.Decid1 : S.Decid2;
        if (decid != 0)
            comm->SendString(ProtocolCommand(decid));
    } catch (const std::exception& e) {
        ShowMessage(loop == 1 ? QStringLiteral("取り込みポート１は開けませんでした。")
                              : QStringLiteral("取り込みポート２は開けませんでした。"),
                    openFailureDetail(comm, e));
        group->setItemIndex(0);
    }
}

void TFkorvane::RGport1Click() { selectDecoderPort(1); }
void TFkorvane::RGport2Click() { selectDecoderPort(2); }

void TFkorvane::CuteButton1Click() {
    const int s = SecondsOfDay(QTime::currentTime());
    CommX1->SendString(ClockCommand(S.Decid1, s));
    CommX2->SendString(ClockCommand(S.Decid2, s));
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

void TFkorvane::TabSheet1Show() { Timer2->setEnabled(false); }
void TFkorvane::TabSheet3Show() { Timer2->setEnabled(false); }

void TFkorvane::TabSheet2Show() {
    if (S.Timer2 == 0) {
        Timer2->setEnabled(true);
        CuteButton1->click();
    }
}

void TFkorvane::TabSheet4Show() { TabSheet2Show(); }

// --- decoder passing input -----------------------------------------------------

void TFkorvane::CommX1Receive(TCustomCommX* Sender, int ReceiveSize) { receiveDecoder(1, Sender, ReceiveSize); }
void TFkorvane::CommX2Receive(TCustomCommX* Sender, int ReceiveSize) { receiveDecoder(2, Sender, ReceiveSize); }

void TFkorvane::receiveDecoder(int loop, TCustomCommX* comm, int receiveSize) {
    if ((loop == 1 ? RecvReady1 : RecvReady2) != 1)
        return;
    RecvReady1 = 0;
    RecvReady2 = 0;
    // Also when the run ends in an error: decoder input keeps flowing.
    const auto restore = qScopeGuard([this] {
        RecvReady1 = 1;
        RecvReady2 = 1;
    });

    QByteArray chunk;
    chunk.reserve(receiveSize);
    for (int i = 0; i < receiveSize; ++i) {
        const int c = comm->ReadChar();
        if (c >= 0)
            chunk.append(char(c));
    }
    ReceiveBuffer& buffer = loop == 1 ? *RecvBuf1 : *RecvBuf2;
    if (const qsizetype dropped = buffer.append(chunk))
        note(QStringLiteral("/%1 受信データ %2 バイトを破棄しました（改行なし）").arg(loop).arg(dropped));

    QPlainTextEdit* monitor = loop == 1 ? Memo1 : Memo2;
    // The lines and notes of one notification are shown together (one
    // layout of each memo, not one per line), also when the run ends in an
    // error; the monitor keeps its latest lines.
    ReceivedLines got;
    const auto show = qScopeGuard([&] {
        if (!got.lines.isEmpty()) {
            memoAdd(monitor, got.lines.join(QLatin1Char('\n')));
            while (memoCount(monitor) > kMonitorLines)
                memoDeleteFirst(monitor);
        }
        if (!got.notes.isEmpty()) {
            memoAdd(Memo3, got.notes.join(QLatin1Char('\n')));
            while (memoCount(Memo3) > kEventLogLines)
                memoDeleteFirst(Memo3);
        }
    });
    TakeLines(buffer, loop, got);
}

// --- speed computation and publication -----------------------------------------

void TFkorvane::Timer1Timer() {
    Timer1->setEnabled(false);
    try {
        const std::optional<PendingPassing> row = NextPending();
        if (!row) {
            measureFaultShown_ = false;
            Timer1->setEnabled(true);
            return;
        }
        note(QStringLiteral("/timer"));
        CurTpid = row->tpid;
        BestSpeed = row->bestSpeed;
        const SpeedResult r = EvaluatePassing(*row, S.Dist);
        if (r.measured) {
            Label1->setText(r.text + QStringLiteral(" Km/h"));
            Label6->setText(CurTpid);
            repaint();
            BoardLine = r.boardLine;
            CommX3->SendString(BoardLine);
        }
        MarkProcessed(CurTpid, r);
        measureFaultShown_ = false;
    } catch (...) {
        // Measuring goes on after an error; a fault that persists is shown
        // once, not every run.
        holdTimer_->start(kRetryAfterFaultMs);
        if (!measureFaultShown_) {
            measureFaultShown_ = true;
            throw;
        }
        return;
    }
    // Hold the shown speed for Wait seconds; the next pending row is taken
    // 300 ms after the hold ends. The window keeps working meanwhile.
    const qint64 ms = std::clamp<qint64>(qint64(S.Wait) * 1000, 0, INT_MAX);
    holdTimer_->start(int(ms));
}

// --- display board ------------------------------------------------------------

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
        pauseResponsive(kPortPauseMs);
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
