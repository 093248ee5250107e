// The window itself: its construction, menu and page control, its
// lifecycle and the dispatch of mouse, focus and key events to handlers.
// Each subsystem's handlers live in the file named after it.
#include "Ukorvane.h"

#include "Convert.h"
#include "DataDir.h"
#include "Framework.h"
#include "Pictures.h"
#include "Rooms.h"
#include "WindowHost.h"
#include "WindowParts.h"

#include "CommX.h"
#include "CuteBtn.h"
#include "Database.h"
#include "PassingBacklog.h"
#include "PasswordStore.h"
#include "PortKeeper.h"
#include "REdit.h"
#include "ReceiveBuffer.h"
#include "Spin.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSlider>
#include <QStackedWidget>
#include <QTableView>

using namespace windowparts;

TFkorvane::TFkorvane(const QString& dataDir, QWidget* parent)
    : QMainWindow(parent), dataDir_(dataDir) {
    setObjectName(QStringLiteral("Fkorvane"));
    setWindowTitle(QStringLiteral("Speed"));
    host_ = new WindowHost(*this);

    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                      QStringLiteral("IPAGothic")});
    font.setPixelSize(12);
    setFont(font);

    QPalette pal = palette();
    pal.setColor(QPalette::Window, tcolor(kWindowColour));
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);

    Timer1 = new TTimer(this);
    Timer1->setInterval(300);
    Timer2 = new TTimer(this);
    buildDecoderInput();
    buildBoardOutput();
    buildMeasuring();
    buildDecoderCommands();

    buildMenu();

    PageControl1 = new QStackedWidget(this);
    setCentralWidget(PageControl1);
    for (QWidget** page :
         {&TabSheet1, &TabSheet2, &TabSheet3, &TabSheet4, &TabSheet5, &TabSheet6}) {
        *page = new QWidget(PageControl1);
        PageControl1->addWidget(*page);
    }
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    TabSheet4->setObjectName(QStringLiteral("TabSheet4"));
    TabSheet5->setObjectName(QStringLiteral("TabSheet5"));
    TabSheet6->setObjectName(QStringLiteral("TabSheet6"));

    buildStartPage();
    buildMeasurementPage();
    buildSettingsPage();
    buildDataCheckPage();
    buildRankingPage();
    buildRegistrationPage();
    adoptRooms(*host_);
    buildPortRecovery();
    TabSheet6->installEventFilter(this);

    // Panel2 and Edit10 lie on the window over every page, in the client
    // area below the menu (placeOverlays).
    Panel2 = new QFrame(this);
    Panel2->resize(17, 17);
    Panel2->setAutoFillBackground(true);
    QPalette yellow = Panel2->palette();
    yellow.setColor(QPalette::Window, Qt::yellow);
    Panel2->setPalette(yellow);
    Panel2->hide();

    Edit10 = new QLineEdit(this);
    Edit10->setObjectName(QStringLiteral("Edit10"));
    Edit10->resize(436, 22);
    Edit10->hide();
    PageControl1->installEventFilter(this);

    // The page control is laid out with the data check page active; its show
    // handler runs at the first showing, before FormShow.
    PageControl1->setCurrentWidget(TabSheet4);
    previousPage_ = TabSheet4;
    connect(PageControl1, &QStackedWidget::currentChanged, this, &TFkorvane::onPageChanged);

    wireHandlers();
    buildKeyboard();
    resize(640, 378);

    created_ = runHandler([this] { FormCreate(); });
    if (!created_)
        ShowMessage(tr("設定を読み込めませんでした。終了します。"));
}

TFkorvane::~TFkorvane() = default;

Host& TFkorvane::host() {
    return *host_;
}

QString TFkorvane::iniPath() const {
    return iniPathIn(dataDir_);
}

void TFkorvane::buildMenu() {
    QMenuBar* bar = menuBar();
    N1 = bar->addMenu(tr("ファイル"));
    N5 = N1->addAction(tr("終了"));
    N2 = bar->addAction(tr("計測"));
    N3 = bar->addAction(tr("設定"));
    N4 = bar->addAction(tr("データ確認"));
    Var1 = bar->addAction(tr("参照"));
    N6 = bar->addAction(tr("登録"));
    // The rooms' pages come before this gap.
    host_->menuEnd = bar->addAction(QString());
    Korvane = bar->addMenu(QStringLiteral("Korvane"));
    b1 = Korvane->addAction(QStringLiteral("V1.27"));
}

