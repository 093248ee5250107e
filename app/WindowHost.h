#pragma once

#include "Host.h"

#include <QList>

class QAction;
class QCheckBox;
class TFkorvane;

// The window as its rooms see it: pages and menu items added after the
// window's own, the event log, the ports, the clock command.
class WindowHost final : public Host {
    Q_OBJECT
public:
    explicit WindowHost(TFkorvane& window);
    ~WindowHost() override;

    QString dataDir() const override;
    QString iniPath() const override;
    QString databasePath() const override;
    QWidget* window() const override;
    Settings settings() const override;
    SuspectChecks suspectChecks() const override;

    QWidget* addPage(const QString& menuText, const QString& name,
                     std::function<void()> onShow) override;
    QWidget* page(const QString& name) const override;
    void showPage(QWidget* page) override;
    bool isShown(const QWidget* page) const override;
    void setBottomStrip(QWidget* widget) override;
    void addRankingView(const QString& caption, const QString& name, QWidget* view,
                        std::function<void(bool shown)> toggled) override;
    bool rankingViewShown(const QWidget* view) const override;
    void addMenuItem(const QString& menuText, const QString& name, const QString& shortcut,
                     std::function<void()> triggered) override;

    void note(const QString& suffix) override;
    void log(const QString& line) override;
    QString chooseCsvPath(const QString& suggested) override;
    bool pagePasswordMatches(const QString& typed) const override;

    PortState port(int number) const override;
    void sendClockCommand() override;

    // The window turned to `page`: a room's page runs its show handler.
    // False for a page that is not a room's.
    bool pageShown(QWidget* page);
    // The rooms' pages, in the order of their menu items.
    QList<QWidget*> pages() const;

    // Where rooms' menu items go: before this action.
    QAction* menuEnd = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takeKeys(QWidget* page);
    struct RoomPage {
        QString name;
        QAction* item = nullptr;
        QWidget* page = nullptr;
        std::function<void()> onShow;
    };
    struct RankingView {
        QWidget* view = nullptr;
        QCheckBox* box = nullptr;
    };
    void placeBottomStrip();

    TFkorvane& w_;
    QWidget* bottomStrip_ = nullptr;
    QList<RoomPage> pages_;
    QList<RankingView> rankingViews_;
};
