// Classes and entries: an import is checked line by line before anything is
// written and then written whole or not at all; an attempt's own row keeps
// the class its transponder was in when it was measured; a class with
// attempts is not deleted.
#include "ClassStore.h"
#include "ClassesRoom.h"
#include "Database.h"
#include "EntryImport.h"
#include "Framework.h"
#include "Ingest.h"
#include "Journal.h"
#include "Names.h"
#include "SpeedTable.h"
#include "TestHost.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSqlQuery>
#include <QStringEncoder>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {

// A host with real pages, so that the room is driven by its own controls.
class Boxes final : public Dialogs {
public:
    void message(const QString& text, const QString&) override { shown << text; }
    bool yesNo(const QString&, const QString& text) override {
        shown << text;
        return true;
    }
    void error(const QString& text) override { shown << text; }
    QStringList shown;
};

qint64 attempt(const QString& tpid, qint64 measuredMs, double speed = 50) {
    Journal::Attempt a;
    a.tpid = tpid;
    a.speed = speed;
    a.speedText = QString::number(speed);
    a.measuredMs = measuredMs;
    return Journal::recordAttempt(a);
}

int entryCount() {
    return int(ClassStore::entries(0).size());
}

} // namespace

class TstClasses : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    Boxes boxes;

private slots:
    void init() {
        QFile::remove(dir.filePath(QStringLiteral("Korvane.db")));
        SpeedDb::open(dir.filePath(QStringLiteral("Korvane.db")));
        SpeedDb::checkNameColumn();
        ClassStore::createSchema(SpeedDb::database());
        boxes.shown.clear();
        Dialogs::install(&boxes);
    }
    void cleanup() {
        Dialogs::install(nullptr);
        SpeedDb::close();
    }

    void importPreviewNamesEachBrokenLineAndWritesWholeOrNothing() {
        ClassStore::addEntry(ClassStore::addClass(QStringLiteral("2WD")), QStringLiteral("7"),
                             QString(), QString());
        QByteArray file = "\xEF\xBB\xBF" + QStringLiteral("クラス,ID,名前,番号\r\n").toUtf8();
        for (int i = 1; i <= 10000; ++i)
            file += QStringLiteral("%1,%2,ドライバー%3,%4\r\n")
                        .arg(i % 2 ? QStringLiteral("2WD") : QStringLiteral("4WD"))
                        .arg(1000 + i)
                        .arg(i)
                        .arg(i)
                        .toUtf8();
        // Line numbers of the file: header 1, generated rows 2..10001.
        file += "4WD,\xC8\xFD\xBD,x,1\r\n";                         // 10002: no UTF-8
        file += QStringLiteral("2WD,,名無し,2\r\n").toUtf8();       // 10003: no ID
        file += QStringLiteral("4WD,1002,二度目,3\r\n").toUtf8();   // 10004: twice in 4WD
        file += QStringLiteral("2WD,1002,別クラス,3\r\n").toUtf8(); // 10005: other class
        file += QStringLiteral("2WD,7,既存,4\r\n").toUtf8();        // 10006: entered before
        file += QStringLiteral("2WD,99001,=cmd(),5\r\n").toUtf8();  // 10007: looks like a formula
        file += QStringLiteral("2WD,99002,a,5,extra\r\n").toUtf8(); // 10008: a column too many

        QHash<QString, QSet<QString>> entered{{QStringLiteral("2WD"), {QStringLiteral("7")}}};
        const EntryImport::Preview p = EntryImport::preview(file, entered);
        QCOMPARE(p.encoding, QStringLiteral("UTF-8"));
        QVERIFY(p.fileProblem.isEmpty());
        QMap<int, QString> problems;
        for (const EntryImport::Line& l : p.lines)
            if (!l.problem.isEmpty())
                problems.insert(l.line, l.problem);
        QCOMPARE(problems.keys(), (QList<int>{10002, 10003, 10004, 10006, 10008}));
        QVERIFY(problems[10004].contains(QStringLiteral("3 行目"))); // where it came first
        const EntryImport::Line& formula = p.lines[10005];
        QCOMPARE(formula.line, 10007);
        QVERIFY(formula.problem.isEmpty());
        QVERIFY(!formula.note.isEmpty());
        QCOMPARE(p.goodCount(), 10002);

        // A failure at the last good row leaves nothing behind, classes included.
        QSqlQuery(SpeedDb::database())
            .exec(QStringLiteral("create trigger refuse before insert on entry "
                                 "when new.tpid='99001' begin select raise(abort,'full'); end"));
        QVERIFY_THROWS_EXCEPTION(DbError, ClassStore::addEntries(p.goodEntries()));
        QCOMPARE(entryCount(), 1);
        QCOMPARE(ClassStore::classes().size(), 1);

        QSqlQuery(SpeedDb::database()).exec(QStringLiteral("drop trigger refuse"));
        QCOMPARE(ClassStore::addEntries(p.goodEntries()), 10002);
        QCOMPARE(entryCount(), 10003);
        const QByteArray csv =
            EntryImport::entriesCsv(ClassStore::classes(), ClassStore::entries(0));
        QVERIFY(csv.contains(QStringLiteral("2WD,99001,'=cmd(),5\r\n").toUtf8()));
        bool storedAsTyped = false;
        for (const ClassStore::Entry& e : ClassStore::entries(0))
            storedAsTyped = storedAsTyped || e.name == QLatin1String("=cmd()");
        QVERIFY(storedAsTyped);
    }

    void importReadsShiftJisAndRefusesAnUnknownColumn() {
        QStringEncoder sjis("windows-31j");
        const QByteArray plain = sjis.encode(QStringLiteral("クラス,ID,名前\r\n電動,11,山田\r\n"));
        const EntryImport::Preview p = EntryImport::preview(plain, {});
        QCOMPARE(p.encoding, QStringLiteral("Shift-JIS"));
        QCOMPARE(p.goodCount(), 1);
        QCOMPARE(p.lines[0].entry.className, QStringLiteral("電動"));
        QCOMPARE(p.lines[0].entry.name, QStringLiteral("山田"));

        const EntryImport::Preview odd =
            EntryImport::preview(QStringLiteral("クラス,ID,チーム\n電動,11,赤\n").toUtf8(), {});
        QVERIFY(odd.fileProblem.contains(QStringLiteral("チーム")));
        QCOMPARE(odd.goodCount(), 0);
        QVERIFY(odd.goodEntries().isEmpty());
    }

    void attemptTakesTheClassInForceWhenMeasured() {
        const qint64 a = ClassStore::addClass(QStringLiteral("Stock"));
        const qint64 b = ClassStore::addClass(QStringLiteral("Mod"));
        ClassStore::addEntry(a, QStringLiteral("55"), QStringLiteral("Ann"), QString());
        const qint64 inB = ClassStore::addEntry(b, QStringLiteral("55"), QString(), QString());
        TestHost host;
        host.password = QStringLiteral("pw");
        ClassesRoom& room =
            static_cast<ClassesRoom&>(host.adopt(std::make_unique<ClassesRoom>(host)));
        host.roomsCreated();
        QWidget* page = host.pages.first();
        host.shown = page;
        room.unlock(QStringLiteral("pw"));

        // Measured as the window measures: the class goes in with the
        // attempt's own INSERT.
        const auto measure = [](const QString& tpid, double time2, qint64 nowMs) {
            SpeedTable::PendingRow row;
            row.tpid = tpid;
            row.time1 = time2 - 0.5;
            row.time2 = time2;
            row.hasTime1 = row.hasTime2 = true;
            return ingest::evaluate(row, 500, SuspectChecks{}, nowMs);
        };
        const auto stored = [](qint64 id) {
            QSqlQuery q = runBound(SpeedDb::database(),
                                   QStringLiteral("select ifnull(class_id,0), class_name "
                                                  "from attempt where id=?"),
                                   {id});
            return q.next() ? std::pair{q.value(0).toLongLong(), q.value(1)}
                            : std::pair{qint64(-1), QVariant()};
        };
        const qint64 first = ingest::record(measure(QStringLiteral("55"), 10, 1000));

        // Loop 1 passes while the car is in Stock; the operator switches it
        // to Mod before it reaches loop 2.
        Journal::recordPassing(1900, 1, QStringLiteral("55"), QStringLiteral("19.5"), "");
        page->findChild<QListWidget*>(QStringLiteral("classList"))->setCurrentRow(1);
        auto* entries = page->findChild<QTableWidget*>(QStringLiteral("entryGrid"));
        QCOMPARE(entries->item(0, 0)->data(Qt::UserRole).toLongLong(), inB);
        entries->selectRow(0);
        page->findChild<QPushButton*>(QStringLiteral("makeCurrent"))->click();
        QVERIFY(boxes.shown.isEmpty());
        const ingest::MeasureRun second = measure(QStringLiteral("55"), 20, 2000);
        // Switched back before the database took it (an attempt that waits
        // with the passings): it keeps the class it was measured in.
        page->findChild<QListWidget*>(QStringLiteral("classList"))->setCurrentRow(0);
        entries->selectRow(0);
        page->findChild<QPushButton*>(QStringLiteral("makeCurrent"))->click();
        const qint64 secondId = ingest::record(second);
        const qint64 other = ingest::record(measure(QStringLiteral("56"), 30, 3000));

        QCOMPARE(stored(first), (std::pair{a, QVariant(QStringLiteral("Stock"))}));
        QCOMPARE(stored(secondId), (std::pair{b, QVariant(QStringLiteral("Mod"))}));
        const std::pair<qint64, QVariant> none = stored(other); // no entry, no class
        QCOMPARE(none.first, qint64(0));
        QVERIFY(none.second.isNull());
        const QVector<Journal::PeriodBest> stock =
            Journal::periodBests(SpeedDb::database(), a, 0, true);
        QCOMPARE(stock.size(), 1);
        QCOMPARE(Journal::periodBests(SpeedDb::database(), b, 1500, true).size(), 1);
        QCOMPARE(Journal::periodBests(SpeedDb::database(), b, 2001, true).size(), 0);

        // A renamed class: attempts from then on carry the new name, those
        // before keep theirs.
        page->findChild<QLineEdit*>(QStringLiteral("className"))->setText(QStringLiteral("Open"));
        page->findChild<QPushButton*>(QStringLiteral("renameClass"))->click();
        const qint64 renamed = ingest::record(measure(QStringLiteral("55"), 40, 4000));
        QCOMPARE(stored(renamed), (std::pair{a, QVariant(QStringLiteral("Open"))}));
        QCOMPARE(stored(first).second, QVariant(QStringLiteral("Stock")));
    }

    void classWithAttemptsIsNotDeleted() {
        const qint64 a = ClassStore::addClass(QStringLiteral("Nitro"));
        const qint64 b = ClassStore::addClass(QStringLiteral("Electric"));
        ClassStore::addEntry(a, QStringLiteral("1"), QString(), QString());
        ClassStore::addEntry(b, QStringLiteral("2"), QString(), QString());
        for (qint64 ms : {10, 20})
            Journal::setClass(attempt(QStringLiteral("1"), ms), a);
        try {
            ClassStore::deleteClass(a);
            QFAIL("a class with attempts was deleted");
        } catch (const RecordError& e) {
            QVERIFY(e.message().contains(QStringLiteral("2 件")));
        }
        QCOMPARE(ClassStore::classes().size(), 2);
        QCOMPARE(ClassStore::entries(a).size(), 1);
        ClassStore::deleteClass(b);
        QCOMPARE(ClassStore::classes().size(), 1);
        QCOMPARE(entryCount(), 1);
    }
};

QTEST_MAIN(TstClasses)
#include "tst_classes.moc"
