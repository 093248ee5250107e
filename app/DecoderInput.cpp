// Decoder input: the two decoder ports, their receive handlers, and the
// cutting of received bytes into lines whose passings go to the speed table
// (where they queue as pending rows for measuring).
#include "Ukorvane.h"
#include "WindowHost.h"

#include "DataDir.h"
#include "Framework.h"
#include "WindowParts.h"

#include "CommX.h"
#include "DecoderCommand.h"
#include "DecoderHealth.h"
#include "Error.h"
#include "ReceiveBuffer.h"
#include "ReceivedLines.h"

#include "Database.h"
#include "Ingest.h"
#include "PassingBacklog.h"
#include "PortKeeper.h"

#include "CuteBtn.h"

#include <QDateTime>
#include <QDir>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <utility>

using namespace windowparts;

namespace {

const int kMonitorLines = 18;
// A locked database already waits its busy time-out per attempt.
const int kStoreRetryMs = 3000;

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
    backlog_ = std::make_unique<PassingBacklog>([this](const QueuedPassing& p) {
        if (ingest::storePassing(p))
            measurableStored_ = true;
    });
    if (SpeedDb::isOpen())
        backlog_->useSpillFile(SpeedDb::database().databaseName());
    storeRetryTimer_ = new QTimer(this);
    storeRetryTimer_->setInterval(kStoreRetryMs);
    connect(storeRetryTimer_, &QTimer::timeout, this, [this] {
        if (!inPortPause())
            reportStore(backlog_->retry());
    });
}

void TFkorvane::startDecoderInput() {
    // What the last close could not store goes before anything received now.
    reportStore(backlog_->recover());
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
    // The operator's choice stands even when its device does not open now:
    // it is retried, and only a choice of "none" keeps the port closed.
    (loop == 1 ? S.Port1 : S.Port2) = index;
    portKeeper_->setWanted(comm, index != 0);
    if (index == 0) {
        emit host_->portClosed(loop); // no port, no alarm for it
        return;
    }
    try {
        // A signal during a pause stops the start-up: no opening or command after it.
        portPause();
        if (Dialogs::quitting())
            return;
        comm->Open();
        portPause();
        if (Dialogs::quitting())
            return;
        const int decid = loop == 1 ? S.Decid1 : S.Decid2;
        if (decid != 0)
            comm->SendString(ProtocolCommand(decid));
    } catch (const std::exception& e) {
        portOpenFailed(loop, openFailureDetail(comm, e));
    }
}

void TFkorvane::RGport1Click() {
    selectDecoderPort(1);
}
void TFkorvane::RGport2Click() {
    selectDecoderPort(2);
}

void TFkorvane::CommX1Receive(TCustomCommX* Sender, int ReceiveSize) {
    receiveDecoder(1, Sender, ReceiveSize);
}
void TFkorvane::CommX2Receive(TCustomCommX* Sender, int ReceiveSize) {
    receiveDecoder(2, Sender, ReceiveSize);
}

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
    const qsizetype dropped = buffer.append(chunk);
    if (dropped)
        note(tr("/%1 受信データ %2 バイトを破棄しました（改行なし）").arg(loop).arg(dropped));

    QPlainTextEdit* monitor = loop == 1 ? Memo1 : Memo2;
    // The lines and notes of one notification are shown together (one
    // layout of each memo, not one per line), also when the run ends in an
    // error. The monitor loses one line for each line added once it holds
    // more than its limit, as if they went one at a time: lines the operator
    // typed count, and a burst does not wipe them all at once.
    ReceivedLines got;
    // The rooms hear of the chunk before its passings are stored (a capture
    // then holds every chunk that reached the records), and also when the
    // run ends in an error.
    const qint64 receivedMs = QDateTime::currentMSecsSinceEpoch();
    bool told = false;
    const auto tell = [&] {
        if (!std::exchange(told, true))
            emit host_->chunkReceived(loop, receivedMs, chunk, dropped, got.lines);
    };
    const auto tellAnyway = qScopeGuard(tell);
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
    // The passings of one notification reach the disk in one commit, behind
    // any that wait for the database to take writes again. A passing that
    // waits keeps the time it was received.
    QList<QueuedPassing> passings;
    TakeLines(buffer, loop, got,
              [&](const QString& tpid, const QString& time, const QByteArray& line) {
                  passings.append({loop, tpid, time, receivedMs, line});
              });
    tell();
    reportStore(backlog_->add(passings));
}

// A store that fails keeps its passings waiting and is retried on a timer
// and with the next input. Its box is posted, so that no port's worker
// waits on it, and shown once for a run of failures.
void TFkorvane::reportStore(const BacklogResult& r) {
    if (r.dropped)
        note(tr(" 記録待ちが %1 件に達したため、古い通過 %2 件を破棄しました")
                 .arg(backlog_->limit())
                 .arg(r.dropped));
    if (!r.spillError.isEmpty())
        note(QLatin1Char(' ') + r.spillError);
    if (!r.stored) {
        measurableStored_ = false; // rolled back; the retry finds them again
        if (!storeRetryTimer_->isActive())
            storeRetryTimer_->start();
        if (!storeFaultShown_) {
            storeFaultShown_ = true;
            QTimer::singleShot(0, this, [text = r.error] { ShowErrorBox(text); });
        }
        return;
    }
    storeRetryTimer_->stop();
    storeFaultShown_ = false;
    // A row completed by this commit is measured at once.
    if (std::exchange(measurableStored_, false))
        measureSoon();
    if (r.waited)
        note(tr(" 記録を待っていた通過 %1 件を記録しました").arg(r.waited));
    if (r.recovered)
        note(tr(" 前回の終了時に記録できなかった %1 件を Korvane.pending から記録しました")
                 .arg(r.recovered));
}

void TFkorvane::closeRecords() {
    const SpillResult s = backlog_->spill();
    QStringList failures;
    if (!s.ok)
        failures << tr("記録できなかった通過 %1 件と計測 %2 件が失われました: %3")
                        .arg(s.passings)
                        .arg(s.measured)
                        .arg(s.error);
    else if (s.passings || s.measured)
        failures << tr("記録できなかった通過 %1 件と計測 %2 件を %3 "
                       "に残しました。次の起動時に記録します")
                        .arg(s.passings)
                        .arg(s.measured)
                        .arg(QDir::toNativeSeparators(
                            SpillFile(SpeedDb::database().databaseName()).path()));
    if (failures.isEmpty())
        return;
    for (const QString& f : std::as_const(failures))
        note(QLatin1Char(' ') + f);
    throw Error(failures.join(QLatin1Char('\n')));
}
