// The host's part of every room's life: a room that fails at close keeps
// no other room from closing, and the bulletin tells of changes only.
#include "Host.h"
#include "TestHost.h"

#include "Error.h"

#include <QSignalSpy>
#include <QTest>

namespace {

class ClosingRoom final : public Room {
public:
    ClosingRoom(Host& h, QString failure, QStringList& closed)
        : Room(h), failure_(std::move(failure)), closed_(closed) {}
    void close() override {
        closed_ << failure_;
        if (!failure_.isEmpty())
            throw Error(failure_);
    }

private:
    QString failure_;
    QStringList& closed_;
};

} // namespace

class TstHost : public QObject {
    Q_OBJECT
private slots:
    void everyRoomClosesAndEveryFailureIsTold() {
        TestHost host;
        QStringList closed;
        host.adopt(std::make_unique<ClosingRoom>(host, QStringLiteral("capture lost"), closed));
        host.adopt(std::make_unique<ClosingRoom>(host, QString(), closed));
        host.adopt(std::make_unique<ClosingRoom>(host, QStringLiteral("chain unsigned"), closed));
        try {
            host.roomsClose();
            QFAIL("a failed close was taken as success");
        } catch (const Error& e) {
            QCOMPARE(e.message(), QStringLiteral("capture lost\nchain unsigned"));
        }
        QCOMPARE(closed.size(), 3);
    }

    void statusLinesAreToldWhenTheyChange() {
        TestHost host;
        QSignalSpy changed(&host, &Host::statusLinesChanged);
        host.setStatusLine(QStringLiteral("Web"), {QStringLiteral("up"), {}});
        host.setStatusLine(QStringLiteral("Web"), {QStringLiteral("up"), {}});
        host.setStatusLine(QStringLiteral("Event"), {QString(), {}}); // none to take away
        QCOMPARE(changed.count(), 1);
        host.setStatusLine(QStringLiteral("Web"), {QString(), {}});
        QCOMPARE(changed.count(), 2);
        QVERIFY(host.statusLines().isEmpty());
    }
};

QTEST_MAIN(TstHost)
#include "tst_host.moc"
