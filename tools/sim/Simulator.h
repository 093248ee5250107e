#pragma once

#include "Capture.h"
#include "Pty.h"
#include "SimProtocol.h"

#include <QElapsedTimer>
#include <QObject>

#include <array>
#include <memory>

class QSocketNotifier;

struct SimOptions {
    QString dataDir;
    double carsPerMinute = 12;
    int dist = 0; // 0: Dist from the settings file
    quint32 seed = 0;
    double clockDrift = 0.25;  // largest start offset of a decoder clock, seconds
    double ppm[2] = {20, -15}; // each decoder clock's rate against the PC's
    double statusEvery = 5;    // seconds between status lines; 0: none
    double truthEvery = 60;    // seconds between prints of the clocks' truth; 0: none
    QString capturePath;       // where the decoders' bytes are recorded; empty: nowhere
    int doubleReadEvery = 0;   // every Nth lap is read twice on loop 2; 0: never
    int loop2FirstEvery = 0;   // after every Nth lap a new car is first seen on loop 2; 0: never
    bool twoWay = false;       // each car turns after loop 2 and drives back over the section
};

// Two decoders and a board on pseudo-terminals, with cars crossing the loops.
class Simulator : public QObject {
    Q_OBJECT
public:
    explicit Simulator(SimOptions options, QObject* parent = nullptr);
    ~Simulator() override;

    // Makes the three devices and publishes them in the settings file.
    bool start(QString* error);

    // A decoder falls silent (sends nothing at all), or talks again.
    void toggleSilent(int loop);

    // At the end: the capture synced and closed. False (with the reason)
    // when the capture or the log did not all reach the disk.
    bool finish(QString* error);

private:
    enum Port { Loop1, Loop2, Board, PortCount };
    struct Device {
        Pty pty;
        QSocketNotifier* readable = nullptr;
        QSocketNotifier* writable = nullptr;
        QByteArray outgoing; // waiting for room in the master
        std::unique_ptr<LineSplitter> splitter;
    };

    void onReadable(Port p);
    void onWritable(Port p);
    void send(Port p, const QByteArray& bytes);
    void scheduleNextCar();
    void carCrossesLoop1();
    void carFirstSeenOnLoop2();
    void carReturns(const QByteArray& id, double kmh);
    static double localSeconds();
    double monoSeconds() const { return double(mono_.elapsed()) / 1000; }
    void sendStatus();
    void printTruth();

    SimOptions options_;
    int dist_ = 10;
    std::array<Device, PortCount> devices_;
    std::array<DecoderClock, 2> clocks_;
    std::array<int, PortCount> portNo_{};
    CarField cars_;
    QElapsedTimer mono_;
    std::array<bool, 2> silent_{};
    capture::Writer capture_;
    int laps_ = 0;
    int newcomers_ = 0;     // cars first seen on loop 2 so far
    QSet<QByteArray> away_; // two-way: cars not yet back over loop 1
};
