// The event link's side of the host, without a server: settings that cannot
// work are told on the bulletin and beside the ranking, and the outbox
// triggers follow the settings as the window is created.
#include "EventRoom.h"
#include "TestHost.h"

#include "Database.h"

#include <QLabel>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>

namespace {

int outboxTriggers() {
    QSqlQuery q(SpeedDb::database());
    if (!q.exec(QStringLiteral(
            "select count(*) from sqlite_master where type = 'trigger' and name like 'outbox%'")) ||
        !q.next())
        return -1;
    return q.value(0).toInt();
}

} // namespace

class TestEventRoom : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;

    void writeIni(const QByteArray& text) {
        QFile ini(dir->filePath(QStringLiteral("Korvane.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(text);
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        SpeedDb::open(dir->filePath(QStringLiteral("Korvane.db")));
    }
    void cleanup() {
        SpeedDb::close();
        dir.reset();
    }

    // The status page, the live page and the ranking view all learn why
    // nothing is published, and the attempts are kept for when it is mended.
    void settingsThatCannotWorkAreToldEverywhereAndTheOutboxStillFills() {
        writeIni("[Event]\nDatabase=host=server dbname=event\nEvent=club\n");
        TestHost host(dir->path());
        host.adopt(std::make_unique<EventRoom>(host));
        host.roomsCreated();

        const QString problem = QStringLiteral("Station と Event を設定してください");
        const StatusLine line = host.statusLines().value(QStringLiteral("Event"));
        QVERIFY2(line.text.startsWith(QStringLiteral("イベント club / : 未接続")) &&
                     line.text.contains(problem),
                 qPrintable(line.text));
        QVERIFY2(line.toolTip.contains(problem), qPrintable(line.toolTip));
        QCOMPARE(host.notes.size(), 1);
        QVERIFY(host.notes.at(0).endsWith(line.text));

        QCOMPARE(host.combinedRanking().event, QStringLiteral("club"));
        QVERIFY(host.combinedRanking().error.contains(problem));

        QCOMPARE(host.captions, QStringList(QStringLiteral("全ステーション")));
        QCOMPARE(host.views.at(0)->objectName(), QStringLiteral("DBGridAll"));
        auto* note = host.views.at(0)->findChild<QLabel*>(QStringLiteral("AllStationsNote"));
        QVERIFY(note && !note->isHidden() && note->text().contains(problem));

        QCOMPARE(outboxTriggers(), 2);
    }

    void withoutAnEventTheOutboxTriggersGoAndNothingIsSaid() {
        writeIni("[Event]\nDatabase=host=server dbname=event\nEvent=club\n");
        {
            TestHost host(dir->path());
            host.adopt(std::make_unique<EventRoom>(host));
            host.roomsCreated();
        }
        QCOMPARE(outboxTriggers(), 2);
        writeIni("[SP]\nPort1=0\n");
        TestHost host(dir->path());
        host.adopt(std::make_unique<EventRoom>(host));
        host.roomsCreated();
        QCOMPARE(outboxTriggers(), 0);
        QVERIFY(host.statusLines().isEmpty() && host.views.isEmpty() && host.notes.isEmpty());
    }
};

QTEST_MAIN(TestEventRoom)
#include "tst_eventroom.moc"
