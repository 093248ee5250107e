// The decoder watch through the host alone: the ports' state it reads from
// the host reaches the alarm and the bulletin, and the status page follows
// the other rooms' lines while it is up.
#include "DecoderWatch.h"
#include "Host.h"
#include "TestHost.h"

#include "DiskSpace.h"

#include <QLabel>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

namespace {

QLabel* named(const QWidget& top, const char* name) {
    return top.findChild<QLabel*>(QLatin1String(name));
}

} // namespace

class TstDecoderWatch : public QObject {
    Q_OBJECT
private slots:
    // A decoder whose device went away while open, and a board port that
    // does not open: both in the alarm, in words, and loop 1 failed on the
    // bulletin for the live page.
    void portsFromTheHostReachTheAlarmAndTheBulletin() {
        TestHost host;
        auto& watch = static_cast<DecoderWatch&>(host.adopt(std::make_unique<DecoderWatch>(host)));
        host.ports[0] = {1, QStringLiteral("/dev/ttyUSB7"), true, false, {}};
        watch.tick();
        QCOMPARE(host.loopStates().at(0).state, QStringLiteral("open"));

        host.ports[0].lost = true;
        watch.tick();
        QCOMPARE(host.loopStates().at(0).state, QStringLiteral("failed"));
        QCOMPARE(host.loopStates().at(1).state, QStringLiteral("closed"));
        QLabel* alarm = named(host.top, "AlarmLabel");
        QVERIFY(alarm && !alarm->isHidden());
        QVERIFY2(
            alarm->text().startsWith(QStringLiteral("ループ1 ポート異常（/dev/ttyUSB7: 装置が")),
            qPrintable(alarm->text()));
        QVERIFY(!host.notes.filter(QStringLiteral("ループ1 ポート異常")).isEmpty());

        host.ports[2] = {2, QStringLiteral("/dev/ttyUSB9"), false, false,
                         QStringLiteral("/dev/ttyUSB9: Permission denied")};
        emit host.portFailed(3, host.ports[2].failure);
        QVERIFY2(
            alarm->text().contains(QStringLiteral("出力ポート 異常（/dev/ttyUSB9: Permission")),
            qPrintable(alarm->text()));
        host.ports[2].failure.clear();
        emit host.portClosed(3);
        QVERIFY(!alarm->text().contains(QStringLiteral("出力ポート")));
    }

    // The other rooms' lines come after the free space, and a change of them
    // shows at once while the page is up, not while another page is.
    void theStatusPageFollowsTheBulletinWhileShown() {
        diskspace::setProbe([](const QString&) { return qint64(900) << 20; });
        const auto restore = qScopeGuard([] { diskspace::setProbe({}); });
        TestHost host;
        host.adopt(std::make_unique<DecoderWatch>(host));
        QLabel* inter = named(host.top, "StatusInter");
        QVERIFY(inter);
        host.setStatusLine(QStringLiteral("Web"), {QStringLiteral("live page up"), {}});
        QVERIFY(!inter->text().contains(QStringLiteral("live page")));
        host.shown = host.page(QStringLiteral("status"));
        host.setStatusLine(QStringLiteral("Web"), {QStringLiteral("live page on :8080"), {}});
        QVERIFY2(inter->text().endsWith(
                     QStringLiteral("データフォルダの空き 900 MB　live page on :8080")),
                 qPrintable(inter->text()));
    }
};

QTEST_MAIN(TstDecoderWatch)
#include "tst_decoderwatch.moc"
