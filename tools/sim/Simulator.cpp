#include "Simulator.h"

#include "Checks.h"
#include "DataDir.h"
#include "IniFile.h"
#include "Settings.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTime>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
bool outputLost = false;

// Output that survives a crash of the program under test: line by line. A
// log that cannot be written (a full disk under a redirection) is told on
// standard error once and in the exit status.
void say(const QString& text) {
    if (std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData()) < 0 ||
        std::fflush(stdout) != 0) {
        if (!outputLost)
            std::fprintf(stderr, "korvane-sim: cannot write the log: %s\n", std::strerror(errno));
        outputLost = true;
        std::clearerr(stdout);
    }
}

const char* const kPortName[] = {"loop-1 decoder", "loop-2 decoder", "board"};
constexpr qsizetype kOutgoingLimit = 4096;
} // namespace

Simulator::Simulator(SimOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)), cars_(options_.seed) {
    // Each decoder starts a little off the PC clock, as real ones drift.
    const double drift = qMax(0.0, options_.clockDrift);
    clocks_[0] = DecoderClock(cars_.uniform(-drift, drift), options_.ppm[0]);
    clocks_[1] = DecoderClock(cars_.uniform(-drift, drift), options_.ppm[1]);
    mono_.start();
}

Simulator::~Simulator() = default;

bool Simulator::finish(QString* error) {
    if (!capture_.failure().isEmpty()) {
        *error = QStringLiteral("the capture is incomplete: %1").arg(capture_.failure());
        return false;
    }
    if (!capture_.finish(error))
        return false;
    if (outputLost || std::fflush(stdout) != 0) {
        *error = QStringLiteral("the log is incomplete");
        return false;
    }
    return true;
}

bool Simulator::start(QString* error) {
    if (!ensureDataDir(options_.dataDir)) {
        *error = QStringLiteral("cannot create %1").arg(options_.dataDir);
        return false;
    }
    const QString ini = iniPathIn(options_.dataDir);
    const Settings settings = LoadSettings(ini);
    portNo_ = {settings.Port1, settings.Port2, settings.Port3};
    dist_ = options_.dist > 0 ? options_.dist : settings.Dist;

    if (!options_.capturePath.isEmpty()) {
        if (!capture_.open(options_.capturePath, error))
            return false;
        // What the program measures with, so that a replay measures alike.
        const SuspectChecks checks = LoadSuspectChecks(ini);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const QPair<const char*, int> values[] = {
            {"Dist", settings.Dist},
            {"Wait", settings.Wait},
            {"MinKmh", checks.MinKmh},
            {"MaxKmh", checks.MaxKmh},
            {"DoubleReadMs", checks.DoubleReadMs},
            {"MaxSectionS", checks.MaxSectionS},
            {"HoldSuspect", checks.HoldSuspect},
        };
        for (const auto& [key, value] : values)
            if (!capture_.setting(now, QLatin1String(key), value)) {
                *error = capture_.failure();
                return false;
            }
        say(QStringLiteral("SIM recording the decoders' bytes into %1").arg(options_.capturePath));
    }

    IniFile file(ini);
    file.load();
    for (int p = 0; p < PortCount; ++p) {
        Device& d = devices_[p];
        if (!d.pty.open(error))
            return false;
        d.splitter = std::make_unique<LineSplitter>(p == Board ? '\r' : '\n');
        d.readable = new QSocketNotifier(d.pty.masterFd(), QSocketNotifier::Read, this);
        connect(d.readable, &QSocketNotifier::activated, this, [this, p] { onReadable(Port(p)); });
        d.writable = new QSocketNotifier(d.pty.masterFd(), QSocketNotifier::Write, this);
        d.writable->setEnabled(false);
        connect(d.writable, &QSocketNotifier::activated, this, [this, p] { onWritable(Port(p)); });

        if (portNo_[p] <= 0) {
            say(QStringLiteral("SIM %1 on %2 (no port chosen in the settings, not published)")
                    .arg(QLatin1String(kPortName[p]), d.pty.slavePath()));
            continue;
        }
        file.setValue(QStringLiteral("Devices"), QStringLiteral("COM%1").arg(portNo_[p]),
                      d.pty.slavePath());
        say(QStringLiteral("SIM %1 COM%2 -> %3")
                .arg(QLatin1String(kPortName[p]))
                .arg(portNo_[p])
                .arg(d.pty.slavePath()));
    }
    if (portNo_[Loop1] > 0 &&
        (portNo_[Loop1] == portNo_[Loop2] || portNo_[Loop1] == portNo_[Board]))
        say(QStringLiteral("SIM note: ports share a number; the last device wins"));
    if (!file.save()) {
        *error = QStringLiteral("cannot write %1").arg(ini);
        return false;
    }
    say(QStringLiteral("SIM section %1 cm, %2 cars, about %3 per minute, clock offsets %4 s / %5 s")
            .arg(dist_)
            .arg(cars_.cars().size())
            .arg(options_.carsPerMinute)
            .arg(clocks_[0].offset(), 0, 'f', 3)
            .arg(clocks_[1].offset(), 0, 'f', 3));
    say(QStringLiteral("SIM clock rates %1 ppm / %2 ppm; SIGUSR1, SIGUSR2 silence loop 1, loop 2 "
                       "(again: talk)")
            .arg(options_.ppm[0], 0, 'f', 1)
            .arg(options_.ppm[1], 0, 'f', 1));
    scheduleNextCar();
    if (options_.statusEvery > 0) {
        auto* status = new QTimer(this);
        connect(status, &QTimer::timeout, this, &Simulator::sendStatus);
        status->start(int(options_.statusEvery * 1000));
    }
    if (options_.truthEvery > 0) {
        auto* truth = new QTimer(this);
        connect(truth, &QTimer::timeout, this, &Simulator::printTruth);
        truth->start(int(options_.truthEvery * 1000));
    }
    printTruth();
    return true;
}

