#include "CuteBtn.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>

TCuteButtonTimer::TCuteButtonTimer(TCuteButton* button) : QTimer(button), button_(button) {
    setSingleShot(true);
}

std::function<void(QMenu*, const QPoint&)> TCuteButton::popupHook =
    [](QMenu* menu, const QPoint& pos) { menu->exec(pos); };

namespace {

// System colours do not change with the window's activation, so they are
// always read from the active group.
QColor systemColor(const QWidget* w, QPalette::ColorRole role) {
    return w->palette().color(QPalette::Active, role);
}

// One bevel frame, ring by ring, with the pixel rules of a classic 3-D
// frame: the top colour runs from the bottom-left corner up and across to
// the top-right corner (exclusive), the bottom colour from the top-right
// corner down and across to the bottom-left corner (inclusive), so both of
// those corners end up in the bottom colour.
void drawFrame(QPainter& p, QRect& r, const QColor& top, const QColor& bottom, int width) {
    for (int i = 0; i < width; ++i) {
        if (r.width() <= 0 || r.height() <= 0)
            return;
        const int l = r.left(), t = r.top(), rr = r.right(), b = r.bottom();
        p.fillRect(QRect(l, t, 1, b - t), top);
        p.fillRect(QRect(l, t, rr - l, 1), top);
        p.fillRect(QRect(rr, t, 1, b - t + 1), bottom);
        p.fillRect(QRect(l, b, rr - l + 1, 1), bottom);
        r.adjust(1, 1, -1, -1);
    }
}

// The dotted rectangle of a keyboard focus cue, every other pixel set.
void drawFocusRect(QPainter& p, const QRect& r, const QColor& c) {
    if (r.width() <= 0 || r.height() <= 0)
        return;
    for (int x = r.left(); x <= r.right(); x += 2) {
        p.fillRect(QRect(x, r.top(), 1, 1), c);
        p.fillRect(QRect(x, r.bottom(), 1, 1), c);
    }
    for (int y = r.top(); y <= r.bottom(); y += 2) {
        p.fillRect(QRect(r.left(), y, 1, 1), c);
        p.fillRect(QRect(r.right(), y, 1, 1), c);
    }
}

} // namespace

TCuteButton::TCuteButton(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(75, 25);
}

TCuteButton::TCuteButton(const QString& caption, QWidget* parent) : TCuteButton(parent) {
    setCaption(caption);
}

TCuteButton::~TCuteButton() = default;

void TCuteButton::setCaption(const QString& caption) {
    if (caption_ == caption)
        return;
    caption_ = caption;
    updateShortcut();
    update();
}

void TCuteButton::updateShortcut() {
    if (shortcutId_ != 0)
        releaseShortcut(shortcutId_);
    shortcutId_ = 0;
    const QKeySequence seq = QKeySequence::mnemonic(caption_);
    if (!seq.isEmpty())
        shortcutId_ = grabShortcut(seq);
}

QColor TCuteButton::bevelHighlightColor() const {
    return bevelHighlightColor_.isValid() ? bevelHighlightColor_
                                          : systemColor(this, QPalette::Light);
}

void TCuteButton::setBevelHighlightColor(const QColor& c) {
    bevelHighlightColor_ = c;
    update();
}

QColor TCuteButton::bevelShadowColor() const {
    return bevelShadowColor_.isValid() ? bevelShadowColor_ : systemColor(this, QPalette::Dark);
}

void TCuteButton::setBevelShadowColor(const QColor& c) {
    bevelShadowColor_ = c;
    update();
}

QColor TCuteButton::color() const {
    return color_.isValid() ? color_ : systemColor(this, QPalette::Button);
}

void TCuteButton::setColor(const QColor& c) {
    color_ = c;
    update();
}

void TCuteButton::setDisabledColor(const QColor& c) {
    disabledColor_ = c;
    if (!isEnabled())
        update();
}

void TCuteButton::setUseDisabledColor(bool on) {
    useDisabledColor_ = on;
    if (!isEnabled())
        update();
}

void TCuteButton::setDropDownMenu(QMenu* menu) {
    dropDownMenu_ = menu;
    update();
}

