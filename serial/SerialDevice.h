#pragma once

#include <QString>

#include <memory>

// Line settings as the component keeps them between calls. Each setter edits
// one field and hands the whole record to the device again, so a field the
// device refused stays in the record until the caller corrects it.
enum TCommParityBits : unsigned char { cpbNone, cpbOdd, cpbEven };
enum TCommStopBits : unsigned char { csb1, csb1p5, csb2 };
enum TCommFlowCtrls : unsigned char {
    cfcRtsCts,
    cfcDtrDsr,
    cfcXonXoff,
    cfcHalfHigh,
    cfcHalfLow,
    cfcNone
};

struct LineSettings {
    int bitRate = 9600;
    int charSize = 8;
    TCommParityBits parity = cpbNone;
    TCommStopBits stopBits = csb1;
    TCommFlowCtrls flow = cfcNone;
    int xonLim = 0;  // receive-queue fill below which XON is sent again
    int xoffLim = 0; // free space below which XOFF is sent
    char xonChar = 17;
    char xoffChar = 19;
};

// Running totals of line events as the driver counts them; the receive worker
// reports the difference between two readings.
struct LineCounters {
    quint32 cts = 0, dsr = 0, rng = 0, dcd = 0;
    quint32 frame = 0, overrun = 0, parity = 0, brk = 0;
};

enum class IoStatus {
    Ok,     // some bytes moved (count > 0)
    Again,  // nothing can move now
    Gone,   // the device hung up or disappeared (EIO, ENXIO, end of file)
    Failed, // any other failure
};

enum class WaitStatus { Ready, Timeout, Woken, Gone, Failed };

enum class ModemLine { Rts, Dtr };

// What the serial component needs of a device. The component calls open,
// close and the configuration from the GUI thread; the workers call the I/O,
// wait and counter functions concurrently with each other and with the GUI
// thread. close() may run while a worker waits: it wakes both waits, and every
// later call fails cleanly instead of touching a reused descriptor.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    virtual bool open(const QString& path, QString* reason) = 0;
    virtual void close() = 0;
    virtual int nativeHandle() const = 0;

    virtual bool setQueueSizes(int receive, int transmit) = 0;
    virtual LineSettings currentSettings() = 0;
    virtual bool applySettings(const LineSettings& settings) = 0;
    virtual bool setTimeouts(int receiveMs, int transmitMs) = 0;

    // Non-blocking transfers.
    virtual IoStatus read(char* buffer, int size, int* count) = 0;
    virtual IoStatus write(const char* data, int size, int* count) = 0;

    // Receive worker: waits for arrived data (when watchData), a hang-up,
    // wakeReceiver() or the time-out (-1: none).
    virtual WaitStatus waitForEvent(bool watchData, int timeoutMs) = 0;
    // GUI thread inside Read: waits for data or the time-out; not wakeable.
    virtual WaitStatus waitForData(int timeoutMs) = 0;
    // Transmit worker: waits for room in the output queue, wakeTransmitter()
    // or the time-out.
    virtual WaitStatus waitWritable(int timeoutMs) = 0;
    // Transmit worker: sleeps for the time-out unless wakeTransmitter() or
    // close() ends it first; the device itself is not watched.
    virtual WaitStatus pauseTransmitter(int timeoutMs) = 0;
    virtual void wakeReceiver() = 0;
    virtual void wakeTransmitter() = 0;

    virtual int inputQueue() = 0;  // bytes waiting, -1 on failure
    virtual int outputQueue() = 0; // bytes taken by write() not yet sent, -1 on failure
    virtual void flushInput() = 0;
    virtual void flushOutput() = 0;
    virtual bool setModemLine(ModemLine line, bool on) = 0;
    // False when the driver can report neither counters nor modem lines.
    virtual bool readLineCounters(LineCounters* counters) = 0;
};

std::unique_ptr<SerialDevice> createPosixSerialDevice();
