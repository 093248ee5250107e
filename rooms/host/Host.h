#pragma once

// What a room sees of the station. A room is a capability beyond the
// window's own pages (the decoder watch, the history, the live page, the
// event link, the capture...): a class of its own that owns its widgets and
// state and talks to the rest of the program only through this interface.
//
// - The road of a passing tells it what happens, as the signals below.
// - It may add a page with its menu item (after the window's own items), a
//   strip along the window's bottom edge and a view beside the ranking grid.
// - It writes to the event log and asks the window for the few things the
//   window alone can do (the clock command, a file name).
// - What one room has to say to another goes on the bulletin (status lines,
//   the loops' state, the combined ranking): no room includes another's
//   header.
//
// The window implements the interface (app/WindowHost.cpp); tests may put a
// host of their own in its place.

#include "Checks.h"
#include "Settings.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

// One attempt as measuring wrote it (or, when the database did not take it,
// left it waiting with the passings: id 0).
struct MeasuredAttempt {
    qint64 id = 0;
    QString tpid;
    double speed = 0;
    QString speedText;
    unsigned flags = 0;
    QString status;
    qint64 measuredMs = 0; // PC time, UTC milliseconds
    bool shown = false;    // reached the screen and the board
    bool newBest = false;
};

// A port as the window holds it: 1 and 2 are the decoders, 3 the board.
struct PortState {
    int number = 0;     // the settings' port number; 0: none chosen
    QString devicePath; // the device it stands for
    bool open = false;
    bool lost = false; // open, but its device went away
    QString failure;   // why it is not open although one is chosen
};

// A line on the status page from a room other than the one that shows it.
struct StatusLine {
    QString text;
    QString toolTip;
    // Shown beside the line as a QR code, for a photo of the screen to carry
    // (the chain's last signed head); empty for none.
    QByteArray qrText = {};
};

// The state of one decoder loop as the live page tells spectators.
struct LoopState {
    int loop = 0;
    QString state; // "open", "silent", "failed" or "closed"
};

// The ranking of all stations of the event, as last read from its server.
struct CombinedRanking {
    struct Row {
        int rank = 0;
        QString tpid;
        QString name;
        QString speedText;
        QString station;
    };
    QString event;
    QString error;       // why the last read failed; the rows are the last good read
    qint64 readAtMs = 0; // 0: never read
    QList<Row> rows;
};

// The two decoder clocks as the decoder watch last found them, for what a
// speed is uncertain by.
struct ClockFigures {
    bool known = false;  // both decoders sent enough passings
    double offsetMs = 0; // loop-2 clock minus loop-1 clock
    double spreadMs = 0; // standard deviation of the offset's recent samples
    double driftMs = 0;  // offset change since the last clock command (0: not known yet)
};

// A record attempt of a transponder as the live page tells its driver.
struct RecordState {
    QString tpid;
    QString state;           // "waiting" (first run done), "expired", "completed"
    qint64 windowEndsMs = 0; // PC time, UTC ms: the return run is due by then
    QString firstRunText;    // "57.692 ± 0.31"
    QString resultText;      // the mean with its uncertainty, when completed
    QString reason;          // why an earlier return run did not complete it
};

class Host;

// The base of every room: made with the window, told when the window is
// created and shown, asked to keep what it must at close.
class Room : public QObject {
    Q_OBJECT
public:
    explicit Room(Host& host);
    ~Room() override;
    // The window's creation handler ran (settings read, records open).
    // Raises to stop the program as a failed creation does.
    virtual void created() {}
    // The window is shown and its ports are open.
    virtual void started() {}
    // The window closes: what the room keeps reaches the disk. Raises Error
    // for what was lost; the exit status tells of it.
    virtual void close() {}

protected:
    Host& host;
};

class Host : public QObject {
    Q_OBJECT
public:
    explicit Host(QObject* parent = nullptr);
    ~Host() override;

    // --- where things are -------------------------------------------------
    virtual QString dataDir() const = 0;
    virtual QString iniPath() const = 0;
    virtual QString databasePath() const = 0;
    // The parent for a room's boxes and dialogs.
    virtual QWidget* window() const = 0;
    // The settings the road runs on, as they stand now.
    virtual Settings settings() const = 0;
    virtual SuspectChecks suspectChecks() const = 0;

