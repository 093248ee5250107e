// The live page's server in this process, on a free local port: what it
// does with its clients.
#include "LiveServer.h"

#include "SpeedRow.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QWebSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

quint16 freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// A WebSocket client that does the handshake and then never reads a byte.
int stuckClient(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return -1;
    const QByteArray hello = "GET /live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                             "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    if (::write(fd, hello.constData(), size_t(hello.size())) != hello.size())
        return -1;
    return fd;
}

// The server closed or reset it (what it had sent is read away first).
bool closedByServer(int fd) {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0)
            return true;
        if (n < 0)
            return errno == ECONNRESET;
    }
}

} // namespace

class TestLiveServer : public QObject {
    Q_OBJECT

private slots:
    // A client that stops reading is dropped even when almost nothing is
    // sent (the kernel's buffers would hide it for a long while); a client
    // that reads stays and still gets what is published after.
    void clientThatStopsReadingIsDroppedReaderStays() {
        FreshSpeedDb fresh;
        LiveServer::Options o;
        o.dbPath = fresh.path();
        o.port = freePort();
        o.pingMs = 250;
        LiveServer server(o);
        QSignalSpy started(&server, &LiveServer::started);
        server.start();
        QCOMPARE(started.count(), 1);
        QVERIFY2(started.first().at(0).toBool(), qPrintable(started.first().at(1).toString()));

        QWebSocket reader;
        QStringList received;
        connect(&reader, &QWebSocket::textMessageReceived, this,
                [&](const QString& m) { received << m; });
        reader.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(o.port)));
        QTRY_COMPARE(server.clientCount(), 1);
        const int stuck = stuckClient(o.port);
        QVERIFY(stuck >= 0);
        QTRY_COMPARE(server.clientCount(), 2);

        QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 1, 10000);
        QTRY_VERIFY(closedByServer(stuck));
        ::close(stuck);
        QCOMPARE(reader.state(), QAbstractSocket::ConnectedState);
        server.publish(QStringLiteral("7"), QStringLiteral("36.5"), true, 1000);
        QTRY_VERIFY(!received.filter(QStringLiteral("\"speed\":\"36.5\"")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLiveServer)
#include "tst_liveserver.moc"
