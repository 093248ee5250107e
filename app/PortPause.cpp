// The pause around closing and reopening a port. The window keeps painting,
// but measuring and decoder input are held for its length: a speed computed
// inside it would go to a board port that is closed just then, and decoder
// lines would be stored in the middle of a port change. What fell due meanwhile
// runs as soon as the pause is over.
#include "Ukorvane.h"

#include "Framework.h"
#include "WindowParts.h"

#include "CommX.h"

#include <QScopeGuard>
#include <QTimer>

using namespace windowparts;

namespace {

// KORVANE_TEST_PORT_PAUSE_MS shortens the pause for the tests on
// pseudo-terminals, which start windows by the hundred; it can only shorten
// it. Read at each pause, so that a test of the pause itself can have the
// full length back.
int portPauseMs() {
    bool ok = false;
    const int set = qEnvironmentVariableIntValue("KORVANE_TEST_PORT_PAUSE_MS", &ok);
    return ok && set >= 0 && set < kPortPauseMs ? set : kPortPauseMs;
}

} // namespace

void TFkorvane::portPause() {
    if (portPauseDepth_++ == 0) {
        heldTimer1_ = Timer1->Enabled();
        Timer1->setEnabled(false);
        heldReady1_ = RecvReady1;
        heldReady2_ = RecvReady2;
        RecvReady1 = 0;
        RecvReady2 = 0;
    }
    const auto resume = qScopeGuard([this] {
        if (--portPauseDepth_ == 0)
            endPortPause();
    });
    pauseResponsive(portPauseMs());
}

bool TFkorvane::inPortPause() const {
    return portPauseDepth_ > 0;
}

void TFkorvane::endPortPause() {
    RecvReady1 = heldReady1_;
    RecvReady2 = heldReady2_;
    const bool measure = heldTimer1_;
    heldTimer1_ = false;
    if (measure)
        Timer1->setEnabled(true);
    // Once the handler that paused has returned (it may still open a port or
    // send a command): first the bytes that waited, then a measuring run if
    // one fell due, so a passing that arrived in the pause counts at once.
    QTimer::singleShot(0, this, [this, measure] {
        if (inPortPause())
            return;
        for (int loop : {1, 2}) {
            TCommX* comm = loop == 1 ? CommX1 : CommX2;
            if (comm->isOpen())
                if (const int n = comm->ReceiveCount(); n > 0)
                    receiveDecoder(loop, comm, n);
        }
        sendBoardQueue();
        if (measure && Timer1->Enabled())
            Timer1Timer();
    });
}

void TFkorvane::releaseMeasuring() {
    if (inPortPause())
        heldTimer1_ = true;
    else
        Timer1->setEnabled(true);
}
