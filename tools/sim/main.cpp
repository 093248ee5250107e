// korvane-sim: two decoders and a display board on pseudo-terminals, so the
// program can be run and watched without hardware.
#include "Simulator.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int signo) {
    const char b = char(signo);
    const int saved = errno;
    (void)!::write(signalPipe[1], &b, 1);
    errno = saved;
}

int usage() {
    std::fprintf(stderr,
                 "usage: korvane-sim --data-dir DIR [--cars-per-minute N] [--dist CM] [--seed N]\n"
                 "                   [--clock-drift SECONDS] [--drift-ppm PPM1,PPM2] "
                 "[--status-every SECONDS]\n"
                 "                   [--truth-every SECONDS] [--capture FILE] [--double-read N]\n"
                 "                   [--loop2-first N] [--two-way] [--run PROGRAM [ARGS...]]\n"
                 "SIGUSR1 / SIGUSR2 make decoder 1 / 2 fall silent, and talk again.\n");
    return 2;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);

    SimOptions options;
    options.seed = quint32(QDateTime::currentMSecsSinceEpoch());
    QStringList run;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--two-way")) {
            options.twoWay = true;
            continue;
        }
        if (a == QLatin1String("--run")) {
            run = args;
            args.clear();
            break;
        }
        if (args.isEmpty())
            return usage();
        const QString v = args.takeFirst();
        bool ok = true;
        if (a == QLatin1String("--data-dir"))
            options.dataDir = v;
        else if (a == QLatin1String("--cars-per-minute"))
            options.carsPerMinute = v.toDouble(&ok);
        else if (a == QLatin1String("--dist"))
            options.dist = v.toInt(&ok);
        else if (a == QLatin1String("--seed"))
            options.seed = v.toUInt(&ok);
        else if (a == QLatin1String("--clock-drift"))
            options.clockDrift = v.toDouble(&ok);
        else if (a == QLatin1String("--drift-ppm")) {
            const QStringList two = v.split(QLatin1Char(','));
            bool ok2 = two.size() == 2;
            if (ok2) {
                options.ppm[0] = two.at(0).toDouble(&ok);
                options.ppm[1] = two.at(1).toDouble(&ok2);
            }
            ok = ok && ok2;
        } else if (a == QLatin1String("--status-every"))
            options.statusEvery = v.toDouble(&ok);
        else if (a == QLatin1String("--truth-every"))
            options.truthEvery = v.toDouble(&ok);
        else if (a == QLatin1String("--capture"))
            options.capturePath = v;
        else if (a == QLatin1String("--double-read"))
            options.doubleReadEvery = v.toInt(&ok);
        else if (a == QLatin1String("--loop2-first"))
            options.loop2FirstEvery = v.toInt(&ok);
        else
            return usage();
        if (!ok)
            return usage();
    }
    if (options.dataDir.isEmpty() ||
        (run.isEmpty() && app.arguments().contains(QLatin1String("--run"))))
        return usage();

    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGUSR1, &sa, nullptr);
    sigaction(SIGUSR2, &sa, nullptr);

    Simulator sim(options);
    QString error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "korvane-sim: %s\n", qPrintable(error));
        return 1;
    }

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setInputChannelMode(QProcess::ForwardedInputChannel);
    int stopSignal = 0;

    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char b = 0;
        bool stop = false;
        while (::read(signalPipe[0], &b, 1) == 1) {
            if (b == SIGUSR1 || b == SIGUSR2) {
                sim.toggleSilent(b == SIGUSR1 ? 1 : 2);
            } else {
                stopSignal = b;
                stop = true;
            }
        }
        if (!stop)
            return;
        if (child.state() != QProcess::NotRunning) {
            // The program decides when it is done; we go when it has gone.
            std::printf("SIM passing signal %d to the program\n", stopSignal);
            std::fflush(stdout);
            ::kill(pid_t(child.processId()), stopSignal);
        } else {
            app.exit(128 + stopSignal);
        }
    });

    if (!run.isEmpty()) {
        QObject::connect(
            &child, &QProcess::finished, &app, [&](int code, QProcess::ExitStatus status) {
                std::printf("SIM program ended (%s %d)\n",
                            status == QProcess::NormalExit ? "status" : "signal", code);
                std::fflush(stdout);
                app.exit(status == QProcess::NormalExit ? code : 128 + code);
            });
        QObject::connect(&child, &QProcess::errorOccurred, &app, [&](QProcess::ProcessError e) {
            if (e == QProcess::FailedToStart) {
                std::fprintf(stderr, "korvane-sim: cannot start %s\n", qPrintable(run.first()));
                app.exit(127);
            }
        });
        child.start(run.first(), run.mid(1));
    }
    int rc = app.exec();
    if (child.state() != QProcess::NotRunning) {
        child.terminate();
        child.waitForFinished(5000);
    }
    if (!sim.finish(&error)) {
        std::fprintf(stderr, "korvane-sim: %s\n", qPrintable(error));
        if (rc == 0)
            rc = 1;
    }
    return rc;
}
