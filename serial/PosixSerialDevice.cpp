// The serial device on POSIX terminals. This is the only file that knows
// termios; the component sees it through SerialDevice.

#include "SerialDevice.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <shared_mutex>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

template <typename F> auto retryEintr(F f) {
    for (;;) {
        auto r = f();
        if (r != -1 || errno != EINTR)
            return r;
    }
}

bool isGoneErrno(int e) {
    return e == EIO || e == ENXIO || e == ENODEV || e == EPIPE || e == EBADF;
}

struct SpeedEntry {
    int rate;
    speed_t code;
};

const SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool speedCode(int rate, speed_t* code) {
    for (const auto& e : kSpeeds) {
        if (e.rate == rate) {
            *code = e.code;
            return true;
        }
    }
    return false;
}

int speedRate(speed_t code) {
    for (const auto& e : kSpeeds) {
        if (e.code == code)
            return e.rate;
    }
    return 0;
}

class PosixSerialDevice final : public SerialDevice {
public:
    PosixSerialDevice() {
        m_wakeRx = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        m_wakeTx = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    }

    ~PosixSerialDevice() override {
        close();
        if (m_wakeRx >= 0)
            ::close(m_wakeRx);
        if (m_wakeTx >= 0)
            ::close(m_wakeTx);
    }

