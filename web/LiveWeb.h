#pragma once

#include "LiveServer.h"

#include <QObject>
#include <QPointer>

class QThread;

// The live web page in a thread of its own, for the window: the window
// hands it each published speed and the decoders' state and never waits for
// it (every call is queued to the server's thread).
class LiveWeb : public QObject {
    Q_OBJECT
public:
    explicit LiveWeb(LiveServer::Options options, QObject* parent = nullptr);
    ~LiveWeb() override; // stops the server and its thread

    void start();
    void publish(const QString& tpid, const QString& speedText, bool newBest, qint64 atMs);
    void setDecoders(const QJsonArray& loops);
    void setEventRanking(const webtext::EventRanking& ranking);
    void setRecords(const QHash<QString, QJsonObject>& byTpid);

signals:
    void started(bool ok, const QString& message, const QStringList& phoneUrls);
    void clientsChanged(int count);
    void readFailed(const QString& why);
    void readRecovered();

private:
    QThread* thread_ = nullptr;
    QPointer<LiveServer> server_;
};
