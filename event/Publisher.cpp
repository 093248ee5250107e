#include "Publisher.h"

#include "Database.h"
#include "Outbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMap>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>

namespace {

const qint64 kIdleCheckMs = 3000;

QString engineMessage(const QSqlError& e) {
    const QString m = e.databaseText().trimmed();
    return m.isEmpty() ? e.text() : m;
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
             why.contains(QLatin1String("could not translate host name")) ||
             why.contains(QLatin1String("timeout expired")))
        hint = QCoreApplication::translate("Publisher", "サーバーが見つかりません: ");
    return QCoreApplication::translate("Publisher", "サーバーに接続できません: ") + hint +
           why.section(QLatin1Char('\n'), 0, 0).trimmed();
}

// A missing name (a transponder never registered) is an empty text, as in
// the station's own tables, not NULL.
QString text(const QVariant& v) {
    const QString s = v.toString();
    return s.isNull() ? QString(QLatin1String("")) : s;
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
        pump();
    }

    void finish() {
        delete timer_;
        timer_ = nullptr;
        closeServer();
        if (QSqlDatabase::contains(localName_)) {
            batchQuery_.reset();
            QSqlDatabase::database(localName_, false).close();
            QSqlDatabase::removeDatabase(localName_);
        }
    }

    void fetchRanking() {
        if (!serverOpen_) {
            emit owner_->rankingReady(
                {}, status_.lastError.isEmpty()
                        ? QCoreApplication::translate("Publisher", "サーバーに接続中です")
                        : status_.lastError);
            return;
        }
        try {
            const auto rows = EventServer::ranking(server(), settings_.Event);
            emit owner_->rankingReady(rows, QString());
        } catch (const DbError& e) {
            failed(e.message());
            emit owner_->rankingReady({}, status_.lastError);
            schedule(retryMs_);
        }
    }

private:
    QSqlDatabase server() const { return QSqlDatabase::database(serverName_, false); }
    QSqlDatabase local() const { return QSqlDatabase::database(localName_, false); }

    void schedule(int ms) {
        if (timer_)
            timer_->start(ms);
    }

    void pump() {
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
        schedule(taken >= options_.batch ? 0 : options_.pollMs);
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
        // the disk and hold the file's write lock the shorter.
        QSqlQuery(db).exec(QStringLiteral("pragma synchronous=normal"));
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
            if (!pg.open()) {
                why = connectFailure(engineMessage(pg.lastError()));
            } else {
                try {
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
            }
            if (!why.isEmpty()) {
                pg.close();
                pg = QSqlDatabase();
                QSqlDatabase::removeDatabase(serverName_);
                status_.lastError = why;
                status_.connected = false;
                return false;
            }
        }
        serverOpen_ = true;
        lastContact_.start();
        status_.connected = true;
        status_.lastError.clear();
        retryMs_ = options_.retryMinMs;
        return true;
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
        QSqlQuery q(server());
        if (!q.exec(QStringLiteral("select 1")))
            throw DbError(engineMessage(q.lastError()));
        lastContact_.start();
    }

    void closeServer() {
        if (!QSqlDatabase::contains(serverName_))
            return;
        {
            QSqlDatabase pg = server();
            pg.close();
        }
        QSqlDatabase::removeDatabase(serverName_);
        serverOpen_ = false;
        status_.connected = false;
    }

    // The server failed in the middle of the work: the connection is
    // closed and opened again after a pause, whatever the cause.
    void failed(const QString& why) {
        closeServer();
        status_.lastError = why.section(QLatin1Char('\n'), 0, 0).trimmed();
    }

    // The oldest outbox rows to the server; returns how many were taken.
    int sendBatch() {
        if (!batchQuery_) {
            batchQuery_ = std::make_unique<QSqlQuery>(local());
            batchQuery_->setForwardOnly(true);
            if (!batchQuery_->prepare(QStringLiteral(
                    "select o.seq, a.id, a.tpid,"
                    " (select s.pname from speed s where s.tpid = a.tpid limit 1),"
                    " a.speed, a.speed_text, a.dist_cm, a.flags, a.status, a.time1, a.time2,"
                    " a.measured_ms, a.changed_ms"
                    " from outbox o left join attempt a on a.id = o.attempt_id"
                    " order by o.seq limit ?"))) {
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
            attempts.insert(a.id, a);
        }
        q.finish();
        if (!taken)
            return 0;

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

        // Committed on the server: the rows may go. Should this fail they
        // are sent again later, which changes nothing.
        QSqlQuery del(local());
        del.prepare(QStringLiteral("delete from outbox where seq <= ?"));
        del.bindValue(0, lastSeq);
        if (!del.exec())
            status_.lastError = engineMessage(del.lastError());
        status_.sent += attempts.size();
        emit owner_->published(int(attempts.size()));
        return taken;
    }

    void readWaiting() {
        QSqlQuery q(local());
        if (q.exec(QStringLiteral("select count(*) from outbox")) && q.next())
            status_.waiting = q.value(0).toLongLong();
    }

    void report() {
        if (reported_ && *reported_ == status_)
            return;
        reported_ = status_;
        emit owner_->statusChanged(status_);
    }

    Publisher* owner_;
    EventSettings settings_;
    QString path_;
    Options options_;
    QString localName_, serverName_;
    QString instance_; // the SQLite file's instance id, once read
    QTimer* timer_ = nullptr;
    std::unique_ptr<QSqlQuery> batchQuery_;
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
      worker_(new Worker(this, std::move(settings), std::move(sqlitePath), options)) {
    qRegisterMetaType<PublisherStatus>();
    qRegisterMetaType<QList<EventServer::RankingEntry>>();
    thread_.setObjectName(QStringLiteral("event publisher"));
}

Publisher::~Publisher() {
    if (thread_.isRunning()) {
        Worker* w = worker_;
        QMetaObject::invokeMethod(w, [w] {
            w->finish();
            QThread::currentThread()->quit();
        });
        thread_.wait();
    }
    delete worker_;
}

void Publisher::start() {
    if (thread_.isRunning())
        return;
    worker_->moveToThread(&thread_);
    thread_.start();
    Worker* w = worker_;
    QMetaObject::invokeMethod(w, [w] { w->begin(); });
}

void Publisher::requestRanking() {
    Worker* w = worker_;
    QMetaObject::invokeMethod(w, [w] { w->fetchRanking(); });
}