void TCuteButton::setFlat(bool on) {
    flat_ = on;
    update();
}

void TCuteButton::setLayout(TTextLayout l) {
    layout_ = l;
    update();
}

void TCuteButton::setAlignment(TAlignment a) {
    alignment_ = a;
    update();
}

void TCuteButton::setMarginX(int m) {
    marginX_ = m < -1 ? -1 : m;
    update();
}

void TCuteButton::setMarginY(int m) {
    marginY_ = m < -1 ? -1 : m;
    update();
}

void TCuteButton::setShowFocusRect(bool on) {
    showFocusRect_ = on;
    update();
}

void TCuteButton::setBevelWidth(int w) {
    bevelWidth_ = w < 1 ? 1 : w;
    update();
}

void TCuteButton::setTabStop(bool on) {
    setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus);
}

void TCuteButton::setBevelOuter(TBevelCut b) {
    if (bevelOuter_ == b)
        return;
    bevelOuter_ = b;
    update();
}

QColor TCuteButton::faceColor() const {
    if (useDisabledColor_ && !isEnabled())
        return disabledColor_;
    return color();
}

void TCuteButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect r = rect();
    p.fillRect(r, faceColor());

    const QColor hi = bevelHighlightColor();
    const QColor sh = bevelShadowColor();
    auto bevel = [&](TBevelCut cut) {
        if (cut == bvRaised)
            drawFrame(p, r, hi, sh, bevelWidth_);
        else if (cut == bvLowered)
            drawFrame(p, r, sh, hi, bevelWidth_);
    };
    bevel(bevelOuter_);
    bevel(bevelInner());

    // The caption area does not depend on the bevel state, so the caption
    // only moves when the button is pressed.
    const int w = flat_ ? bevelWidth_ : 2 * bevelWidth_;
    QRect t = rect().adjusted(w, w, -w, -w);
    if (marginX_ != -1) {
        if (alignment_ == taLeftJustify)
            t.setLeft(t.left() + marginX_);
        else if (alignment_ == taRightJustify)
            t.setRight(t.right() - marginX_);
    }
    if (marginY_ != -1) {
        if (layout_ == tlTop)
            t.setTop(t.top() + marginY_);
        else if (layout_ == tlBottom)
            t.setBottom(t.bottom() - marginY_);
    }
    if (bevelOuter_ == bvLowered) {
        t.setLeft(t.left() + 2);
        t.setTop(t.top() + 2);
    }

    int flags = Qt::TextSingleLine | Qt::TextShowMnemonic;
    flags |= alignment_ == taLeftJustify    ? Qt::AlignLeft
             : alignment_ == taRightJustify ? Qt::AlignRight
                                            : Qt::AlignHCenter;
    flags |= layout_ == tlTop      ? Qt::AlignTop
             : layout_ == tlBottom ? Qt::AlignBottom
                                   : Qt::AlignVCenter;
    p.setFont(font());
    if (!isEnabled()) {
        p.setPen(systemColor(this, QPalette::Light));
        p.drawText(t.translated(1, 1), flags, caption_);
        p.setPen(systemColor(this, QPalette::Dark));
    } else {
        p.setPen(systemColor(this, QPalette::ButtonText));
    }
    p.drawText(t, flags, caption_);

    if (showFocusRect_ && hasFocus())
        drawFocusRect(p, t.adjusted(2, 2, -2, -2), systemColor(this, QPalette::ButtonText));
}

void TCuteButton::click() {
    if (menuDropped_) {
        menuDropped_ = false;
        return;
    }
    if (!egnoreContClick_) {
        emit clicked();
        return;
    }
    // While the handler runs it counts as detached: clicks arriving in that
    // time, including those still queued when it returns, find no handler.
    if (handlerRunning_)
        return;
    if (!isSignalConnected(QMetaMethod::fromSignal(&TCuteButton::clicked)))
        return;
    QPointer<TCuteButton> self(this);
    struct Reattach {
        QPointer<TCuteButton>& b;
        ~Reattach() {
            if (b)
                b->handlerRunning_ = false;
        }
    } reattach{self};
    handlerRunning_ = true;
    emit clicked();
    if (self)
        QCoreApplication::processEvents();
}