void TFkorvane::wireHandlers() {
    connect(N1, &QMenu::aboutToShow, this, &TFkorvane::N1Click);
    connect(N5, &QAction::triggered, this, &TFkorvane::N5Click);
    connect(N2, &QAction::triggered, this, &TFkorvane::N2Click);
    connect(N3, &QAction::triggered, this, &TFkorvane::N3Click);
    connect(N4, &QAction::triggered, this, &TFkorvane::N4Click);
    connect(Var1, &QAction::triggered, this, &TFkorvane::Var1Click);
    connect(N6, &QAction::triggered, this, &TFkorvane::N6Click);

    connect(SpinEdit1, &QLineEdit::textChanged, this, &TFkorvane::SpinEdit1Change);
    connect(SpinEdit3, &QLineEdit::textChanged, this, &TFkorvane::SpinEdit3Change);
    connect(Button2, &QPushButton::clicked, this, &TFkorvane::Button2Click);
    connect(Timer1, &TTimer::OnTimer, this, &TFkorvane::Timer1Timer);
    connect(Timer2, &TTimer::OnTimer, this, &TFkorvane::Timer2Timer);

    connect(RGport1, &TRadioGroup::clicked, this, &TFkorvane::RGport1Click);
    connect(RGport2, &TRadioGroup::clicked, this, &TFkorvane::RGport2Click);
    connect(RGport3, &TRadioGroup::clicked, this, &TFkorvane::RGport3Click);
    connect(RGrate, &TRadioGroup::clicked, this, &TFkorvane::RGrateClick);
    connect(CBox1, &QCheckBox::toggled, this, &TFkorvane::CBox1Click);
    connect(CuteButton28, &TCuteButton::clicked, this, &TFkorvane::CuteButton28Click);
    connect(CuteButton29, &TCuteButton::clicked, this, &TFkorvane::CuteButton29Click);
    connect(CuteButton58, &TCuteButton::clicked, this, &TFkorvane::CuteButton58Click);
    connect(CuteButton61, &TCuteButton::clicked, this, &TFkorvane::CuteButton61Click);
    connect(CuteButton2, &TCuteButton::clicked, this, &TFkorvane::CuteButton2Click);

    connect(CuteButton1, &TCuteButton::clicked, this, &TFkorvane::CuteButton1Click);
    connect(CuteButton3, &TCuteButton::clicked, this, &TFkorvane::CuteButton3Click);

    connect(CuteButton5, &TCuteButton::clicked, this, &TFkorvane::CuteButton5Click);
    connect(CuteButton6, &TCuteButton::clicked, this, &TFkorvane::CuteButton6Click);
    connect(CuteButton7, &TCuteButton::clicked, this, &TFkorvane::CuteButton7Click);
}

// --- page control ---------------------------------------------------------

void TFkorvane::setActivePage(QWidget* page) {
    PageControl1->setCurrentWidget(page);
}

QWidget* TFkorvane::activePage() const {
    return PageControl1->currentWidget();
}

void TFkorvane::onPageChanged(int) {
    QWidget* page = PageControl1->currentWidget();
    QWidget* left = previousPage_;
    previousPage_ = page;
    if (left == TabSheet6 && page != TabSheet6)
        runHandler([this] { TabSheet6Exit(); });
    runHandler([this, page] {
        if (page == TabSheet1)
            TabSheet1Show();
        else if (page == TabSheet2)
            TabSheet2Show();
        else if (page == TabSheet3)
            TabSheet3Show();
        else if (page == TabSheet4)
            TabSheet4Show();
        else if (page == TabSheet5)
            TabSheet5Show();
        else if (page == TabSheet6)
            TabSheet6Show();
        else
            host_->pageShown(page);
    });
}

void TFkorvane::N1Click() {
    setActivePage(TabSheet1);
}
void TFkorvane::N2Click() {
    setActivePage(TabSheet2);
}
void TFkorvane::N3Click() {
    setActivePage(TabSheet3);
}
void TFkorvane::N4Click() {
    setActivePage(TabSheet4);
}
void TFkorvane::Var1Click() {
    setActivePage(TabSheet5);
}
void TFkorvane::N6Click() {
    setActivePage(TabSheet6);
}
void TFkorvane::N5Click() {
    close();
}
void TFkorvane::Image1Click() {
    setActivePage(TabSheet2);
}
void TFkorvane::Memo2DblClick() {
    Edit10->show();
    Edit10->raise();
}

void TFkorvane::placeOverlays() {
    const QPoint client = PageControl1->geometry().topLeft();
    Panel2->move(client);
    // Beside the decoder command buttons of the data check page (6..192,
    // 314..342), whose bottom edge it must leave visible.
    Edit10->move(client + QPoint(198, 317));
}

// --- lifecycle --------------------------------------------------------------

