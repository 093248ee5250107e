#include "WindowHost.h"

#include "Framework.h"
#include "Ukorvane.h"

#include "CommX.h"
#include "Database.h"
#include "PortKeeper.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTableView>

#include <algorithm>

WindowHost::WindowHost(TFkorvane& window) : Host(&window), w_(window) {}

WindowHost::~WindowHost() = default;

QString WindowHost::dataDir() const {
    return w_.dataDir();
}

QString WindowHost::iniPath() const {
    return w_.iniPath();
}

QString WindowHost::databasePath() const {
    return SpeedDb::database().databaseName();
}

QWidget* WindowHost::window() const {
    return &w_;
}

Settings WindowHost::settings() const {
    return w_.S;
}

SuspectChecks WindowHost::suspectChecks() const {
    return w_.Checks;
}

QWidget* WindowHost::addPage(const QString& menuText, const QString& name,
                             std::function<void()> onShow) {
    auto* page = new QWidget(w_.PageControl1);
    page->setObjectName(name + QStringLiteral("Page"));
    w_.PageControl1->addWidget(page);
    auto* item = new QAction(menuText, w_.menuBar());
    item->setObjectName(name + QStringLiteral("Item"));
    w_.menuBar()->insertAction(menuEnd, item);
    pages_.append({name, item, page, std::move(onShow)});
    // Asking for the page while it shows reads it afresh, as turning to it does.
    connect(item, &QAction::triggered, this, [this, page] {
        if (isShown(page))
            pageShown(page);
        else
            showPage(page);
        takeKeys(page);
    });
    return page;
}

QWidget* WindowHost::page(const QString& name) const {
    for (const RoomPage& p : pages_)
        if (p.name == name)
            return p.page;
    return nullptr;
}

// A page turned to from its menu item takes the keys: otherwise the focus
// stays on a control of the page that was shown before, hidden now, and
// Tab, Enter and the page's own keys (F3 on the history) go nowhere.
void WindowHost::takeKeys(QWidget* page) {
    const QWidget* focus = QApplication::focusWidget();
    if (focus && page->isAncestorOf(focus) && focus->isVisible())
        return;
    for (QWidget* at = page->nextInFocusChain(); at && at != page; at = at->nextInFocusChain()) {
        if (page->isAncestorOf(at) && at->isVisible() && at->isEnabled() &&
            (at->focusPolicy() & Qt::TabFocus)) {
            at->setFocus(Qt::MenuBarFocusReason);
            return;
        }
    }
}

void WindowHost::showPage(QWidget* page) {
    w_.setActivePage(page);
}

bool WindowHost::isShown(const QWidget* page) const {
    return w_.activePage() == page;
}

bool WindowHost::pageShown(QWidget* page) {
    for (const RoomPage& p : pages_) {
        if (p.page != page)
            continue;
        if (p.onShow)
            runHandler(p.onShow);
        return true;
    }
    return false;
}

QList<QWidget*> WindowHost::pages() const {
    QList<QWidget*> out;
    for (const RoomPage& p : pages_)
        out << p.page;
    return out;
}

void WindowHost::setBottomStrip(QWidget* widget) {
    bottomStrip_ = widget;
    widget->setParent(&w_);
    // The page control follows the window's size and the menu bar's height.
    w_.PageControl1->installEventFilter(this);
    placeBottomStrip();
}

// Not in the menu bar, whose items would go behind its extension button
// for a long line, nor as a status bar, which would take its height from
// the pages: every page's controls end kPagesEnd below the menu (the grids
// and frames at 346, the data check buttons at 342), and the window's
// 378 px leave the band under them free.
void WindowHost::placeBottomStrip() {
    constexpr int kPagesEnd = 346;
    constexpr int kLeastHeight = 14; // a line of the window's 12 px font
    const int top =
        std::min(w_.PageControl1->geometry().top() + kPagesEnd, w_.height() - kLeastHeight);
    bottomStrip_->setGeometry(0, top, w_.width(), w_.height() - top);
    bottomStrip_->raise();
}

bool WindowHost::eventFilter(QObject* watched, QEvent* event) {
    if (bottomStrip_ && watched == w_.PageControl1 &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        placeBottomStrip();
    return Host::eventFilter(watched, event);
}

void WindowHost::addRankingView(const QString& caption, const QString& name, QWidget* view,
                                std::function<void(bool shown)> toggled) {
    auto* box = new QCheckBox(caption, w_.TabSheet5);
    box->setObjectName(name);
    // Above the ranking's lookup boxes, one under the other.
    box->setGeometry(520, 210 - 24 * int(rankingViews_.size()), 110, 22);
    box->show();
    view->setParent(w_.TabSheet5);
    view->setGeometry(w_.DBGrid1->geometry());
    view->hide();
    rankingViews_.append({view, box});
    connect(box, &QCheckBox::toggled, this, [this, view, toggled](bool on) {
        // One view at a time stands in for the grid.
        for (const RankingView& r : std::as_const(rankingViews_))
            if (r.view != view && on)
                r.box->setChecked(false);
        view->setVisible(on);
        bool any = false;
        for (const RankingView& r : std::as_const(rankingViews_))
            any = any || r.box->isChecked();
        w_.DBGrid1->setVisible(!any);
        if (toggled)
            toggled(on);
    });
}

bool WindowHost::rankingViewShown(const QWidget* view) const {
    if (w_.activePage() != w_.TabSheet5)
        return false;
    for (const RankingView& r : rankingViews_)
        if (r.view == view)
            return r.box->isChecked();
    return false;
}

// The rooms' own items go to the program's menu, beside its version: the
// menu bar keeps room for the pages.
void WindowHost::addMenuItem(const QString& menuText, const QString& name, const QString& shortcut,
                             std::function<void()> triggered) {
    auto* item = w_.Korvane->addAction(menuText);
    item->setObjectName(name + QStringLiteral("Item"));
    if (!shortcut.isEmpty())
        item->setShortcut(QKeySequence(shortcut));
    connect(item, &QAction::triggered, this, [triggered] { runHandler(triggered); });
}

void WindowHost::note(const QString& suffix) {
    w_.note(suffix);
}

void WindowHost::log(const QString& line) {
    memoAdd(w_.Memo3, line);
}

QString WindowHost::chooseCsvPath(const QString& suggested) {
    return w_.chooseCsvPath ? w_.chooseCsvPath(&w_, suggested) : QString();
}

bool WindowHost::pagePasswordMatches(const QString& typed) const {
    return typed == w_.pagePassword();
}

PortState WindowHost::port(int number) const {
    PortState s;
    const TCommX* comm = number == 1 ? w_.CommX1 : number == 2 ? w_.CommX2 : w_.CommX3;
    s.number = number == 1 ? w_.S.Port1 : number == 2 ? w_.S.Port2 : w_.S.Port3;
    s.devicePath = comm->devicePath();
    s.open = comm->isOpen();
    s.lost = s.open && comm->deviceLost();
    if (w_.portKeeper_)
        s.failure = w_.portKeeper_->failure(comm);
    return s;
}

void WindowHost::sendClockCommand() {
    w_.CuteButton1Click();
}
