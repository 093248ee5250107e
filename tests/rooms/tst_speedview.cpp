// The speed view shows what the board showed, newest first with the name
// the registration gives, and closes with Esc.
#include "SpeedViewRoom.h"
#include "TestHost.h"

#include "Database.h"
#include "SpeedTable.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

namespace {} // namespace

class TstSpeedView : public QObject {
    Q_OBJECT
private slots:
    void showsTheLastTenShownSpeedsAndClosesWithEsc() {
        QTemporaryDir dir;
        SpeedDb::open(dir.filePath("Korvane.db"));
        SpeedDb::checkNameColumn();
        SpeedTable::storePassing(1, QStringLiteral("204518"), QStringLiteral("100.000"));
        SpeedTable::rename(QStringLiteral("204518"), QStringLiteral("山田 太郎"));

        TestHost host;
        auto& room = static_cast<SpeedViewRoom&>(host.adopt(std::make_unique<SpeedViewRoom>(host)));
        QCOMPARE(host.items.value(QStringLiteral("speedView")).first, QStringLiteral("F11"));

        // What measuring told of but the board did not show stays out.
        MeasuredAttempt held;
        held.tpid = QStringLiteral("9");
        held.speedText = QStringLiteral("60.000");
        emit host.attemptMeasured(held);
        QVERIFY(room.recent().isEmpty());

        for (int i = 1; i <= 12; ++i)
            emit host.speedShown(QString::number(i), QString::number(i * 10), i == 11, 0);
        emit host.speedShown(QStringLiteral("204518"), QStringLiteral("18"), false, 0);
        QCOMPARE(room.recent().size(), SpeedViewRoom::kRecent);
        QCOMPARE(room.recent().first().tpid, QStringLiteral("204518"));
        QCOMPARE(room.recent().first().name, QStringLiteral("山田 太郎"));
        QCOMPARE(room.recent().at(2).speedText, QStringLiteral("110"));
        QVERIFY(room.recent().at(2).newBest);
        QCOMPARE(room.recent().last().tpid, QStringLiteral("4"));

        host.items.value(QStringLiteral("speedView")).second();
        QWidget* view = room.view();
        QVERIFY(view && view->isVisible());
        QVERIFY(view->isFullScreen());
        QVERIFY(view->accessibleDescription().contains(QStringLiteral("18 Km/h")));
        emit host.speedShown(QStringLiteral("7"), QStringLiteral("33.5"), true, 0);
        QVERIFY(view->accessibleDescription().contains(QStringLiteral("33.5 Km/h")));
        QTest::keyClick(view, Qt::Key_Escape);
        QVERIFY(!view->isVisible());
        SpeedDb::close();
    }
};

QTEST_MAIN(TstSpeedView)
#include "tst_speedview.moc"
