#include "EventFeed.h"

#include "Database.h"
#include "EventRead.h"
#include "EventServer.h"
#include "LiveServer.h"
#include "PgLink.h"

#include <QSqlDriver>
#include <QTimer>

#include <libpq-fe.h>

#include <algorithm>
#include <utility>

namespace {

const QString kListenConnection = QStringLiteral("korvane-web-listen");
// The LISTEN connection's state is libpq's, read without traffic: cheap
// enough to look often.
const int kCheckMs = 1000;

QString keyOf(const EventRead::Result& r) {
    return r.station + QLatin1Char('\n') + QString::number(r.attemptId) + QLatin1Char('\n') +
           QString::number(r.publishedUs);
}

} // namespace

EventFeed::EventFeed(PgLink& read, QString listenOptions, QString event, LiveServer& server,
                     int pollMs, QObject* parent)
    : QObject(parent), read_(read), listenOptions_(std::move(listenOptions)),
      event_(std::move(event)), channel_(EventServer::channelFor(event_)), server_(server) {
    poll_ = new QTimer(this);
    poll_->setInterval(pollMs);
    connect(poll_, &QTimer::timeout, this, &EventFeed::poll);
    retryMs_ = kCheckMs;
    check_ = new QTimer(this);
    check_->setInterval(kCheckMs);
    connect(check_, &QTimer::timeout, this, &EventFeed::checkListen);
}

EventFeed::~EventFeed() {
    dropListen();
    QSqlDatabase::removeDatabase(kListenConnection);
}

void EventFeed::start() {
    listen();
    poll();
    poll_->start();
    check_->start();
}

bool EventFeed::listen() {
    sinceTry_.start();
    QSqlDatabase db = QSqlDatabase::contains(kListenConnection)
                          ? QSqlDatabase::database(kListenConnection, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), kListenConnection);
    db.setConnectOptions(listenOptions_);
    if (!db.open() || !db.driver()->subscribeToNotification(channel_)) {
        db.close();
        return false;
    }
    connect(db.driver(), &QSqlDriver::notification, this, &EventFeed::pollSoon,
            Qt::UniqueConnection);
    listening_ = true;
    retryMs_ = kCheckMs;
    emit note(QStringLiteral("通知の接続を開きました (%1)").arg(channel_));
    return true;
}

void EventFeed::dropListen() {
    listening_ = false;
    if (!QSqlDatabase::contains(kListenConnection))
        return;
    QSqlDatabase db = QSqlDatabase::database(kListenConnection, false);
    db.driver()->disconnect(this);
    db.close();
}

// A connection killed on the server (or its socket cut) is seen by libpq
// when the driver reads the socket's end; notifications sent meanwhile are
// lost with it, so the results are read at once.
void EventFeed::checkListen() {
    if (!listening_) {
        if (sinceTry_.isValid() && sinceTry_.elapsed() < retryMs_)
            return;
        retryMs_ = std::min(retryMs_ * 2, poll_->interval());
        // What was written while no one listened is read once it listens.
        if (listen())
            poll();
        return;
    }
    const QVariant handle = QSqlDatabase::database(kListenConnection, false).driver()->handle();
    // The driver names the type by libpq's struct or by its typedef, as
    // its version has it.
    const bool pq = handle.isValid() && (qstrcmp(handle.typeName(), "pg_conn*") == 0 ||
                                         qstrcmp(handle.typeName(), "PGconn*") == 0);
    auto* conn = pq ? *static_cast<PGconn* const*>(handle.constData()) : nullptr;
    if (conn && PQstatus(conn) == CONNECTION_OK)
        return;
    dropListen();
    retryMs_ = kCheckMs;
    emit note(
        QStringLiteral("通知の接続が切れました。%1 ms ごとに読みます").arg(poll_->interval()));
    poll();
}

// Notifications come in bursts (one per station's commit): one read serves
// all that arrived before it runs.
void EventFeed::pollSoon() {
    if (std::exchange(pollQueued_, true))
        return;
    QTimer::singleShot(0, this, [this] {
        pollQueued_ = false;
        poll();
    });
}

void EventFeed::poll() {
    QList<EventRead::Result> fresh;
    try {
        fresh = read_.read([this](QSqlDatabase pg) {
            if (!marked_) {
                mark_ = EventRead::newestWrite(pg, event_);
                marked_ = true;
                return QList<EventRead::Result>();
            }
            return EventRead::writtenSince(pg, event_, mark_ - kOverlapUs);
        });
        if (std::exchange(readFailing_, false))
            emit note(QStringLiteral("サーバーを再び読めます"));
    } catch (const DbError& e) {
        if (!std::exchange(readFailing_, true))
            emit note(QStringLiteral("サーバーを読めません: ") + e.message());
    }
    for (const EventRead::Result& r : std::as_const(fresh)) {
        mark_ = std::max(mark_, r.publishedUs);
        const QString key = keyOf(r);
        if (told_.contains(key))
            continue;
        told_.insert(key, r.publishedUs);
        webtext::SpeedEvent e;
        e.tpid = r.tpid;
        e.name = r.name;
        e.speedText = r.speedText;
        e.atMs = r.measuredMs;
        e.newBest = r.best;
        server_.publishShown(e);
    }
    told_.removeIf([this](const QHash<QString, qint64>::iterator it) {
        return it.value() < mark_ - kOverlapUs;
    });
    // Also when nothing new came: a rename or a rejected attempt changes
    // the ranking, and a failed read is how the pages learn the server is
    // away (and a working one that it is back).
    server_.refresh();
}