void TCuteButton::pressFromKeyboard() {
    QPointer<TCuteButton> self(this);
    setBevelOuter(bvLowered);
    if (!dropDownMenu_ || dropDownDelay_ != 0)
        click();
    else
        showDropDown();
    if (self)
        setBevelOuter(restOrHot());
}

bool TCuteButton::event(QEvent* e) {
    if (e->type() == QEvent::Shortcut) {
        auto* se = static_cast<QShortcutEvent*>(e);
        if (se->shortcutId() == shortcutId_ && shortcutId_ != 0) {
            if (isEnabled() && (!parentWidget() || parentWidget()->isVisible()))
                pressFromKeyboard();
            return true;
        }
    }
    return QWidget::event(e);
}

void TCuteButton::mouseDown(Qt::MouseButton button) {
    setFocus(Qt::MouseFocusReason);
    if (button == Qt::LeftButton) {
        setBevelOuter(bvLowered);
        leftDown_ = true;
        if (dropDownMenu_) {
            keyboardDrop_ = false;
            startDropDown();
        }
    }
}

void TCuteButton::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton)
        clickArmed_ = true;
    // A press can only happen with the pointer over the button, even when
    // no crossing was reported before it.
    if (rect().contains(e->position().toPoint()))
        hovering_ = true;
    mouseDown(e->button());
}

void TCuteButton::mouseDoubleClickEvent(QMouseEvent* e) {
    // The second press of a double click reports a double click instead of
    // a click.
    if (e->button() == Qt::LeftButton) {
        clickArmed_ = false;
        emit doubleClicked();
    }
    mouseDown(e->button());
}

void TCuteButton::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    if (e->button() == Qt::LeftButton && leftDown_ && clickArmed_ && rect().contains(pos)) {
        // The click is reported before the release is handled, so the
        // button still looks pressed while its handler runs.
        clickArmed_ = false;
        QPointer<TCuteButton> self(this);
        click();
        if (!self)
            return;
    }
    mouseUp(e->button(), pos);
}

void TCuteButton::mouseUp(Qt::MouseButton button, const QPoint& pos) {
    if (button == Qt::LeftButton) {
        const bool activeControl = window()->focusWidget() == this;
        setBevelOuter(rect().contains(pos) || (tabFocusUp_ && activeControl) ? bvRaised : bvNone);
    }
    discardDropDownTimer();
    leftDown_ = false;
    clickArmed_ = false;
}

void TCuteButton::mouseMoveEvent(QMouseEvent* e) {
    // While the pointer is held the toolkit may not report crossings of the
    // edge, so they are derived from the moves.
    if (leftDown_) {
        const QPoint pos = e->position().toPoint();
        const bool inside = rect().contains(pos);
        if (inside && !hovering_)
            pointerEntered(pos);
        else if (!inside && hovering_)
            pointerLeft(pos);
    }
    QWidget::mouseMoveEvent(e);
}

void TCuteButton::keyPressEvent(QKeyEvent* e) {
    if (!isEnabled()) {
        QWidget::keyPressEvent(e);
        return;
    }
    switch (e->key()) {
    case Qt::Key_Space:
        spaceDown_ = true;
        setBevelOuter(bvLowered);
        if (dropDownMenu_) {
            keyboardDrop_ = true;
            startDropDown();
        }
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        pressFromKeyboard();
        return;
    default:
        if (spaceDown_) {
            spaceDown_ = false;
            setBevelOuter(restOrHot());
        }
        QWidget::keyPressEvent(e);
    }
}

void TCuteButton::keyReleaseEvent(QKeyEvent* e) {
    // A held key repeats as presses only; the toolkit's synthetic releases
    // between them are no key-up.
    if (e->isAutoRepeat())
        return;
    if (e->key() == Qt::Key_Space)
        spaceUp();
    else
        discardDropDownTimer();
    QWidget::keyReleaseEvent(e);
}

