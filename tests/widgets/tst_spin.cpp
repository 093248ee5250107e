#include "Spin.h"

#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TstSpin : public QObject {
    Q_OBJECT

    QWidget* window = nullptr;
    QLineEdit* other = nullptr;
    TSpinEdit* spin = nullptr;
    int beeps = 0;

    void show() {
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }
    void typeAndLeave(const QString& keys) {
        spin->setFocus(Qt::TabFocusReason);
        spin->selectAll();
        QTest::keyClicks(spin, keys);
        other->setFocus(Qt::TabFocusReason);
    }
    static void clickArrow(TTimerSpeedButton* arrow) {
        QTest::mouseClick(arrow, Qt::LeftButton, {}, arrow->rect().center());
    }

private slots:
    void init() {
        beeps = 0;
        TSpinEdit::beepHook = [this] { ++beeps; };
        window = new QWidget;
        other = new QLineEdit(window);
        other->setGeometry(0, 0, 100, 22);
        spin = new TSpinEdit(window);
        spin->setGeometry(0, 40, 80, 24);
        window->resize(200, 120);
    }
    void cleanup() {
        delete window;
        window = nullptr;
    }

    void clamping_data() {
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("written");
        QTest::addColumn<QString>("text");
        QTest::newRow("below") << 1 << 5000 << 0 << "1";
        QTest::newRow("above") << 1 << 5000 << 6000 << "5000";
        QTest::newRow("inside") << 1 << 5000 << 77 << "77";
        QTest::newRow("unbounded negative") << 0 << 0 << -123 << "-123";
        QTest::newRow("unbounded large") << 0 << 0 << 2000000000 << "2000000000";
        QTest::newRow("crossed bounds test min first") << 10 << 5 << 7 << "10";
        QTest::newRow("crossed bounds then max") << 10 << 5 << 12 << "5";
    }
    void clamping() {
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, written);
        QFETCH(QString, text);
        spin->setMinValue(min);
        spin->setMaxValue(max);
        spin->setValue(written);
        QCOMPARE(spin->text(), text);
    }

    void valueReadsMinForNonIntegers() {
        spin->setMinValue(3);
        spin->setMaxValue(9);
        for (const char* t : {"", "abc", "5-", "1e3"}) {
            spin->setText(QString::fromLatin1(t));
            QCOMPARE(spin->value(), 3);
        }
        spin->setText(QStringLiteral("+7"));
        QCOMPARE(spin->value(), 7);
    }

    // Typed or pasted text reads by the program's one integer conversion,
    // the same the settings and the other number boxes use.
    void valueUsesTheIntegerConversion_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("trailing blank") << "12 " << 3;
        QTest::newRow("leading blanks") << "  12" << 12;
        QTest::newRow("hexadecimal") << "$1F" << 31;
        QTest::newRow("negative hexadecimal") << "-$10" << -16;
        QTest::newRow("0x is not hexadecimal here") << "0x1F" << 3;
        QTest::newRow("tab") << "\t12" << 3;
        QTest::newRow("thousands separator") << "1,000" << 3;
        QTest::newRow("out of range") << "2147483648" << 3;
    }
    void valueUsesTheIntegerConversion() {
        QFETCH(QString, text);
        QFETCH(int, value);
        spin->setMinValue(3);
        spin->setMaxValue(0);
        spin->setText(text);
        QCOMPARE(spin->value(), value);
    }

    void onChangeOnlyWhenTextDiffers() {
        QSignalSpy changed(spin, &QLineEdit::textChanged);
        spin->setValue(0);
        QCOMPARE(changed.count(), 0);
        spin->setValue(5);
        QCOMPARE(changed.count(), 1);
    }

    void clampOnFocusLoss_data() {
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        QTest::newRow("too large") << 1 << 5000 << "9999"
                                   << "5000";
        QTest::newRow("too small") << 1 << 5000 << "0"
                                   << "1";
        QTest::newRow("inside") << 1 << 5000 << "6"
                                << "6";
        QTest::newRow("empty stays") << 1 << 5000 << ""
                                     << "";
        QTest::newRow("sign after digit stays") << 1 << 5000 << "5-"
                                                << "5-";
        QTest::newRow("unbounded") << 0 << 0 << "-99999"
                                   << "-99999";
    }
    void clampOnFocusLoss() {
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(QString, typed);
        QFETCH(QString, after);
        show();
        spin->setMinValue(min);
        spin->setMaxValue(max);
        spin->setFocus(Qt::TabFocusReason);
        spin->clear();
        QTest::keyClicks(spin, typed);
        QCOMPARE(spin->text(), typed);
        other->setFocus(Qt::TabFocusReason);
        QCOMPARE(spin->text(), after);
        QCOMPARE(beeps, 0);
    }

    void stepping() {
        show();
        spin->setMinValue(10);
        spin->setMaxValue(15);
        spin->setIncrement(5);
        spin->setText(QStringLiteral("12"));
        spin->setFocus();
        QTest::keyClick(spin, Qt::Key_Up);
        QCOMPARE(spin->text(), QStringLiteral("15"));
        QTest::keyClick(spin, Qt::Key_Up);
        QCOMPARE(spin->text(), QStringLiteral("15"));
        QTest::keyClick(spin, Qt::Key_Down);
        QCOMPARE(spin->text(), QStringLiteral("10"));
        clickArrow(spin->button()->downArrow());
        QCOMPARE(spin->text(), QStringLiteral("10"));
        clickArrow(spin->button()->upArrow());
        QCOMPARE(spin->text(), QStringLiteral("15"));
    }

    void stepSaturatesInsteadOfWrapping() {
        spin->setValue(INT_MAX);
        spin->stepUp();
        QCOMPARE(spin->value(), INT_MAX);
        spin->setValue(INT_MIN);
        spin->stepDown();
        QCOMPARE(spin->value(), INT_MIN);
    }

    void characterFilter() {
        show();
        spin->setFocus();
        spin->clear();
        QTest::keyClicks(spin, QStringLiteral("1a"));
        QCOMPARE(spin->text(), QStringLiteral("1"));
        QCOMPARE(beeps, 1);
        QSignalSpy returned(spin, &QLineEdit::returnPressed);
        QTest::keyClick(spin, Qt::Key_Return);
        QCOMPARE(beeps, 2);
        QCOMPARE(returned.count(), 0);
        QTest::keyClicks(spin, QStringLiteral("-+2"));
        QCOMPARE(spin->text(), QStringLiteral("1-+2"));
        QTest::keyClick(spin, Qt::Key_Backspace);
        QCOMPARE(spin->text(), QStringLiteral("1-+"));
        QCOMPARE(beeps, 2);

        QVERIFY(spin->acceptsChar(QLocale().decimalPoint().at(0)));
        QVERIFY(spin->acceptsChar(QChar(9)));
        QVERIFY(!spin->acceptsChar(QChar(13)));
        QVERIFY(!spin->acceptsChar(QChar(' ')));
    }

    void editorDisabled() {
        show();
        spin->setEditorEnabled(false);
        spin->setText(QStringLiteral("12"));
        spin->setFocus();
        spin->end(false);
        QTest::keyClicks(spin, QStringLiteral("3"));
        QTest::keyClick(spin, Qt::Key_Backspace);
        QCOMPARE(beeps, 2);
        QTest::keyClick(spin, Qt::Key_Home);
        QTest::keyClick(spin, Qt::Key_Delete);
        QCOMPARE(spin->text(), QStringLiteral("12"));

        QGuiApplication::clipboard()->setText(QStringLiteral("99"));
        spin->selectAll();
        QTest::keySequence(spin, QKeySequence::Paste);
        QTest::keySequence(spin, QKeySequence::Cut);
        QCOMPARE(spin->text(), QStringLiteral("12"));

        QTest::keyClick(spin, Qt::Key_Up);
        QCOMPARE(spin->text(), QStringLiteral("13"));
        clickArrow(spin->button()->downArrow());
        QCOMPARE(spin->text(), QStringLiteral("12"));
        QCOMPARE(beeps, 2);

        // The same keys work once the editor is enabled.
        spin->setEditorEnabled(true);
        spin->selectAll();
        QTest::keySequence(spin, QKeySequence::Paste);
        QCOMPARE(spin->text(), QStringLiteral("99"));
    }

    void readOnlyBeepsOnSteps() {
        show();
        spin->setReadOnly(true);
        spin->setFocus();
        QTest::keyClick(spin, Qt::Key_Up);
        QTest::keyClick(spin, Qt::Key_Down);
        clickArrow(spin->button()->upArrow());
        QCOMPARE(spin->text(), QStringLiteral("0"));
        QCOMPARE(beeps, 3);
        QGuiApplication::clipboard()->setText(QStringLiteral("99"));
        QTest::keySequence(spin, QKeySequence::Paste);
        QCOMPARE(spin->text(), QStringLiteral("0"));
    }

    void autoSelect() {
        show();
        spin->setText(QStringLiteral("123"));
        spin->setFocus(Qt::TabFocusReason);
        QCOMPARE(spin->selectedText(), QStringLiteral("123"));
        other->setFocus(Qt::TabFocusReason);
        spin->setAutoSelect(false);
        spin->setFocus(Qt::TabFocusReason);
        QVERIFY(!spin->hasSelectedText());
        other->setFocus(Qt::TabFocusReason);
        // An arrow press hands the focus over; that is no press on the box.
        spin->setAutoSelect(true);
        TTimerSpeedButton* up = spin->button()->upArrow();
        QTest::mousePress(up, Qt::LeftButton, {}, up->rect().center());
        QVERIFY(spin->hasFocus());
        QCOMPARE(spin->selectedText(), QStringLiteral("123"));
        QTest::mouseRelease(up, Qt::LeftButton, {}, up->rect().center());
        QCOMPARE(spin->text(), QStringLiteral("124"));
        // A left press on the box itself places the caret instead.
        other->setFocus(Qt::TabFocusReason);
        QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(5, 10));
        QVERIFY(spin->hasFocus());
        QVERIFY(!spin->hasSelectedText());
    }

    void minimumHeight() {
        const int f = QFontMetrics(spin->font()).height();
        const int s = QFontMetrics(QApplication::font()).height();
        QCOMPARE(spin->computeMinimumHeight(), f + std::min(s, f) / 4 + 6);
        spin->resize(80, 5);
        QCOMPARE(spin->height(), spin->computeMinimumHeight());
        QFont big = spin->font();
        big.setPixelSize(40);
        spin->setFont(big);
        QVERIFY(spin->height() >= 40);
        QCOMPARE(spin->height(), spin->computeMinimumHeight());
    }

    void arrowGeometry() {
        show();
        spin->resize(80, 25);
        TSpinButton* b = spin->button();
        QCOMPARE(b->width(), 15);
        QVERIFY(b->geometry().right() < spin->width());
        QVERIFY(spin->textMargins().right() >= b->width());
        const int h = b->height();
        QCOMPARE(b->upArrow()->geometry(), QRect(0, 0, 15, h / 2));
        QCOMPARE(b->downArrow()->geometry(), QRect(0, h / 2 - 1, 15, h - h / 2 + 1));

        TSpinButton lone;
        lone.resize(8, 25);
        QCOMPARE(lone.width(), TSpinButton::MinimumWidth);
        QCOMPARE(lone.downArrow()->geometry().top(), lone.upArrow()->geometry().bottom());
    }

    void glyphs() {
        const QColor olive(128, 128, 0);
        for (bool up : {true, false}) {
            const QImage g = TSpinButton::builtInGlyph(up);
            QCOMPARE(g.size(), QSize(9, 6));
            for (int row = 0; row < 6; ++row) {
                int black = 0, first = -1;
                for (int x = 0; x < 9; ++x) {
                    const QColor c = g.pixelColor(x, row);
                    QVERIFY(c == olive || c == Qt::black);
                    if (c == Qt::black) {
                        ++black;
                        if (first < 0)
                            first = x;
                    }
                }
                const int expected = row == 0 || row == 5 ? 0 : up ? 2 * row - 1 : 9 - 2 * row;
                QCOMPARE(black, expected);
                if (expected)
                    QCOMPARE(first, (9 - expected) / 2);
            }
        }
        // The olive background is drawn transparent.
        const QImage shot = spin->button()->upArrow()->grab().toImage();
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                QVERIFY(shot.pixelColor(x, y) != olive);
        // Writing none restores the built-in glyph.
        spin->button()->setUpGlyph(QImage(4, 4, QImage::Format_RGB32));
        QCOMPARE(spin->button()->upGlyph().size(), QSize(4, 4));
        spin->button()->setUpGlyph(QImage());
        QCOMPARE(spin->button()->upGlyph(), TSpinButton::builtInGlyph(true));
    }

    void autoRepeat() {
        show();
        TTimerSpeedButton* up = spin->button()->upArrow();
        const QPoint on = up->rect().center();
        QSignalSpy clicks(spin->button(), &TSpinButton::upClick);

        QTest::mousePress(up, Qt::LeftButton, {}, on);
        QTimer* timer = up->autoRepeatTimer();
        QVERIFY(timer && timer->isActive());
        QCOMPARE(timer->interval(), TTimerSpeedButton::InitialRepeatDelay);
        QSignalSpy ticks(timer, &QTimer::timeout);

        QVERIFY(ticks.wait(2000));
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(timer->interval(), TTimerSpeedButton::RepeatInterval);
        QTRY_COMPARE_WITH_TIMEOUT(ticks.count(), 3, 2000);
        QCOMPARE(clicks.count(), 3);

        // Off the arrow the ticks go on but click nothing.
        QTest::mouseMove(up, QPoint(-40, on.y()));
        QVERIFY(!up->isDown());
        QTRY_COMPARE_WITH_TIMEOUT(ticks.count(), 5, 2000);
        QCOMPARE(clicks.count(), 3);
        QTest::mouseMove(up, on);
        QVERIFY(up->isDown());
        QTRY_COMPARE_WITH_TIMEOUT(ticks.count(), 6, 2000);
        QCOMPARE(clicks.count(), 4);

        QTest::mouseRelease(up, Qt::LeftButton, {}, on);
        QCOMPARE(clicks.count(), 5);
        QVERIFY(!timer->isActive());
        QCOMPARE(spin->value(), 5);

        // A short press gives the single release click; a press restarts
        // with the long first delay.
        QTest::mousePress(up, Qt::LeftButton, {}, on);
        QCOMPARE(timer->interval(), TTimerSpeedButton::InitialRepeatDelay);
        QTest::mouseRelease(up, Qt::LeftButton, {}, on);
        QCOMPARE(clicks.count(), 6);
    }
};

QTEST_MAIN(TstSpin)
#include "tst_spin.moc"
