#pragma once

// The far end of a serial device in tests: a decoder or the board, as the
// program's port sees it, on a pseudo-terminal.
#include "Pty.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QPair>
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
    // Puts back settings that no program gives (9600 baud, no RTS/CTS), so
    // that the next program's opening can be told.
    bool forgetLineSettings() {
        termios t{};
        if (!lineSettings(&t))
            return false;
        t.c_cflag &= ~tcflag_t(CRTSCTS);
        return cfsetospeed(&t, B9600) == 0 && tcsetattr(pty_.masterFd(), TCSANOW, &t) == 0;
    }

private:
    Pty pty_;
    bool ok_ = false;
    QString why_;
    QByteArray got_;
};

// A passing record as a decoder sends it.
inline QByteArray passingLine(const QByteArray& tpid, const QByteArray& time) {
    return "@\t1\t0\t" + tpid + '\t' + time + "\t0\t\r\n";
}

// Port numbers and their devices, as section Devices of Korvane.ini has them.
using Devices = QList<QPair<int, QString>>;

// The two decoders and the board on pseudo-terminals, and where the program
// finds them: COM1 loop 1, COM4 loop 2, COM5 the board, and COM2 a device
// that does not exist (in folder `dir`).
struct Track {
    Peer dec1, dec2, board;
    bool ok() const { return dec1.ok() && dec2.ok() && board.ok(); }
    QString why() const { return dec1.why() + dec2.why() + board.why(); }
    Devices devices(const QString& dir) const {
        return {{1, dec1.path()},
                {4, dec2.path()},
                {5, board.path()},
                {2, QDir(dir).filePath(QStringLiteral("missing-device"))}};
    }
};

// Writes a settings file: section SP as given, then the devices.
inline bool writeIni(const QString& path, const QByteArray& sp, const Devices& devices) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray text = "[SP]\n" + sp + "\n[Devices]\n";
    for (const auto& d : devices)
        text += "COM" + QByteArray::number(d.first) + '=' + d.second.toUtf8() + '\n';
    return f.write(text) == text.size();
}

} // namespace e2e
