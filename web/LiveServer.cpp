#include "LiveServer.h"

#include "Database.h"
#include "WebReader.h"

#include <QCoreApplication>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QSet>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

#include <algorithm>
#include <utility>

using namespace webtext;

namespace {

const int kPageRowsMax = 200;
const int kDriverAttempts = 500;

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

// The database's own message names files and statements: it is not the
// spectators' to read.
QHttpServerResponse unavailable() {
    QHttpServerResponse r("text/plain; charset=utf-8",
                          QByteArray("503 Results unavailable, try again shortly\n"),
                          QHttpServerResponse::StatusCode::ServiceUnavailable);
    secure(r);
    return r;
}

QHttpServerResponse jsonError(QHttpServerResponse::StatusCode status, const QString& error,
                              const QString& detail) {
    return jsonResponse(
        QJsonObject{{QStringLiteral("error"), error}, {QStringLiteral("detail"), detail}}, status);
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

// The ID in /driver/<id> or /api/driver/<id>, percent-decoded: empty for
// none, for more path segments, or for bytes that are no UTF-8.
QString driverId(const QString& encodedPath) {
    const QString segment = encodedPath.mid(encodedPath.indexOf(QLatin1String("driver/")) + 7);
    if (segment.isEmpty() || segment.contains(QLatin1Char('/')))
        return {};
    const QByteArray bytes = QByteArray::fromPercentEncoding(segment.toLatin1());
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString id = utf8(bytes);
    return utf8.hasError() || id.contains(QChar(0)) ? QString() : id;
}

} // namespace

// One HTTP connection's watch. A request must arrive whole within the
// request time-out of its first byte and a connection waits the idle time
// for its next request; a client past either, or sending more than a
// request's worth before it is answered, is cut off. A connection upgraded
// to a WebSocket is the push socket's to watch (pings and its own bounds):
// the HTTP server disconnects every signal of the socket as it hands it
// over, which is how the upgrade is seen here.
class ConnectionGuard : public QObject {
public:
    ConnectionGuard(QTcpSocket* socket, const LiveServer::Options& o)
        : QObject(socket), socket_(socket), requestMs_(o.requestTimeoutMs),
          idleMs_(o.idleTimeoutMs) {
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, &ConnectionGuard::expired);
        // Connected before the HTTP server's own handler, so it sees the
        // bytes before they are read.
        arrived_ = connect(socket, &QTcpSocket::readyRead, this, &ConnectionGuard::arrived);
        connect(socket, &QTcpSocket::bytesWritten, this, &ConnectionGuard::answered);
        timer_.start(idleMs_);
    }

    // After the HTTP server has connected its own handler: this one runs
    // after it and sees what it left unread.
    void followServer() {
        connect(socket_, &QTcpSocket::readyRead, this,
                [this] { leftUnread_ = socket_->bytesAvailable(); });
    }

private:
    // Bytes left unread are not new when the signal comes again: the HTTP
    // server reads pipelined requests one at a time and signals anew for
    // the rest, even from inside its own handler (before the handler above
    // has run), so what is seen here counts as read until it says less.
    void arrived() {
        const qint64 available = socket_->bytesAvailable();
        const qint64 fresh = std::max<qint64>(0, available - leftUnread_);
        leftUnread_ = available;
        if (fresh > 0 && received_ == 0)
            timer_.start(requestMs_);
        received_ += fresh;
        if (received_ > LiveServer::kMaxRequestBytes)
            socket_->abort();
    }
    void answered() {
        received_ = 0;
        timer_.start(idleMs_);
    }
    void expired() {
        if (!arrived_)
            return; // a WebSocket now
        socket_->abort();
    }

    QTcpSocket* socket_;
    int requestMs_;
    int idleMs_;
    QTimer timer_;
    QMetaObject::Connection arrived_;
    qint64 received_ = 0;   // bytes since the last answer
    qint64 leftUnread_ = 0; // bytes the HTTP server left at its last read
};

// The listening socket: refuses connections past the limits, the whole
// server's and one client address's, with a short answer.
class GuardedTcpServer : public QTcpServer {
public:
    GuardedTcpServer(const LiveServer::Options& o, QObject* parent)
        : QTcpServer(parent), options_(o) {}

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
        const QHostAddress peer = socket->peerAddress();
        const auto fromPeer =
            std::count_if(open_.cbegin(), open_.cend(), [&](const QPointer<QTcpSocket>& s) {
                return s->peerAddress().isEqual(peer);
            });
        if (open_.size() >= options_.maxConnections || fromPeer >= options_.maxPerAddress) {
            refuse(socket);
            return;
        }
        open_.append(socket);
        unfollowed_.append(new ConnectionGuard(socket, options_));
        addPendingConnection(socket);
    }

