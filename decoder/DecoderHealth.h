#pragma once

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <array>
#include <deque>
#include <optional>

// What the program knows about each decoder: whether it still talks, what it
// sent, and how far its clock is from the PC's. Nothing here reads a clock:
// every call carries two times, a monotonic one (milliseconds, for silence,
// rates and trends; it never steps) and the PC's local time of day at the
// same moment (milliseconds since midnight, what a decoder's clock is set
// from; it can step when the PC's clock is corrected).

struct HealthLimits {
    qint64 silenceMs = 10000; // an open port without a line this long is silent
    double maxOffsetMs = 5;   // between the two decoders
    int window = 16;          // passings in the offset filter
    double notSetMs = 60000;  // an offset this large means a clock never set
};

struct HealthEvent {
    enum Kind {
        Silent,      // an open port sent no complete line for silenceMs
        PortFailed,  // the port could not be opened or its device went away (reason)
        Back,        // a line arrived again after Silent or PortFailed
        ClockNotSet, // the decoder's clock is hours (or minutes) off the PC's
        ClockSet,    // its offset is small again
        PcClockStep, // the PC's time of day jumped; the offset starts anew
        OffsetOver,  // the two decoders are further apart than maxOffsetMs
        OffsetBack,  // and back within it
    };
    Kind kind;
    int loop = 0; // 1 or 2; 0 for both
    QString reason;
    bool operator==(const HealthEvent& o) const {
        return kind == o.kind && loop == o.loop && reason == o.reason;
    }
};

struct LoopFigures {
    bool open = false;
    qint64 sinceByteMs = -1; // -1: nothing yet
    qint64 sinceLineMs = -1;
    int linesPerMinute = 0; // lines in the last minute
    qint64 statusLines = 0; // field 1 holds "#"
    qint64 passings = 0;    // field 1 holds "@"
    qint64 nonPassings = 0; // every other complete line, status lines included
    qint64 discarded = 0;   // bytes dropped for want of a CR
    bool silent = false;
    bool failed = false;
    QString failure;
    bool clockNotSet = false;
    std::optional<double> offsetMs; // PC time of day minus decoder time, filtered
    std::optional<double> driftPpm; // the decoder clock's rate against the PC's
};

class DecoderHealth {
public:
    explicit DecoderHealth(HealthLimits limits = {});
    void setLimits(const HealthLimits& limits) { limits_ = limits; }
    const HealthLimits& limits() const { return limits_; }

    void portOpened(int loop, qint64 monoMs);
    void portClosed(int loop);
    void portFailed(int loop, const QString& reason);

    // One notification of a port: the bytes that came, the bytes the receive
    // buffer dropped, and the complete lines cut from them.
    void received(int loop, qint64 monoMs, qint64 todMs, qsizetype bytes, qsizetype discarded,
                  const QStringList& lines);

    // Both decoder clocks were just set: the offsets and the trend start anew.
    void clockSet(qint64 monoMs);

    // Looks for silent ports; to be called about every second.
    void check(qint64 monoMs);

    // What changed since the last call, in order.
    QList<HealthEvent> takeEvents();

    LoopFigures figures(int loop, qint64 monoMs) const;
    // Loop-2 clock minus loop-1 clock, in ms: what the measured travel time
    // of every car is off by.
    std::optional<double> interOffsetMs() const;
    // The standard deviation of the two loops' recent filtered offsets,
    // combined: how far the offset estimate wanders.
    std::optional<double> interSpreadMs() const;
    // How far the two clocks drifted apart since the last clock command, at
    // their trends' rates; nothing until both trends are known.
    std::optional<double> interDriftMs(qint64 monoMs) const;
    bool offsetOver() const { return offsetOver_; }
    // Filtered offsets of the last hour: x monotonic ms, y offset ms.
    const QList<QPointF>& history(int loop) const { return loops_[index(loop)].history; }

    static constexpr qint64 kHistoryMs = 3600 * 1000;

private:
    struct Sample {
        qint64 mono;
        double offset;
    };
    struct Loop {
        bool open = false;
        qint64 openedAt = 0;
        std::optional<qint64> lastByte, lastLine; // monotonic times may be negative
        std::deque<qint64> lineTimes;             // last minute
        qint64 statusLines = 0, passings = 0, nonPassings = 0, discarded = 0;
        bool silent = false;
        bool failed = false;
        QString failure;
        bool clockNotSet = false;
        std::deque<Sample> window; // raw offsets of the last passings
        std::optional<double> offset;
        std::deque<Sample> trend;    // raw offsets since the last clock command
        std::optional<double> slope; // ms of offset per second
        std::optional<qint64> lastMono;
        qint64 lastTod = 0;
        QList<QPointF> history;
    };

    static int index(int loop) { return loop == 2 ? 1 : 0; }
    void passing(Loop& l, int loop, qint64 monoMs, qint64 todMs, double decoderMs);
    void restart(Loop& l);
    void updateInter();
    static std::optional<double> trendSlope(const std::deque<Sample>& samples, int segment);

    HealthLimits limits_;
    std::array<Loop, 2> loops_;
    bool offsetOver_ = false;
    QList<HealthEvent> events_;
};

// The speed error, in percent, that an inter-decoder offset gives on a
// section of distCm centimetres at kmh.
double SpeedErrorPercent(double offsetMs, int distCm, double kmh);
