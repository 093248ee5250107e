// Pages at scale: time to show the ranking page and the registration list
// on a table of N transponders, and the program's resident memory after each
// showing, in the real main window (offscreen).
//
//   bench_pages                 runs itself for 0, 10^4, 10^5 and 10^6 rows
//   bench_pages --rows N        one table size
// Each size runs in its own process, so its memory figure is its own; the
// row of 0 is the empty-table figure the others are compared with.
#include "Ukorvane.h"

#include "Database.h"
#include "Framework.h"

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

namespace {

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "bench: %s\n", what);
    std::exit(1);
}

double rssMb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
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

int intArg(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], name))
            return std::atoi(argv[i + 1]);
    return fallback;
}

} // namespace

int main(int argc, char** argv) {
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
