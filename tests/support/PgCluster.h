#pragma once

// A throw-away PostgreSQL server for the tests and benchmarks that need a
// real one: scripts/local-postgres in a temporary folder, stopped and
// removed at the end. Qt Core and Sql only (no QtTest).
#include "QueryRows.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>

#include <atomic>

#include <signal.h>
#include <sys/types.h>

namespace e2e {

class PgCluster {
public:
    explicit PgCluster(QString script) : script_(std::move(script)) {}
    ~PgCluster() { stop(); }
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    // Creates the cluster on the first call; false with why() when the
    // server does not start (the tests that need it fail on that).
    bool start() {
        if (running_)
            return true;
        if (!dir_.isValid()) {
            why_ = QStringLiteral("no temporary folder");
            return false;
        }
        QProcess p;
        p.start(script_, {QStringLiteral("start"), dir_.path()});
        if (!p.waitForFinished(120000) || p.exitCode() != 0) {
            why_ = QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput());
            return false;
        }
        const QByteArray out = p.readAllStandardOutput().trimmed();
        port_ = out.mid(out.indexOf("port=") + 5).split(' ').value(0).toInt();
        running_ = port_ > 0;
        return running_;
    }
    void stop() {
        if (!running_)
            return;
        QProcess::execute(script_, {QStringLiteral("stop"), dir_.path()});
        running_ = false;
    }

    // Suspends every process of the server (SIGSTOP), as a hung machine
    // would be seen: connections stay open and the kernel still takes their
    // bytes, but nothing answers. False when the server's processes are not
    // found. Twice, for a child forked meanwhile. thaw() lets them run on.
    bool freeze() { return signalAll(SIGSTOP) && signalAll(SIGSTOP); }
    bool thaw() { return signalAll(SIGCONT); }

    QString why() const { return why_; }
    int port() const { return port_; }
    // Through the socket in the folder, no password.
    QString socketConnection() const {
        return QStringLiteral("host=%1 port=%2 dbname=postgres user=korvane")
            .arg(dir_.path())
            .arg(port_);
    }
    // Over TCP on 127.0.0.1: a password is asked (it is "korvane").
    QString tcpConnection() const {
        return QStringLiteral("host=127.0.0.1 port=%1 dbname=postgres user=korvane").arg(port_);
    }

    // Rows of one query on a connection of its own; empty when the server
    // cannot be reached or the query fails.
    QList<QVariantList> rows(const QString& sql, const QVariantList& values = {}) const {
        static std::atomic<int> serial{0};
        const QString name = QStringLiteral("pglook%1").arg(serial++);
        QList<QVariantList> out;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setConnectOptions(socketConnection());
            if (db.open())
                out = queryRows(db, sql, values);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return out;
    }
    // One statement run as it is (the server prepares no DDL); false when
    // it fails.
    bool execute(const QString& sql) const {
        static std::atomic<int> serial{0};
        const QString name = QStringLiteral("pgexec%1").arg(serial++);
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setConnectOptions(socketConnection());
            ok = db.open() && QSqlQuery(db).exec(sql);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return ok;
    }
    QVariant value(const QString& sql, const QVariantList& values = {}) const {
        const QList<QVariantList> r = rows(sql, values);
        return r.isEmpty() || r.first().isEmpty() ? QVariant() : r.first().first();
    }

private:
    // The postmaster (first line of postmaster.pid) and its children.
    QList<pid_t> processes() const {
        QFile f(dir_.filePath(QStringLiteral("data/postmaster.pid")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const pid_t main = pid_t(f.readLine().trimmed().toLongLong());
        if (main <= 0)
            return {};
        QList<pid_t> out{main};
        const QStringList all = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
        for (const QString& entry : all) {
            bool number = false;
            const pid_t pid = pid_t(entry.toLongLong(&number));
            QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
            if (!number || !stat.open(QIODevice::ReadOnly))
                continue;
            // pid (comm) state ppid ...: the name may hold spaces.
            const QByteArray text = stat.readAll();
            const QList<QByteArray> rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (rest.size() > 1 && rest.at(1).toLongLong() == main)
                out << pid;
        }
        return out;
    }
    bool signalAll(int sig) {
        const QList<pid_t> pids = processes();
        if (pids.isEmpty() || ::kill(pids.first(), sig) != 0)
            return false;
        // A child may end meanwhile (the backend of a client just gone).
        for (const pid_t pid : pids.mid(1))
            ::kill(pid, sig);
        return true;
    }

    QString script_;
    QTemporaryDir dir_;
    QString why_;
    int port_ = 0;
    bool running_ = false;
};

} // namespace e2e
