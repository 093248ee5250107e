// korvane-sim's cars through the real program while the clock command goes
// out every Resetint seconds: how many attempts are flagged as timed across
// a clock command, and how far the speeds of the others (and of the flagged
// ones) are from the simulator's truth.
#include "Plausibility.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cmath>
#include <csignal>
#include <cstdio>

namespace {

int usage() {
    std::fprintf(stderr, "usage: bench_clockset [--cars N] [--per-minute N] [--resetint S]\n"
                         "                      [--drift-ppm A,B] [--dist CM] [--seed N]\n"
                         "                      [--auto-resync] [--program PATH]\n");
    return 2;
}

struct Figures {
    int attempts = 0, matched = 0, flagged = 0, notMeasured = 0;
    int unflaggedOver1 = 0;                      // unflagged attempts more than 1 % off
    double worstUnflagged = 0, worstFlagged = 0; // relative error, percent
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int cars = 1000, resetint = 5, dist = 500;
    bool autoResync = false;
    double perMinute = 150;
    QString ppm = QStringLiteral("50,-50"), seed = QStringLiteral("7");
    QString program = QStringLiteral(KORVANE_BIN);
    QStringList args = app.arguments().mid(1);
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--auto-resync")) {
            autoResync = true;
            continue;
        }
        if (args.isEmpty())
            return usage();
        const QString v = args.takeFirst();
        if (a == QLatin1String("--cars"))
            cars = v.toInt();
        else if (a == QLatin1String("--per-minute"))
            perMinute = v.toDouble();
        else if (a == QLatin1String("--resetint"))
            resetint = v.toInt();
        else if (a == QLatin1String("--drift-ppm"))
            ppm = v;
        else if (a == QLatin1String("--dist"))
            dist = v.toInt();
        else if (a == QLatin1String("--seed"))
            seed = v;
        else if (a == QLatin1String("--program"))
            program = v;
        else
            return usage();
    }
    if (cars <= 0 || perMinute <= 0 || resetint <= 0 || dist <= 0)
        return usage();

    QTemporaryDir dir;
    {
        QFile ini(dir.filePath(QStringLiteral("Korvane.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            return 1;
        ini.write(QStringLiteral("[SP]\nPort1=1\nPort2=4\nPort3=5\nRate=0\nDist=%1\nWait=0\n"
                                 "Decid1=1\nDecid2=2\nTimer2=0\nResetint=%2\n")
                      .arg(dist)
                      .arg(resetint)
                      .toUtf8());
        // Commands also between the periodic ones, whenever the clocks are
        // found apart: as a page shown anew, at any moment of the second.
        if (autoResync)
            ini.write("[Checks]\nAutoResync=1\nMaxOffsetMs=1\n");
    }
    QProcess sim;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    sim.setProcessEnvironment(env);
    sim.setProcessChannelMode(QProcess::SeparateChannels);
    sim.setStandardErrorFile(QProcess::nullDevice());
    // The decoder clocks start on the PC's: only the clock commands and the
    // drift move them.
    sim.start(QStringLiteral(KORVANE_SIM_BIN), {QStringLiteral("--data-dir"),
                                                dir.path(),
                                                QStringLiteral("--cars-per-minute"),
                                                QString::number(perMinute),
                                                QStringLiteral("--seed"),
                                                seed,
                                                QStringLiteral("--clock-drift"),
                                                QStringLiteral("0"),
                                                QStringLiteral("--drift-ppm"),
                                                ppm,
                                                QStringLiteral("--status-every"),
                                                QStringLiteral("0"),
                                                QStringLiteral("--truth-every"),
                                                QStringLiteral("0"),
                                                QStringLiteral("--run"),
                                                program,
                                                QStringLiteral("--data-dir"),
                                                dir.path(),
                                                QStringLiteral("--page"),
                                                QStringLiteral("measure")});
    if (!sim.waitForStarted(5000)) {
        std::fprintf(stderr, "bench_clockset: cannot start %s\n", KORVANE_SIM_BIN);
        return 1;
    }
    // The simulator's truth: each lap's ID and loop-1 decoder time, with
    // the speed the car really had.
    static const QRegularExpression lap(
        QStringLiteral("^SIM loop 1 -> (\\S+) at ([0-9.]+) \\(([0-9.]+) km/h\\)"));
    static const QRegularExpression loop2(QStringLiteral("^SIM loop 2 -> (\\S+) at "));
    QHash<QString, double> truth;
    // A car picked again before its last lap reached loop 2 pairs the older
    // loop-2 time with the newer loop-1 time: such laps tell nothing of the
    // clocks and are left out.
    QHash<QString, QString> open; // ID -> its lap between the loops
    QSet<QString> overlapping;
    int laps = 0, commands = 0;
    QElapsedTimer t;
    t.start();
    QElapsedTimer sinceLast;
    while (sim.state() != QProcess::NotRunning) {
        sim.waitForReadyRead(200);
        while (sim.canReadLine()) {
            const QString line = QString::fromUtf8(sim.readLine()).trimmed();
            if (line.contains(QLatin1String("clock set to")) &&
                line.startsWith(QLatin1String("SIM loop-2")))
                ++commands;
            const QRegularExpressionMatch l2 = loop2.match(line);
            if (l2.hasMatch())
                open.remove(l2.captured(1));
            const QRegularExpressionMatch m = lap.match(line);
            if (!m.hasMatch() || laps >= cars)
                continue;
            ++laps;
            const QString key = m.captured(1) + QLatin1Char('@') + m.captured(2);
            if (const auto before = open.constFind(m.captured(1)); before != open.constEnd())
                overlapping << *before << key;
            open.insert(m.captured(1), key);
            truth.insert(key, m.captured(3).toDouble());
            if (laps == cars)
                sinceLast.start();
        }
        // The last car's section and measuring, then the program ends.
        if (laps >= cars && sinceLast.elapsed() > 5000 && sim.state() == QProcess::Running) {
            ::kill(pid_t(sim.processId()), SIGTERM);
            sim.waitForFinished(20000);
        }
    }

    for (const QString& key : std::as_const(overlapping))
        truth.remove(key);
    Figures f;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        db.setDatabaseName(dir.filePath(QStringLiteral("Korvane.db")));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open())
            return 1;
        QSqlQuery q(db);
        q.exec(QStringLiteral("select tpid, time1, speed, flags, status from attempt"));
        while (q.next()) {
            ++f.attempts;
            const QString key = q.value(0).toString() + QLatin1Char('@') +
                                QString::number(q.value(1).toDouble(), 'f', 3);
            const auto it = truth.constFind(key);
            if (it == truth.constEnd())
                continue;
            ++f.matched;
            const unsigned flags = q.value(3).toUInt();
            const double error = std::abs(q.value(2).toDouble() / *it - 1) * 100;
            if (q.value(4).toString() == QLatin1String("unmeasured"))
                ++f.notMeasured;
            if (flags & FlagClockSet) {
                ++f.flagged;
                f.worstFlagged = std::max(f.worstFlagged, error);
            } else if (IsMeasurement(flags)) {
                f.worstUnflagged = std::max(f.worstUnflagged, error);
                f.unflaggedOver1 += error > 1 ? 1 : 0;
            }
        }
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    std::printf("cars %d in %.0f s, clock commands %d (every %d s), drift %s ppm, section %d cm\n",
                laps, t.elapsed() / 1000.0, commands, resetint, qPrintable(ppm), dist);
    std::printf("attempts %d, matched to a lap %d (%d overlapping laps left out), flagged clock "
                "set %d, not a measurement %d\n",
                f.attempts, f.matched, int(overlapping.size()), f.flagged, f.notMeasured);
    std::printf("largest error against the truth: unflagged %.3f %%, flagged clock set %.3f %%; "
                "unflagged more than 1 %% off: %d\n",
                f.worstUnflagged, f.worstFlagged, f.unflaggedOver1);
    return 0;
}