public:
    // Called on newConnection after the HTTP server took the new sockets.
    void followServer() {
        for (const QPointer<ConnectionGuard>& g : std::as_const(unfollowed_))
            if (g)
                g->followServer();
        unfollowed_.clear();
    }

private:
    static void refuse(QTcpSocket* socket) {
        const QByteArray body = "503 Too many connections, try again shortly\n";
        socket->write("HTTP/1.1 503 Service Unavailable\r\n"
                      "Content-Type: text/plain; charset=utf-8\r\n"
                      "Retry-After: 5\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(2000, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }

    LiveServer::Options options_;
    QList<QPointer<QTcpSocket>> open_;
    QList<QPointer<ConnectionGuard>> unfollowed_;
};

LiveServer::LiveServer(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {}

LiveServer::~LiveServer() {
    for (QWebSocket* c : std::as_const(clients_))
        c->abort();
}

void LiveServer::start() {
    auto* tcp = new GuardedTcpServer(options_, this);
    tcp->setMaxPendingConnections(64);
    if (!tcp->listen(options_.address, options_.port)) {
        const QString where =
            QStringLiteral("%1:%2").arg(options_.address.toString()).arg(options_.port);
        const QString why =
            tcp->serverError() == QAbstractSocket::AddressInUseError
                ? QCoreApplication::translate("LiveServer", "%1 は使用中です").arg(where)
                : QStringLiteral("%1: %2").arg(where, tcp->errorString());
        delete tcp;
        emit started(false, why, {});
        return;
    }
    reader_ = options_.source ? options_.source() : std::make_unique<WebReader>(options_.dbPath);
    try {
        if (std::optional<SpeedEvent> last = reader_->latestShown(options_.suspectShown)) {
            last->seq = ++seq_;
            recent_.push_back(*last);
        }
        top_ = reader_->top(kTopRows);
        readWorked();
    } catch (const std::exception& e) {
        // The pages answer 503, and the top ten is read again at every
        // poll, until the file reads again.
        readFailedWith(e);
    }
    http_ = new QHttpServer(this);
    route();
    http_->bind(tcp);
    connect(tcp, &QTcpServer::newConnection, tcp, &GuardedTcpServer::followServer);
    connect(http_, &QHttpServer::newWebSocketConnection, this, &LiveServer::takeWebSockets);

    rankingPoll_ = new QTimer(this);
    rankingPoll_->setInterval(options_.rankingPollMs);
    // Names and bests change also on the operator's pages (a rename, a
    // cleared best): the top is read again every little while.
    connect(rankingPoll_, &QTimer::timeout, this, [this] { refreshRanking(true); });
    if (options_.rankingPollMs > 0)
        rankingPoll_->start();

    auto* ping = new QTimer(this);
    ping->setInterval(options_.pingMs);
    connect(ping, &QTimer::timeout, this, &LiveServer::pingAll);
    ping->start();
    emit started(true, pageAddress(), phoneUrls());
}

// This PC's own way in: loopback when listening on every interface.
QString LiveServer::pageAddress() const {
    const QHostAddress& host = options_.address;
    if (host == QHostAddress::Any || host == QHostAddress::AnyIPv4)
        return pageUrl(QHostAddress(QHostAddress::LocalHost), options_.port);
    if (host == QHostAddress::AnyIPv6)
        return pageUrl(QHostAddress(QHostAddress::LocalHostIPv6), options_.port);
    return pageUrl(host, options_.port);
}

QStringList LiveServer::phoneUrls() const {
    return webtext::phoneUrls(options_.address, options_.port, QNetworkInterface::allAddresses(),
                              options_.publicUrl);
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
    http_->route(QStringLiteral("/"), Method::Get,
                 [this](const QHttpServerRequest& r) { return kiosk(r); });
    http_->route(QStringLiteral("/share"), Method::Get, [this] { return share(); });
    http_->route(QStringLiteral("/api/latest"), Method::Get, [this] { return apiLatest(); });
    http_->route(QStringLiteral("/api/ranking"), Method::Get,
                 [this](const QHttpServerRequest& r) { return apiRanking(r); });
    http_->route(QStringLiteral("/api/classes"), Method::Get, [this] { return apiClasses(); });
    http_->route(QStringLiteral("/api/event-ranking"), Method::Get,
                 [this] { return apiEventRanking(); });
    // The push socket: the server upgrades a request only when a route
    // takes it; the route itself answers only a request that is no upgrade.
    http_->route(QStringLiteral("/live"), Method::Get,
                 [](const QHttpServerRequest& r, QHttpServerResponder&& responder) {
                     if (r.value("upgrade").compare("websocket", Qt::CaseInsensitive) != 0)
                         notFound().write(std::move(responder));
                 });
    // A driver's ID may hold a "/" (sent as %2F), which no route's
    // argument takes: those pages are told by their prefix.
    http_->setMissingHandler([this](const QHttpServerRequest& r, QHttpServerResponder&& responder) {
        const QString path = r.url().path(QUrl::FullyEncoded);
        const bool get = r.method() == Method::Get;
        if (get && path.startsWith(QLatin1String("/driver/")) && !driverId(path).isEmpty())
            page(QStringLiteral(":/web/driver.html")).write(std::move(responder));
        else if (get && path.startsWith(QLatin1String("/api/driver/")))
            apiDriver(driverId(path)).write(std::move(responder));
        else
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
// Pinned to a class (/?class=NAME), it shows that class's speeds and top
// ten only; without, it is the whole station's.
QHttpServerResponse LiveServer::kiosk(const QHttpServerRequest& request) {
    QFile f(QStringLiteral(":/web/kiosk.html"));
    if (!f.open(QIODevice::ReadOnly))
        return notFound();
    const QString pinned =
        QUrlQuery(request.url()).queryItemValue(QStringLiteral("class"), QUrl::FullyDecoded);
    QVector<RankRow> top = top_;
    SpeedEvent last = recent_.isEmpty() ? SpeedEvent() : recent_.back();
    QString pinnedHtml;
    if (!pinned.isEmpty()) {
        try {
            const std::optional<QVector<RankRow>> rows =
                reader_ ? reader_->classRanking(pinned, 0, options_.suspectShown) : std::nullopt;
            if (!rows) {
                QHttpServerResponse r("text/plain; charset=utf-8",
                                      QByteArray("404 No such class\n"),
                                      QHttpServerResponse::StatusCode::NotFound);
                secure(r);
                return r;
            }
            top = rows->mid(0, kTopRows);
        } catch (const std::exception&) {
            return unavailable();
        }
        last = SpeedEvent();
        for (const SpeedEvent& e : std::as_const(recent_))
            if (e.className == pinned)
                last = e;
        pinnedHtml = QStringLiteral("<h2 class=\"pinned\" id=\"pinned\" data-class=\"%1\">%1</h2>")
                         .arg(htmlEscape(pinned));
    }
    const QString html = fillPlaceholders(QString::fromUtf8(f.readAll()),
                                          {{QStringLiteral("speed"), htmlEscape(last.speedText)},
                                           {QStringLiteral("tpid"), htmlEscape(last.tpid)},
                                           {QStringLiteral("name"), htmlEscape(last.name)},
                                           {QStringLiteral("pinned"), pinnedHtml},
                                           {QStringLiteral("top"), rankRowsHtml(top)}});
    QHttpServerResponse r("text/html; charset=utf-8", html.toUtf8());
    secure(r);
    r.setHeader("Cache-Control", "no-store");
    return r;
}

QHttpServerResponse LiveServer::share() {
    QFile f(QStringLiteral(":/web/share.html"));
    if (!f.open(QIODevice::ReadOnly))
        return notFound();
    const QStringList urls = phoneUrls();
    QString list;
    for (const QString& u : urls)
        list += QStringLiteral("<div class=\"url\">%1</div>").arg(htmlEscape(u));
    const QString html = fillPlaceholders(
        QString::fromUtf8(f.readAll()),
        {{QStringLiteral("urls"), htmlEscape(urls.join(QLatin1Char(' ')))},
         {QStringLiteral("list"), list},
         {QStringLiteral("nophone"), urls.isEmpty() ? QStringLiteral(" nophone") : QString()},
         {QStringLiteral("local"), htmlEscape(pageAddress())}});
    QHttpServerResponse r("text/html; charset=utf-8", html.toUtf8());
    r.setHeader("Cache-Control", "no-store");
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
    if (!q.queryItemValue(QStringLiteral("class")).isEmpty() ||
        q.hasQueryItem(QStringLiteral("since")))
        return apiClassRanking(q);
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
    } catch (const std::exception&) {
        return unavailable();
    }
}

// A class's bests (every class's without ?class) of a period (since a UTC
// millisecond, all time without ?since), read from the journal's attempts
// that count. One page: a class is no longer than the cars it has.
QHttpServerResponse LiveServer::apiClassRanking(const QUrlQuery& q) {
    const QString name = q.queryItemValue(QStringLiteral("class"), QUrl::FullyDecoded);
    qint64 since = 0;
    if (q.hasQueryItem(QStringLiteral("since"))) {
        bool ok = false;
        since = q.queryItemValue(QStringLiteral("since")).toLongLong(&ok);
        if (!ok || since < 0)
            return jsonError(QHttpServerResponse::StatusCode::BadRequest,
                             QStringLiteral("bad since"),
                             QStringLiteral("since is a time in UTC milliseconds"));
    }
    const QString search = q.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded).trimmed();
    try {
        const std::optional<QVector<RankRow>> rows =
            reader_->classRanking(name, since, options_.suspectShown);
        if (!rows)
            return jsonError(QHttpServerResponse::StatusCode::NotFound,
                             QStringLiteral("unknown class"),
                             QStringLiteral("no class is named \"%1\"").arg(name));
        QVector<RankRow> shown;
        for (const RankRow& r : *rows)
            if (search.isEmpty() || r.tpid.contains(search, Qt::CaseInsensitive) ||
                r.name.contains(search, Qt::CaseInsensitive))
                shown.append(r);
        if (q.hasQueryItem(QStringLiteral("limit")))
            shown = shown.mid(
                0, std::clamp(q.queryItemValue(QStringLiteral("limit")).toInt(), 1, kPageRowsMax));
        return jsonResponse(
            QJsonObject{{QStringLiteral("rows"), rankingJson(shown)},
                        {QStringLiteral("next"), QJsonValue()},
                        {QStringLiteral("class"), name.isEmpty() ? QJsonValue() : name},
                        {QStringLiteral("since"), double(since)}});
    } catch (const std::exception&) {
        return unavailable();
    }
}

QHttpServerResponse LiveServer::apiClasses() {
    try {
        return jsonResponse(QJsonObject{
            {QStringLiteral("classes"), QJsonArray::fromStringList(reader_->classNames())}});
    } catch (const std::exception&) {
        return unavailable();
    }
}

QHttpServerResponse LiveServer::apiDriver(const QString& tpid) {
    if (tpid.isEmpty())
        return notFound();
    try {
        std::optional<QJsonObject> d =
            reader_->driver(tpid, kDriverAttempts, options_.suspectShown);
        if (!d)
            return notFound();
        if (records_.contains(tpid))
            d->insert(QStringLiteral("record"), records_.value(tpid));
        return jsonResponse(*d);
    } catch (const std::exception&) {
        return unavailable();
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
        {QStringLiteral("available"), !readFailing_},
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
        // A page never sends a message: a client that does is no page.
        const auto refuse = [this, client] {
            client->close(QWebSocketProtocol::CloseCodePolicyViolated);
            drop(client);
        };
        connect(client, &QWebSocket::textMessageReceived, this, refuse);
        connect(client, &QWebSocket::binaryMessageReceived, this, refuse);
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
    e.tpid = tpid;
    e.speedText = speedText;
    e.atMs = atMs;
    e.newBest = newBest;
    try {
        e.name = reader_ ? reader_->name(tpid) : QString();
        e.className = reader_ ? reader_->className(tpid) : QString();
        if (reader_)
            readWorked();
    } catch (const std::exception& err) {
        // Shown without its name rather than not at all.
        readFailedWith(err);
    }
    publishShown(e);
}

void LiveServer::refresh() {
    refreshRanking(true);
}

void LiveServer::publishShown(SpeedEvent e) {
    e.seq = ++seq_;
    const bool newBest = e.newBest;
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

void LiveServer::setRecords(const QHash<QString, QJsonObject>& byTpid) {
    QSet<QString> changed;
    for (auto it = byTpid.cbegin(); it != byTpid.cend(); ++it)
        if (records_.value(it.key()) != it.value())
            changed.insert(it.key());
    for (auto it = records_.cbegin(); it != records_.cend(); ++it)
        if (!byTpid.contains(it.key()))
            changed.insert(it.key());
    records_ = byTpid;
    for (const QString& tpid : std::as_const(changed))
        broadcast(json(QJsonObject{{QStringLiteral("type"), QStringLiteral("record")},
                                   {QStringLiteral("tpid"), tpid}}));
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
        readWorked();
    } catch (const std::exception& e) {
        // What was read before stays on the pages; the poll reads again.
        readFailedWith(e);
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

void LiveServer::readWorked() {
    if (!std::exchange(readFailing_, false))
        return;
    broadcastAvailable();
    emit readRecovered();
}

void LiveServer::readFailedWith(const std::exception& e) {
    if (std::exchange(readFailing_, true))
        return;
    broadcastAvailable();
    const auto* db = dynamic_cast<const DbError*>(&e);
    emit readFailed(db ? db->message() : QString::fromLocal8Bit(e.what()));
}

// The pages say that what they show may be stale; never why.
void LiveServer::broadcastAvailable() {
    broadcast(json(QJsonObject{{QStringLiteral("type"), QStringLiteral("status")},
                               {QStringLiteral("available"), !readFailing_}}));
}
