#pragma once

#include "EventServer.h"
#include "EventSettings.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QThread>

// How publishing stands, as the status page and Memo3 show it.
struct PublisherStatus {
    bool connected = false;
    bool unanswered = false; // not connected as the server did not answer in time
    qint64 waiting = -1;     // outbox rows not yet on the server; -1 not read yet
    QString lastError;       // empty while all is well
    qint64 sent = 0;         // attempts sent since start
    // The server tells this station of every change of the combined
    // ranking (LISTEN on the event's channel); while false it must be polled.
    bool listening = false;
    // What fails on the station's own file (the outbox) while publishing
    // goes on; empty while all is well.
    QString localError;

    bool operator==(const PublisherStatus& o) const {
        return connected == o.connected && unanswered == o.unanswered && waiting == o.waiting &&
               lastError == o.lastError && sent == o.sent && localError == o.localError &&
               listening == o.listening;
    }
    bool operator!=(const PublisherStatus& o) const { return !(*this == o); }
};
Q_DECLARE_METATYPE(PublisherStatus)
Q_DECLARE_METATYPE(QList<EventServer::RankingEntry>)

// Sends the outbox of the station's SQLite file to the event's server, on a
// thread of its own with connections of its own (SQLite and PostgreSQL), so
// that a server that is slow or away never holds up measuring. Rows go in
// batches, each one upsert committed on the server before its outbox rows
// are deleted: a crash in between sends them again, which changes nothing.
// A failure closes the server connection; it is opened again after a pause
// that doubles up to retryMaxMs. Rows the server has but the outbox could
// not let go are sent again after the same growing pause, not at every poll. At every connect the
// station's name in the event is claimed for the SQLite file's instance id; while another file
// holds the name nothing is sent and the outbox keeps everything. A server
// that does not answer a statement within answerMs counts as failed, as
// does one that does not let a connection in within libpq's connect_timeout.
// The same one connection reads the combined ranking and listens for the
// server's word that it changed, and sends the station's signed chain heads.
class Publisher : public QObject {
    Q_OBJECT
public:
    struct Options {
        int batch = 500;
        int pollMs = 250; // how often an idle publisher looks at the outbox
        int retryMinMs = 1000;
        int retryMaxMs = 30000;
        int answerMs = 10000; // the server itself gives up on a statement a little sooner
    };

    Publisher(EventSettings settings, QString sqlitePath, QObject* parent = nullptr);
    Publisher(EventSettings settings, QString sqlitePath, Options options,
              QObject* parent = nullptr);
    // Stops the thread, waiting for it at most kStopWaitMs: a statement
    // under way is cut off when not answered in time (what it sent stays in
    // the outbox, to be sent again). A connection attempt cannot be cut off; when it outlasts the
    // wait, the thread is left to end with the process.
    ~Publisher() override;
    static constexpr int kStopWaitMs = 1500;

    void start();
    // Asks for the event's combined ranking; answered by rankingReady.
    void requestRanking();

signals:
    void statusChanged(const PublisherStatus& status);
    void published(int attempts);
    // The combined ranking on the server changed, or may have while the
    // station was not listening (told again at every new connection).
    // Several changes close together are told once.
    void rankingChanged();
    // `error` is empty when the rows came from the server.
    void rankingReady(const QList<EventServer::RankingEntry>& rows, const QString& error);

private:
    class Worker;
    Worker* worker_;
    QThread* thread_;
};
