#pragma once

// The far end of a serial device in tests: a decoder or the board, as the
// program's port sees it, on a pseudo-terminal.
#include "Pty.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <poll.h>
#include <termios.h>

namespace e2e {

// The far end of one serial device.
class Peer {
public:
    Peer() { ok_ = pty_.open(&why_); }
    bool ok() const { return ok_; }
    const QString& why() const { return why_; }
    QString path() const { return pty_.slavePath(); }
    int fd() const { return pty_.masterFd(); }

    // Writes everything, waiting (poll) while the terminal's queue is full.
    // Returns false when the terminal fails or stays full for timeoutMs.
    bool send(const QByteArray& bytes, int timeoutMs = 5000) {
        QByteArray rest = bytes;
        QElapsedTimer t;
        t.start();
        while (!rest.isEmpty()) {
            qsizetype written = 0;
            const Pty::Io io = pty_.write(rest, written);
            rest.remove(0, written);
            if (io == Pty::Io::Failed)
                return false;
            if (rest.isEmpty())
                break;
            const qint64 left = timeoutMs - t.elapsed();
            if (left <= 0)
                return false;
            pollfd p{pty_.masterFd(), POLLOUT, 0};
            ::poll(&p, 1, int(qMin<qint64>(left, 100)));
        }
        return true;
    }
    // Everything received so far (kept until clear()).
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
    // Waits up to timeoutMs for bytes; true when some arrived.
    bool waitReadable(int timeoutMs) {
        pollfd p{pty_.masterFd(), POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
    }
    // The line settings the program gave the device (the master reports the
    // slave's settings).
    bool lineSettings(termios* t) const { return tcgetattr(pty_.masterFd(), t) == 0; }

private:
    Pty pty_;
    bool ok_ = false;
    QString why_;
    QByteArray got_;
};

} // namespace e2e