void TCuteButton::spaceUp() {
    discardDropDownTimer();
    if (!spaceDown_)
        return;
    spaceDown_ = false;
    QPointer<TCuteButton> self(this);
    click();
    if (self)
        setBevelOuter(restOrHot());
}

void TCuteButton::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    // A popup menu borrowing the keyboard is no change of focus.
    if (e->reason() == Qt::PopupFocusReason)
        return;
    if (tabFocusUp_)
        setBevelOuter(bvRaised);
    update();
}

void TCuteButton::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    if (e->reason() == Qt::PopupFocusReason)
        return;
    setBevelOuter(bvNone);
    update();
}

void TCuteButton::enterEvent(QEnterEvent* e) {
    QWidget::enterEvent(e);
    if (!hovering_)
        pointerEntered(e->position().toPoint());
}

void TCuteButton::leaveEvent(QEvent* e) {
    QWidget::leaveEvent(e);
    if (hovering_)
        pointerLeft(mapFromGlobal(QCursor::pos()));
}

void TCuteButton::pointerEntered(const QPoint& pos) {
    hovering_ = true;
    Qt::MouseButtons buttons = QGuiApplication::mouseButtons();
    if (leftDown_)
        buttons |= Qt::LeftButton;
    handleMouseEnter(QGuiApplication::queryKeyboardModifiers(), buttons, pos.x(), pos.y());
}

void TCuteButton::pointerLeft(const QPoint& pos) {
    hovering_ = false;
    Qt::MouseButtons buttons = QGuiApplication::mouseButtons();
    if (leftDown_)
        buttons |= Qt::LeftButton;
    handleMouseLeave(QGuiApplication::queryKeyboardModifiers(), buttons, pos.x(), pos.y());
}

void TCuteButton::handleMouseEnter(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons, int x,
                                   int y) {
    QPointer<TCuteButton> self(this);
    emit mouseEnter(modifiers, buttons, x, y);
    if (self)
        setBevelOuter(buttons & Qt::LeftButton ? bvLowered : bvRaised);
}

void TCuteButton::handleMouseLeave(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons, int x,
                                   int y) {
    QPointer<TCuteButton> self(this);
    emit mouseLeave(modifiers, buttons, x, y);
    if (self && !(hasFocus() && tabFocusUp_))
        setBevelOuter(bvNone);
}

void TCuteButton::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange)
        update();
    QWidget::changeEvent(e);
}

void TCuteButton::startDropDown() {
    if (dropDownDelay_ <= 0) {
        showDropDown();
        return;
    }
    if (dropDownTimer_)
        return;
    dropDownTimer_ = new TCuteButtonTimer(this);
    dropDownTimer_->setInterval(dropDownDelay_);
    connect(dropDownTimer_, &QTimer::timeout, this, &TCuteButton::dropDownTimerExpired);
    dropDownTimer_->start();
}

void TCuteButton::discardDropDownTimer() {
    if (!dropDownTimer_)
        return;
    dropDownTimer_->stop();
    dropDownTimer_->deleteLater();
    dropDownTimer_ = nullptr;
}

void TCuteButton::dropDownTimerExpired() {
    discardDropDownTimer();
    if (keyboardDrop_) {
        showDropDown();
    } else if (leftDown_) {
        QPointer<TCuteButton> self(this);
        showDropDown();
        if (self) {
            leftDown_ = false;
            clickArmed_ = false;
        }
    }
}

void TCuteButton::showDropDown() {
    if (!dropDownMenu_)
        return;
    const QPoint at = mapToGlobal(QPoint(0, height()));
    QPointer<TCuteButton> self(this);
    menuDropped_ = true;
    QCoreApplication::processEvents();
    if (!self)
        return;
    if (QMenu* menu = dropDownMenu_)
        popupHook(menu, at);
    if (!self)
        return;
    // The menu took the pointer or the key; finish the press as if it had
    // been released on the button. A pending click is swallowed.
    if (keyboardDrop_)
        spaceUp();
    else
        mouseUp(Qt::LeftButton, QPoint(0, 0));
    menuDropped_ = false;
}
