#pragma once

#include "Host.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

// The speed view: a window of its own that fills the screen the station's
// window is on with what the board shows (the last speed, its ID and name,
// whether it is a new best) and the nine before it. The window's own page
// keeps its fixed size; this is for a projector or a screen across the pit.
class SpeedViewRoom final : public Room {
    Q_OBJECT
public:
    explicit SpeedViewRoom(Host& host);
    ~SpeedViewRoom() override;

    struct Shown {
        QString tpid;
        QString name;
        QString speedText;
        bool newBest = false;
    };
    static constexpr int kRecent = 10;
    // The speeds the board showed, the newest first, at most kRecent.
    const QList<Shown>& recent() const { return recent_; }

    // Opens the view full screen on the window's screen; a second call
    // closes it, as Esc does.
    void toggleView();
    // The view once it was opened (hidden when closed again), else null.
    QWidget* view() const { return view_; }

    void close() override;

private:
    void speedShown(const QString& tpid, const QString& speedText, bool newBest);
    void refresh();

    QList<Shown> recent_;
    QPointer<QWidget> view_;
};
