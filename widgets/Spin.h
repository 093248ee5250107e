#pragma once

#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <functional>

class QTimer;

// One arrow of the pair: a window-less, non-focusable push button showing a
// glyph, sunken while held, clicking when the left button is released over
// it. Held down it repeats: one click after 400 ms, then one every 100 ms
// while the pointer stays on it.
class TTimerSpeedButton : public QWidget {
    Q_OBJECT
public:
    explicit TTimerSpeedButton(QWidget* parent = nullptr);
    ~TTimerSpeedButton() override;
    Q_DISABLE_COPY_MOVE(TTimerSpeedButton)

    static constexpr int InitialRepeatDelay = 400;
    static constexpr int RepeatInterval = 100;

    bool autoRepeat() const { return autoRepeat_; }
    void setAutoRepeat(bool on) { autoRepeat_ = on; }
    bool focusFrame() const { return focusFrame_; }
    void setFocusFrame(bool on);

    QImage glyph() const { return glyph_; }
    void setGlyph(const QImage& glyph);
    // Images side by side in the glyph: up, disabled, pressed, exclusive.
    int numGlyphs() const { return numGlyphs_; }
    void setNumGlyphs(int n);

    // Sunken look: the left button is held and the pointer is over the arrow.
    bool isDown() const { return held_ && over_; }
    // Null until the first press.
    QTimer* autoRepeatTimer() const { return repeatTimer_; }

    void click();

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void repeatTick();

    QImage glyph_;
    int numGlyphs_ = 1;
    bool autoRepeat_ = false;
    bool focusFrame_ = false;
    bool held_ = false;
    bool over_ = false;
    QTimer* repeatTimer_ = nullptr;
};

// The arrow pair. Inside TSpinEdit it is no tab stop and steps the edit.
class TSpinButton : public QWidget {
    Q_OBJECT
public:
    explicit TSpinButton(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(TSpinButton)

    static constexpr int MinimumWidth = 15;

    TTimerSpeedButton* upArrow() const { return up_; }
    TTimerSpeedButton* downArrow() const { return down_; }
    TTimerSpeedButton* focusedArrow() const { return focused_; }

    QWidget* focusControl() const { return focusControl_; }
    void setFocusControl(QWidget* w) { focusControl_ = w; }

    bool tabStop() const { return focusPolicy() != Qt::NoFocus; }
    void setTabStop(bool on) { setFocusPolicy(on ? Qt::StrongFocus : Qt::NoFocus); }

    QImage upGlyph() const { return up_->glyph(); }
    // A null image restores the built-in arrow.
    void setUpGlyph(const QImage& glyph);
    QImage downGlyph() const { return down_->glyph(); }
    void setDownGlyph(const QImage& glyph);
    int upNumGlyphs() const { return up_->numGlyphs(); }
    void setUpNumGlyphs(int n) { up_->setNumGlyphs(n); }
    int downNumGlyphs() const { return down_->numGlyphs(); }
    void setDownNumGlyphs(int n) { down_->setNumGlyphs(n); }

    // The built-in 9 x 6 glyphs: a black triangle on olive, which is drawn
    // transparent.
    static QImage builtInGlyph(bool up);

    QSize sizeHint() const override { return {20, 25}; }

signals:
    void upClick();
    void downClick();

protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void fitArrows();
    void selectArrow(TTimerSpeedButton* arrow);
    void arrowPressed(TTimerSpeedButton* arrow);

    TTimerSpeedButton* up_;
    TTimerSpeedButton* down_;
    TTimerSpeedButton* focused_;
    QPointer<QWidget> focusControl_;
};

// Integer entry box with an arrow pair at its right edge. OnChange is
// QLineEdit::textChanged.
class TSpinEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);
    ~TSpinEdit() override;
    Q_DISABLE_COPY_MOVE(TSpinEdit)

    // The text read as an integer (tryStrToInt() of IntText.h: "$1F" is 31,
    // "12 " is not an integer); text that is not one reads as minValue().
    int value() const;
    // Writes the clamped value; the text (and textChanged) only changes if
    // it differs.
    void setValue(int v);
    int minValue() const { return min_; }
    void setMinValue(int v) { min_ = v; }
    int maxValue() const { return max_; }
    void setMaxValue(int v) { max_ = v; }
    int increment() const { return inc_; }
    void setIncrement(int v) { inc_ = v; }
    // Equal bounds mean no bounds.
    int clampValue(int v) const;

    bool editorEnabled() const { return editorEnabled_; }
    void setEditorEnabled(bool on) { editorEnabled_ = on; }
    bool autoSelect() const { return autoSelect_; }
    void setAutoSelect(bool on) { autoSelect_ = on; }

    TSpinButton* button() const { return button_; }

    // Lowest height at which the font fits; the box never gets lower.
    int computeMinimumHeight() const;

    virtual bool acceptsChar(QChar ch) const;
    virtual void stepUp();
    virtual void stepDown();

    // Sounds the refusal beep; replaceable so tests can count beeps.
    static std::function<void()> beepHook;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    bool pasteAndCutAllowed() const { return editorEnabled_ && !isReadOnly(); }
    void placeButton();
    void updateMinimumHeight();

    int min_ = 0;
    int max_ = 0;
    int inc_ = 1;
    bool editorEnabled_ = true;
    bool autoSelect_ = true;
    // Focus came with a mouse press, and it is not yet known whether the
    // press was on the box or on an arrow.
    bool mouseFocusPending_ = false;
    TSpinButton* button_ = nullptr;
};
