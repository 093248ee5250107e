#include "LiveServer.h"

#include "Database.h"
#include "WebReader.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

using namespace webtext;

namespace {

const int kRankingPollMs = 2000;
const int kPageRowsMax = 200;
const int kDriverAttempts = 500;
const char* const kReceived = "korvaneReceived";

QByteArray mimeOf(const QString& resource) {
    if (resource.endsWith(QLatin1String(".html")))
        return "text/html; charset=utf-8";
    if (resource.endsWith(QLatin1String(".js")))
        return "text/javascript; charset=utf-8";
    if (resource.endsWith(QLatin1String(".css")))
        return "text/css; charset=utf-8";
    if (resource.endsWith(QLatin1String(".png")))
        return "image/png";
    return "application/octet-stream";
}

void secure(QHttpServerResponse& r) {
    r.setHeader("X-Content-Type-Options", "nosniff");
    r.setHeader("Referrer-Policy", "no-referrer");
    // Only this program's own files run: a text that slipped through as
    // markup could still not load or run a script.
    r.setHeader("Content-Security-Policy",
                "default-src 'self'; connect-src 'self' ws: wss:; img-src 'self' data:; "
                "object-src 'none'; base-uri 'none'; frame-ancestors *");
}

QHttpServerResponse
jsonResponse(const QJsonObject& o,
             QHttpServerResponse::StatusCode status = QHttpServerResponse::StatusCode::Ok) {
    QHttpServerResponse r("application/json; charset=utf-8", json(o), status);
    secure(r);
    r.setHeader("Cache-Control", "no-store");
    r.setHeader("Access-Control-Allow-Origin", "*");
    return r;
}

QHttpServerResponse notFound() {
    QHttpServerResponse r("text/plain; charset=utf-8", QByteArray("404 Not Found\n"),
                          QHttpServerResponse::StatusCode::NotFound);
    secure(r);
    return r;
}

QHttpServerResponse unavailable(const std::exception& e) {
    QHttpServerResponse r("text/plain; charset=utf-8",
                          QByteArray("503 ") + QByteArray(e.what()) + '\n',
                          QHttpServerResponse::StatusCode::ServiceUnavailable);
    secure(r);
    return r;
}

QString rankRowsHtml(const QVector<RankRow>& rows) {
    QString html;
    for (const RankRow& r : rows)
        html += QStringLiteral("<tr><td class=\"rank\">%1</td><td class=\"id\">%2</td>"
                               "<td class=\"name\">%3</td><td class=\"speed\">%4</td></tr>")
                    .arg(r.rank)
                    .arg(htmlEscape(r.tpid), htmlEscape(r.name), htmlEscape(r.speedText));
    return html;
}

} // namespace

// The listening socket: refuses connections past the limit and drops a
// client that sends more than a request's worth before it is answered.
class GuardedTcpServer : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        // A socket taken over by a WebSocket is deleted with it: the weak
        // pointers count every connection still open, whoever owns it.
        open_.removeIf([](const QPointer<QTcpSocket>& s) {
            return !s || s->state() != QAbstractSocket::ConnectedState;
        });
        if (open_.size() >= LiveServer::kMaxConnections) {
            socket->write("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                          "Connection: close\r\n\r\n");
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(2000, socket, [socket] {
                socket->abort();
                socket->deleteLater();
            });
            return;
        }
        open_.append(socket);
        // Connected before the HTTP server's own handler, so it sees the
        // bytes first. Counted from the last answer on: a browser's
        // requests are a few hundred bytes each.
        socket->setProperty(kReceived, qint64(0));
        connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            const qint64 n = socket->property(kReceived).toLongLong() + socket->bytesAvailable();
            if (n > LiveServer::kMaxRequestBytes) {
                socket->abort();
                return;
            }
            socket->setProperty(kReceived, n);
        });
        connect(socket, &QTcpSocket::bytesWritten, socket,
                [socket] { socket->setProperty(kReceived, qint64(0)); });
        addPendingConnection(socket);
    }

private:
    QList<QPointer<QTcpSocket>> open_;
};

