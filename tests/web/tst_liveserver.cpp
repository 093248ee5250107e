// The live page's server in this process, on a free local port: what it
// does with its clients.
#include "LiveServer.h"

#include "SpeedRow.h"
#include "StuckClient.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QWebSocket>
#include <QtTest>

namespace {

quint16 freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
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
