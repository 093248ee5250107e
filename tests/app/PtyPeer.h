#pragma once

#include "Pty.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QTest>

// The far end of a pseudo-terminal: a decoder or the board, as a test sees it.
class PtyPeer {
public:
    PtyPeer() {
        QString why;
        ok_ = pty_.open(&why);
        if (!ok_)
            qWarning("pseudo-terminal: %s", qPrintable(why));
    }
    bool ok() const { return ok_; }
    QString path() const { return pty_.slavePath(); }

    void send(const QByteArray& bytes) {
        qsizetype written = 0;
        QByteArray rest = bytes;
        QElapsedTimer t;
        t.start();
        while (!rest.isEmpty() && t.elapsed() < 5000) {
            if (pty_.write(rest, written) == Pty::Io::Failed)
                return;
            rest.remove(0, written);
            if (!rest.isEmpty())
                QTest::qWait(1);
        }
    }
    // Everything received so far (kept).
    const QByteArray& received() {
        QByteArray more;
        while (pty_.read(more) == Pty::Io::Done && !more.isEmpty()) {
            got_ += more;
            more.clear();
        }
        return got_;
    }
    void clear() {
        received();
        got_.clear();
    }

private:
    Pty pty_;
    bool ok_ = false;
    QByteArray got_;
};
