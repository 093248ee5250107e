// Measuring: every 300 ms the head of the speed table's pending queue becomes
// a speed, shown on the measuring page and sent to the board, then the row
// is marked processed. A shown speed is held for the Wait setting. Every
// pair is kept as an attempt with its plausibility flags, in the commit that
// marks the row processed; a pair that is no measurement (a loop-1 time from
// an earlier lap, a section timed across a clock command...) goes nowhere
// else.
#include "Ukorvane.h"
#include "WindowHost.h"

#include "CommX.h"
#include "Framework.h"
#include "Ingest.h"
#include "Measurement.h"
#include "WindowParts.h"

#include "Database.h"
#include "PassingBacklog.h"
#include "SpeedTable.h"

#include <QDateTime>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <climits>

using namespace windowparts;

namespace {

// After a failed measurement run the next one waits a little longer.
const int kRetryAfterFaultMs = 2000;

} // namespace

void TFkorvane::buildMeasuring() {
    holdTimer_ = new QTimer(this);
    holdTimer_->setSingleShot(true);
    // A coarse timer may end the hold early, and results would come closer
    // than Wait plus the measuring period.
    holdTimer_->setTimerType(Qt::PreciseTimer);
    connect(holdTimer_, &QTimer::timeout, this, [this] { releaseMeasuring(); });
}

bool TFkorvane::holding() const {
    return holdTimer_ && holdTimer_->isActive();
}

// A loop-2 passing completed a row that has its loop-1 time: its speed need
// not wait for the next tick. The run starts once the receive handler has
// returned, and only when nothing holds measuring: no run going or held
// (Timer1 on, no hold), and the last run at least the measuring period plus
// Wait ago; otherwise the tick that ends that spacing takes the row. Only a
// head of the queue with a loop-1 time is taken early: a row without one
// keeps the timer's pace, so that a late loop-1 line still has its chance.
void TFkorvane::measureSoon() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!Timer1->Enabled() || holding())
                return;
            const qint64 spacing = qint64(Timer1->Interval()) + qint64(S.Wait) * 1000;
            if (lastRun_.isValid() && lastRun_.elapsed() < spacing)
                return;
            const std::optional<SpeedTable::PendingRow> head = pendingHead();
            if (head && head->hasTime1)
                Timer1Timer();
        },
        Qt::QueuedConnection);
}

// The head of the queue, past the rows measured already whose processed
// mark waits to be stored.
std::optional<SpeedTable::PendingRow> TFkorvane::pendingHead() const {
    return SpeedTable::nextPending([this](const SpeedTable::PendingRow& row) {
        return backlog_->measuredCount() > 0 && backlog_->isMeasured(row.tpid, row.time2);
    });
}

void TFkorvane::Timer1Timer() {
    Timer1->setEnabled(false);
    try {
        const std::optional<SpeedTable::PendingRow> row = pendingHead();
        if (!row) {
            measureFaultShown_ = false;
            Timer1->setEnabled(true);
            return;
        }
        note(QStringLiteral("/timer"));
        CurTpid = row->tpid;
        BestSpeed = row->bestSpeed;
        const ingest::MeasureRun run = ingest::evaluate(
            *row, S.Dist, Checks, QDateTime::currentMSecsSinceEpoch(), &clockSets());
        const SpeedResult& r = run.result;
        const bool held = run.held;
        if (r.measured && !held) {
            Label1->setText(r.text + QStringLiteral(" Km/h"));
            Label6->setText(CurTpid);
            repaint();
            BoardLine = r.boardLine;
            sendToBoardInTurn(BoardLine);
        }
        MeasuredAttempt told;
        if (run.attempt) {
            told.tpid = run.attempt->tpid;
            told.speed = run.attempt->speed;
            told.speedText = run.attempt->speedText;
            told.flags = run.attempt->flags;
            told.status = run.attempt->status;
            told.measuredMs = run.attempt->measuredMs;
            told.shown = r.measured && !held;
            told.newBest = told.shown && r.newBest;
        }
        try {
            told.id = ingest::record(run, [this, &told](qint64 id) {
                told.id = id;
                emit host_->attemptStoring(told);
            });
        } catch (const DbError& e) {
            // What was shown and sent stays shown and sent: the row is not
            // measured again, and its attempt and mark wait with the
            // passings that the database has not taken.
            told.id = 0;
            reportStore(backlog_->addMeasured(ingest::measured(run, row->time2), e.message()));
        }
        if (run.attempt)
            emit host_->attemptMeasured(told);
        if (r.measured && !held)
            emit host_->speedShown(CurTpid, r.text, r.newBest, QDateTime::currentMSecsSinceEpoch());
        measureFaultShown_ = false;
        if (held) {
            // Nothing was shown, so nothing is held on screen either.
            releaseMeasuring();
            return;
        }
    } catch (...) {
        // Measuring goes on after an error; a fault that persists is shown
        // once, not every run.
        holdTimer_->start(kRetryAfterFaultMs);
        lastRun_.start();
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
    lastRun_.start();
}
