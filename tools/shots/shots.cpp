// Renders every page of the main window, with sample records, into PNG
// files: the screenshots of the documentation.
//   korvane-shots OUTDIR
//   korvane-shots --lang en OUTDIR   two pages of the English window,
//                                    as settings-en.png and status-en.png
#include "Framework.h"
#include "Host.h"
#include "Ukorvane.h"

#include "ClassStore.h"
#include "ClassesRoom.h"
#include "Database.h"
#include "DecoderHealth.h"
#include "DecoderWatch.h"
#include "Journal.h"
#include "Language.h"
#include "Peer.h"
#include "SpeedTable.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTime>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

class SilentDialogs : public Dialogs {
public:
    void message(const QString&, const QString&) override {}
    bool yesNo(const QString&, const QString&) override { return true; }
    void error(const QString& text) override {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
};

void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    KorvaneApplication app(argc, argv);
    const bool english =
        argc == 4 && !std::strcmp(argv[1], "--lang") && !std::strcmp(argv[2], "en");
    if (argc != 2 && !english) {
        std::fputs("usage: korvane-shots [--lang en] OUTDIR\n", stderr);
        return 2;
    }
    if (english && !installLanguage(UiLanguage::English))
        return 1;
    const QString out = QString::fromLocal8Bit(argv[argc - 1]);
    QDir().mkpath(out);
    SilentDialogs dialogs;
    Dialogs::install(&dialogs);

