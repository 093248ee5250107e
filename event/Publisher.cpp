#include "Publisher.h"

#include "Chain.h"
#include "Database.h"
#include "Journal.h"
#include "Outbox.h"
#include "ServerWatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMap>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTimer>

#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace {

const qint64 kIdleCheckMs = 3000;
// The station's signed heads are looked for at most this often.
const qint64 kHeadCheckMs = 1000;
// Notifications closer together than this are told as one.
const int kNotifyGatherMs = 20;
// While not connected the waiting rows are counted this often, so that the
// status follows an outage as it grows.
const int kCountMs = 1000;

// libpq's connect_timeout ran out: the server, or a host on the way, let the
// connection begin but did not answer.
bool unansweredConnect(const QString& why) {
    return why.contains(QLatin1String("timeout expired"));
}

// The server's reason in words the operator can act on; libpq's own text
// follows for whoever looks after the server.
QString connectFailure(const QString& why) {
    QString hint;
    if (why.contains(QLatin1String("password authentication failed")) ||
        why.contains(QLatin1String("no password supplied")))
        hint = QCoreApplication::translate("Publisher",
                                           "パスワードが違います（~/.pgpass か PGPASSWORD）: ");
    else if (why.contains(QLatin1String("No such file or directory")) ||
             why.contains(QLatin1String("Connection refused")) ||
             why.contains(QLatin1String("could not translate host name")))
        hint = QCoreApplication::translate("Publisher", "サーバーが見つかりません: ");
    else if (unansweredConnect(why))
        hint = QCoreApplication::translate("Publisher", "サーバーが応答しません: ");
    return QCoreApplication::translate("Publisher", "サーバーに接続できません: ") + hint +
           why.section(QLatin1Char('\n'), 0, 0).trimmed();
}

// A missing name (a transponder never registered) is an empty text, as in
// the station's own tables, not NULL.
QString text(const QVariant& v) {
    const QString s = v.toString();
    return s.isNull() ? QString(QLatin1String("")) : s;
}

// libpq's connection under the driver's, or null.
PGconn* connectionOf(const QSqlDatabase& pg) {
    const QVariant handle = pg.driver() ? pg.driver()->handle() : QVariant();
    // The driver names the type by libpq's struct (pg_conn*) or by its
    // typedef (PGconn*), as its version has it.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

// The socket of an open connection, or -1.
int socketOf(const QSqlDatabase& pg) {
    PGconn* conn = connectionOf(pg);
    return conn ? PQsocket(conn) : -1;
}

int nextConnectionSerial() {
    static std::atomic<int> serial{0};
    return ++serial;
}

} // namespace

class Publisher::Worker : public QObject {
public:
    Worker(Publisher* owner, EventSettings settings, QString path, Options options)
        : owner_(owner), settings_(std::move(settings)), path_(std::move(path)), options_(options),
          retryMs_(options.retryMinMs) {
        const int serial = nextConnectionSerial();
        localName_ = QStringLiteral("event-outbox-%1").arg(serial);
        serverName_ = QStringLiteral("event-server-%1").arg(serial);
    }

    void begin() {
        timer_ = new QTimer(this);
        timer_->setSingleShot(true);
        connect(timer_, &QTimer::timeout, this, [this] { pump(); });
        countTimer_ = new QTimer(this);
        countTimer_->setInterval(kCountMs);
        connect(countTimer_, &QTimer::timeout, this, [this] {
            if (!serverOpen_) {
                readWaiting();
                report();
            }
        });
        countTimer_->start();
        notifyTimer_ = new QTimer(this);
        notifyTimer_->setSingleShot(true);
        notifyTimer_->setInterval(kNotifyGatherMs);
        connect(notifyTimer_, &QTimer::timeout, this,
                [this] { tell([](Publisher* p) { emit p->rankingChanged(); }); });
        pump();
    }

    // From the owner's thread: no new work begins, and the statement under
    // way is cut off unless answered within `grace`; finish() follows.
    void stopSoon(int grace) {
        stopping_ = true;
        watch_.stop(std::chrono::milliseconds(grace));
    }

    // The owner is gone (it did not wait for the thread to end): nothing is
    // told any more, and the connections are left to the process's end.
    void disown() {
        std::lock_guard<std::mutex> lock(ownerMutex_);
        owner_ = nullptr;
    }

