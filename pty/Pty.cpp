#include "Pty.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {
QString reason(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

int openRawPtyMaster(QString& slavePath, QString* error) {
    const auto fail = [&](int fd, const char* what) {
        if (error)
            *error = reason(what);
        if (fd >= 0)
            ::close(fd);
        return -1;
    };
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return fail(master, "posix_openpt");
    if (grantpt(master) != 0 || unlockpt(master) != 0)
        return fail(master, "grantpt/unlockpt");
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0)
        return fail(master, "ptsname");
    // The pair shares one terminal setting: raw here is raw for the slave.
    termios tio{};
    if (tcgetattr(master, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(master, TCSANOW, &tio);
    }
    slavePath = QString::fromLocal8Bit(name);
    return master;
}

Pty::~Pty() {
    close();
}

bool Pty::open(QString* error) {
    close();
    master_ = openRawPtyMaster(slavePath_, error);
    if (master_ < 0)
        return false;
    slaveKeep_ = ::open(QFile::encodeName(slavePath_).constData(),
                        O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slaveKeep_ < 0) {
        *error = reason("open slave");
        close();
        return false;
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
        const ssize_t n =
            ::write(master_, bytes.constData() + written, size_t(bytes.size() - written));
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