LiveServer::LiveServer(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {}

LiveServer::~LiveServer() {
    for (QWebSocket* c : std::as_const(clients_))
        c->abort();
}

void LiveServer::start() {
    auto* tcp = new GuardedTcpServer(this);
    tcp->setMaxPendingConnections(64);
    if (!tcp->listen(options_.address, options_.port)) {
        const QString where =
            QStringLiteral("%1:%2").arg(options_.address.toString()).arg(options_.port);
        const QString why = tcp->serverError() == QAbstractSocket::AddressInUseError
                                ? QStringLiteral("%1 は使用中です").arg(where)
                                : QStringLiteral("%1: %2").arg(where, tcp->errorString());
        delete tcp;
        emit started(false, why);
        return;
    }
    reader_ = std::make_unique<WebReader>(options_.dbPath);
    try {
        if (std::optional<SpeedEvent> last = reader_->latestShown(options_.suspectShown)) {
            last->seq = ++seq_;
            recent_.push_back(*last);
        }
        top_ = reader_->top(kTopRows);
    } catch (const std::exception&) {
        // The pages answer 503 until the file reads again.
    }
    http_ = new QHttpServer(this);
    route();
    http_->bind(tcp);
    connect(http_, &QHttpServer::newWebSocketConnection, this, &LiveServer::takeWebSockets);

    rankingPoll_ = new QTimer(this);
    rankingPoll_->setInterval(kRankingPollMs);
    // Names and bests change also on the operator's pages (a rename, a
    // cleared best): the top is read again every little while.
    connect(rankingPoll_, &QTimer::timeout, this, [this] { refreshRanking(true); });
    rankingPoll_->start();

    auto* ping = new QTimer(this);
    ping->setInterval(options_.pingMs);
    connect(ping, &QTimer::timeout, this, &LiveServer::pingAll);
    ping->start();
    emit started(true, pageAddress());
}

QString LiveServer::pageAddress() const {
    QHostAddress host = options_.address;
    if (host == QHostAddress::Any || host == QHostAddress::AnyIPv4 ||
        host == QHostAddress::AnyIPv6) {
        // Listening everywhere: the address others on the network reach.
        host = QHostAddress::LocalHost;
        for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
            if (!a.isLoopback() && a.protocol() == QAbstractSocket::IPv4Protocol &&
                !a.isLinkLocal()) {
                host = a;
                break;
            }
        }
    }
    const QString h = host.protocol() == QAbstractSocket::IPv6Protocol
                          ? QLatin1Char('[') + host.toString() + QLatin1Char(']')
                          : host.toString();
    return QStringLiteral("http://%1:%2/").arg(h).arg(options_.port);
}

void LiveServer::route() {
    using Method = QHttpServerRequest::Method;
    const struct {
        const char* path;
        const char* resource;
    } pages[] = {{"/ranking", ":/web/ranking.html"},
                 {"/overlay", ":/web/overlay.html"},
                 {"/live.js", ":/web/live.js"},
                 {"/qr.js", ":/web/qr.js"},
                 {"/style.css", ":/web/style.css"}};
    for (const auto& p : pages) {
        const QString resource = QString::fromLatin1(p.resource);
        http_->route(QString::fromLatin1(p.path), Method::Get,
                     [this, resource] { return page(resource); });
    }
    http_->route(QStringLiteral("/"), Method::Get, [this] { return kiosk(); });
    http_->route(QStringLiteral("/share"), Method::Get, [this] { return share(); });
    http_->route(QStringLiteral("/driver/<arg>"), Method::Get,
                 [this](const QString&) { return page(QStringLiteral(":/web/driver.html")); });
    http_->route(QStringLiteral("/api/latest"), Method::Get, [this] { return apiLatest(); });
    http_->route(QStringLiteral("/api/ranking"), Method::Get,
                 [this](const QHttpServerRequest& r) { return apiRanking(r); });
    http_->route(QStringLiteral("/api/driver/<arg>"), Method::Get,
                 [this](const QString&, const QHttpServerRequest& r) { return apiDriver(r); });
    http_->route(QStringLiteral("/api/event-ranking"), Method::Get,
                 [this] { return apiEventRanking(); });
    // The push socket: the server upgrades a request only when a route
    // takes it; the route itself answers only a request that is no upgrade.
    http_->route(QStringLiteral("/live"), Method::Get,
                 [](const QHttpServerRequest& r, QHttpServerResponder&& responder) {
                     if (r.value("upgrade").compare("websocket", Qt::CaseInsensitive) != 0)
                         notFound().write(std::move(responder));
                 });
    http_->setMissingHandler([](const QHttpServerRequest&, QHttpServerResponder&& responder) {
        notFound().write(std::move(responder));
    });
}