    // --- pages and menu ---------------------------------------------------
    // A page of the room's own with its menu item, after the window's items
    // and those of rooms added before. `name` is its --page name and its
    // object name's stem; onShow runs each time the page becomes visible
    // (also when its menu item is chosen while it shows).
    virtual QWidget* addPage(const QString& menuText, const QString& name,
                             std::function<void()> onShow) = 0;
    virtual QWidget* page(const QString& name) const = 0;
    virtual void showPage(QWidget* page) = 0;
    virtual bool isShown(const QWidget* page) const = 0;
    // A strip along the window's bottom edge, over every page and in view
    // whatever page is up: the band that the pages' design leaves free, so
    // that it hides neither a menu item nor a control.
    virtual void setBottomStrip(QWidget* widget) = 0;
    // A view that stands in for the ranking grid while the check box with
    // `caption` (object name `name`) is ticked; toggled tells the room.
    virtual void addRankingView(const QString& caption, const QString& name, QWidget* view,
                                std::function<void(bool shown)> toggled) = 0;
    // The ranking view is ticked and the ranking page is up.
    virtual bool rankingViewShown(const QWidget* view) const = 0;
    // A menu item that opens something of the room's own other than a page
    // (a view of its own window), with its keyboard shortcut written as
    // QKeySequence reads it ("F11"; empty for none). `name` is its object
    // name's stem. A host without a menu makes none.
    virtual void addMenuItem(const QString& menuText, const QString& name, const QString& shortcut,
                             std::function<void()> triggered);

    // --- messages ---------------------------------------------------------
    // A line of the event log after the time of day ("suffix" as the window
    // writes it: usually starting with a space).
    virtual void note(const QString& suffix) = 0;
    // A line of the event log as it stands.
    virtual void log(const QString& line) = 0;
    // Asks where a CSV file goes; an empty answer cancels.
    virtual QString chooseCsvPath(const QString& suggested) = 0;
    // The page password (the one of the registration page) is `typed`.
    // A host without one refuses every text.
    virtual bool pagePasswordMatches(const QString& typed) const;

    // --- what only the window does ----------------------------------------
    virtual PortState port(int number) const = 0;
    // The decoders' clock command, as the data check page's button sends it.
    virtual void sendClockCommand() = 0;

    // --- the rooms --------------------------------------------------------
    // Takes a room for the window's life; rooms are told of the lifecycle in
    // the order they were adopted.
    Room& adopt(std::unique_ptr<Room> room);
    template <class R> R* room() const {
        for (const auto& r : rooms_)
            if (auto* found = dynamic_cast<R*>(r.get()))
                return found;
        return nullptr;
    }
    void roomsCreated();
    void roomsStarted();
    // Every room closes even when one fails; their failures are joined into
    // the Error raised at the end.
    void roomsClose();

    // --- the bulletin -----------------------------------------------------
    // A room's line on the status page; an empty text takes it away.
    void setStatusLine(const QString& room, const StatusLine& line);
    QMap<QString, StatusLine> statusLines() const { return statusLines_; }
    void setLoopStates(const QList<LoopState>& states);
    QList<LoopState> loopStates() const { return loopStates_; }
    void setCombinedRanking(const CombinedRanking& ranking);
    const CombinedRanking& combinedRanking() const { return combinedRanking_; }
    // Someone looks at the combined ranking all the time (the live page).
    void wantCombinedRanking() {
        combinedRankingWanted_ = true;
        emit combinedRankingRequested();
    }
    bool combinedRankingWanted() const { return combinedRankingWanted_; }
    void setClockFigures(const ClockFigures& figures) { clockFigures_ = figures; }
    const ClockFigures& clockFigures() const { return clockFigures_; }
    void setRecordStates(const QList<RecordState>& states);
    const QList<RecordState>& recordStates() const { return recordStates_; }

signals:
    // The road of a passing. Times marked "monotonic" are milliseconds of
    // QElapsedTimer's reference; the others PC time, UTC milliseconds.
    void chunkReceived(int loop, qint64 receivedMs, const QByteArray& bytes, qsizetype dropped,
                       const QStringList& lines);
    void attemptMeasured(const MeasuredAttempt& attempt);
    // Inside the commit that stores the attempt, right after its row (id set):
    // a room may add to it in the same commit (the same connection, this
    // thread) and so costs no commit of its own. A slot must not raise: the
    // attempt would be rolled back with it. An attempt the database does not
    // take now is stored later without this signal (attemptMeasured has id 0).
    void attemptStoring(const MeasuredAttempt& attempt);
    // A speed reached the screen and the board and its row is stored.
    void speedShown(const QString& tpid, const QString& speedText, bool newBest, qint64 atMs);
    void portOpened(int port, qint64 atMonotonicMs);
    void portClosed(int port);
    void portFailed(int port, const QString& reason);
    void clockCommandSent(qint64 atMonotonicMs);
    // The section length or the hold changed on the measurement page.
    void settingsChanged();

    void statusLinesChanged();
    void loopStatesChanged(const QList<LoopState>& states);
    void combinedRankingChanged();
    void combinedRankingRequested();
    void recordStatesChanged();

private:
    std::vector<std::unique_ptr<Room>> rooms_;
    QMap<QString, StatusLine> statusLines_;
    QList<LoopState> loopStates_;
    CombinedRanking combinedRanking_;
    bool combinedRankingWanted_ = false;
    ClockFigures clockFigures_;
    QList<RecordState> recordStates_;
};

// The monotonic clock of the signals above.
qint64 monotonicNowMs();
