// Pages at scale: time to show the ranking page and the registration list
// on a table of N transponders, and the program's resident memory after each
// showing, in the real main window (offscreen).
//
//   bench_pages                 runs itself for 0, 10^4, 10^5 and 10^6 rows
//   bench_pages --rows N        one table size
//   bench_pages --history N     the history page on N attempts (and N
//                               journal passings) of 1000 transponders:
//                               open, scroll, filter by ID
// Each size runs in its own process, so its memory figure is its own; the
// row of 0 is the empty-table figure the others are compared with.
#include "BenchCommon.h"
#include "Ukorvane.h"

#include "Database.h"
#include "Framework.h"
#include "Journal.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

using namespace bench;

namespace {

double rssMb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// n rows with varied speeds and some names, IDs not in speed order.
void prefill(int n) {
    QSqlDatabase db = SpeedDb::database();
    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "insert into speed (tpid,time1,time2,speed,sumi,pname) values (?,1,2,?,'1',?)"));
    for (int i = 0; i < n; ++i) {
        q.addBindValue(QString::number(100000 + (qint64(i) * 7919) % n));
        q.addBindValue(double((qint64(i) * 104729) % 100000) / 1000.0);
        q.addBindValue(i % 3 == 0 ? QVariant(QStringLiteral("名前%1").arg(i)) : QVariant());
        if (!q.exec())
            die("pre-fill insert failed");
    }
    if (!db.commit())
        die("pre-fill commit failed");
}