    bool open(const QString& path, QString* reason) override {
        std::unique_lock lock(m_fdLock);
        if (m_fd >= 0) {
            *reason = QStringLiteral("device already open");
            return false;
        }
        if (m_wakeRx < 0 || m_wakeTx < 0) {
            *reason = qt_error_string(EMFILE);
            return false;
        }
        const QByteArray native = path.toLocal8Bit();
        const int fd = retryEintr(
            [&] { return ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
        if (fd < 0) {
            *reason = qt_error_string(errno);
            return false;
        }
        auto fail = [&](int err) {
            *reason = qt_error_string(err);
            ::close(fd);
            return false;
        };
        if (!isatty(fd))
            return fail(ENOTTY);
        // TIOCEXCL keeps other users out but not root; the advisory lock is
        // what stops a second copy of this program run as root.
        ioctl(fd, TIOCEXCL);
        if (retryEintr([&] { return flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
            const int err = errno;
            ioctl(fd, TIOCNXCL);
            return fail(err == EWOULDBLOCK ? EBUSY : err);
        }
        termios t{};
        if (retryEintr([&] { return tcgetattr(fd, &t); }) != 0) {
            const int err = errno;
            ioctl(fd, TIOCNXCL);
            return fail(err);
        }
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
        // VMIN 1 makes an empty non-blocking read answer EAGAIN, so that a
        // read of 0 bytes can only mean a hang-up.
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        if (retryEintr([&] { return tcsetattr(fd, TCSANOW, &t); }) != 0) {
            const int err = errno;
            ioctl(fd, TIOCNXCL);
            return fail(err);
        }
        m_fd = fd;
        m_countersFromModem = false;
        return true;
    }

    void close() override {
        wakeReceiver();
        wakeTransmitter();
        std::unique_lock lock(m_fdLock);
        if (m_fd < 0)
            return;
        // Nothing may be left to drain, or the kernel's close would wait for
        // a line held off by CTS.
        tcflush(m_fd, TCIOFLUSH);
        ioctl(m_fd, TIOCNXCL);
        ::close(m_fd); // releases the advisory lock; no retry, see close(2)
        m_fd = -1;
    }

    int nativeHandle() const override {
        std::shared_lock lock(m_fdLock);
        return m_fd;
    }

    bool setQueueSizes(int receive, int transmit) override {
        // The kernel's queues have fixed sizes; only nonsense is refused.
        return receive > 0 && transmit > 0;
    }

    LineSettings currentSettings() override {
        LineSettings s;
        std::shared_lock lock(m_fdLock);
        termios t{};
        if (m_fd < 0 || tcgetattr(m_fd, &t) != 0)
            return s;
        s.bitRate = speedRate(cfgetospeed(&t));
        switch (t.c_cflag & CSIZE) {
        case CS5:
            s.charSize = 5;
            break;
        case CS6:
            s.charSize = 6;
            break;
        case CS7:
            s.charSize = 7;
            break;
        default:
            s.charSize = 8;
            break;
        }
        s.parity = !(t.c_cflag & PARENB) ? cpbNone : (t.c_cflag & PARODD) ? cpbOdd : cpbEven;
        s.stopBits = (t.c_cflag & CSTOPB) ? csb2 : csb1;
        s.flow = (t.c_cflag & CRTSCTS) ? cfcRtsCts : (t.c_iflag & IXON) ? cfcXonXoff : cfcNone;
        return s;
    }

    bool applySettings(const LineSettings& s) override {
        speed_t speed;
        if (!speedCode(s.bitRate, &speed))
            return false;
        tcflag_t size;
        switch (s.charSize & 0xFF) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return false;
        }
        // A UART gives 1.5 stop bits only with 5-bit characters (CSTOPB).
        if (s.stopBits == csb1p5 && (s.charSize & 0xFF) != 5)
            return false;
        if (s.parity > cpbEven || s.stopBits > csb2 || s.flow > cfcNone)
            return false;

        std::shared_lock lock(m_fdLock);
        if (m_fd < 0)
            return false;
        termios t{};
        if (retryEintr([&] { return tcgetattr(m_fd, &t); }) != 0)
            return false;
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        t.c_cflag |= size | CLOCAL | CREAD;
        if (s.parity != cpbNone)
            t.c_cflag |= PARENB | (s.parity == cpbOdd ? PARODD : 0);
        t.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
        if (s.parity != cpbNone)
            t.c_iflag |= INPCK;
        if (s.stopBits != csb1)
            t.c_cflag |= CSTOPB;
        switch (s.flow) {
        case cfcRtsCts:
            t.c_cflag |= CRTSCTS;
            break;
        case cfcXonXoff:
            // The line discipline's thresholds are fixed; the limits cannot
            // be handed on and only the characters are.
            t.c_iflag |= IXON | IXOFF;
            t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
            t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
            break;
        default:
            // cfcDtrDsr: termios has no DSR-gated output and no DTR input
            // handshake; DTR is raised and held, output is not gated.
            break;
        }
        if (retryEintr([&] { return tcsetattr(m_fd, TCSANOW, &t); }) != 0)
            return false;
        // Drivers take what they cannot do silently; read back to tell.
        termios back{};
        if (retryEintr([&] { return tcgetattr(m_fd, &back); }) != 0)
            return false;
        const tcflag_t checked = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
        if (cfgetospeed(&back) != speed || (back.c_cflag & checked) != (t.c_cflag & checked))
            return false;

        // DTR is held up in every mode; RTS is low at rest only for
        // cfcHalfHigh, and with cfcRtsCts the driver drives it. Drivers
        // without modem lines (pseudo-terminals) refuse these: harmless.
        setLine(TIOCM_DTR, true);
        if (s.flow != cfcRtsCts)
            setLine(TIOCM_RTS, s.flow != cfcHalfHigh);
        else
            setLine(TIOCM_RTS, true);
        return true;
    }

    bool setTimeouts(int, int) override { return true; }

    IoStatus read(char* buffer, int size, int* count) override {
        *count = 0;
        std::shared_lock lock(m_fdLock);
        if (m_fd < 0)
            return IoStatus::Gone;
        const ssize_t n = retryEintr([&] { return ::read(m_fd, buffer, size_t(size)); });
        if (n > 0) {
            *count = int(n);
            return IoStatus::Ok;
        }
        if (n == 0)
            return size == 0 ? IoStatus::Again : IoStatus::Gone;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return IoStatus::Again;
        return isGoneErrno(errno) ? IoStatus::Gone : IoStatus::Failed;
    }

    IoStatus write(const char* data, int size, int* count) override {
        *count = 0;
        std::shared_lock lock(m_fdLock);
        if (m_fd < 0)
            return IoStatus::Gone;
        const ssize_t n = retryEintr([&] { return ::write(m_fd, data, size_t(size)); });
        if (n > 0) {
            *count = int(n);
            return IoStatus::Ok;
        }
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK)
            return IoStatus::Again;
        return isGoneErrno(errno) ? IoStatus::Gone : IoStatus::Failed;
    }

    WaitStatus waitForEvent(bool watchData, int timeoutMs) override {
        return waitOn(m_wakeRx, watchData ? POLLIN : 0, timeoutMs);
    }

    WaitStatus waitForData(int timeoutMs) override { return waitOn(-1, POLLIN, timeoutMs); }

    WaitStatus waitWritable(int timeoutMs) override { return waitOn(m_wakeTx, POLLOUT, timeoutMs); }

    WaitStatus pauseTransmitter(int timeoutMs) override { return waitOn(m_wakeTx, 0, timeoutMs); }

    void wakeReceiver() override { signal(m_wakeRx); }
    void wakeTransmitter() override { signal(m_wakeTx); }

    int inputQueue() override { return queueCount(FIONREAD); }
    int outputQueue() override { return queueCount(TIOCOUTQ); }

    void flushInput() override { flush(TCIFLUSH); }
    void flushOutput() override { flush(TCOFLUSH); }

    bool setModemLine(ModemLine line, bool on) override {
        return setLine(line == ModemLine::Rts ? TIOCM_RTS : TIOCM_DTR, on);
    }

    bool readLineCounters(LineCounters* c) override {
        std::shared_lock lock(m_fdLock);
        if (m_fd < 0)
            return false;
        serial_icounter_struct ic{};
        if (!m_countersFromModem &&
            retryEintr([&] { return ioctl(m_fd, TIOCGICOUNT, &ic); }) == 0) {
            c->cts = quint32(ic.cts);
            c->dsr = quint32(ic.dsr);
            c->rng = quint32(ic.rng);
            c->dcd = quint32(ic.dcd);
            c->frame = quint32(ic.frame);
            c->overrun = quint32(ic.overrun);
            c->parity = quint32(ic.parity);
            c->brk = quint32(ic.brk);
            return true;
        }
        // Without counters (some USB adapters), line changes are still seen
        // by comparing the modem lines; errors and breaks are not.
        int bits = 0;
        if (retryEintr([&] { return ioctl(m_fd, TIOCMGET, &bits); }) != 0)
            return false;
        std::lock_guard guard(m_modemLock);
        if (m_countersFromModem) {
            const int changed = bits ^ m_lastModem;
            m_synth.cts += (changed & TIOCM_CTS) ? 1 : 0;
            m_synth.dsr += (changed & TIOCM_DSR) ? 1 : 0;
            m_synth.rng += (changed & TIOCM_RNG) ? 1 : 0;
            m_synth.dcd += (changed & TIOCM_CD) ? 1 : 0;
        }
        m_countersFromModem = true;
        m_lastModem = bits;
        *c = m_synth;
        return true;
    }

private:
    bool setLine(int bit, bool on) {
        std::shared_lock lock(m_fdLock);
        if (m_fd < 0)
            return false;
        return retryEintr([&] { return ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bit); }) == 0;
    }

    int queueCount(unsigned long request) {
        std::shared_lock lock(m_fdLock);
        if (m_fd < 0)
            return -1;
        int n = 0;
        if (retryEintr([&] { return ioctl(m_fd, request, &n); }) != 0)
            return -1;
        return n;
    }

    void flush(int which) {
        std::shared_lock lock(m_fdLock);
        if (m_fd >= 0)
            retryEintr([&] { return tcflush(m_fd, which); });
    }

    static void signal(int efd) {
        if (efd < 0)
            return;
        const quint64 one = 1;
        retryEintr([&] { return ::write(efd, &one, sizeof one); });
    }

    static void drain(int efd) {
        quint64 value;
        retryEintr([&] { return ::read(efd, &value, sizeof value); });
    }

    WaitStatus waitOn(int wakeFd, short events, int timeoutMs) {
        using Clock = std::chrono::steady_clock;
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        std::shared_lock lock(m_fdLock);
        if (m_fd < 0)
            return WaitStatus::Gone;
        for (;;) {
            pollfd fds[2];
            nfds_t n = 0;
            int wakeIndex = -1, devIndex = -1;
            if (wakeFd >= 0) {
                wakeIndex = int(n);
                fds[n++] = {wakeFd, POLLIN, 0};
            }
            // Without events the device is left out altogether: a hung-up
            // descriptor would otherwise end every wait at once.
            if (events != 0) {
                devIndex = int(n);
                fds[n++] = {m_fd, events, 0};
            }
            int wait = -1;
            if (timeoutMs >= 0) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                wait = int(std::max<qint64>(0, left.count()));
            }
            const int r = ::poll(fds, n, wait);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return WaitStatus::Failed;
            }
            if (r == 0)
                return WaitStatus::Timeout;
            if (wakeIndex >= 0 && (fds[wakeIndex].revents & POLLIN)) {
                drain(wakeFd);
                return WaitStatus::Woken;
            }
            if (devIndex < 0)
                continue;
            const short rev = fds[devIndex].revents;
            if (rev & (POLLHUP | POLLERR | POLLNVAL))
                return WaitStatus::Gone;
            if (rev & events)
                return WaitStatus::Ready;
        }
    }

    mutable std::shared_mutex m_fdLock; // shared: any use of m_fd; unique: close
    int m_fd = -1;
    int m_wakeRx = -1;
    int m_wakeTx = -1;
    std::mutex m_modemLock;
    std::atomic<bool> m_countersFromModem{false};
    int m_lastModem = 0;
    LineCounters m_synth;
};

} // namespace

std::unique_ptr<SerialDevice> createPosixSerialDevice() {
    return std::make_unique<PosixSerialDevice>();
}
