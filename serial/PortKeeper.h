#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QTimer;
class TCustomCommX;

// Keeps the ports the operator chose open. A port whose device could not be
// opened is tried again every retry period on a timer of the GUI thread; one
// whose device went away while open (an adapter pulled, a cable kicked) is
// found within a check period, closed and tried at once. Each try is
// one opening of the device path the port number names at that moment (a
// stable name under /dev/serial/by-id keeps working when the adapter comes
// back under another number); it fails at once while the device is missing,
// so the window never waits for a device.
class PortKeeper : public QObject {
    Q_OBJECT
public:
    static constexpr int RetryMs = 2000;
    static constexpr int CheckMs = 250;

    explicit PortKeeper(QObject* parent = nullptr, int retryMs = RetryMs);
    ~PortKeeper() override;

    // `reopened` runs after a retry opened the port (the steps that follow an
    // opening); `lost` after the port was closed because its device went away.
    void add(TCustomCommX* comm, std::function<void()> reopened, std::function<void()> lost);
    // Whether the port should be open on its current number. A port nobody
    // wants is never opened here; its failure is forgotten.
    void setWanted(TCustomCommX* comm, bool wanted);
    bool wanted(const TCustomCommX* comm) const;
    // Why a wanted port is not open, as its owner last told; empty while it
    // is open.
    QString failure(const TCustomCommX* comm) const;
    void setFailure(TCustomCommX* comm, const QString& reason);

    // Retries wait while this answers false (a port change is under way).
    std::function<bool()> mayRetry;

    // One round of checks and due retries, as the timer runs it.
    void check();

    // While the program starts, opening failures are gathered (one line per
    // key, the latest kept) to be told together once start-up is over.
    void startGathering();
    // True when the failure was gathered; false when it is to be told now.
    bool gather(const QString& key, const QString& line);
    QStringList takeGathered();

private:
    struct Port {
        TCustomCommX* comm = nullptr;
        std::function<void()> reopened;
        std::function<void()> lost;
        bool wanted = false;
        QString failure;
        qint64 nextTry = 0;
    };
    Port* find(const TCustomCommX* comm);
    const Port* find(const TCustomCommX* comm) const;

    std::vector<Port> ports_;
    QTimer* timer_;
    QElapsedTimer clock_;
    int retryMs_;
    bool busy_ = false;
    bool gathering_ = false;
    QStringList keys_;
    QStringList lines_;
};
