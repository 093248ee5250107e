#include "CuteBtn.h"

#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

namespace {

const QColor kHigh(255, 0, 0);
const QColor kShadow(0, 0, 255);
const QColor kFace(0, 255, 0);

// Bounding box of the pixels inside `area` that are neither face nor bevel.
QRect captionBox(const QImage& img, const QRect& area, const QColor& face) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (img.pixelColor(x, y) != face)
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

class TstCuteBtn : public QObject {
    Q_OBJECT

    QWidget* window = nullptr;
    QLineEdit* other = nullptr;
    TCuteButton* btn = nullptr;

    void show() {
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }
    void pressSpace(QEvent::Type type, bool autoRepeat = false) {
        QKeyEvent e(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), autoRepeat);
        QCoreApplication::sendEvent(btn, &e);
    }
    static void sendMouse(QWidget* w, QEvent::Type type, const QPoint& pos) {
        QMouseEvent e(type, pos, w->mapToGlobal(pos), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }
    QImage renderFixed(TCuteButton::TAlignment al, TCuteButton::TTextLayout lay, int marginX) {
        btn->setColor(kFace);
        btn->setBevelHighlightColor(kFace);
        btn->setBevelShadowColor(kFace);
        btn->setAlignment(al);
        btn->setLayout(lay);
        btn->setMarginX(marginX);
        return btn->grab().toImage();
    }

private slots:
    void init() {
        TCuteButton::popupHook = [](QMenu* m, const QPoint& p) { m->exec(p); };
        window = new QWidget;
        other = new QLineEdit(window);
        other->setGeometry(0, 0, 100, 20);
        btn = new TCuteButton(QStringLiteral("&Set"), window);
        btn->move(40, 50);
        window->resize(200, 120);
    }
    void cleanup() {
        delete window;
        window = nullptr;
    }

    void defaults() {
        TCuteButton b;
        QCOMPARE(b.size(), QSize(75, 25));
        QCOMPARE(b.bevelOuter(), TCuteButton::bvNone);
        QCOMPARE(b.bevelInner(), TCuteButton::bvRaised);
        QCOMPARE(b.marginX(), -1);
        QCOMPARE(b.marginY(), -1);
        QVERIFY(b.tabFocusUp());
        QVERIFY(b.tabStop());
        QVERIFY(!b.showFocusRect());
        QVERIFY(!b.flat());
        QCOMPARE(b.disabledColor(), QColor(128, 128, 128));
        QCOMPARE(b.color(), b.palette().color(QPalette::Active, QPalette::Button));
        QCOMPARE(b.bevelShadowColor(), b.palette().color(QPalette::Active, QPalette::Dark));
        QCOMPARE(b.bevelHighlightColor(), b.palette().color(QPalette::Active, QPalette::Light));
        b.setFlat(true);
        QCOMPARE(b.bevelInner(), TCuteButton::bvNone);
        b.setMarginX(-7);
        QCOMPARE(b.marginX(), -1);
        b.setMarginY(-2);
        QCOMPARE(b.marginY(), -1);
        b.setBevelWidth(0);
        QCOMPARE(b.bevelWidth(), 1);
    }

    void hotPressedAndRelease() {
        show();
        other->setFocus();
        QSignalSpy enter(btn, &TCuteButton::mouseEnter);
        QSignalSpy leave(btn, &TCuteButton::mouseLeave);
        QSignalSpy clicked(btn, &TCuteButton::clicked);
        TCuteButton::TBevelCut duringClick = TCuteButton::bvSpace;
        connect(btn, &TCuteButton::clicked, this, [&] { duringClick = btn->bevelOuter(); });

        QTest::mouseMove(btn, QPoint(10, 10));
        QTRY_COMPARE(enter.count(), 1);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvRaised);
        QCOMPARE(enter.at(0).at(2).toInt(), 10);

        QTest::mousePress(btn, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(btn->hasFocus());
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvLowered);
        QTest::mouseRelease(btn, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(duringClick, TCuteButton::bvLowered);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvRaised);

        // Focused with TabFocusUp: leaving keeps the hot look.
        QTest::mouseMove(other, QPoint(5, 5));
        QTRY_COMPARE(leave.count(), 1);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvRaised);

