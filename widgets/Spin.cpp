#include "Spin.h"

#include "IntText.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace {

QColor systemColor(const QWidget* w, QPalette::ColorRole role) {
    return w->palette().color(QPalette::Active, role);
}

// Every pixel in the colour of the bottom-left pixel becomes transparent;
// the rest optionally takes one colour (the greyed look of a disabled arrow).
QImage maskedGlyph(const QImage& src, const QColor& recolour) {
    QImage img = src.convertToFormat(QImage::Format_ARGB32);
    if (img.isNull())
        return img;
    const QRgb transparent = img.pixel(0, img.height() - 1);
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if (line[x] == transparent)
                line[x] = qRgba(0, 0, 0, 0);
            else if (recolour.isValid())
                line[x] = recolour.rgba();
        }
    }
    return img;
}

int saturate(qint64 v) {
    return static_cast<int>(std::clamp<qint64>(v, INT_MIN, INT_MAX));
}

} // namespace

// ---------------------------------------------------------------------------

TTimerSpeedButton::TTimerSpeedButton(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
}

TTimerSpeedButton::~TTimerSpeedButton() = default;

void TTimerSpeedButton::setFocusFrame(bool on) {
    if (focusFrame_ == on)
        return;
    focusFrame_ = on;
    update();
}

void TTimerSpeedButton::setGlyph(const QImage& glyph) {
    glyph_ = glyph;
    update();
}

void TTimerSpeedButton::setNumGlyphs(int n) {
    numGlyphs_ = std::clamp(n, 1, 4);
    update();
}

void TTimerSpeedButton::click() {
    emit clicked();
}

void TTimerSpeedButton::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        held_ = true;
        over_ = rect().contains(e->position().toPoint());
        update();
    }
    if (autoRepeat_) {
        if (!repeatTimer_) {
            repeatTimer_ = new QTimer(this);
            connect(repeatTimer_, &QTimer::timeout, this, &TTimerSpeedButton::repeatTick);
        }
        repeatTimer_->setInterval(InitialRepeatDelay);
        repeatTimer_->start();
    }
}

void TTimerSpeedButton::mouseMoveEvent(QMouseEvent* e) {
    if (!held_)
        return;
    const bool over = rect().contains(e->position().toPoint());
    if (over != over_) {
        over_ = over;
        update();
    }
}

void TTimerSpeedButton::mouseReleaseEvent(QMouseEvent* e) {
    if (repeatTimer_)
        repeatTimer_->stop();
    if (e->button() != Qt::LeftButton || !held_)
        return;
    const bool clicks = rect().contains(e->position().toPoint());
    held_ = false;
    over_ = false;
    update();
    if (clicks)
        click();
}

void TTimerSpeedButton::repeatTick() {
    repeatTimer_->setInterval(RepeatInterval);
    if (!isDown())
        return;
    try {
        click();
    } catch (...) {
        repeatTimer_->stop();
        throw;
    }
}

void TTimerSpeedButton::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange && !isEnabled()) {
        held_ = false;
        over_ = false;
        if (repeatTimer_)
            repeatTimer_->stop();
    }
    QWidget::changeEvent(e);
}

void TTimerSpeedButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    const bool down = isDown();
    p.fillRect(r, systemColor(this, QPalette::Button));

    const QColor light = systemColor(this, QPalette::Light);
    const QColor dark = systemColor(this, QPalette::Dark);
    const QColor shadow = systemColor(this, QPalette::Shadow);
    if (down) {
        p.fillRect(QRect(r.left(), r.top(), r.width(), 1), dark);
        p.fillRect(QRect(r.left(), r.top(), 1, r.height()), dark);
    } else {
        p.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), light);
        p.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), light);
        p.fillRect(QRect(r.right(), r.top(), 1, r.height()), shadow);
        p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), shadow);
        p.fillRect(QRect(r.right() - 1, r.top() + 1, 1, r.height() - 2), dark);
        p.fillRect(QRect(r.left() + 1, r.bottom() - 1, r.width() - 2, 1), dark);
    }

    if (!glyph_.isNull()) {
        const int w = glyph_.width() / numGlyphs_;
        int index = 0;
        if (!isEnabled() && numGlyphs_ > 1)
            index = 1;
        else if (down && numGlyphs_ > 2)
            index = 2;
        const QImage part = glyph_.copy(index * w, 0, w, glyph_.height());
        const QColor recolour = !isEnabled() && numGlyphs_ == 1 ? dark : QColor();
        QPoint at((r.width() - w) / 2, (r.height() - part.height()) / 2);
        if (down)
            at += QPoint(1, 1);
        p.drawImage(at, maskedGlyph(part, recolour));
    }

    if (focusFrame_) {
        QRect f = r.adjusted(3, 3, -3, -3);
        if (down)
            f.translate(1, 1);
        const QColor c = systemColor(this, QPalette::ButtonText);
        for (int x = f.left(); x <= f.right(); x += 2) {
            p.fillRect(QRect(x, f.top(), 1, 1), c);
            p.fillRect(QRect(x, f.bottom(), 1, 1), c);
        }
        for (int y = f.top(); y <= f.bottom(); y += 2) {
            p.fillRect(QRect(f.left(), y, 1, 1), c);
            p.fillRect(QRect(f.right(), y, 1, 1), c);
        }
    }
}

// ---------------------------------------------------------------------------

QImage TSpinButton::builtInGlyph(bool up) {
    QImage img(9, 6, QImage::Format_ARGB32);
    img.fill(QColor(128, 128, 0));
    for (int row = 0; row < 4; ++row) {
        const int width = up ? 1 + 2 * row : 7 - 2 * row;
        const int left = (9 - width) / 2;
        for (int x = left; x < left + width; ++x)
            img.setPixel(x, row + 1, qRgb(0, 0, 0));
    }
    return img;
}

TSpinButton::TSpinButton(QWidget* parent)
    : QWidget(parent), up_(new TTimerSpeedButton(this)), down_(new TTimerSpeedButton(this)),
      focused_(up_) {
    setFocusPolicy(Qt::NoFocus);
    setMinimumWidth(MinimumWidth);
    up_->setAutoRepeat(true);
    down_->setAutoRepeat(true);
    setUpGlyph(QImage());
    setDownGlyph(QImage());
    up_->installEventFilter(this);
    down_->installEventFilter(this);
    connect(up_, &TTimerSpeedButton::clicked, this, &TSpinButton::upClick);
    connect(down_, &TTimerSpeedButton::clicked, this, &TSpinButton::downClick);
    resize(20, 25);
    fitArrows();
}

void TSpinButton::setUpGlyph(const QImage& glyph) {
    if (glyph.isNull()) {
        up_->setGlyph(builtInGlyph(true));
        up_->setNumGlyphs(1);
    } else {
        up_->setGlyph(glyph);
    }
}

void TSpinButton::setDownGlyph(const QImage& glyph) {
    if (glyph.isNull()) {
        down_->setGlyph(builtInGlyph(false));
        down_->setNumGlyphs(1);
    } else {
        down_->setGlyph(glyph);
    }
}

void TSpinButton::fitArrows() {
    const int w = std::max(width(), int(MinimumWidth));
    const int h = height();
    const int upHeight = h / 2;
    // The arrows share one pixel row, so their edges meet in a single line.
    up_->setGeometry(0, 0, w, upHeight);
    down_->setGeometry(0, upHeight - 1, w, h - upHeight + 1);
}

void TSpinButton::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    fitArrows();
}

void TSpinButton::selectArrow(TTimerSpeedButton* arrow) {
    if (!tabStop() || !isEnabled() || arrow == focused_)
        return;
    focused_->setFocusFrame(false);
    focused_ = arrow;
    if (hasFocus())
        focused_->setFocusFrame(true);
}

void TSpinButton::arrowPressed(TTimerSpeedButton* arrow) {
    selectArrow(arrow);
    QWidget* fc = focusControl_;
    if (fc && (fc->focusPolicy() & Qt::TabFocus) && fc->isEnabled() && fc->isVisible()) {
        if (!fc->hasFocus())
            fc->setFocus(Qt::OtherFocusReason);
    } else if (tabStop() && !hasFocus() && isEnabled() && isVisible()) {
        setFocus(Qt::OtherFocusReason);
    }
}

