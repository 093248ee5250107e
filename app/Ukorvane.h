#pragma once

#include "Checks.h"
#include "Settings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QStackedWidget;
class QTableView;
class TTimer;
class QTimer;
class TCustomCommX;
class TCommX;
class TCuteButton;
class ReceiveBuffer;
class PortKeeper;
class ClockAlign;
class ClockSets;
class TRadioGroup;
class TREdit;
class TSpinEdit;
class RankingModel;
class PassingBacklog;
struct BacklogResult;
class RegistrationModel;
namespace SpeedTable {
struct PendingRow;
}
class Host;
class WindowHost;

// The main window: owns every component of the program for its whole life
// and holds one handler per control event. Handlers only wire the controls
// to the logic of their subsystem. Ukorvane.cpp builds the window and
// dispatches its events; each page is built in its Page*.cpp, and the
// handlers of the road of a passing live in DecoderInput.cpp (ports, receive
// handlers, storing), Measuring.cpp (pending row to speed), BoardOutput.cpp
// (the board) and DecoderCommands.cpp (decoder clocks and protocol).
class TFkorvane : public QMainWindow {
    Q_OBJECT
public:
    explicit TFkorvane(const QString& dataDir, QWidget* parent = nullptr);
    ~TFkorvane() override;

    const QString& dataDir() const { return dataDir_; }
    QString iniPath() const;
    Settings settings() const { return S; }
    bool settingsLoaded() const { return settingsLoaded_; }
    // Every creation step ran. When one failed the program does not go on:
    // it would run on built-in settings and drop the operator's changes.
    bool created() const { return created_; }
    const QString& pagePassword() const { return Passw; }
    // What the rooms see of the window (rooms/host/Host.h).
    Host& host();

    // Page control: the visible page runs its show handler.
    QStackedWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet4 = nullptr;
    QWidget* TabSheet5 = nullptr;
    QWidget* TabSheet6 = nullptr;
    void setActivePage(QWidget* page);
    QWidget* activePage() const;

    // Menu.
    QMenu* N1 = nullptr;
    QAction* N5 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QAction* N4 = nullptr;
    QAction* Var1 = nullptr;
    QAction* N6 = nullptr;
    QMenu* Korvane = nullptr;
    QAction* b1 = nullptr;

    // Start page.
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;

    // Measurement page.
    QLabel* Label1 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label3 = nullptr;
    TSpinEdit* SpinEdit1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label9 = nullptr;
    TSpinEdit* SpinEdit3 = nullptr;
    QLabel* Label11 = nullptr;
    QPlainTextEdit* Memo3 = nullptr;
    QPushButton* Button2 = nullptr;

    // Settings page.
    QLabel* Label7 = nullptr;
    TCuteButton* CuteButton28 = nullptr;
    TCuteButton* CuteButton29 = nullptr;
    TCuteButton* CuteButton58 = nullptr;
    TCuteButton* CuteButton61 = nullptr;
    QLabel* Label4 = nullptr;
    QSlider* TBarbright = nullptr;
    TCuteButton* CuteButton2 = nullptr;
    TRadioGroup* RGport1 = nullptr;
    TRadioGroup* RGport2 = nullptr;
    TRadioGroup* RGport3 = nullptr;
    TRadioGroup* RGrate = nullptr;
    QLabel* Label13 = nullptr;
    TREdit* REdit1 = nullptr;
    TREdit* REdit2 = nullptr;
    QLabel* Label14 = nullptr;
    TREdit* REdit3 = nullptr;
    QLabel* Label15 = nullptr;
    QCheckBox* CBox1 = nullptr;

    // Data check page.
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    TCuteButton* CuteButton1 = nullptr;
    TCuteButton* CuteButton3 = nullptr;

    // Reference (ranking) page.
    QTableView* DBGrid1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    TCuteButton* CuteButton5 = nullptr;
    QFrame* Shape4 = nullptr;

    // Registration page.
    QFrame* Panel1 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit6 = nullptr;
    TCuteButton* CuteButton6 = nullptr;
    QTableView* DBGrid2 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QLineEdit* Edit9 = nullptr;
    TCuteButton* CuteButton7 = nullptr;
    QFrame* Shape5 = nullptr;
    QFrame* Shape6 = nullptr;

    // On the window itself.
    QFrame* Panel2 = nullptr;
    QLineEdit* Edit10 = nullptr;

    TTimer* Timer1 = nullptr;
    TTimer* Timer2 = nullptr;

    // Serial ports: the two decoders and the display board.
    TCommX* CommX1 = nullptr;
    TCommX* CommX2 = nullptr;
    TCommX* CommX3 = nullptr;

    // Decoder input: receive buffers and guards (1 = the handler may run).
    std::unique_ptr<ReceiveBuffer> RecvBuf1;
    std::unique_ptr<ReceiveBuffer> RecvBuf2;
    int RecvReady1 = 0;
    int RecvReady2 = 0;

    // Measurement: the row being processed and the last board line.
    QString CurTpid;
    QString BestSpeed;
    QByteArray BoardLine;
    bool holding() const; // a shown speed is being held (the Wait setting)

    // Records pages
    RankingModel* Qshow = nullptr;        // ranking shown by DBGrid1
    RegistrationModel* Qrename = nullptr; // registration list shown by DBGrid2
    TCuteButton* CuteButtonCsv = nullptr; // "CSV出力": writes the ranking to a file
    // Asks where the ranking goes; an empty answer cancels. Tests put their
    // own chooser here.
    std::function<QString(QWidget* parent, const QString& suggested)> chooseCsvPath;
    void CuteButtonCsvClick();
    void registrationFocusChanged(QWidget* old, QWidget* now);
    void commitRegistrationEditor();

public slots:
    // Lifecycle.
    void FormCreate();
    void FormShow();
    void FormClose();