QHttpServerResponse LiveServer::page(const QString& resource) {
    QFile f(resource);
    if (!f.open(QIODevice::ReadOnly))
        return notFound();
    QHttpServerResponse r(mimeOf(resource), f.readAll());
    secure(r);
    return r;
}

// The kiosk comes with its latest speed and top ten already in it: the first
// paint is right before the socket is up, and also without scripts.
QHttpServerResponse LiveServer::kiosk() {
    QFile f(QStringLiteral(":/web/kiosk.html"));
    if (!f.open(QIODevice::ReadOnly))
        return notFound();
    QString html = QString::fromUtf8(f.readAll());
    const SpeedEvent last = recent_.isEmpty() ? SpeedEvent() : recent_.back();
    html.replace(QLatin1String("{{speed}}"), htmlEscape(last.speedText));
    html.replace(QLatin1String("{{tpid}}"), htmlEscape(last.tpid));
    html.replace(QLatin1String("{{name}}"), htmlEscape(last.name));
    html.replace(QLatin1String("{{top}}"), rankRowsHtml(top_));
    QHttpServerResponse r("text/html; charset=utf-8", html.toUtf8());
    secure(r);
    r.setHeader("Cache-Control", "no-store");
    return r;
}

QHttpServerResponse LiveServer::share() {
    QFile f(QStringLiteral(":/web/share.html"));
    if (!f.open(QIODevice::ReadOnly))
        return notFound();
    QString html = QString::fromUtf8(f.readAll());
    html.replace(QLatin1String("{{url}}"), htmlEscape(pageAddress()));
    QHttpServerResponse r("text/html; charset=utf-8", html.toUtf8());
    secure(r);
    return r;
}

QHttpServerResponse LiveServer::apiLatest() {
    QJsonArray recent;
    for (const SpeedEvent& e : std::as_const(recent_))
        recent.append(speedJson(e));
    return jsonResponse(QJsonObject{
        {QStringLiteral("latest"), recent_.isEmpty() ? QJsonValue() : speedJson(recent_.back())},
        {QStringLiteral("recent"), recent}});
}

QHttpServerResponse LiveServer::apiRanking(const QHttpServerRequest& request) {
    const QUrlQuery q(request.url());
    const int limit =
        std::clamp(q.queryItemValue(QStringLiteral("limit")).toInt(), 1, kPageRowsMax);
    try {
        const WebReader::Page p =
            reader_->ranking(q.queryItemValue(QStringLiteral("after"), QUrl::FullyDecoded),
                             q.hasQueryItem(QStringLiteral("limit")) ? limit : 50,
                             q.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded).trimmed());
        return jsonResponse(QJsonObject{
            {QStringLiteral("rows"), rankingJson(p.rows)},
            {QStringLiteral("next"), p.next.isEmpty() ? QJsonValue() : QJsonValue(p.next)}});
    } catch (const std::exception& e) {
        return unavailable(e);
    }
}

QHttpServerResponse LiveServer::apiDriver(const QHttpServerRequest& request) {
    const QString path = request.url().path(QUrl::FullyDecoded);
    const QString tpid = path.mid(QStringLiteral("/api/driver/").size());
    try {
        const std::optional<QJsonObject> d = reader_->driver(tpid, kDriverAttempts);
        if (!d)
            return notFound();
        return jsonResponse(*d);
    } catch (const std::exception& e) {
        return unavailable(e);
    }
}

QHttpServerResponse LiveServer::apiEventRanking() {
    if (!event_)
        return notFound();
    return jsonResponse(eventRankingJson(*event_));
}

QByteArray LiveServer::snapshot() {
    QJsonArray recent;
    for (const SpeedEvent& e : std::as_const(recent_))
        recent.append(speedJson(e));
    return json(QJsonObject{
        {QStringLiteral("type"), QStringLiteral("hello")},
        {QStringLiteral("recent"), recent},
        {QStringLiteral("ranking"), rankingJson(top_)},
        {QStringLiteral("decoders"), decoders_},
        {QStringLiteral("event"), event_ ? eventRankingJson(*event_, kTopRows) : QJsonValue()}});
}