    QTemporaryDir dir;
    QFile ini(dir.filePath("Korvane.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    // Two decoders on pseudo-terminals, opened only for the status page and
    // the alarm, so that the other pages look as without ports.
    e2e::Peer dec1, dec2;
    if (!dec1.ok() || !dec2.ok())
        return 1;
    ini.write("[SP]\nPort1=0\nPort2=0\nPort3=0\nDist=500\nWait=0\nDecid1=3\nDecid2=4\nTimer2=1\n"
              "[Checks]\nSilenceS=2\nBeep=0\n[Devices]\nCOM1=" +
              dec1.path().toUtf8() + "\nCOM4=" + dec2.path().toUtf8() + "\n");
    ini.close();
    SpeedDb::open(dir.filePath("Korvane.db"));
    SpeedDb::checkNameColumn();
    struct Car {
        const char* id;
        const char* name;
        double t1, t2;
    } cars[] = {{"204518", "山田 太郎", 100.0, 100.5},
                {"311077", "佐藤 花子", 200.0, 200.62},
                {"120044", "Kenji's Buggy", 300.0, 300.9},
                {"587310", "", 400.0, 401.234},
                {"402211", "鈴木 一郎", 500.0, 500.1457}};
    // A passing as decoder input stores it: the speed table and its journal.
    const auto pass = [](int loop, const QString& id, double t, qint64 atMs) {
        const QString time = QString::number(t, 'f', 3);
        SpeedTable::storePassing(loop, id, time);
        Journal::recordPassing(
            atMs, loop, id, time,
            QStringLiteral("@\t%1\t0\t%2\t%3\t0\t\r\n").arg(loop).arg(id, time).toLatin1());
    };
    // Two classes; one car runs in both and is in 4WD now.
    ClassStore::createSchema(SpeedDb::database());
    const qint64 twoWd = ClassStore::addClass(QStringLiteral("2WD"));
    const qint64 fourWd = ClassStore::addClass(QStringLiteral("4WD"));
    for (int i = 0; i < 5; ++i)
        ClassStore::addEntry(i < 3 ? twoWd : fourWd, QString::fromLatin1(cars[i].id),
                             i == 0 ? QStringLiteral("山田 太郎 (2WD)") : QString(),
                             QString::number(i + 1));
    ClassStore::makeCurrent(ClassStore::addEntry(fourWd, QString::fromLatin1(cars[2].id), QString(),
                                                 QStringLiteral("12")));
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    for (const Car& c : cars) {
        pass(1, QString::fromLatin1(c.id), c.t1, nowMs);
        pass(2, QString::fromLatin1(c.id), c.t2, nowMs + 500);
        SpeedTable::rename(QString::fromLatin1(c.id), QString::fromUtf8(c.name));
    }

    int status = 0;
    {
        TFkorvane w(dir.path());
        w.show();
        settle(3000); // every pending passing is measured
        const auto shoot = [&](QWidget* page, const char* name) {
            QString file = QString::fromLatin1(name);
            if (english) {
                // The pages with the most text, enough to show the English.
                if (file != QLatin1String("settings.png") && file != QLatin1String("status.png"))
                    return;
                file.replace(QLatin1String(".png"), QLatin1String("-en.png"));
            }
            w.setActivePage(page);
            settle(300);
            if (!w.grab().save(QDir(out).filePath(file)))
                status = 1;
        };
        for (const QString& line : {QStringLiteral("@\t1\t0\t204518\t100.000\t0\t"),
                                    QStringLiteral("@\t1\t0\t311077\t200.000\t0\t")})
            memoAdd(w.Memo1, line);
        for (const QString& line : {QStringLiteral("@\t1\t0\t204518\t100.500\t0\t"),
                                    QStringLiteral("@\t1\t0\t311077\t200.620\t0\t")})
            memoAdd(w.Memo2, line);
        shoot(w.TabSheet1, "start.png");
        shoot(w.TabSheet2, "measurement.png");
        shoot(w.TabSheet3, "settings.png");
        shoot(w.TabSheet4, "datacheck.png");
        w.Edit1->setText(QStringLiteral("204518"));
        w.Edit1KeyDown();
        shoot(w.TabSheet5, "ranking.png");
        shoot(w.TabSheet6, "registration-locked.png");
        w.Edit4KeyDown(); // the empty password unlocks
        w.Edit8->setText(QStringLiteral("311077"));
        w.Edit8KeyDown();
        shoot(w.TabSheet6, "registration.png");

        // Entries and the ranking of one class today.
        auto* classes = w.host().room<ClassesRoom>();
        QWidget* entries = w.host().page(QStringLiteral("entries"));
        w.setActivePage(entries);
        classes->unlock(QString()); // the empty password unlocks
        entries->findChild<QListWidget*>(QStringLiteral("classList"))->setCurrentRow(1);
        shoot(entries, "entries.png");
        for (QCheckBox* box : w.TabSheet5->findChildren<QCheckBox*>())
            if (box->text() == QCoreApplication::translate("ClassesRoom", "クラス別"))
                box->setChecked(true);
        classes->selectRanking(fourWd, 1);
        shoot(w.TabSheet5, "ranking-class.png");
        for (QCheckBox* box : w.TabSheet5->findChildren<QCheckBox*>())
            box->setChecked(false);

        // The history as measured, then with a double read on loop 2 and a
        // car first seen on loop 2.
        w.findChild<QAction*>(QStringLiteral("historyItem"))->trigger();
        shoot(w.host().page(QStringLiteral("history")), "history.png");
        const qint64 laterMs = QDateTime::currentMSecsSinceEpoch();
        pass(1, QStringLiteral("311077"), 600.0, laterMs);
        pass(2, QStringLiteral("311077"), 600.61, laterMs + 600);
        pass(2, QStringLiteral("311077"), 600.65, laterMs + 640);
        pass(2, QStringLiteral("733005"), 650.2, laterMs + 700);
        settle(1500);
        w.findChild<QAction*>(QStringLiteral("historyItem"))->trigger();
        QWidget* history = w.host().page(QStringLiteral("history"));
        auto* forReview = history->findChild<QCheckBox*>(QStringLiteral("HistoryForReview"));
        forReview->setChecked(true);
        settle(300);
        // The suspect double read selected, as after the key that jumps to it.
        if (auto* grid = history->findChild<QAbstractItemView*>(QStringLiteral("HistoryGrid")))
            grid->selectionModel()->setCurrentIndex(grid->model()->index(1, 0),
                                                    QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
        shoot(history, "history-suspect.png");
        forReview->setChecked(false);

        // The speed view at full HD, as a projector beside the track shows it,
        // just after a car beat its best.
        pass(1, QStringLiteral("204518"), 700.0, laterMs + 2000);
        pass(2, QStringLiteral("204518"), 700.3, laterMs + 2300);
        settle(1500);
        auto* viewItem = w.findChild<QAction*>(QStringLiteral("speedViewItem"));
        if (viewItem)
            viewItem->trigger();
        if (auto* view = w.findChild<QWidget*>(QStringLiteral("SpeedView"))) {
            view->showNormal();
            view->resize(1920, 1080);
            settle(300);
            const QString file =
                english ? QStringLiteral("speedview-en.png") : QStringLiteral("speedview.png");
            if (!view->grab().save(QDir(out).filePath(file)))
                status = 1;
            view->hide();
        } else {
            status = 1;
        }

        // The status page after an hour since the last clock command: each
        // decoder drifts a little, and its lines arrive up to 2 ms late.
        w.RGport1->setItemIndex(1);
        w.RGport2->setItemIndex(4);
        QRandomGenerator rng(5);
        const qint64 now = DecoderWatch::now();
        const qint64 tod = QTime::currentTime().msecsSinceStartOfDay();
        const double start[2] = {2.0, 1.2}, ppm[2] = {1.5, 0.5};
        for (qint64 ago = 3600 * 1000; ago >= 0; ago -= 6000) {
            for (int i = 0; i < 2; ++i) {
                const double pcMs = double(tod - ago);
                const double decoderMs = pcMs - start[i] + double(3600 * 1000 - ago) * ppm[i] / 1e6;
                const qint64 delay = rng.bounded(3);
                const QString line =
                    QStringLiteral("@\t%1\t0\t204518\t%2\t0\t")
                        .arg(i + 1)
                        .arg(std::fmod(decoderMs / 1000 + 86400, 86400), 0, 'f', 3);
                QStringList lines{line};
                if (ago % 30000 == 0)
                    lines << QStringLiteral("#\t%1\t0\t").arg(i + 1);
                w.host().room<DecoderWatch>()->health().received(
                    i + 1, now - ago + delay, (tod - ago + delay + 86400000) % 86400000, 60, 0,
                    lines);
            }
        }
        dec1.send("#\t1\t0\t\r\n");
        dec2.send("#\t2\t0\t\r\n");
        w.findChild<QAction*>(QStringLiteral("statusItem"))->trigger();
        shoot(w.host().page(QStringLiteral("status")), "status.png");
        // Loop 2 falls silent while loop 1 goes on: the alarm on the page in view.
        w.setActivePage(w.TabSheet2);
        for (int i = 0; i < 8; ++i) {
            dec1.send("#\t1\t0\t\r\n");
            settle(400);
        }
        shoot(w.TabSheet2, "alarm.png");
        w.close();
    }
    SpeedDb::close();
    return status;
}