void TFkorvane::FormCreate() {
    // 1. The name column.
    SpeedDb::checkNameColumn();
    // 2. Settings.
    S = LoadSettings(iniPath());
    Checks = LoadSuspectChecks(iniPath());
    settingsLoaded_ = true;
    // 3. The page password in force.
    Passw = PasswordStore(dataDir_).read();
    // 4. - 6.
    if (S.Timer2 == 0)
        CBox1->setChecked(true);
    REdit1->setText(QString::number(S.Decid1));
    REdit2->setText(QString::number(S.Decid2));
    Timer2->setInterval(qint64(S.Resetint) * 1000);
    // 7. The rooms: publishing to the event's server among them.
    host_->roomsCreated();
}

void TFkorvane::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (firstShowDone_)
        return;
    firstShowDone_ = true;
    // The active page is shown before the window's own show handler runs.
    runHandler([this] { TabSheet4Show(); });
    runHandler([this] { FormShow(); });
}

void TFkorvane::FormShow() {
    resize(640, 378);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    setActivePage(TabSheet1);
    SpinEdit1->setValue(S.Dist);
    SpinEdit3->setValue(S.Wait);

    // The port steps open ports, pause and send commands, and may show a
    // box. A signal (a logout, a kill) stops the start-up where it stands:
    // the window is closed and the settings saved as they are, and no further
    // step runs.
    const std::function<void()> steps[] = {
        [this] { RGport1->setItemIndex(S.Port1); },
        [this] {
            if (S.Port1 == 0)
                ShowMessage(tr("取り込みポート１は指定されていません。"));
        },
        [this] { RGport2->setItemIndex(S.Port2); },
        [this] {
            if (S.Port2 == 0)
                ShowMessage(tr("取り込みポート２は指定されていません。"));
        },
        [this] { RGport3->setItemIndex(S.Port3); },
        [this] {
            if (S.Port3 == 0)
                ShowMessage(tr("出力ポートは指定されていません。"));
        },
        [this] { RGrate->setItemIndex(S.Rate); },
        [this] {
            startDecoderInput();
            REdit3->setText(QString::number(S.Resetint));
            Timer1->setEnabled(true);
        },
    };
    {
        portKeeper_->startGathering();
        const auto tell = qScopeGuard([this] { tellStartFailures(); });
        for (const auto& step : steps) {
            if (Dialogs::quitting())
                return;
            step();
        }
    }

    QPalette pal = Panel1->palette();
    pal.setColor(QPalette::Window, tcolor(kWindowColour));
    Panel1->setPalette(pal);
    Panel1->setGeometry(TabSheet6->rect());
    panel1Fills_ = true;
    host_->roomsStarted();
}

void TFkorvane::closeEvent(QCloseEvent* e) {
    runHandler([this] { FormClose(); });
    e->accept();
}

void TFkorvane::FormClose() {
    stopDecoderInput();
    // Each is reported on its own: a settings file that cannot be written
    // keeps no passing from the disk, nor the other way round. Either makes
    // the exit status tell of it.
    bool ok = runHandler([this] { closeRecords(); });
    ok = runHandler([this] { host_->roomsClose(); }) && ok;
    // Settings that were never loaded (the creation failed before) are not
    // written over the stored ones.
    if (settingsLoaded_)
        ok = runHandler([this] {
                 try {
                     SaveSettings(iniPath(), S);
                 } catch (const Error& e) {
                     note(QLatin1Char(' ') + e.message());
                     throw;
                 }
             }) &&
             ok;
    if (!ok)
        markExitFailure();
}

// --- events -----------------------------------------------------------------

bool TFkorvane::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        if (watched == Image1 && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            runHandler([this] { Image1Click(); });
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == Memo2->viewport())
            runHandler([this] { Memo2DblClick(); });
        else if (watched == DBGrid1->viewport())
            runHandler([this] { DBGrid1DblClick(); });
        else if (watched == DBGrid2->viewport())
            runHandler([this] { DBGrid2DblClick(); });
        break;
    case QEvent::Resize:
    case QEvent::Move:
        if (watched == TabSheet6 && panel1Fills_)
            Panel1->setGeometry(TabSheet6->rect());
        else if (watched == PageControl1)
            placeOverlays();
        break;
    case QEvent::FocusOut: {
        // Only a move of the focus to another control counts as leaving the
        // box, not a message box or a menu taking it for a while.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
            break;
        if (watched == REdit1)
            runHandler([this] { REdit1Exit(); });
        else if (watched == REdit2)
            runHandler([this] { REdit2Exit(); });
        else if (watched == REdit3)
            runHandler([this] { REdit3Exit(); });
        break;
    }
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            break;
        if (watched == Edit1)
            runHandler([this] { Edit1KeyDown(); });
        else if (watched == Edit4)
            runHandler([this] { Edit4KeyDown(); });
        else if (watched == Edit8)
            runHandler([this] { Edit8KeyDown(); });
        break;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}
