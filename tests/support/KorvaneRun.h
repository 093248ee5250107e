#pragma once

// The real program on a temporary data folder, with pseudo-terminals for the
// two decoders and the board. Shared by the end-to-end test and the ingest
// benchmarks, so it uses Qt Core and Sql only (no QtTest).
#include "Peer.h"
#include "QueryRows.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariantList>

#include <atomic>
#include <cerrno>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace e2e {

// Reads the speed table of a running (or dead) program through a connection
// of its own, opened for one look and closed again, so that it never holds
// a read snapshot that would stall the program's checkpoints.
class DbLook {
public:
    explicit DbLook(QString path, bool readOnly = true)
        : path_(std::move(path)), readOnly_(readOnly) {}

    // Rows of a query; an empty list when the file cannot be read just now.
    QList<QVariantList> rows(const QString& sql, const QVariantList& values = {}) const {
        static std::atomic<int> serial{0};
        const QString name = QStringLiteral("look%1").arg(serial++);
        QList<QVariantList> out;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path_);
            if (readOnly_)
                db.setConnectOptions(
                    QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
            if (QFile::exists(path_) && db.open())
                out = queryRows(db, sql, values);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return out;
    }
    // The first column of the first row, or an invalid value.
    QVariant value(const QString& sql, const QVariantList& values = {}) const {
        const QList<QVariantList> r = rows(sql, values);
        return r.isEmpty() || r.first().isEmpty() ? QVariant() : r.first().first();
    }

private:
    QString path_;
    bool readOnly_;
};

// One run of the program.
class KorvaneRun {
public:
    KorvaneRun(QString binary, QString dataDir)
        : binary_(std::move(binary)), dir_(std::move(dataDir)) {}
    ~KorvaneRun() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.kill();
            proc_.waitForFinished(5000);
        }
    }

    QString iniPath() const { return dir_ + QStringLiteral("/Korvane.ini"); }
    QString dbPath() const { return dir_ + QStringLiteral("/Korvane.db"); }

    // Section "SP" as given, and "Devices" mapping COMn to each path.
    bool writeIni(const QByteArray& sp, const Devices& devices) const {
        return e2e::writeIni(iniPath(), sp, devices);
    }

    void start(const QStringList& moreArguments = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        for (const QString& name : extraEnv_.keys())
            env.insert(name, extraEnv_.value(name));
        proc_.setProcessEnvironment(env);
        proc_.setProgram(binary_);
        proc_.setArguments(QStringList{QStringLiteral("--data-dir"), dir_} + moreArguments);
        proc_.start();
    }
    // Set before start(): QT_QPA_PLATFORM=xcb and DISPLAY run it on a real
    // X server.
    void setEnv(const QString& name, const QString& value) { extraEnv_.insert(name, value); }
    bool waitStarted() { return proc_.waitForStarted(10000); }
    bool running() const { return proc_.state() == QProcess::Running; }
    qint64 pid() const { return proc_.processId(); }
    QProcess& process() { return proc_; }

    // Standard error so far (kept).
    const QByteArray& errors() {
        err_ += proc_.readAllStandardError();
        return err_;
    }

    void terminate() { proc_.terminate(); } // SIGTERM
    void kill() { proc_.kill(); }           // SIGKILL
    bool waitFinished(int ms) { return proc_.waitForFinished(ms); }

    // CPU time (user + system) of the process so far, in microseconds.
    qint64 cpuMicros() const { return processCpuMicros(pid()); }

    static qint64 processCpuMicros(qint64 pid) {
        QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray s = f.readAll();
        // Fields after the command name, which is in parentheses and may hold spaces.
        const QList<QByteArray> rest = s.mid(s.lastIndexOf(')') + 2).split(' ');
        if (rest.size() < 13)
            return -1;
        const qint64 ticks = rest.at(11).toLongLong() + rest.at(12).toLongLong(); // utime, stime
        return ticks * 1000000 / sysconf(_SC_CLK_TCK);
    }

private:
    QString binary_;
    QString dir_;
    QProcess proc_;
    QByteArray err_;
    QProcessEnvironment extraEnv_;
};

// The board's final opening at start-up (at the saved rate, with RTS/CTS)
// is the program's last start-up step before it takes decoder input and
// starts measuring; what arrives from then on is read.
inline bool boardOpenedAt(const Peer& board, speed_t speed) {
    termios t{};
    return board.lineSettings(&t) && cfgetospeed(&t) == speed && (t.c_cflag & CRTSCTS);
}

} // namespace e2e