bool TSpinButton::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::MouseButtonPress && (watched == up_ || watched == down_)) {
        if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
            arrowPressed(static_cast<TTimerSpeedButton*>(watched));
    }
    return QWidget::eventFilter(watched, e);
}

void TSpinButton::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Space:
        focused_->click();
        break;
    case Qt::Key_Up:
        selectArrow(up_);
        up_->click();
        break;
    case Qt::Key_Down:
        selectArrow(down_);
        down_->click();
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}

void TSpinButton::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    focused_->setFocusFrame(true);
}

void TSpinButton::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    focused_->setFocusFrame(false);
}

// ---------------------------------------------------------------------------

std::function<void()> TSpinEdit::beepHook = [] { QApplication::beep(); };

TSpinEdit::TSpinEdit(QWidget* parent) : QLineEdit(parent) {
    button_ = new TSpinButton(this);
    button_->resize(15, 17);
    button_->setFocusControl(this);
    button_->setCursor(Qt::ArrowCursor);
    button_->upArrow()->installEventFilter(this);
    button_->downArrow()->installEventFilter(this);
    connect(button_, &TSpinButton::upClick, this, [this] { stepUp(); });
    connect(button_, &TSpinButton::downClick, this, [this] { stepDown(); });
    setText(QStringLiteral("0"));
    updateMinimumHeight();
    placeButton();
}

TSpinEdit::~TSpinEdit() {
    button_ = nullptr;
}

int TSpinEdit::value() const {
    int v = 0;
    return tryStrToInt(text(), v) ? v : min_;
}

void TSpinEdit::setValue(int v) {
    const QString t = QString::number(clampValue(v));
    if (t != text())
        setText(t);
}

int TSpinEdit::clampValue(int v) const {
    if (min_ == max_)
        return v;
    if (v < min_)
        return min_;
    if (v > max_)
        return max_;
    return v;
}

bool TSpinEdit::acceptsChar(QChar ch) const {
    const char16_t c = ch.unicode();
    const QString sep = QLocale().decimalPoint();
    bool ok = c == u'+' || c == u'-' || (c >= u'0' && c <= u'9') ||
              (sep.size() == 1 && ch == sep.at(0)) || (c < 32 && c != 13);
    if (ok && !editorEnabled_ && (c >= 32 || c == 8))
        ok = false;
    return ok;
}

void TSpinEdit::stepUp() {
    if (isReadOnly()) {
        beepHook();
        return;
    }
    // Saturate rather than wrap: an unbounded box must not jump from the
    // largest integer to the smallest.
    setValue(saturate(qint64(value()) + inc_));
}

void TSpinEdit::stepDown() {
    if (isReadOnly()) {
        beepHook();
        return;
    }
    setValue(saturate(qint64(value()) - inc_));
}

void TSpinEdit::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Up)
        stepUp();
    else if (e->key() == Qt::Key_Down)
        stepDown();

    if (e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Cut)) {
        if (pasteAndCutAllowed())
            QLineEdit::keyPressEvent(e);
        return;
    }
    // Keys that edit without producing a character: with the editor
    // disabled the text stays as the arrows leave it.
    if (!editorEnabled_ &&
        (e->key() == Qt::Key_Delete || e->matches(QKeySequence::DeleteEndOfWord) ||
         e->matches(QKeySequence::DeleteStartOfWord) || e->matches(QKeySequence::DeleteEndOfLine) ||
         e->matches(QKeySequence::Undo) || e->matches(QKeySequence::Redo)))
        return;
    // Delete carries DEL as its text, yet it is an editing key, not a
    // character.
    if (e->key() != Qt::Key_Delete) {
        const QString t = e->text();
        for (const QChar ch : t) {
            if (!acceptsChar(ch)) {
                beepHook();
                return;
            }
        }
    }
    QLineEdit::keyPressEvent(e);
}

