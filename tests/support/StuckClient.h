#pragma once

// Clients of the live page that misbehave, on plain sockets so that nothing
// reads on their behalf. stuckClient: a WebSocket client that does the
// handshake on /live and then never reads a byte, what a browser tab that
// hangs looks like to the server.
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// The connected socket, or -1. A small receive buffer makes the server's
// unsent bytes pile up sooner.
inline int stuckClient(quint16 port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const QByteArray hello = "GET /live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                             "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::write(fd, hello.constData(), size_t(hello.size())) != hello.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A plain connection to the page's port from a chosen local address (all of
// 127.0.0.0/8 is this machine: a crowd of clients with addresses of their
// own), or -1.
inline int connectFrom(const char* local, quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, local, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A client that sends half a request and waits: what a prankster holds by
// the hundred.
inline int halfRequestClient(const char* local, quint16 port) {
    const int fd = connectFrom(local, port);
    const QByteArray half = "GET / HTTP/1.1\r\nHost: x\r\n";
    if (fd >= 0 && ::send(fd, half.constData(), size_t(half.size()), MSG_NOSIGNAL) != half.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The server closed or reset the connection (what it had sent is read away
// first).
inline bool closedByServer(int fd) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0)
            return true;
        if (n < 0)
            return errno == ECONNRESET;
    }
}

// What the socket brings until done(bytes so far) holds, the peer closes or
// timeoutMs pass.
template <class Done> QByteArray readUntil(int fd, int timeoutMs, Done done, int pollMs = 50) {
    QByteArray in;
    QElapsedTimer t;
    t.start();
    char buf[65536];
    while (!done(in) && t.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, pollMs) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        in.append(buf, n);
    }
    return in;
}

// True once `in` holds an HTTP answer's head and all the body its
// Content-Length announces.
inline bool wholeAnswer(const QByteArray& in) {
    const qsizetype head = in.indexOf("\r\n\r\n");
    if (head < 0)
        return false;
    const qsizetype at = in.left(head).toLower().indexOf("content-length:");
    if (at < 0)
        return false;
    return in.size() >=
           head + 4 + in.mid(at + 15, in.indexOf('\r', at) - at - 15).trimmed().toLongLong();
}

// Resident memory of a process ("self" or a pid) in KiB; -1 when unknown.
inline qint64 rssKb(const QByteArray& pid = "self") {
    QFile f(QStringLiteral("/proc/%1/status").arg(QString::fromLatin1(pid)));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}
