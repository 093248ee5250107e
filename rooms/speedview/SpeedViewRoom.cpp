#include "SpeedViewRoom.h"

#include "PageParts.h"
#include "SpeedTable.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <exception>

namespace {

// The largest pixel size at which `s` fits the box on one line.
QFont fitted(QFont f, const QString& s, const QRectF& box) {
    f.setPixelSize(qMax(1, int(box.height() * 0.82)));
    const qreal width = QFontMetricsF(f).horizontalAdvance(s);
    if (width > box.width())
        f.setPixelSize(qMax(1, int(f.pixelSize() * box.width() / width)));
    return f;
}

const QColor kBest(255, 224, 0);

// What the top of the view says of the last speed.
struct Headline {
    QString best;  // empty unless it is a new best
    QString speed; // the number alone
    QString who;   // its ID and name
};

Headline headline(const QList<SpeedViewRoom::Shown>& recent) {
    if (recent.isEmpty())
        return {{},
                QStringLiteral("—"),
                QCoreApplication::translate("SpeedView", "計測を待っています")};
    const SpeedViewRoom::Shown& last = recent.first();
    return {last.newBest ? QCoreApplication::translate("SpeedView", "ベスト更新") : QString(),
            last.speedText,
            last.name.isEmpty() ? last.tpid : last.tpid + QStringLiteral("   ") + last.name};
}

const QString kUnit = QStringLiteral(" Km/h");

class SpeedView final : public QWidget {
public:
    SpeedView(const QList<SpeedViewRoom::Shown>& recent, QWidget* parent)
        : QWidget(parent, Qt::Window), recent_(recent) {
        setObjectName(QStringLiteral("SpeedView"));
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_F11) {
            hide();
            // The keys go back to the window the view was opened from, also
            // where no window manager hands the focus on.
            if (QWidget* window = parentWidget()) {
                window->activateWindow();
                window->setFocus();
            }
            return;
        }
        QWidget::keyPressEvent(e);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::TextAntialiasing);
        const QRectF all = rect();
        p.fillRect(all, windowparts::tcolor(windowparts::kWindowColour));
        const qreal m = qMin(all.width(), all.height()) * 0.03;
        const QRectF area = all.adjusted(m, m, -m, -m);
        const qreal h = area.height();
        QFont base = font();
        base.setBold(true);

        // The last speed: the number as large as fits, its unit beside it as
        // the measurement page writes it.
        const QRectF speedBox(area.left(), area.top() + h * 0.06, area.width(), h * 0.46);
        const QRectF idBox(area.left(), area.top() + h * 0.53, area.width(), h * 0.15);
        const QRectF listBox(area.left(), area.top() + h * 0.72, area.width(), h * 0.28);
        const Headline top = headline(recent_);
        const QString& unit = kUnit;
        const QString& speed = top.speed;
        QFont big = fitted(base, speed + unit, speedBox);
        QFont small = big;
        small.setPixelSize(qMax(1, big.pixelSize() / 4));
        const qreal speedWidth = QFontMetricsF(big).horizontalAdvance(speed);
        const qreal unitWidth = QFontMetricsF(small).horizontalAdvance(unit);
        const qreal left = speedBox.center().x() - (speedWidth + unitWidth) / 2;
        const qreal baseline = speedBox.bottom() - QFontMetricsF(big).descent();
        p.setPen(top.best.isEmpty() ? QColor(Qt::white) : kBest);
        p.setFont(big);
        p.drawText(QPointF(left, baseline), speed);
        p.setFont(small);
        p.setPen(Qt::white);
        p.drawText(QPointF(left + speedWidth, baseline), unit);

        if (!top.best.isEmpty()) {
            const QString& best = top.best;
            const QRectF bestBox(area.left(), area.top(), area.width(), h * 0.08);
            p.setFont(fitted(base, best, bestBox));
            p.setPen(kBest);
            p.drawText(bestBox, Qt::AlignLeft | Qt::AlignVCenter, best);
        }

        // Its ID and the name the registration gives it.
        const QString& who = top.who;
        p.setPen(Qt::white);
        p.setFont(fitted(base, who, idBox));
        p.drawText(idBox, Qt::AlignHCenter | Qt::AlignVCenter, who);

