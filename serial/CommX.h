#pragma once

#include "Error.h"
#include "SerialDevice.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// Configuration and opening failures of the serial component.
class ECommError : public Error {
public:
    using Error::Error;
};

struct CommSession;

// One serial port. All calls come from the GUI thread; a transmit and a
// receive worker per opening report back through posted events, and handlers
// run on the GUI thread. An exception thrown by a handler leaves through the
// event dispatch to QCoreApplication::notify.
class TCustomCommX : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TCustomCommX)

public:
    using DeviceFactory = std::function<std::unique_ptr<SerialDevice>()>;

    // Notification codes, kept as the event types the workers post.
    enum : int {
        WM_COMM_TRANS = 1280,
        WM_COMM_RECEIVE = 1281,
        WM_COMM_SIGNAL = 1282,
        WM_COMM_ERROR = 1283,
    };
    // Event mask bits of a line-event wake-up.
    enum : int {
        EV_RXCHAR = 1,
        EV_CTS = 8,
        EV_DSR = 16,
        EV_RLSD = 32,
        EV_BREAK = 64,
        EV_ERR = 128,
        EV_RING = 256,
    };
    // ErrorState bits.
    enum : int { CE_OVERRUN = 2, CE_RXPARITY = 4, CE_FRAME = 8 };
    static constexpr quint32 ClosedHandle = 0xFFFFFFFFu;
    static constexpr int MaxPendingBlocks = 32;

    explicit TCustomCommX(QObject* owner = nullptr, DeviceFactory factory = {});
    ~TCustomCommX() override;

    int PortNo() const { return m_portNo; }
    void setPortNo(int value);
    int BitRate() const { return m_bitRate; }
    void setBitRate(int value);
    int CharSize() const { return m_charSize; }
    void setCharSize(int value);
    TCommParityBits ParityBit() const { return m_parityBit; }
    void setParityBit(TCommParityBits value);
    TCommStopBits StopBit() const { return m_stopBit; }
    void setStopBit(TCommStopBits value);
    TCommFlowCtrls FlowCtrl() const { return m_flowCtrl; }
    void setFlowCtrl(TCommFlowCtrls value);
    int TimeOutTrans() const { return m_timeOutTrans; }
    void setTimeOutTrans(int value);
    int TimeOutReceive() const { return m_timeOutReceive; }
    void setTimeOutReceive(int value);
    int BufLenTrans() const { return m_bufLenTrans; }
    void setBufLenTrans(int value);
    int BufLenReceive() const { return m_bufLenReceive; }
    void setBufLenReceive(int value);
    quint32 Handle() const { return m_handle; }

    void Open();
    void Close();
    bool SendString(const QByteArray& text);
    virtual bool Write(const char* data, int size);
    virtual int Read(char* buffer, int size);
    int ReadChar();
    int ReceiveCount();
    void PurgeTrans();
    void PurgeReceive();
    void SetRTS(bool state);
    void SetDTR(bool state);

    bool isOpen() const { return m_handle != ClosedHandle; }
    // Why the last Open could not open the device (system error text), and
    // the device path it tried; for the caller's own message.
    QString lastOpenError() const { return m_lastOpenError; }
    QString devicePath() const { return m_devicePath; }
    // True once the open device has disappeared (unplugged adapter); writes
    // then answer false until the port is closed.
    bool deviceLost() const;

    std::function<void(TCustomCommX* Sender, int TransSize)> OnTrans;
    std::function<void(TCustomCommX* Sender, int ReceiveSize)> OnReceive;
    std::function<void(TCustomCommX* Sender, int EventMask)> OnSignal;
    std::function<void(TCustomCommX* Sender)> OnBreak;
    std::function<void(TCustomCommX* Sender, int ErrorState)> OnError;

    // Port number -> device path. Default: "/dev/ttyS<n-1>".
    static void setDeviceResolver(std::function<QString(int portNo)> resolver);
    static QString resolveDevice(int portNo);
    // Workers still running, across all components (they linger about a
    // second after Close).
    static int liveWorkers();

protected:
    bool event(QEvent* e) override;

private:
    void applyLine(const char* message);
    void applyTimeouts();
    void applyQueueSizes();
    void startWorkers();
    void reportErrors();
    void dropReadAhead();

    DeviceFactory m_factory;
    std::shared_ptr<CommSession> m_session;
    LineSettings m_dcb;
    quint32 m_handle = ClosedHandle;
    int m_portNo = 1;
    int m_bitRate = 9600;
    int m_charSize = 8;
    TCommParityBits m_parityBit = cpbNone;
    TCommStopBits m_stopBit = csb1;
    TCommFlowCtrls m_flowCtrl = cfcRtsCts;
    int m_timeOutTrans = 3000;
    int m_timeOutReceive = 3000;
    int m_bufLenTrans = 2048;
    int m_bufLenReceive = 2048;
    QByteArray m_rxBuf; // bytes taken from the driver ahead of Read
    qsizetype m_rxAt = 0;
    QString m_lastOpenError;
    QString m_devicePath;
};

class TCommX : public TCustomCommX {
    Q_OBJECT
public:
    using TCustomCommX::TCustomCommX;
};
