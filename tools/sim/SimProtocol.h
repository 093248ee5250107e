#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QRandomGenerator>
#include <QSet>
#include <QString>

#include <optional>

// The pure parts of the simulator: what a decoder sends and understands,
// how the board's lines read, and the cars on the track.

inline constexpr double kSecondsPerDay = 86400.0;

// A passing as a decoder reports it: "@", loop, 0, ID, clock with three
// decimals, 0, each followed by TAB, then CR LF.
QByteArray PassingLine(int loop, const QByteArray& tpid, double clockSeconds);

struct DecoderRequest {
    enum Kind { Clock, Protocol };
    Kind kind = Clock;
    int decid = 0;
    int seconds = 0; // Clock only
};

// One command line as the program sends it, without its CR LF; the leading
// 0x01 is optional. Anything else gives nothing.
std::optional<DecoderRequest> ParseDecoderCommand(QByteArray line);

// Cuts a byte stream into lines at a terminator byte (LF for the decoders,
// CR for the board), dropping a CR before an LF. A line that grows past the
// limit without its terminator is dropped, so a stuck sender cannot make
// the simulator grow.
class LineSplitter {
public:
    explicit LineSplitter(char terminator, qsizetype limit = 4096)
        : end_(terminator), limit_(limit) {}
    QByteArrayList feed(const QByteArray& bytes);
    qsizetype droppedBytes() const { return dropped_; }

private:
    char end_;
    qsizetype limit_;
    QByteArray pending_;
    qsizetype dropped_ = 0;
};

// A board line (without its CR) as the terminal shows it: the speed of a
// speed line ("BOARD  123.456 km/h"), any other line as it stands in
// brackets.
QString RenderBoardLine(const QByteArray& line);

// Seconds a car at kmh needs for a section of distCm centimetres.
double TravelSeconds(int distCm, double kmh);

// A status line as a decoder sends it every few seconds: "#", loop, 0,
// clock with three decimals, each followed by TAB, then CR LF.
QByteArray StatusLine(int loop, double clockSeconds);

// A decoder clock: local seconds since midnight plus its own offset, which
// the clock command resets, and a rate of its own (ppm fast against the PC)
// counted on a clock that never steps (monoSeconds) from the last setting.
class DecoderClock {
public:
    explicit DecoderClock(double offset = 0, double ppm = 0) : offset_(offset), ppm_(ppm) {}
    double read(double localSeconds, double monoSeconds = 0) const;
    void set(int S, double localSeconds, double monoSeconds = 0) {
        offset_ = S - localSeconds;
        setAt_ = monoSeconds;
    }
    double offset() const { return offset_; }
    // Decoder minus PC at monoSeconds, drift included.
    double offsetAt(double monoSeconds) const {
        return offset_ + (monoSeconds - setAt_) * ppm_ / 1e6;
    }
    double ppm() const { return ppm_; }

private:
    double offset_;
    double ppm_;
    double setAt_ = 0;
};

struct Car {
    QByteArray tpid;
    double skillKmh = 0; // typical speed, grows a little with each lap
};

// A small field of cars with distinct 4-7 digit IDs, reused lap after lap.
class CarField {
public:
    static constexpr double kMinKmh = 10;
    static constexpr double kMaxKmh = 120;

    explicit CarField(quint32 seed);
    const QList<Car>& cars() const { return cars_; }

    // The next car to cross and its speed for this lap, one of those not
    // `away` (still on the section the other way); an empty ID when every car is.
    std::pair<QByteArray, double> nextLap(const QSet<QByteArray>& away = {});

    // Seconds until the next car, around 60 / carsPerMinute.
    double nextGapSeconds(double carsPerMinute);

    double uniform(double lo, double hi) { return lo + rng_.generateDouble() * (hi - lo); }

private:
    QRandomGenerator rng_;
    QList<Car> cars_;
};
