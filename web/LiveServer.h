#pragma once

#include "LiveSource.h"
#include "WebText.h"

#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponse;
class QTimer;
class QUrlQuery;
class QWebSocket;
class GuardedTcpServer;

// The live results page: HTTP for the pages and the JSON, a WebSocket
// (/live) that pushes each published speed, ranking change and decoder
// state. It only reads: no request changes anything in the program.
//
// Lives in a thread of its own (LiveWeb): a slow page, a database read or a
// client that stops reading costs that thread only, never the window's.
// Each client's unsent bytes are bounded, and a client that no longer
// answers pings is dropped even when little is sent: the kernel's buffers
// would otherwise hide a stalled client for long. A dropped page reconnects
// by itself and catches up from the snapshot it is sent on connecting.
class LiveServer : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString dbPath;
        // Where the results come from, made in the server's thread; none:
        // the station's speed file at dbPath.
        std::function<std::unique_ptr<LiveSource>()> source;
        // The top rows are read again this often (0: only when refresh()
        // is called): names and bests also change where nothing is pushed.
        int rankingPollMs = 2000;
        QHostAddress address = QHostAddress::LocalHost;
        quint16 port = 8080;
        bool suspectShown = true; // a suspect attempt reaches the screen
        // Every client is pinged this often; one that leaves kMissedPings
        // pings in a row unanswered has stopped reading and is dropped.
        int pingMs = 5000;
        // Connections open at once (pages and their sockets together), and
        // of them from one client address: one laptop cannot take them all.
        int maxConnections = 300;
        int maxPerAddress = 20;
        // A request is complete this long after its first byte, and a
        // connection waits this long for its next request; else it is closed.
        int requestTimeoutMs = 10000;
        int idleTimeoutMs = 30000;
        // The address phones are given instead of the interfaces' own (a
        // name, or a router's forwarded port); empty: the interfaces'.
        QString publicUrl;
    };
    // What a client may send on one connection before it is answered.
    static constexpr qint64 kMaxRequestBytes = 16 * 1024;
    // Bytes waiting to go to one WebSocket client; past them it is dropped.
    static constexpr qint64 kMaxQueuedBytes = 64 * 1024;
    static constexpr int kMissedPings = 2;
    static constexpr int kRecentEvents = 20;
    static constexpr int kTopRows = 10;

    explicit LiveServer(Options options, QObject* parent = nullptr);
    ~LiveServer() override;

    int clientCount() const { return int(clients_.size()); }

public slots:
    // Opens the port (in the server's thread) and says how that went.
    void start();
    void publish(const QString& tpid, const QString& speedText, bool newBest, qint64 atMs);
    // A result whose name the caller has read already; its seq is given here.
    void publishShown(webtext::SpeedEvent e);
    // Reads the top rows now and pushes them when they changed.
    void refresh();
    // One object per loop: {"loop": n, "state": text, "ok": bool}.
    void setDecoders(const QJsonArray& loops);
    // The event's combined ranking as the station last read it; pages are
    // told of a change with its top rows and read the rest from
    // /api/event-ranking. Never called: the station is in no event.
    void setEventRanking(const webtext::EventRanking& ranking);
    // The record attempt of each transponder that has one (rooms/record),
    // by ID: /api/driver/<id> carries it as "record", and a driver page is
    // told of a change of its own.
    void setRecords(const QHash<QString, QJsonObject>& byTpid);

signals:
    // ok: listening, message is the page's address on this PC and
    // phoneUrls the addresses others can open (none: only this PC can);
    // otherwise message says why not.
    void started(bool ok, const QString& message, const QStringList& phoneUrls);
    void clientsChanged(int count);
    // The speed file could not be read for the pages (they show what was
    // read before); said once until a read works again, then readRecovered.
    void readFailed(const QString& why);
    void readRecovered();

private:
    void route();
    QHttpServerResponse page(const QString& resource);
    QHttpServerResponse kiosk(const QHttpServerRequest& request);
    QHttpServerResponse share();
    QHttpServerResponse apiLatest();
    QHttpServerResponse apiRanking(const QHttpServerRequest& request);
    QHttpServerResponse apiClassRanking(const QUrlQuery& query);
    QHttpServerResponse apiClasses();
    QHttpServerResponse apiDriver(const QString& tpid);
    QHttpServerResponse apiEventRanking();
    void takeWebSockets();
    void broadcast(const QByteArray& message);
    void drop(QWebSocket* client);
    void pingAll();
    void refreshRanking(bool pushWhenChanged);
    QByteArray snapshot();
    QString pageAddress() const;
    QStringList phoneUrls() const;
    void readWorked();
    void readFailedWith(const std::exception& e);
    void broadcastAvailable();

    Options options_;
    std::unique_ptr<LiveSource> reader_;
    QHttpServer* http_ = nullptr;
    QTimer* rankingPoll_ = nullptr;
    QList<QWebSocket*> clients_;
    QHash<QWebSocket*, int> unanswered_;  // pings since the client's last pong
    QVector<webtext::SpeedEvent> recent_; // oldest first
    qint64 seq_ = 0;
    QVector<webtext::RankRow> top_;
    QJsonArray decoders_;
    std::optional<webtext::EventRanking> event_;
    QHash<QString, QJsonObject> records_;
    bool readFailing_ = false; // told, and no read has worked since
};
