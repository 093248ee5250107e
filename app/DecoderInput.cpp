// Decoder input: the two decoder ports, their receive handlers, and the
// cutting of received bytes into lines whose passings go to the speed table
// (where they queue as pending rows for measuring).
#include "Ukorvane.h"

#include "WindowParts.h"
#include "DataDir.h"
#include "Framework.h"

#include "CommX.h"
#include "DecoderCommand.h"
#include "ReceiveBuffer.h"
#include "ReceivedLines.h"

#include "SpeedTable.h"

#include "CuteBtn.h"

#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTime>

#include <algorithm>

using namespace windowparts;

namespace {

const int kMonitorLines = 18;

} // namespace

void TFkorvane::buildDecoderInput() {
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
    RecvBuf1 = std::make_unique<ReceiveBuffer>();
    RecvBuf2 = std::make_unique<ReceiveBuffer>();
}

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
}

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
    // error. The monitor loses one line for each line added once it holds
    // more than its limit, as if they went one at a time: lines the operator
    // typed count, and a burst does not wipe them all at once.
    ReceivedLines got;
    const auto show = qScopeGuard([&] {
        if (!got.lines.isEmpty()) {
            const int added = int(got.lines.size());
            const int before = memoCount(monitor);
            memoAdd(monitor, got.lines.join(QLatin1Char('\n')));
            memoDeleteFirst(monitor, std::clamp(before + added - kMonitorLines, 0, added));
        }
        if (!got.notes.isEmpty())
            memoAdd(Memo3, got.notes.join(QLatin1Char('\n')));
    });
    // The passings of one notification reach the disk in one commit; those
    // stored before an error are committed, then the error is shown.
    bool measurable = false;
    SpeedTable::inOneCommit([&] {
        TakeLines(buffer, loop, got, [loop, &measurable](const QString& tpid, const QString& time) {
            measurable |= SpeedTable::storePassing(loop, tpid, time);
        });
    });
    if (measurable)
        measureSoon();
}