struct Quiet : Dialogs {
    void message(const QString&, const QString&) override {} // the ports left unset
    bool yesNo(const QString&, const QString&) override { return false; }
    void error(const QString& text) override {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
};

// Shows a page and lets it paint; returns wall and CPU milliseconds.
template <class Show> void timed(const char* what, int rows, double rss0, Show&& show) {
    QElapsedTimer t;
    const double c0 = cpuMs();
    t.start();
    show();
    QCoreApplication::processEvents();
    const double wall = double(t.nsecsElapsed()) / 1e6;
    const double cpu = cpuMs() - c0;
    std::printf("pages rows=%d %s: shown in %.1f ms (CPU %.1f ms); RSS %.1f MB (+%.1f MB over the "
                "window before)\n",
                rows, what, wall, cpu, rssMb(), rssMb() - rss0);
    std::fflush(stdout);
}

int one(int argc, char** argv, int rows) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        die("no temporary folder");
    QFile ini(dir.filePath(QStringLiteral("Korvane.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        die("cannot write the settings");
    ini.write("[SP]\nPort1=0\nPort2=0\nPort3=0\n");
    ini.close();
    Quiet quiet;
    Dialogs::install(&quiet);
    try {
        SpeedDb::open(dir.filePath(QStringLiteral("Korvane.db")));
        SpeedDb::checkNameColumn();
        prefill(rows);
        // The program starts on the filled file: nothing of the filling
        // stays in this process's figures.
        SpeedDb::close();
        SpeedDb::open(dir.filePath(QStringLiteral("Korvane.db")));
    } catch (const DbError& e) {
        die(e.what());
    }
    {
        TFkorvane w(dir.path());
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            die("window not shown");
        w.Timer1->setEnabled(false);
        QTest::qWait(200);
        const double rss0 = rssMb();
        std::printf("pages rows=%d: window RSS before the pages %.1f MB\n", rows, rss0);
        timed("ranking", rows, rss0, [&] { w.Var1Click(); });
        timed("ranking again", rows, rss0, [&] {
            w.N2Click();
            w.Var1Click();
        });
        timed("ranking scrolled to the end", rows, rss0, [&] { w.DBGrid1->scrollToBottom(); });
        timed("registration", rows, rss0, [&] {
            w.N6Click();
            w.Edit4->setText(w.pagePassword());
            w.Edit4KeyDown();
        });
    }
    SpeedDb::close();
    Dialogs::install(nullptr);
    return 0;
}

// n attempts, each with its two journal passings, of 1000 transponders in
// turn, one a second; transponder "rare" has three, the oldest of all.
void prefillAttempts(int n) {
    QSqlDatabase db = SpeedDb::database();
    db.transaction();
    QSqlQuery car(db), pass(db), attempt(db);
    car.prepare(QStringLiteral(
        "insert into speed (tpid,time1,time2,speed,sumi,pname) values (?,1,2,?,'1',?)"));
    pass.prepare(
        QStringLiteral("insert into passing (received_ms,loop,tpid,time,raw) values (?,?,?,?,?)"));
    attempt.prepare(QStringLiteral(
        "insert into attempt (tpid,passing1,passing2,time1,time2,dist_cm,speed,speed_text,"
        "flags,status,measured_ms) values (?,?,?,?,?,500,?,?,?,?,?)"));
    for (int i = 0; i < 1000; ++i) {
        car.addBindValue(QString::number(200000 + i));
        car.addBindValue(40.0);
        car.addBindValue(QStringLiteral("名前%1").arg(i));
        if (!car.exec())
            die("pre-fill insert failed");
    }
    const qint64 t0 = 1700000000000;
    for (int i = 0; i < n; ++i) {
        const QString tpid = i < 3 ? QStringLiteral("rare") : QString::number(200000 + i % 1000);
        const qint64 at = t0 + qint64(i) * 1000;
        const double t1 = double(i), e = 0.4 + double(i % 97) / 100.0;
        qint64 ids[2];
        for (int loop = 1; loop <= 2; ++loop) {
            pass.addBindValue(at + (loop - 1) * 500);
            pass.addBindValue(loop);
            pass.addBindValue(tpid);
            pass.addBindValue(QString::number(loop == 1 ? t1 : t1 + e, 'f', 3));
            pass.addBindValue(QByteArray("@\t1\t0\t200001\t12.345\t0\t\r\n"));
            if (!pass.exec())
                die("pre-fill insert failed");
            ids[loop - 1] = pass.lastInsertId().toLongLong();
        }
        const double v = 3600.0 / e * 500 / 100000.0;
        const bool odd = i % 50 == 0;
        for (const QVariant& value :
             {QVariant(tpid), QVariant(ids[0]), QVariant(ids[1]), QVariant(t1), QVariant(t1 + e),
              QVariant(v), QVariant(QString::number(v, 'f', 3)), QVariant(odd ? 8 : 0),
              QVariant(odd ? Journal::kSuspect : Journal::kOk), QVariant(at + 800)})
            attempt.addBindValue(value);
        if (!attempt.exec())
            die("pre-fill insert failed");
    }
    if (!db.commit())
        die("pre-fill commit failed");
}

int history(int argc, char** argv, int attempts) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        die("no temporary folder");
    QFile ini(dir.filePath(QStringLiteral("Korvane.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        die("cannot write the settings");
    ini.write("[SP]\nPort1=0\nPort2=0\nPort3=0\n");
    ini.close();
    Quiet quiet;
    Dialogs::install(&quiet);
    try {
        SpeedDb::open(dir.filePath(QStringLiteral("Korvane.db")));
        SpeedDb::checkNameColumn();
        QElapsedTimer fill;
        fill.start();
        prefillAttempts(attempts);
        std::printf("history attempts=%d: filled in %.1f s\n", attempts,
                    double(fill.elapsed()) / 1000);
        SpeedDb::close();
        SpeedDb::open(dir.filePath(QStringLiteral("Korvane.db")));
    } catch (const DbError& e) {
        die(e.what());
    }
    {
        TFkorvane w(dir.path());
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            die("window not shown");
        w.Timer1->setEnabled(false);
        QTest::qWait(200);
        const double rss0 = rssMb();
        auto* grid = w.findChild<QTableView*>(QStringLiteral("HistoryGrid"));
        auto* filter = w.findChild<QLineEdit*>(QStringLiteral("HistoryFilter"));
        const auto rows = [&] { return grid->model()->rowCount(); };
        timed("history", attempts, rss0,
              [&] { w.findChild<QAction*>(QStringLiteral("historyItem"))->trigger(); });
        timed("history scrolled 40 pages", attempts, rss0, [&] {
            for (int i = 0; i < 40; ++i) {
                grid->scrollToBottom();
                QCoreApplication::processEvents();
            }
        });
        std::printf("  rows held: %d\n", rows());
        const auto byId = [&](const char* what, const QString& id) {
            timed(what, attempts, rss0, [&] {
                filter->setText(id);
                emit filter->returnPressed();
            });
            std::printf("  rows held: %d\n", rows());
        };
        byId("history filter by a busy ID", QStringLiteral("200500"));
        byId("history filter by an ID with 3 oldest attempts", QStringLiteral("rare"));
        byId("history filter by an unknown ID", QStringLiteral("nobody"));
        byId("history filter cleared", QString());
    }
    SpeedDb::close();
    Dialogs::install(nullptr);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int attempts = intArg(argc, argv, "--history", -1);
    if (attempts >= 0)
        return history(argc, argv, attempts);
    const int rows = intArg(argc, argv, "--rows", -1);
    if (rows >= 0)
        return one(argc, argv, rows);
    QCoreApplication app(argc, argv);
    for (int n : {0, 10000, 100000, 1000000}) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--rows"), QString::number(n)});
        if (!p.waitForFinished(-1) || p.exitCode() != 0)
            die("a size run failed");
    }
    return 0;
}
