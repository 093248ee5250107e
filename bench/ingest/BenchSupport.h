#pragma once

// Shared by the receive-path benchmarks: a data folder with a pre-filled
// speed table, the real program started on it with pseudo-terminals, and
// small timing helpers. Figures go to standard output.
#include "BenchCommon.h"
#include "KorvaneRun.h"

#include "Database.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Polls a condition every pollMs (benchmarks only: the program runs in
// another process, and there is no signal to wait on).
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 10) {
    const auto t0 = Clock::now();
    while (!done()) {
        if (secondsSince(t0) * 1000 > timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

inline QByteArray tpidOf(int i) {
    return QByteArray::number(100000 + i);
}

// The speed table as the program makes it, with n processed rows
// (IDs tpidOf(0..n-1), best speed 10, nothing pending).
inline void prefill(const QString& dbPath, int n) {
    try {
        SpeedDb::open(dbPath);
        SpeedDb::checkNameColumn();
        {
            QSqlDatabase db = SpeedDb::database();
            db.transaction();
            QSqlQuery q(db);
            q.prepare(QStringLiteral(
                "insert into speed (tpid,time1,time2,speed,sumi) values (?,?,?,?,'1')"));
            for (int i = 0; i < n; ++i) {
                q.addBindValue(QString::fromLatin1(tpidOf(i)));
                q.addBindValue(1.0);
                q.addBindValue(2.0);
                q.addBindValue(10.0);
                if (!q.exec())
                    die("pre-fill insert failed");
            }
            if (!db.commit())
                die("pre-fill commit failed");
        }
        SpeedDb::close();
    } catch (const DbError& e) {
        die(e.what());
    }
}

// A running program on a fresh data folder with `rows` rows in its table,
// ports open and measuring.
struct Rig {
    QTemporaryDir dir;
    e2e::Peer dec1, dec2, board;
    std::unique_ptr<e2e::KorvaneRun> run;

    Rig(int rows, const QByteArray& sp, const QStringList& arguments = {}) {
        if (!dir.isValid() || !dec1.ok() || !dec2.ok() || !board.ok())
            die("no temporary folder or pseudo-terminal");
        run = std::make_unique<e2e::KorvaneRun>(QStringLiteral(KORVANE_BIN), dir.path());
        if (rows > 0)
            prefill(run->dbPath(), rows);
        if (!run->writeIni("Port1=1\nPort2=4\nPort3=5\nRate=0\nTimer2=1\n" + sp,
                           {{1, dec1.path()}, {4, dec2.path()}, {5, board.path()}}))
            die("cannot write the settings");
        run->start(arguments);
        if (!run->waitStarted())
            die("the program does not start");
        if (!waitUntil([&] { return e2e::boardOpenedAt(board, B2400); }, 30000))
            die("the program did not open its ports");
    }
    ~Rig() {
        run->terminate();
        if (!run->waitFinished(15000))
            run->kill();
    }
};

} // namespace bench
