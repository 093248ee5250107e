#pragma once

// A WebSocket client of the live page that does the handshake on /live and
// then never reads a byte: what a browser tab that hangs looks like to the
// server. Plain sockets, so that nothing reads on its behalf.
#include <QByteArray>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
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
