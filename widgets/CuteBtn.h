#pragma once

#include <QColor>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class TCuteButton;

// One-shot timer of the delayed drop-down; knows the button it serves.
class TCuteButtonTimer : public QTimer {
    Q_OBJECT
public:
    explicit TCuteButtonTimer(TCuteButton* button);
    TCuteButton* button() const { return button_; }

private:
    TCuteButton* button_;
};

// Push button that paints itself completely: a face, an outer bevel that
// carries the visual state (rest, hot, pressed), an inner raised bevel unless
// flat, and a one-line caption with an "&" accelerator. Adds hot tracking,
// a press-and-hold drop-down menu and the option to drop clicks that arrive
// while the click handler is still running.
class TCuteButton : public QWidget {
    Q_OBJECT
public:
    enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
    Q_ENUM(TBevelCut)
    enum TAlignment { taLeftJustify, taRightJustify, taCenter };
    Q_ENUM(TAlignment)
    enum TTextLayout { tlTop, tlCenter, tlBottom };
    Q_ENUM(TTextLayout)

    explicit TCuteButton(QWidget* parent = nullptr);
    TCuteButton(const QString& caption, QWidget* parent = nullptr);
    ~TCuteButton() override;
    Q_DISABLE_COPY_MOVE(TCuteButton)

    QString caption() const { return caption_; }
    void setCaption(const QString& caption);

    // An invalid colour means the system colour of the palette (the default).
    QColor bevelHighlightColor() const;
    void setBevelHighlightColor(const QColor& c);
    QColor bevelShadowColor() const;
    void setBevelShadowColor(const QColor& c);
    QColor color() const;
    void setColor(const QColor& c);
    QColor disabledColor() const { return disabledColor_; }
    void setDisabledColor(const QColor& c);
    bool useDisabledColor() const { return useDisabledColor_; }
    void setUseDisabledColor(bool on);

    int dropDownDelay() const { return dropDownDelay_; }
    void setDropDownDelay(int ms) { dropDownDelay_ = ms; }
    // Plain reference; a destroyed menu detaches itself.
    QMenu* dropDownMenu() const { return dropDownMenu_; }
    void setDropDownMenu(QMenu* menu);

    bool egnoreContClick() const { return egnoreContClick_; }
    void setEgnoreContClick(bool on) { egnoreContClick_ = on; }
    bool flat() const { return flat_; }
    void setFlat(bool on);
    TTextLayout layout() const { return layout_; }
    void setLayout(TTextLayout l);
    TAlignment alignment() const { return alignment_; }
    void setAlignment(TAlignment a);
    int marginX() const { return marginX_; }
    void setMarginX(int m);
    int marginY() const { return marginY_; }
    void setMarginY(int m);
    bool showFocusRect() const { return showFocusRect_; }
    void setShowFocusRect(bool on);
    bool tabFocusUp() const { return tabFocusUp_; }
    void setTabFocusUp(bool on) { tabFocusUp_ = on; }
    int bevelWidth() const { return bevelWidth_; }
    void setBevelWidth(int w);
    bool tabStop() const { return focusPolicy() != Qt::ClickFocus; }
    void setTabStop(bool on);

    TBevelCut bevelOuter() const { return bevelOuter_; }
    TBevelCut bevelInner() const { return flat_ ? bvNone : bvRaised; }
    bool menuDropped() const { return menuDropped_; }
    // The pending delayed drop-down, or null.
    TCuteButtonTimer* dropDownTimer() const { return dropDownTimer_; }

    QSize sizeHint() const override { return {75, 25}; }

    // Programmatic click: runs the same steps as an operator's click and
    // leaves the bevels alone.
    void click();

    // Pops the drop-down menu up and blocks until it closes. Replaceable so
    // tests can observe the call without a modal menu loop.
    static std::function<void(QMenu*, const QPoint&)> popupHook;

signals:
    void clicked();
    void doubleClicked();
    void mouseEnter(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons, int x, int y);
    void mouseLeave(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons, int x, int y);

protected:
    virtual void startDropDown();
    virtual void showDropDown();
    virtual void handleMouseEnter(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons, int x,
                                  int y);
    virtual void handleMouseLeave(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons, int x,
                                  int y);

    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void setBevelOuter(TBevelCut b);
    TBevelCut restOrHot() const { return tabFocusUp_ ? bvRaised : bvNone; }
    void pressFromKeyboard();
    void mouseDown(Qt::MouseButton button);
    void mouseUp(Qt::MouseButton button, const QPoint& pos);
    void spaceUp();
    void dropDownTimerExpired();
    void discardDropDownTimer();
    void pointerEntered(const QPoint& pos);
    void pointerLeft(const QPoint& pos);
    void updateShortcut();
    QColor faceColor() const;

    QString caption_;
    QColor bevelShadowColor_;
    QColor bevelHighlightColor_;
    QColor color_;
    QColor disabledColor_{128, 128, 128};
    int dropDownDelay_ = 0;
    QPointer<QMenu> dropDownMenu_;
    bool menuDropped_ = false;
    bool egnoreContClick_ = false;
    bool flat_ = false;
    bool spaceDown_ = false;
    bool tabFocusUp_ = true;
    TTextLayout layout_ = tlCenter;
    TAlignment alignment_ = taCenter;
    bool showFocusRect_ = false;
    bool useDisabledColor_ = false;
    bool keyboardDrop_ = false;
    int marginX_ = -1;
    int marginY_ = -1;
    int bevelWidth_ = 1;
    TCuteButtonTimer* dropDownTimer_ = nullptr;
    TBevelCut bevelOuter_ = bvNone;

    bool leftDown_ = false;   // holds the pointer from a left press until its release
    bool clickArmed_ = false; // that press may end in a click (not a double click)
    bool hovering_ = false;   // pointer is over the button as far as we have been told
    bool handlerRunning_ = false;
    int shortcutId_ = 0;
};