    void finish() {
        {
            std::lock_guard<std::mutex> lock(ownerMutex_);
            if (!owner_)
                return;
        }
        delete timer_;
        timer_ = nullptr;
        delete countTimer_;
        countTimer_ = nullptr;
        delete notifyTimer_;
        notifyTimer_ = nullptr;
        closeServer();
        if (QSqlDatabase::contains(localName_)) {
            batchQuery_.reset();
            QSqlDatabase::database(localName_, false).close();
            QSqlDatabase::removeDatabase(localName_);
        }
    }

    void fetchRanking() {
        if (stopping_)
            return;
        if (serverOpen_ && lost())
            connectionLost();
        if (!serverOpen_) {
            const QString why =
                status_.lastError.isEmpty()
                    ? QCoreApplication::translate("Publisher", "サーバーに接続中です")
                    : status_.lastError;
            tell([&](Publisher* p) { emit p->rankingReady({}, why); });
            return;
        }
        try {
            QList<EventServer::RankingEntry> rows;
            {
                Watching w(*this);
                rows = EventServer::ranking(server(), settings_.Event);
            }
            tell([&](Publisher* p) { emit p->rankingReady(rows, QString()); });
        } catch (const DbError& e) {
            failed(e.message());
            tell([&](Publisher* p) { emit p->rankingReady({}, status_.lastError); });
            report();
            schedule(retryMs_);
        }
    }

private:
    // Watches the server's answer to the calls made while it lives: a
    // late one is cut off, and failed() then tells why.
    class Watching {
    public:
        explicit Watching(Worker& w) : w_(w) {
            w_.watch_.watch(w_.socket_, std::chrono::milliseconds(w_.options_.answerMs));
        }
        ~Watching() {
            if (w_.watch_.done())
                w_.cut_ = true;
        }
        Watching(const Watching&) = delete;
        Watching& operator=(const Watching&) = delete;

    private:
        Worker& w_;
    };

    // Runs `f` with the owner while it is there (the owner may go away
    // without waiting for this thread, see ~Publisher).
    template <class F> void tell(F&& f) {
        std::lock_guard<std::mutex> lock(ownerMutex_);
        if (owner_)
            f(owner_);
    }

    QSqlDatabase server() const { return QSqlDatabase::database(serverName_, false); }
    QSqlDatabase local() const { return QSqlDatabase::database(localName_, false); }

    void schedule(int ms) {
        if (timer_)
            timer_->start(ms);
    }

    void pump() {
        if (stopping_)
            return;
        if (serverOpen_ && lost()) {
            connectionLost();
            readWaiting();
            report();
            schedule(retryMs_);
            return;
        }
        if (!openLocal()) {
            report();
            schedule(options_.retryMaxMs);
            return;
        }
        if (!serverOpen_ && !openServer()) {
            readWaiting();
            report();
            schedule(retryMs_);
            retryMs_ = std::min(retryMs_ * 2, options_.retryMaxMs);
            return;
        }
        int taken = 0;
        try {
            taken = sendBatch();
            if (taken || !headCheck_.isValid() || headCheck_.hasExpired(kHeadCheckMs))
                sendHeads();
            if (taken)
                lastContact_.start();
            else if (lastContact_.hasExpired(kIdleCheckMs))
                checkServer();
        } catch (const DbError& e) {
            failed(QCoreApplication::translate("Publisher", "送信できません: ") + e.message());
            readWaiting();
            report();
            schedule(retryMs_);
            return;
        }
        readWaiting();
        report();
        schedule(resendMs_ ? resendMs_ : taken >= options_.batch ? 0 : options_.pollMs);
    }