void Simulator::toggleSilent(int loop) {
    bool& s = silent_[loop == 2 ? 1 : 0];
    s = !s;
    say(QStringLiteral("SIM loop %1 %2")
            .arg(loop)
            .arg(s ? QStringLiteral("silent") : QStringLiteral("talking again")));
}

void Simulator::sendStatus() {
    const double t = localSeconds(), m = monoSeconds();
    for (int i = 0; i < 2; ++i)
        if (!silent_[i])
            send(Port(i), StatusLine(i + 1, clocks_[i].read(t, m)));
}

// What the status page should show: each offset as the program computes it
// (PC minus decoder) and their difference.
void Simulator::printTruth() {
    const double m = monoSeconds();
    const double pc1 = -clocks_[0].offsetAt(m) * 1000, pc2 = -clocks_[1].offsetAt(m) * 1000;
    say(QStringLiteral(
            "SIM truth: PC - decoder %1 ms / %2 ms, loop 2 - loop 1 %3 ms, drift %4 / %5 ppm")
            .arg(pc1, 0, 'f', 3)
            .arg(pc2, 0, 'f', 3)
            .arg(pc1 - pc2, 0, 'f', 3)
            .arg(clocks_[0].ppm(), 0, 'f', 1)
            .arg(clocks_[1].ppm(), 0, 'f', 1));
}