void LiveServer::takeWebSockets() {
    while (http_->hasPendingWebSocketConnections()) {
        QWebSocket* client = http_->nextPendingWebSocketConnection().release();
        client->setParent(this);
        if (client->requestUrl().path() != QLatin1String("/live")) {
            client->close(QWebSocketProtocol::CloseCodePolicyViolated);
            client->deleteLater();
            continue;
        }
        // Pages send nothing; a client that does gets little room for it.
        client->setMaxAllowedIncomingFrameSize(1024);
        client->setMaxAllowedIncomingMessageSize(1024);
        client->setReadBufferSize(4096);
        connect(client, &QWebSocket::disconnected, this, [this, client] { drop(client); });
        connect(client, &QWebSocket::pong, this, [this, client] {
            if (auto at = unanswered_.find(client); at != unanswered_.end())
                *at = 0;
        });
        clients_.append(client);
        unanswered_.insert(client, 0);
        client->sendTextMessage(QString::fromUtf8(snapshot()));
        emit clientsChanged(clientCount());
    }
}

void LiveServer::drop(QWebSocket* client) {
    if (!clients_.removeOne(client))
        return;
    unanswered_.remove(client);
    client->abort();
    client->deleteLater();
    emit clientsChanged(clientCount());
}

void LiveServer::pingAll() {
    const QList<QWebSocket*> all = clients_;
    for (QWebSocket* c : all) {
        if (++unanswered_[c] > kMissedPings)
            drop(c);
        else
            c->ping();
    }
}

void LiveServer::broadcast(const QByteArray& message) {
    const QString text = QString::fromUtf8(message);
    const QList<QWebSocket*> all = clients_;
    for (QWebSocket* c : all) {
        // A client that does not read keeps its bytes here; past the bound
        // it goes, and its page catches up when it connects again.
        if (c->bytesToWrite() > kMaxQueuedBytes) {
            drop(c);
            continue;
        }
        c->sendTextMessage(text);
    }
}

void LiveServer::publish(const QString& tpid, const QString& speedText, bool newBest, qint64 atMs) {
    SpeedEvent e;
    e.seq = ++seq_;
    e.tpid = tpid;
    e.speedText = speedText;
    e.atMs = atMs;
    e.newBest = newBest;
    try {
        e.name = reader_ ? reader_->name(tpid) : QString();
    } catch (const std::exception&) {
        // Shown without its name rather than not at all.
    }
    recent_.push_back(e);
    if (recent_.size() > kRecentEvents)
        recent_.removeFirst();
    QJsonObject message = speedJson(e);
    message.insert(QStringLiteral("type"), QStringLiteral("speed"));
    broadcast(json(message));
    if (newBest)
        refreshRanking(true);
}

void LiveServer::setDecoders(const QJsonArray& loops) {
    if (loops == decoders_)
        return;
    decoders_ = loops;
    broadcast(json(QJsonObject{{QStringLiteral("type"), QStringLiteral("decoders")},
                               {QStringLiteral("loops"), decoders_}}));
}

void LiveServer::setEventRanking(const EventRanking& ranking) {
    // A read that found what the last one did is no news.
    const auto news = [](const EventRanking& r) {
        QJsonObject o = eventRankingJson(r);
        o.remove(QStringLiteral("at"));
        return o;
    };
    const bool same = event_ && news(*event_) == news(ranking);
    event_ = ranking;
    if (same)
        return;
    // Only the top rows travel on the socket (a whole event would exceed a
    // client's bound); the ranking page reads the rest when told.
    QJsonObject message = eventRankingJson(ranking, kTopRows);
    message.insert(QStringLiteral("type"), QStringLiteral("event"));
    broadcast(json(message));
}

void LiveServer::refreshRanking(bool pushWhenChanged) {
    if (!reader_)
        return;
    QVector<RankRow> top;
    try {
        top = reader_->top(kTopRows);
    } catch (const std::exception&) {
        return;
    }
    const auto same = [](const QVector<RankRow>& a, const QVector<RankRow>& b) {
        if (a.size() != b.size())
            return false;
        for (int i = 0; i < a.size(); ++i)
            if (a[i].rank != b[i].rank || a[i].tpid != b[i].tpid || a[i].name != b[i].name ||
                a[i].speedText != b[i].speedText)
                return false;
        return true;
    };
    if (same(top, top_))
        return;
    top_ = top;
    if (pushWhenChanged)
        broadcast(json(QJsonObject{{QStringLiteral("type"), QStringLiteral("ranking")},
                                   {QStringLiteral("rows"), rankingJson(top_)}}));
}