    bool openLocal() {
        if (QSqlDatabase::contains(localName_))
            return true;
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), localName_);
        db.setDatabaseName(path_);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            status_.lastError = engineMessage(db.lastError());
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(localName_);
            return false;
        }
        // Only the outbox deletes are written here: one lost to a power cut
        // is sent again, which changes nothing, so they need not wait for
        // the disk and hold the file's write lock the shorter. Without it
        // they only wait for the disk.
        QSqlQuery pragma(db);
        pragmaError_ =
            pragma.exec(QStringLiteral("pragma synchronous=normal"))
                ? QString()
                : QCoreApplication::translate("Publisher", "送信待ちの表の設定に失敗しました: ") +
                      engineMessage(pragma.lastError());
        gatherLocalErrors();
        return true;
    }

    bool openServer() {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
            status_.lastError = QCoreApplication::translate(
                "Publisher",
                "PostgreSQL のドライバ (QPSQL) がありません（パッケージ libqt6sql6-psql）");
            return false;
        }
        {
            QSqlDatabase pg = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), serverName_);
            pg.setConnectOptions(ConnectOptions(settings_.Database));
            QString why;
            bool unanswered = false;
            const bool opened = pg.open();
            if (stopping_)
                return false; // the owner may be gone: nothing more is touched
            if (!opened) {
                const QString message = engineMessage(pg.lastError());
                why = connectFailure(message);
                unanswered = unansweredConnect(message);
            } else {
                socket_ = socketOf(pg);
                if (socket_ < 0)
                    qWarning("korvane: the event server connection's socket is unknown: a hung "
                             "server is noticed only by its own time-outs");
                cut_ = false;
                try {
                    Watching w(*this);
                    // The server gives up first where it can still answer,
                    // with a reason of its own.
                    // The station's name shows in the server's list of
                    // connections.
                    runBound(pg,
                             QStringLiteral("select set_config('statement_timeout', ?, false),"
                                            " set_config('application_name', ?, false)"),
                             {QString::number(options_.answerMs * 4 / 5),
                              QStringLiteral("korvane %1").arg(settings_.Station).left(60)});
                    EventServer::migrate(pg);
                    if (!claimed(pg))
                        why = QCoreApplication::translate(
                                  "Publisher",
                                  "ステーション名 %1 はイベント %2 で別の PC が使っています")
                                  .arg(settings_.Station, settings_.Event);
                } catch (const DbError& e) {
                    why =
                        QCoreApplication::translate("Publisher", "サーバーの表を用意できません: ") +
                        e.message();
                }
                if (cut_) {
                    why = notAnswering();
                    unanswered = true;
                }
            }
            if (!why.isEmpty()) {
                pg.close();
                pg = QSqlDatabase();
                QSqlDatabase::removeDatabase(serverName_);
                socket_ = -1;
                status_.lastError = why;
                status_.connected = false;
                status_.unanswered = unanswered;
                return false;
            }
        }
        serverOpen_ = true;
        lastContact_.start();
        status_.connected = true;
        status_.unanswered = false;
        status_.lastError.clear();
        retryMs_ = options_.retryMinMs;
        listen();
        return true;
    }

    // LISTEN on the event's channel, on this same connection: one
    // connection per station, however many stations the server takes.
    // Whatever changed while the station was not listening is told at once.
    // Without it the station polls (status_.listening false).
    void listen() {
        QSqlDriver* driver = server().driver();
        {
            Watching w(*this);
            status_.listening =
                driver->subscribeToNotification(EventServer::channelFor(settings_.Event));
        }
        if (!status_.listening)
            return;
        connect(driver, &QSqlDriver::notification, this, [this] {
            if (notifyTimer_ && !notifyTimer_->isActive())
                notifyTimer_->start();
        });
        if (notifyTimer_)
            notifyTimer_->start();
    }

    // The server connection broke while idle: the driver, listening, reads
    // what the server sends, and a server that ended the connection
    // (restarted, the backend terminated) leaves it bad. Looked at before
    // every use, so within a poll's time.
    bool lost() const {
        PGconn* conn = connectionOf(server());
        return conn && PQstatus(conn) == CONNECTION_BAD;
    }

    void connectionLost() {
        failed(QCoreApplication::translate("Publisher", "サーバーとの接続が切れました"));
    }

    // The station's signed chain heads the server does not have yet (one per
    // seq: a head signed twice is the same head).
    void sendHeads() {
        headCheck_.start();
        if (!headsKnown_) {
            Watching w(*this);
            headSeq_ = EventServer::lastHeadSeq(server(), settings_.Event, settings_.Station);
            headsKnown_ = true;
        }
        QList<Chain::SignedHead> found;
        try {
            found = Chain::signedHeadsAfter(local(), headSeq_, options_.batch);
        } catch (const DbError&) {
            return; // the station's own file: looked at again at the next check
        }
        QList<EventServer::Head> heads;
        for (const Chain::SignedHead& h : found)
            heads << EventServer::Head{h.seq, h.hash, h.atMs, h.signature, h.publicKey};
        if (heads.isEmpty())
            return;
        Watching w(*this);
        QSqlDatabase pg = server();
        if (!pg.transaction())
            throw DbError(engineMessage(pg.lastError()));
        try {
            EventServer::upsertHeads(pg, settings_.Event, settings_.Station, heads);
        } catch (...) {
            pg.rollback();
            throw;
        }
        if (!pg.commit())
            throw DbError(engineMessage(pg.lastError()));
        headSeq_ = heads.back().seq;
    }

    // Whether the station's name in the event belongs to this file. Another
    // file under the same name has attempts with the same ids: publishing
    // would overwrite them on the server, so this one keeps its outbox until
    // it is given a name of its own (or the server frees this one). The
    // pause between tries grows as after any failure.
    bool claimed(QSqlDatabase pg) {
        if (instance_.isEmpty())
            instance_ = Outbox::instanceId(local());
        return EventServer::claimStation(pg, settings_.Event, settings_.Station, instance_) ==
               instance_;
    }

    // An idle station still learns soon that its server went away, so that
    // the status page does not say connected all through an outage.
    void checkServer() {
        Watching w(*this);
        runBound(server(), QStringLiteral("select 1"));
        lastContact_.start();
    }

    QString notAnswering() const {
        return QCoreApplication::translate("Publisher", "サーバーが %1 秒応答しません")
            .arg(options_.answerMs / 1000.0);
    }

    void closeServer() {
        if (!QSqlDatabase::contains(serverName_))
            return;
        {
            QSqlDatabase pg = server();
            pg.close();
        }
        QSqlDatabase::removeDatabase(serverName_);
        socket_ = -1;
        serverOpen_ = false;
        headsKnown_ = false;
        status_.connected = false;
        status_.listening = false;
    }

    // The server failed in the middle of the work: the connection is
    // closed and opened again after a pause, whatever the cause. A cut-off
    // statement failed for being late, whatever the driver made of it.
    void failed(const QString& why) {
        const bool late = std::exchange(cut_, false);
        closeServer();
        status_.unanswered = late || why.contains(QLatin1String("statement timeout"));
        status_.lastError = late ? notAnswering() : why.section(QLatin1Char('\n'), 0, 0).trimmed();
    }

    // The oldest outbox rows to the server; returns how many were taken.
    int sendBatch() {
        if (!batchQuery_) {
            batchQuery_ = std::make_unique<QSqlQuery>(local());
            batchQuery_->setForwardOnly(true);
            if (!batchQuery_->prepare(Journal::publishStatement())) {
                const QString why = engineMessage(batchQuery_->lastError());
                batchQuery_.reset();
                throw DbError(why);
            }
        }
        QSqlQuery& q = *batchQuery_;
        q.bindValue(0, options_.batch);
        if (!q.exec()) {
            const QString why = engineMessage(q.lastError());
            q.finish();
            throw DbError(why);
        }
        // One statement: the outbox rows and the attempts as they stood
        // together. A change after this read adds an outbox row of its own.
        QMap<qint64, EventServer::Attempt> attempts;
        qint64 lastSeq = 0;
        int taken = 0;
        while (q.next()) {
            ++taken;
            lastSeq = q.value(0).toLongLong();
            if (q.value(1).isNull())
                continue; // the attempt is gone: nothing to send
            EventServer::Attempt a;
            a.id = q.value(1).toLongLong();
            a.tpid = text(q.value(2));
            a.name = text(q.value(3));
            a.speed = q.value(4);
            a.speedText = text(q.value(5));
            a.distCm = q.value(6);
            a.flags = q.value(7).toLongLong();
            a.status = text(q.value(8));
            a.time1 = q.value(9);
            a.time2 = q.value(10);
            a.measuredMs = q.value(11);
            a.changedMs = q.value(12);
            a.className = text(q.value(13));
            attempts.insert(a.id, a);
        }
        q.finish();
        if (!taken)
            return 0;

        {
            Watching w(*this);
            QSqlDatabase pg = server();
            if (!pg.transaction())
                throw DbError(engineMessage(pg.lastError()));
            try {
                EventServer::upsert(pg, settings_.Event, settings_.Station, attempts.values());
            } catch (...) {
                pg.rollback();
                throw;
            }
            if (!pg.commit())
                throw DbError(engineMessage(pg.lastError()));
        }

        // Committed on the server: the rows may go. Should this fail they
        // are sent again, which changes nothing, after a growing pause.
        QSqlQuery del(local());
        if (del.prepare(QStringLiteral("delete from outbox where seq <= ?"))) {
            del.bindValue(0, lastSeq);
            del.exec();
        }
        if (del.lastError().isValid()) {
            deleteError_ =
                QCoreApplication::translate(
                    "Publisher", "送信済みの行を送信待ちから消せません（送り直します）: ") +
                engineMessage(del.lastError());
            resendMs_ =
                resendMs_ ? std::min(resendMs_ * 2, options_.retryMaxMs) : options_.retryMinMs;
        } else {
            deleteError_.clear();
            resendMs_ = 0;
        }
        gatherLocalErrors();
        status_.sent += attempts.size();
        tell([&](Publisher* p) { emit p->published(int(attempts.size())); });
        return taken;
    }

    // A count that cannot be read leaves the last one standing. A file not
    // open has nothing to count: why it is not is the status's lastError.
    void readWaiting() {
        if (!QSqlDatabase::contains(localName_))
            return;
        QSqlQuery q(local());
        if (q.exec(QStringLiteral("select count(*) from outbox")) && q.next()) {
            status_.waiting = q.value(0).toLongLong();
            countError_.clear();
        } else {
            countError_ = QCoreApplication::translate("Publisher", "送信待ちの件数を読めません: ") +
                          engineMessage(q.lastError());
        }
        gatherLocalErrors();
    }

    void gatherLocalErrors() {
        QStringList errors;
        for (const QString* e : {&pragmaError_, &deleteError_, &countError_})
            if (!e->isEmpty())
                errors << *e;
        status_.localError = errors.join(QStringLiteral("　"));
    }

    void report() {
        if (reported_ && *reported_ == status_)
            return;
        reported_ = status_;
        tell([&](Publisher* p) { emit p->statusChanged(status_); });
    }

    std::mutex ownerMutex_;
    Publisher* owner_; // null once the owner is gone
    std::atomic<bool> stopping_{false};
    EventSettings settings_;
    QString path_;
    Options options_;
    QString localName_, serverName_;
    QString instance_; // the SQLite file's instance id, once read
    QTimer* timer_ = nullptr;
    QTimer* countTimer_ = nullptr;
    QTimer* notifyTimer_ = nullptr;
    QElapsedTimer headCheck_;
    bool headsKnown_ = false; // headSeq_ read from the server on this connection
    qint64 headSeq_ = 0;      // the highest seq of this station's heads on the server
    ServerWatch watch_;
    int socket_ = -1;  // of the server connection, while open
    bool cut_ = false; // the watch cut the connection off
    std::unique_ptr<QSqlQuery> batchQuery_;
    // The failures on the station's own file, as status_.localError shows them.
    QString pragmaError_, deleteError_, countError_;
    int resendMs_ = 0; // the pause before a batch whose outbox rows stayed goes again
    bool serverOpen_ = false;
    QElapsedTimer lastContact_;
    int retryMs_;
    PublisherStatus status_;
    std::optional<PublisherStatus> reported_;
};

