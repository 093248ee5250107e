#include "Pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {
QString reason(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

Pty::~Pty() { close(); }

bool Pty::open(QString* error) {
    close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        *error = reason("posix_openpt");
        return false;
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *error = reason("grantpt/unlockpt");
        close();
        return false;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        *error = reason("ptsname");
        close();
        return false;
    }
    slavePath_ = QString::fromLocal8Bit(name);
    slaveKeep_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slaveKeep_ < 0) {
        *error = reason("open slave");
        close();
        return false;
    }
    // Raw both ways: the bytes of a serial line, no echo, no CR/LF mapping.
    termios tio{};
    if (tcgetattr(slaveKeep_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slaveKeep_, TCSANOW, &tio);
    }
    const int flags = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    return true;
}

void Pty::close() {
    if (slaveKeep_ >= 0)
        ::close(slaveKeep_);
    if (master_ >= 0)
        ::close(master_);
    slaveKeep_ = master_ = -1;
}

Pty::Io Pty::write(const QByteArray& bytes, qsizetype& written) {
    written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + written, size_t(bytes.size() - written));
        if (n > 0) {
            written += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Io::Again;
        } else {
            return Io::Failed;
        }
    }
    return Io::Done;
}

Pty::Io Pty::read(QByteArray& out) {
    char buf[1024];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, n);
            if (size_t(n) < sizeof buf)
                return Io::Done;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return out.isEmpty() ? Io::Again : Io::Done;
        } else {
            // EIO: no slave open at the moment (cannot happen while slaveKeep_ is).
            return out.isEmpty() ? Io::Failed : Io::Done;
        }
    }
}
