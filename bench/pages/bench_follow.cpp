// The history page following the event, in the real main window (offscreen,
// in the benchmark's own process): N attempts written to the journal and
// told to the window at R a second, as measuring does, once with the
// history shown and once with the start page; the process's CPU over each
// run (writing the attempts included, so the difference is the page's), and
// how long after the last attempt the newest row was on top.
//
//   bench_follow [--attempts N] [--rate R] [--rows M]   (defaults 500, 20, 10000)
#include "BenchCommon.h"
#include "Framework.h"
#include "Host.h"
#include "Ukorvane.h"

#include "Database.h"
#include "History.h"
#include "Journal.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

using namespace bench;

namespace {

struct Quiet : Dialogs {
    void message(const QString&, const QString&) override {}
    bool yesNo(const QString&, const QString&) override { return false; }
    void error(const QString& text) override {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
};

qint64 record(int i) {
    // One in ten suspect, as a double read would be.
    return Journal::recordAttempt(
        {QString::number(100000 + i % 20), 0, 0, 0, 0.5, 500, 36,
         QString::number(30 + i % 50) + QStringLiteral(".123"), i % 10 == 9 ? 4u : 0u,
         i % 10 == 9 ? Journal::kSuspect : Journal::kOk, QDateTime::currentMSecsSinceEpoch()});
}

void runOn(const char* page, int attempts, int rate, int rows) {
    QTemporaryDir dir;
    if (!dir.isValid())
        die("no temporary folder");
    QFile ini(dir.filePath(QStringLiteral("Korvane.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        die("cannot write the settings");
    ini.write("[SP]\nPort1=0\nPort2=0\nPort3=0\n");
    ini.close();
    try {
        SpeedDb::open(dir.filePath(QStringLiteral("Korvane.db")));
        SpeedDb::checkNameColumn();
        Batch b;
        for (int i = 0; i < rows; ++i)
            record(i);
        b.commit();
    } catch (const DbError& e) {
        die(e.what());
    }
    {
        TFkorvane w(dir.path());
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            die("window not shown");
        w.Timer1->setEnabled(false);
        const bool history = !std::strcmp(page, "history");
        if (history)
            w.findChild<QAction*>(QStringLiteral("historyItem"))->trigger();
        else
            w.N1Click();
        QTest::qWait(500);
        auto* grid = w.findChild<QTableView*>(QStringLiteral("HistoryGrid"));
        int sent = 0;
        QString last;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1000 / rate);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const int i = rows + sent;
            record(i);
            last = QString::number(30 + i % 50) + QStringLiteral(".123");
            emit w.host().attemptMeasured(MeasuredAttempt{});
            if (++sent == attempts)
                tick.stop();
        });
        const double c0 = cpuMs();
        QElapsedTimer wall;
        wall.start();
        tick.start();
        while (sent < attempts)
            QTest::qWait(20);
        QElapsedTimer after;
        after.start();
        double onTopMs = -1;
        while (after.elapsed() < 1000) {
            QTest::qWait(5);
            if (onTopMs < 0 && history &&
                grid->model()->index(0, HistoryModel::ColSpeed).data().toString() == last)
                onTopMs = double(after.nsecsElapsed()) / 1e6;
        }
        const double cpu = cpuMs() - c0;
        const double s = double(wall.nsecsElapsed()) / 1e9;
        std::printf("follow %d attempts at %d/s on %d, page %s: CPU %.2f s over %.1f s -> %.1f%% "
                    "of one core",
                    attempts, rate, rows, page, cpu / 1000, s, 100.0 * cpu / 1000 / s);
        if (history)
            std::printf("; newest on top %.0f ms after the last (goal < 1000)", onTopMs);
        std::printf("\n");
        std::fflush(stdout);
    }
    SpeedDb::close();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Quiet quiet;
    Dialogs::install(&quiet);
    const int attempts = intArg(argc, argv, "--attempts", 500);
    const int rate = intArg(argc, argv, "--rate", 20);
    const int rows = intArg(argc, argv, "--rows", 10000);
    for (const char* page : {"history", "start"})
        runOn(page, attempts, rate, rows);
    return 0;
}