Publisher::Publisher(EventSettings settings, QString sqlitePath, QObject* parent)
    : Publisher(std::move(settings), std::move(sqlitePath), Options(), parent) {}

Publisher::Publisher(EventSettings settings, QString sqlitePath, Options options, QObject* parent)
    : QObject(parent),
      worker_(new Worker(this, std::move(settings), std::move(sqlitePath), options)),
      thread_(new QThread) {
    qRegisterMetaType<PublisherStatus>();
    qRegisterMetaType<QList<EventServer::RankingEntry>>();
    thread_->setObjectName(QStringLiteral("event publisher"));
}

Publisher::~Publisher() {
    if (thread_->isRunning()) {
        Worker* w = worker_;
        // The rest of the wait is for closing the connections.
        w->stopSoon(kStopWaitMs * 2 / 3);
        QMetaObject::invokeMethod(w, [w] {
            w->finish();
            QThread::currentThread()->quit();
        });
        if (!thread_->wait(QDeadlineTimer(kStopWaitMs))) {
            // Still connecting (libpq's connect waits up to connect_timeout
            // and cannot be cut off). Nothing is lost by not waiting: the
            // outbox keeps every row the server did not confirm. The thread
            // and its objects stay for the rest of the process.
            w->disown();
            qWarning("korvane: the event publisher did not stop within %d ms; left to end "
                     "with the program",
                     kStopWaitMs);
            return;
        }
    }
    delete worker_;
    delete thread_;
}

void Publisher::start() {
    if (thread_->isRunning())
        return;
    worker_->moveToThread(thread_);
    thread_->start();
    Worker* w = worker_;
    QMetaObject::invokeMethod(w, [w] { w->begin(); });
}

void Publisher::requestRanking() {
    Worker* w = worker_;
    QMetaObject::invokeMethod(w, [w] { w->fetchRanking(); });
}
