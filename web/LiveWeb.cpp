#include "LiveWeb.h"

#include <QThread>

LiveWeb::LiveWeb(LiveServer::Options options, QObject* parent) : QObject(parent) {
    thread_ = new QThread(this);
    thread_->setObjectName(QStringLiteral("web"));
    server_ = new LiveServer(std::move(options));
    server_->moveToThread(thread_);
    // Deleted in its own thread as that ends, with its sockets and its
    // database connection.
    connect(thread_, &QThread::finished, server_, &QObject::deleteLater);
    connect(server_, &LiveServer::started, this, &LiveWeb::started);
    connect(server_, &LiveServer::clientsChanged, this, &LiveWeb::clientsChanged);
    connect(server_, &LiveServer::readFailed, this, &LiveWeb::readFailed);
    connect(server_, &LiveServer::readRecovered, this, &LiveWeb::readRecovered);
    thread_->start();
}

LiveWeb::~LiveWeb() {
    thread_->quit();
    thread_->wait();
}

void LiveWeb::start() {
    QMetaObject::invokeMethod(server_, &LiveServer::start, Qt::QueuedConnection);
}

void LiveWeb::publish(const QString& tpid, const QString& speedText, bool newBest, qint64 atMs) {
    QMetaObject::invokeMethod(
        server_,
        [s = server_, tpid, speedText, newBest, atMs] {
            if (s)
                s->publish(tpid, speedText, newBest, atMs);
        },
        Qt::QueuedConnection);
}

void LiveWeb::setDecoders(const QJsonArray& loops) {
    QMetaObject::invokeMethod(
        server_,
        [s = server_, loops] {
            if (s)
                s->setDecoders(loops);
        },
        Qt::QueuedConnection);
}

void LiveWeb::setRecords(const QHash<QString, QJsonObject>& byTpid) {
    QMetaObject::invokeMethod(
        server_,
        [s = server_, byTpid] {
            if (s)
                s->setRecords(byTpid);
        },
        Qt::QueuedConnection);
}

void LiveWeb::setEventRanking(const webtext::EventRanking& ranking) {
    QMetaObject::invokeMethod(
        server_,
        [s = server_, ranking] {
            if (s)
                s->setEventRanking(ranking);
        },
        Qt::QueuedConnection);
}