void TSpinEdit::inputMethodEvent(QInputMethodEvent* e) {
    const QString commit = e->commitString();
    for (const QChar ch : commit) {
        if (!acceptsChar(ch)) {
            beepHook();
            e->setCommitString(QString());
            break;
        }
    }
    QLineEdit::inputMethodEvent(e);
}

void TSpinEdit::focusInEvent(QFocusEvent* e) {
    QLineEdit::focusInEvent(e);
    const Qt::FocusReason reason = e->reason();
    // Window activation and popups hand the focus back; it never left the box.
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return;
    // The toolkit hands the focus over before it delivers the press, so a
    // press on an arrow also arrives here as a mouse focus; the press itself
    // settles which one it was.
    mouseFocusPending_ = reason == Qt::MouseFocusReason;
    if (autoSelect_ && !mouseFocusPending_)
        selectAll();
    else if (!autoSelect_ && hasSelectedText())
        deselect();
}

void TSpinEdit::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason)
        return;
    const int v = value();
    if (clampValue(v) != v)
        setValue(v);
}

int TSpinEdit::computeMinimumHeight() const {
    const int f = QFontMetrics(font()).height();
    const int s = QFontMetrics(QApplication::font()).height();
    const int border = 1;
    return f + std::min(s, f) / 4 + 4 * border + 2;
}

void TSpinEdit::updateMinimumHeight() {
    setMinimumHeight(computeMinimumHeight());
}

void TSpinEdit::resizeEvent(QResizeEvent* e) {
    QLineEdit::resizeEvent(e);
    const int mh = computeMinimumHeight();
    if (height() < mh) {
        resize(width(), mh);
        return;
    }
    placeButton();
}

void TSpinEdit::placeButton() {
    if (!button_)
        return;
    const int bw = button_->width();
    if (hasFrame()) {
        const int fw = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
        button_->setGeometry(width() - fw - bw - 1, fw, bw, height() - 2 * fw - 1);
    } else {
        button_->setGeometry(width() - bw, 1, bw, height() - 3);
    }
    // The text stops short of the arrows instead of running under them.
    setTextMargins(0, 0, bw + 1, 0);
}

void TSpinEdit::changeEvent(QEvent* e) {
    QLineEdit::changeEvent(e);
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) {
        updateMinimumHeight();
        placeButton();
    }
}

void TSpinEdit::contextMenuEvent(QContextMenuEvent* e) {
    QMenu* menu = createStandardContextMenu();
    if (!menu)
        return;
    for (QAction* a : menu->actions()) {
        const QString name = a->objectName();
        if ((name == QLatin1String("edit-paste") || name == QLatin1String("edit-cut")) &&
            !pasteAndCutAllowed())
            a->setEnabled(false);
        if (!editorEnabled_ &&
            (name == QLatin1String("edit-delete") || name == QLatin1String("edit-undo") ||
             name == QLatin1String("edit-redo")))
            a->setEnabled(false);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
}

void TSpinEdit::mousePressEvent(QMouseEvent* e) {
    // A press on the box that did not use the left button still selects.
    if (mouseFocusPending_ && e->button() != Qt::LeftButton && autoSelect_)
        selectAll();
    mouseFocusPending_ = false;
    QLineEdit::mousePressEvent(e);
}

bool TSpinEdit::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::MouseButtonPress && button_ &&
        (watched == button_->upArrow() || watched == button_->downArrow())) {
        if (mouseFocusPending_ && autoSelect_)
            selectAll();
        mouseFocusPending_ = false;
    }
    return QLineEdit::eventFilter(watched, e);
}

void TSpinEdit::mouseReleaseEvent(QMouseEvent* e) {
    // The middle button pastes the selection on X11.
    if (e->button() == Qt::MiddleButton && !pasteAndCutAllowed())
        return;
    QLineEdit::mouseReleaseEvent(e);
}

void TSpinEdit::dragEnterEvent(QDragEnterEvent* e) {
    if (!editorEnabled_) {
        e->ignore();
        return;
    }
    QLineEdit::dragEnterEvent(e);
}

void TSpinEdit::dropEvent(QDropEvent* e) {
    if (!editorEnabled_) {
        e->ignore();
        return;
    }
    QLineEdit::dropEvent(e);
}