        // The last ten, newest first, in two columns of five.
        p.setPen(QColor(255, 255, 255, 120));
        p.drawLine(QPointF(listBox.left(), listBox.top() - h * 0.015),
                   QPointF(listBox.right(), listBox.top() - h * 0.015));
        const int rows = SpeedViewRoom::kRecent / 2;
        const qreal rowH = listBox.height() / rows;
        const qreal colW = listBox.width() / 2;
        QFont line = base;
        line.setBold(false);
        line.setPixelSize(qMax(1, int(rowH * 0.72)));
        for (int i = 0; i < recent_.size() && i < SpeedViewRoom::kRecent; ++i) {
            const SpeedViewRoom::Shown& s = recent_.at(i);
            const QRectF cell(listBox.left() + (i / rows) * colW, listBox.top() + (i % rows) * rowH,
                              colW - m, rowH);
            const QRectF idCell(cell.left(), cell.top(), cell.width() * 0.3, rowH);
            const QRectF speedCell(cell.left() + cell.width() * 0.3, cell.top(), cell.width() * 0.3,
                                   rowH);
            const QRectF nameCell(cell.left() + cell.width() * 0.64, cell.top(),
                                  cell.width() * 0.36, rowH);
            p.setPen(s.newBest ? kBest : QColor(Qt::white));
            p.setFont(fitted(line, s.tpid, idCell));
            p.drawText(idCell, Qt::AlignLeft | Qt::AlignVCenter, s.tpid);
            p.setFont(fitted(line, s.speedText, speedCell));
            p.drawText(speedCell, Qt::AlignRight | Qt::AlignVCenter, s.speedText);
            p.setFont(line);
            p.drawText(
                nameCell, Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetrics(line).elidedText(s.name, Qt::ElideRight, int(nameCell.width())));
        }
    }

private:
    const QList<SpeedViewRoom::Shown>& recent_;
};

} // namespace

SpeedViewRoom::SpeedViewRoom(Host& h) : Room(h) {
    connect(&host, &Host::speedShown, this,
            [this](const QString& tpid, const QString& speedText, bool newBest, qint64) {
                speedShown(tpid, speedText, newBest);
            });
    host.addMenuItem(QCoreApplication::translate("SpeedView", "スピード表示"),
                     QStringLiteral("speedView"), QStringLiteral("F11"), [this] { toggleView(); });
}

SpeedViewRoom::~SpeedViewRoom() {
    delete view_;
}

void SpeedViewRoom::speedShown(const QString& tpid, const QString& speedText, bool newBest) {
    Shown s{tpid, {}, speedText, newBest};
    try {
        s.name = SpeedTable::lookup(tpid).name;
    } catch (const std::exception&) {
        // The speed is shown without its name when the table cannot be read.
    }
    recent_.prepend(s);
    while (recent_.size() > kRecent)
        recent_.removeLast();
    if (view_)
        refresh();
}

// The view's texts also go to its accessible description, for a screen
// reader and for whoever checks what it says without reading pixels.
void SpeedViewRoom::refresh() {
    const Headline top = headline(recent_);
    QStringList lines{top.best, top.speed + kUnit, top.who};
    for (const Shown& s : std::as_const(recent_))
        lines << QStringList{s.tpid, s.speedText, s.name}.join(QLatin1Char(' '));
    view_->setAccessibleDescription(lines.join(QLatin1Char('\n')));
    view_->update();
}

void SpeedViewRoom::toggleView() {
    if (view_ && view_->isVisible()) {
        view_->hide();
        return;
    }
    QWidget* window = host.window();
    if (!view_) {
        view_ = new SpeedView(recent_, window);
        view_->setWindowTitle(window ? window->windowTitle() : QString());
        if (window)
            view_->setFont(window->font());
    }
    refresh();
    QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen();
    if (screen)
        view_->setGeometry(screen->geometry());
    view_->showFullScreen();
    view_->activateWindow();
    view_->setFocus();
}

void SpeedViewRoom::close() {
    if (view_)
        view_->hide();
}
