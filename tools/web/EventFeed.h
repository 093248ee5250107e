#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

class LiveServer;
class PgLink;
class QTimer;

// Tells the live server of the event's new results: on each notification
// of the event's channel at once, and by reading every pollMs whatever
// comes (a server that does not notify, a notification lost with its
// connection). The LISTEN connection is watched; when it is lost the
// results are read at once and it is opened again, tried after 1 s and then
// at doubling intervals up to pollMs (opening may wait for a host that does
// not answer, and this thread serves the pages).
//
// A result is told once per write of its row. Rows are stamped with their
// transaction's start but seen at its commit, so each read goes back
// kOverlapUs before the newest stamp seen, and what was told already is
// remembered for that long.
class EventFeed : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kOverlapUs = 30'000'000;

    EventFeed(PgLink& read, QString listenOptions, QString event, LiveServer& server, int pollMs,
              QObject* parent = nullptr);
    ~EventFeed() override;

    void start();

signals:
    // For the log: what the program is doing about the server.
    void note(const QString& text);

private:
    void poll();
    void pollSoon();
    void checkListen();
    bool listen();
    void dropListen();

    PgLink& read_;
    QString listenOptions_;
    QString event_;
    QString channel_;
    LiveServer& server_;
    QTimer* poll_ = nullptr;
    QTimer* check_ = nullptr;
    bool listening_ = false;
    QElapsedTimer sinceTry_; // since the last try to open the LISTEN connection
    int retryMs_ = 0;
    bool pollQueued_ = false;
    bool marked_ = false;         // mark_ read: results before it are not news
    qint64 mark_ = 0;             // the newest write seen, server time in µs
    QHash<QString, qint64> told_; // "station\nattempt id\nwrite" -> write, within the overlap
    bool readFailing_ = false;
};