        btn->setTabFocusUp(false);
        QTest::mouseMove(btn, QPoint(10, 10));
        QTRY_COMPARE(enter.count(), 2);
        QTest::mouseMove(other, QPoint(5, 5));
        QTRY_COMPARE(leave.count(), 2);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvNone);
    }

    void dragOffAndBackWhileHeld() {
        show();
        QSignalSpy clicked(btn, &TCuteButton::clicked);
        // Pressing focuses the button; with TabFocusUp leaving keeps the look.
        sendMouse(btn, QEvent::MouseButtonPress, QPoint(10, 10));
        sendMouse(btn, QEvent::MouseMove, QPoint(-30, 10));
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvLowered);
        sendMouse(btn, QEvent::MouseButtonRelease, QPoint(-30, 10));
        QCOMPARE(clicked.count(), 0);

        btn->setTabFocusUp(false);
        sendMouse(btn, QEvent::MouseButtonPress, QPoint(10, 10));
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvLowered);
        sendMouse(btn, QEvent::MouseMove, QPoint(-30, 10));
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvNone);
        sendMouse(btn, QEvent::MouseMove, QPoint(10, 10));
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvLowered);
        sendMouse(btn, QEvent::MouseMove, QPoint(-30, 10));
        sendMouse(btn, QEvent::MouseButtonRelease, QPoint(-30, 10));
        QCOMPARE(clicked.count(), 0);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvNone);
        // Released off the button while it is the focused control with
        // TabFocusUp: it rests hot.
        btn->setTabFocusUp(true);
        sendMouse(btn, QEvent::MouseButtonPress, QPoint(10, 10));
        sendMouse(btn, QEvent::MouseButtonRelease, QPoint(-30, 10));
        QCOMPARE(clicked.count(), 0);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvRaised);
    }

    void doubleClickGivesOneClick() {
        show();
        QSignalSpy clicked(btn, &TCuteButton::clicked);
        QSignalSpy dbl(btn, &TCuteButton::doubleClicked);
        sendMouse(btn, QEvent::MouseButtonPress, QPoint(10, 10));
        sendMouse(btn, QEvent::MouseButtonRelease, QPoint(10, 10));
        sendMouse(btn, QEvent::MouseButtonDblClick, QPoint(10, 10));
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvLowered);
        sendMouse(btn, QEvent::MouseButtonRelease, QPoint(10, 10));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(dbl.count(), 1);
    }

    void focusLook() {
        show();
        other->setFocus();
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvNone);
        btn->setFocus(Qt::TabFocusReason);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvRaised);
        other->setFocus(Qt::TabFocusReason);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvNone);
        btn->setTabFocusUp(false);
        btn->setFocus(Qt::TabFocusReason);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvNone);
    }

    void spaceClicksOnRelease() {
        show();
        btn->setFocus();
        QSignalSpy clicked(btn, &TCuteButton::clicked);
        pressSpace(QEvent::KeyPress);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvLowered);
        // A held key repeats; the toolkit's synthetic releases are no key-up.
        pressSpace(QEvent::KeyRelease, true);
        pressSpace(QEvent::KeyPress, true);
        QCOMPARE(clicked.count(), 0);
        pressSpace(QEvent::KeyRelease);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvRaised);

        // Space, another key, Space released: cancelled.
        pressSpace(QEvent::KeyPress);
        QTest::keyClick(btn, Qt::Key_A);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvRaised);
        pressSpace(QEvent::KeyRelease);
        QCOMPARE(clicked.count(), 1);
    }

    void enterAndAcceleratorClick() {
        show();
        btn->setFocus();
        QSignalSpy clicked(btn, &TCuteButton::clicked);
        TCuteButton::TBevelCut duringClick = TCuteButton::bvSpace;
        connect(btn, &TCuteButton::clicked, this, [&] { duringClick = btn->bevelOuter(); });
        QTest::keyPress(btn, Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(duringClick, TCuteButton::bvLowered);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvRaised);
        QTest::keyPress(btn, Qt::Key_Return); // keyboard auto-repeat
        QCOMPARE(clicked.count(), 2);

        other->setFocus();
        QTest::keyClick(window, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(clicked.count(), 3);
        QCOMPARE(duringClick, TCuteButton::bvLowered);
        btn->setEnabled(false);
        QTest::keyClick(window, Qt::Key_S, Qt::AltModifier);
        QCOMPARE(clicked.count(), 3);
    }

    void programmaticClickKeepsBevels() {
        QSignalSpy clicked(btn, &TCuteButton::clicked);
        btn->click();
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvNone);
    }

    void egnoreContClick_data() {
        QTest::addColumn<bool>("egnore");
        QTest::addColumn<int>("runs");
        QTest::newRow("off: every click runs the handler") << false << 3;
        QTest::newRow("on: clicks during the handler are lost") << true << 1;
    }
    void egnoreContClick() {
        QFETCH(bool, egnore);
        QFETCH(int, runs);
        show();
        btn->setEgnoreContClick(egnore);
        int count = 0;
        connect(btn, &TCuteButton::clicked, this, [&] {
            if (++count > 1)
                return;
            // A long handler that keeps the window alive: one click arrives
            // while it runs, another waits in the queue when it returns.
            sendMouse(btn, QEvent::MouseButtonPress, QPoint(5, 5));
            sendMouse(btn, QEvent::MouseButtonRelease, QPoint(5, 5));
            const QPoint p(5, 5);
            QCoreApplication::postEvent(btn, new QMouseEvent(QEvent::MouseButtonPress, p,
                                                             btn->mapToGlobal(p), Qt::LeftButton,
                                                             Qt::LeftButton, Qt::NoModifier));
            QCoreApplication::postEvent(btn, new QMouseEvent(QEvent::MouseButtonRelease, p,
                                                             btn->mapToGlobal(p), Qt::LeftButton,
                                                             Qt::NoButton, Qt::NoModifier));
        });
        btn->click();
        QCoreApplication::processEvents();
        QCOMPARE(count, runs);
        // The handler is attached again afterwards.
        btn->click();
        QCOMPARE(count, runs + 1);
    }

    void dropDownAfterDelay() {
        show();
        QMenu menu;
        menu.addAction(QStringLiteral("x"));
        btn->setDropDownMenu(&menu);
        btn->setDropDownDelay(500);
        QList<QPoint> popups;
        bool droppedDuringPopup = false;
        TCuteButton::popupHook = [&](QMenu*, const QPoint& p) {
            popups << p;
            droppedDuringPopup = btn->menuDropped();
        };
        QSignalSpy clicked(btn, &TCuteButton::clicked);

        // A quick click clicks and never shows the menu.
        QTest::mousePress(btn, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(btn->dropDownTimer());
        QCOMPARE(btn->dropDownTimer()->interval(), 500);
        QTest::mouseRelease(btn, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!btn->dropDownTimer());
        QCOMPARE(clicked.count(), 1);

        // Holding the button shows it at the bottom-left corner.
        QTest::mousePress(btn, Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_COMPARE_WITH_TIMEOUT(popups.size(), 1, 3000);
        QCOMPARE(popups.at(0), btn->mapToGlobal(QPoint(0, btn->height())));
        QVERIFY(droppedDuringPopup);
        QVERIFY(!btn->menuDropped());
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvRaised);
        QTest::mouseRelease(btn, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(clicked.count(), 1);

        // Enter clicks when there is a delay.
        QTest::keyClick(btn, Qt::Key_Return);
        QCOMPARE(clicked.count(), 2);
        QCOMPARE(popups.size(), 1);
    }

    void dropDownAtOnce() {
        show();
        QMenu menu;
        menu.addAction(QStringLiteral("x"));
        btn->setDropDownMenu(&menu);
        int popups = 0;
        TCuteButton::popupHook = [&](QMenu*, const QPoint&) { ++popups; };
        QSignalSpy clicked(btn, &TCuteButton::clicked);

        QTest::mousePress(btn, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(popups, 1);
        QTest::mouseRelease(btn, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::keyClick(btn, Qt::Key_Return);
        QCOMPARE(popups, 2);
        pressSpace(QEvent::KeyPress);
        pressSpace(QEvent::KeyRelease);
        QCOMPARE(popups, 3);
        QCOMPARE(clicked.count(), 0);
        QVERIFY(!btn->menuDropped());
        // The next click is an ordinary one again.
        btn->setDropDownMenu(nullptr);
        btn->click();
        QCOMPARE(clicked.count(), 1);
    }

    void realMenuClosesAndButtonRestsHot() {
        show();
        auto* menu = new QMenu(window);
        menu->addAction(QStringLiteral("x"));
        connect(menu, &QMenu::aboutToShow, menu,
                [menu] { QTimer::singleShot(0, menu, &QMenu::close); });
        btn->setDropDownMenu(menu);
        QTest::mousePress(btn, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!menu->isVisible());
        QCOMPARE(btn->bevelOuter(), TCuteButton::bvRaised);
        delete menu;
        QVERIFY(!btn->dropDownMenu());
        QTest::mouseRelease(btn, Qt::LeftButton, {}, QPoint(5, 5));
    }

    void bevelPixels() {
        btn->setBevelHighlightColor(kHigh);
        btn->setBevelShadowColor(kShadow);
        btn->setColor(kFace);
        btn->setCaption(QString());
        const int r = 74, b = 24;

        // Rest: the inner raised bevel only; both off-corners take the shadow.
        QImage img = btn->grab().toImage();
        QCOMPARE(img.pixelColor(0, 0), kHigh);
        QCOMPARE(img.pixelColor(10, 0), kHigh);
        QCOMPARE(img.pixelColor(0, 10), kHigh);
        QCOMPARE(img.pixelColor(r, 0), kShadow);
        QCOMPARE(img.pixelColor(0, b), kShadow);
        QCOMPARE(img.pixelColor(r, 10), kShadow);
        QCOMPARE(img.pixelColor(10, b), kShadow);
        QCOMPARE(img.pixelColor(1, 1), kFace);

        // Hot: a raised outer bevel with the raised inner one inside it.
        show();
        QTest::mouseMove(btn, QPoint(30, 10));
        QTRY_COMPARE(btn->bevelOuter(), TCuteButton::bvRaised);
        img = btn->grab().toImage();
        QCOMPARE(img.pixelColor(0, 0), kHigh);
        QCOMPARE(img.pixelColor(1, 1), kHigh);
        QCOMPARE(img.pixelColor(r - 1, 1), kShadow);
        QCOMPARE(img.pixelColor(1, b - 1), kShadow);
        QCOMPARE(img.pixelColor(2, 2), kFace);

        // Pressed: the outer bevel lowered.
        QTest::mousePress(btn, Qt::LeftButton, {}, QPoint(30, 10));
        img = btn->grab().toImage();
        QCOMPARE(img.pixelColor(0, 0), kShadow);
        QCOMPARE(img.pixelColor(10, 0), kShadow);
        QCOMPARE(img.pixelColor(r, 0), kHigh);
        QCOMPARE(img.pixelColor(0, b), kHigh);
        QCOMPARE(img.pixelColor(r, 10), kHigh);
        QCOMPARE(img.pixelColor(1, 1), kHigh);
        QCOMPARE(img.pixelColor(r - 1, b - 1), kShadow);
        QTest::mouseRelease(btn, Qt::LeftButton, {}, QPoint(30, 10));

        // Wider bevels: two rings each.
        btn->setBevelWidth(2);
        img = btn->grab().toImage();
        QCOMPARE(img.pixelColor(1, 1), kHigh);
        QCOMPARE(img.pixelColor(3, 3), kHigh);
        QCOMPARE(img.pixelColor(4, 4), kFace);
    }

    void defaultColoursFollowPalette() {
        btn->setCaption(QString());
        const QImage img = btn->grab().toImage();
        const QPalette pal = btn->palette();
        QCOMPARE(img.pixel(0, 0), pal.color(QPalette::Active, QPalette::Light).rgb());
        QCOMPARE(img.pixel(74, 24), pal.color(QPalette::Active, QPalette::Dark).rgb());
        QCOMPARE(img.pixel(5, 5), pal.color(QPalette::Active, QPalette::Button).rgb());
    }

    void pressedCaptionMoves() {
        btn->setCaption(QStringLiteral("X"));
        const QRect inner = btn->rect();
        const QImage rest = renderFixed(TCuteButton::taLeftJustify, TCuteButton::tlTop, -1);
        const QRect a = captionBox(rest, inner, kFace);
        if (a.isEmpty())
            QSKIP("no font renders text on this system");
        show();
        QTest::mousePress(btn, Qt::LeftButton, {}, QPoint(60, 20));
        const QRect b = captionBox(btn->grab().toImage(), inner, kFace);
        QTest::mouseRelease(btn, Qt::LeftButton, {}, QPoint(60, 20));
        QCOMPARE(b.topLeft(), a.topLeft() + QPoint(2, 2));
    }

    void marginX_data() {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<int>("shift");
        QTest::newRow("left") << int(TCuteButton::taLeftJustify) << 5;
        QTest::newRow("right") << int(TCuteButton::taRightJustify) << -5;
        QTest::newRow("centre") << int(TCuteButton::taCenter) << 0;
    }
    void marginX() {
        QFETCH(int, alignment);
        QFETCH(int, shift);
        btn->setCaption(QStringLiteral("X"));
        const auto al = TCuteButton::TAlignment(alignment);
        const QRect inner = btn->rect();
        const QRect a = captionBox(renderFixed(al, TCuteButton::tlCenter, -1), inner, kFace);
        if (a.isEmpty())
            QSKIP("no font renders text on this system");
        const QRect b = captionBox(renderFixed(al, TCuteButton::tlCenter, 5), inner, kFace);
        QCOMPARE(b.left() - a.left(), shift);
    }

    void disabledLook() {
        btn->setColor(kFace);
        btn->setCaption(QStringLiteral("H"));
        QFont f = btn->font();
        f.setStyleStrategy(QFont::NoAntialias);
        btn->setFont(f);
        btn->setEnabled(false);
        QImage img = btn->grab().toImage();
        QCOMPARE(img.pixelColor(1, 1), kFace);
        const QPalette pal = btn->palette();
        bool light = false, dark = false;
        for (int y = 3; y < btn->height() - 3; ++y)
            for (int x = 3; x < btn->width() - 3; ++x) {
                light |= img.pixel(x, y) == pal.color(QPalette::Active, QPalette::Light).rgb();
                dark |= img.pixel(x, y) == pal.color(QPalette::Active, QPalette::Dark).rgb();
            }
        if (!light && !dark)
            QSKIP("no font renders text on this system");
        QVERIFY(light && dark); // engraved caption

        btn->setUseDisabledColor(true);
        img = btn->grab().toImage();
        QCOMPARE(img.pixelColor(1, 1), QColor(128, 128, 128));
        btn->setEnabled(true);
        img = btn->grab().toImage();
        QCOMPARE(img.pixelColor(1, 1), kFace);
    }
};

QTEST_MAIN(TstCuteBtn)
#include "tst_cutebtn.moc"