    // Navigation.
    void N1Click();
    void N2Click();
    void N3Click();
    void N4Click();
    void Var1Click();
    void N6Click();
    void N5Click();
    void Image1Click();
    void Memo2DblClick();

    // Page show handlers.
    void TabSheet1Show();
    void TabSheet2Show();
    void TabSheet3Show();
    void TabSheet4Show();
    void TabSheet5Show();
    void TabSheet6Show();
    void TabSheet6Exit();

    // Settings page.
    void RGport1Click();
    void RGport2Click();
    void RGport3Click();
    void RGrateClick();
    void REdit1Exit();
    void REdit2Exit();
    void REdit3Exit();
    void CBox1Click();
    void CuteButton28Click();
    void CuteButton29Click();
    void CuteButton58Click();
    void CuteButton61Click();
    void CuteButton2Click();

    // Data check page and decoder commands.
    void CuteButton1Click();
    void CuteButton3Click();
    void Timer2Timer();

    // Decoder input.
    void CommX1Receive(TCustomCommX* Sender, int ReceiveSize);
    void CommX2Receive(TCustomCommX* Sender, int ReceiveSize);

    // Measurement.
    void Timer1Timer();
    void SpinEdit1Change();
    void SpinEdit3Change();
    void Button2Click();

    // Reference page.
    void DBGrid1DblClick();
    void Edit1KeyDown();
    void CuteButton5Click();

    // Registration page.
    void Edit4KeyDown();
    void Edit8KeyDown();
    void DBGrid2DblClick();
    void CuteButton7Click();
    void CuteButton6Click();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class WindowHost;
    void buildMenu();
    void buildStartPage();
    void buildMeasurementPage();
    void buildSettingsPage();
    void buildDataCheckPage();
    void buildRankingPage();
    void buildRegistrationPage();
    void wireHandlers();
    void buildKeyboard(); // shortcuts, mnemonics and focus marks (Keyboard.cpp)
    void lockRegistration(bool locked);
    void placeOverlays();
    void onPageChanged(int index);
    void startDecoderInput(); // lets decoder input be processed (both receive guards up)
    void stopDecoderInput();
    // Each subsystem's part of the window, built and handled in its own file
    // (DecoderInput.cpp, DecoderCommands.cpp, Measuring.cpp, BoardOutput.cpp).
    void buildDecoderInput();
    void buildDecoderCommands();
    void buildMeasuring();
    void buildBoardOutput();
    void selectDecoderPort(int loop);
    void openBoardPort();
    void receiveDecoder(int loop, TCustomCommX* comm, int receiveSize);
    void sendBoardLines(const QList<QByteArray>& lines);
    void sendToBoard(const QByteArray& line);
    void sendToBoardInTurn(const QByteArray& line, int gapMs = 0);
    void sendBoardQueue();
    void note(const QString& suffix);
    void reportStore(const BacklogResult& r);
    // The pause of a port change (see PortPause.cpp): measuring and decoder
    // input are held for its length and resumed after it.
    void portPause();
    bool inPortPause() const;
    void endPortPause();
    // Lets measuring run again after the Wait hold (held while a port pauses).
    void releaseMeasuring();
    void sendClockCommand(); // the clock command, on the turn of a second
    const ClockSets& clockSets() const;
    void measureSoon();
    std::optional<SpeedTable::PendingRow> pendingHead() const;
    // At close: what waits for the database reaches the disk or is reported.
    void closeRecords();
    // Ports kept open (PortRecovery.cpp): a missing or vanished device is
    // tried again in the background; the failures of the start-up are told
    // in one box once the window is up.
    void buildPortRecovery();
    void portReopened(int port); // 1, 2: the decoders; 3: the board
    void portLost(int port);
    void portOpenFailed(int port, const QString& detail);
    void tellStartFailures();
    void pickDevice(int port); // the settings page's device picker

    QString dataDir_;
    WindowHost* host_ = nullptr; // made first, so that every part may tell the rooms
    Settings S;
    SuspectChecks Checks; // plausibility limits, section "Checks", read at start
    bool settingsLoaded_ = false;
    bool created_ = false;
    bool firstShowDone_ = false;
    bool panel1Fills_ = false;
    bool registrationLocked_ = true; // the curtain is up: nothing under it may write
    QString Passw;                   // the page password in force
    QWidget* previousPage_ = nullptr;
    QTimer* holdTimer_ = nullptr;      // the Wait hold after a processed passing
    QTimer* indicatorTimer_ = nullptr; // hides Panel2 after a clock command
    ClockAlign* clockAlign_ = nullptr; // when the clock command goes out
    QTimer* brightnessTimer_ = nullptr;
    QList<QPair<QByteArray, int>>
        boardQueue_; // lines waiting for the board, each with its gap before it
    bool measureFaultShown_ = false;
    std::unique_ptr<PassingBacklog> backlog_; // passings the database has not taken yet
    QTimer* storeRetryTimer_ = nullptr;
    bool storeFaultShown_ = false;
    int portPauseDepth_ = 0;
    bool heldTimer1_ = false;
    int heldReady1_ = 0;
    int heldReady2_ = 0;
    // Shared pointers: their types stay private to the files that use them.
    QElapsedTimer lastRun_;         // end of the last measuring run that took a row
    bool measurableStored_ = false; // the commit under way completes a row with a loop-1 time
    PortKeeper* portKeeper_ = nullptr;
};
