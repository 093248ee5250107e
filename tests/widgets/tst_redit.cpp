#include "REdit.h"

#include <QSignalSpy>
#include <QTest>

class TstREdit : public QObject {
    Q_OBJECT

    // Bounding box of the dark text pixels of "300" in a box of this width.
    static QRect textBox(QLineEdit& e, int width) {
        e.resize(width, 21);
        e.setText(QStringLiteral("300"));
        const QImage img = e.grab().toImage();
        const int base = qGray(e.palette().color(QPalette::Base).rgb());
        QRect box;
        for (int y = 4; y < img.height() - 4; ++y)
            for (int x = 3; x < img.width() - 3; ++x)
                if (qGray(img.pixel(x, y)) < base - 80)
                    box |= QRect(x, y, 1, 1);
        return box;
    }

private slots:
    void textStandsAtTheRightEdge_data() {
        QTest::addColumn<int>("width");
        QTest::newRow("settings box") << 33;
        QTest::newRow("wide box") << 90;
    }
    void textStandsAtTheRightEdge() {
        QFETCH(int, width);
        TREdit right;
        QLineEdit plain;
        const QRect r = textBox(right, width);
        const QRect p = textBox(plain, width);
        if (r.isEmpty() || p.isEmpty())
            QSKIP("no font renders text on this system");
        QVERIFY(r.left() > p.left());
        QVERIFY(r.right() > p.right());
        QVERIFY(width - 1 - r.right() <= r.left());
    }

    void focusArrivalDoesNotSelect() {
        QWidget w;
        auto* first = new QLineEdit(&w);
        auto* e = new TREdit(&w);
        e->move(0, 30);
        e->setText(QStringLiteral("300"));
        e->setCursorPosition(1);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        first->setFocus();
        QTest::keyClick(first, Qt::Key_Tab);
        QVERIFY(e->hasFocus());
        QVERIFY(!e->hasSelectedText());
        QCOMPARE(e->cursorPosition(), 1);
    }

    void fontKeepsMarginsAndCodeChangesNotify() {
        TREdit e;
        e.setTextMargins(3, 0, 4, 0);
        QFont f = e.font();
        f.setPixelSize(20);
        e.setFont(f);
        QCOMPARE(e.textMargins(), QMargins(3, 0, 4, 0));
        QSignalSpy changed(&e, &QLineEdit::textChanged);
        e.setText(QStringLiteral("0"));
        QCOMPARE(changed.count(), 1);
    }
};

QTEST_MAIN(TstREdit)
#include "tst_redit.moc"
