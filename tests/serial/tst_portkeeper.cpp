// Ports kept open without a window: a device missing at the opening is
// tried again at the retry period, a vanished one is closed and tried at
// once, and a port nobody wants is left alone.
#include "CommX.h"
#include "FakeSerialDevice.h"
#include "PortKeeper.h"

#include <QtTest>

class TestPortKeeper : public QObject {
    Q_OBJECT

private slots:
    void aMissingOrVanishedDeviceIsOpenedAgainWhenItIsBack() {
        auto line = std::make_shared<FakeLine>();
        TCommX comm(nullptr, [line] { return std::make_unique<FakeSerialDevice>(line); });
        comm.setPortNo(3);
        PortKeeper keeper(nullptr, 300);
        int reopened = 0, lost = 0;
        keeper.add(
            &comm, [&] { ++reopened; }, [&] { ++lost; });

        // The owner's own opening failed: no retry before the period.
        line->refuseOpen = true;
        keeper.setWanted(&comm, true);
        keeper.setFailure(&comm, QStringLiteral("busy"));
        line->refuseOpen = false;
        keeper.check();
        QVERIFY(!comm.isOpen());
        QCOMPARE(keeper.failure(&comm), QStringLiteral("busy"));
        QTRY_VERIFY(comm.isOpen());
        QCOMPARE(reopened, 1);
        QCOMPARE(keeper.failure(&comm), QString());

        // Pulled and put back at once: closed and opened in the same round.
        line->change([](FakeLine& l) { l.gone = true; });
        QTRY_COMPARE(lost, 1);
        QCOMPARE(reopened, 2);
        QVERIFY(comm.isOpen() && !comm.deviceLost());
        QCOMPARE(line->opens, 2);

        // While a port change is under way nothing is touched; a port
        // nobody wants is never opened.
        line->change([](FakeLine& l) { l.gone = true; });
        keeper.mayRetry = [] { return false; };
        QTest::qWait(700);
        QCOMPARE(lost, 1);
        keeper.mayRetry = {};
        keeper.setWanted(&comm, false);
        QTest::qWait(700);
        QCOMPARE(lost, 1);
        comm.Close();
        QTest::qWait(700);
        QVERIFY(!comm.isOpen());
        QCOMPARE(line->opens, 2);
    }
};

QTEST_GUILESS_MAIN(TestPortKeeper)
#include "tst_portkeeper.moc"