double Simulator::localSeconds() {
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

void Simulator::onReadable(Port p) {
    Device& d = devices_[p];
    QByteArray bytes;
    if (d.pty.read(bytes) == Pty::Io::Failed) {
        say(QStringLiteral("SIM %1: read failed, no longer listening")
                .arg(QLatin1String(kPortName[p])));
        d.readable->setEnabled(false);
        return;
    }
    for (const QByteArray& line : d.splitter->feed(bytes)) {
        if (p == Board) {
            say(RenderBoardLine(line));
            continue;
        }
        const QString shown = QString::fromLatin1(line).remove(QLatin1Char('\x01'));
        const std::optional<DecoderRequest> r = ParseDecoderCommand(line);
        if (!r) {
            say(QStringLiteral("SIM %1 <- [%2] (not understood)")
                    .arg(QLatin1String(kPortName[p]), shown));
        } else if (r->kind == DecoderRequest::Clock) {
            clocks_[p].set(r->seconds, localSeconds(), monoSeconds());
            say(QStringLiteral("SIM %1 <- %2 clock set to %3 s")
                    .arg(QLatin1String(kPortName[p]), shown)
                    .arg(r->seconds));
            printTruth();
        } else {
            say(QStringLiteral("SIM %1 <- %2 protocol command")
                    .arg(QLatin1String(kPortName[p]), shown));
        }
    }
}

void Simulator::send(Port p, const QByteArray& bytes) {
    Device& d = devices_[p];
    if (d.outgoing.size() + bytes.size() > kOutgoingLimit) {
        say(QStringLiteral("SIM %1: queue full (program not reading), line dropped")
                .arg(QLatin1String(kPortName[p])));
        return;
    }
    d.outgoing += bytes;
    if (p != Board && capture_.isOpen() &&
        !capture_.chunk(QDateTime::currentMSecsSinceEpoch(), p + 1, bytes)) {
        say(QStringLiteral("SIM capture cannot be written (%1), no longer recording")
                .arg(capture_.failure()));
        capture_.close();
    }
    onWritable(p);
}

void Simulator::onWritable(Port p) {
    Device& d = devices_[p];
    qsizetype written = 0;
    const Pty::Io io = d.pty.write(d.outgoing, written);
    d.outgoing.remove(0, written);
    if (io == Pty::Io::Failed) {
        say(QStringLiteral("SIM %1: write failed, %2 bytes dropped")
                .arg(QLatin1String(kPortName[p]))
                .arg(d.outgoing.size()));
        d.outgoing.clear();
    }
    d.writable->setEnabled(!d.outgoing.isEmpty());
}

void Simulator::scheduleNextCar() {
    const int ms = int(cars_.nextGapSeconds(options_.carsPerMinute) * 1000);
    QTimer::singleShot(ms, this, [this] {
        carCrossesLoop1();
        scheduleNextCar();
    });
}

void Simulator::carCrossesLoop1() {
    ++laps_;
    if (options_.loop2FirstEvery > 0 && laps_ % options_.loop2FirstEvery == 0)
        carFirstSeenOnLoop2();
    const bool readTwice = options_.doubleReadEvery > 0 && laps_ % options_.doubleReadEvery == 0;
    // A car cannot start a lap while it is still driving back.
    const auto [tpid, kmh] = cars_.nextLap(away_);
    if (tpid.isEmpty())
        return;
    const double t1 = localSeconds();
    const double travel = TravelSeconds(dist_, kmh);
    const double m1 = monoSeconds();
    const double clock1 = clocks_[0].read(t1, m1);
    if (!silent_[0])
        send(Loop1, PassingLine(1, tpid, clock1));
    say(QStringLiteral("SIM loop 1 -> %1 at %2 (%3 km/h)%4")
            .arg(QString::fromLatin1(tpid))
            .arg(clock1, 0, 'f', 3)
            .arg(kmh, 0, 'f', 3)
            .arg(silent_[0] ? QStringLiteral(" not sent: silent") : QString()));

    // The loop-2 decoder stamps the moment of crossing, whenever the line
    // actually leaves.
    const QByteArray id = tpid;
    if (options_.twoWay) {
        // Turned round behind loop 2, back a few seconds later at about the
        // same speed.
        const double back = kmh * cars_.uniform(0.97, 1.03);
        const int turnMs = int((travel + cars_.uniform(2, 4)) * 1000);
        away_.insert(id);
        QTimer::singleShot(turnMs, this, [this, id, back] { carReturns(id, back); });
    }
    QTimer::singleShot(int(travel * 1000), this, [this, id, t1, m1, travel, clock1, readTwice] {
        const double clock2 = clocks_[1].read(t1 + travel, m1 + travel);
        if (silent_[1])
            return;
        send(Loop2, PassingLine(2, id, clock2));
        const double e = clock2 - clock1;
        const QString expect = e > 0 ? QStringLiteral("%1 km/h by the decoder clocks")
                                           .arg(3600.0 / e * dist_ / 100000.0, 0, 'f', 3)
                                     : QStringLiteral("no speed: loop-2 clock not after loop 1");
        say(QStringLiteral("SIM loop 2 -> %1 at %2 (%3)")
                .arg(QString::fromLatin1(id))
                .arg(clock2, 0, 'f', 3)
                .arg(expect));
        if (!readTwice)
            return;
        // The loop reads the transponder once more a moment later.
        const int againMs = 120;
        QTimer::singleShot(againMs, this, [this, id, t1, m1, travel] {
            const double at = travel + againMs / 1000.0;
            const double clock = clocks_[1].read(t1 + at, m1 + at);
            if (silent_[1])
                return;
            send(Loop2, PassingLine(2, id, clock));
            say(QStringLiteral("SIM loop 2 -> %1 at %2 (double read)")
                    .arg(QString::fromLatin1(id))
                    .arg(clock, 0, 'f', 3));
        });
    });
}

// The reverse run: loop 2 first, loop 1 after the travel time.
void Simulator::carReturns(const QByteArray& id, double kmh) {
    const double t2 = localSeconds();
    const double m2 = monoSeconds();
    const double travel = TravelSeconds(dist_, kmh);
    const double clock2 = clocks_[1].read(t2, m2);
    if (!silent_[1])
        send(Loop2, PassingLine(2, id, clock2));
    say(QStringLiteral("SIM loop 2 -> %1 at %2 (%3 km/h, returning)")
            .arg(QString::fromLatin1(id))
            .arg(clock2, 0, 'f', 3)
            .arg(kmh, 0, 'f', 3));
    QTimer::singleShot(int(travel * 1000), this, [this, id, t2, m2, travel] {
        away_.remove(id);
        const double clock1 = clocks_[0].read(t2 + travel, m2 + travel);
        if (silent_[0])
            return;
        send(Loop1, PassingLine(1, id, clock1));
        say(QStringLiteral("SIM loop 1 -> %1 at %2 (returned)")
                .arg(QString::fromLatin1(id))
                .arg(clock1, 0, 'f', 3));
    });
}

// A transponder the loop-1 decoder missed: its first passing is on loop 2.
void Simulator::carFirstSeenOnLoop2() {
    const QByteArray id = QByteArray::number(99000000 + ++newcomers_);
    const double clock = clocks_[1].read(localSeconds(), monoSeconds());
    if (silent_[1])
        return;
    send(Loop2, PassingLine(2, id, clock));
    say(QStringLiteral("SIM loop 2 -> %1 at %2 (first seen on loop 2: no loop-1 passing)")
            .arg(QString::fromLatin1(id))
            .arg(clock, 0, 'f', 3));
}
