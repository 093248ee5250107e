// Framework behaviours and the main window's lifecycle and navigation.
#include "Framework.h"
#include "Host.h"
#include "RecordingDialogs.h"
#include "Settings.h"
#include "Ukorvane.h"

#include "CuteBtn.h"
#include "Database.h"
#include "FitLabel.h"
#include "Host.h"
#include "Language.h"
#include "REdit.h"
#include "Spin.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QTabBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <thread>

namespace {

void writeFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QByteArray kNoPorts = "[SP]\nPort1=0\nPort2=0\nPort3=0\n";

// Kana, kanji, CJK punctuation and full-width forms: what an English window
// must not show.
bool japanese(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("[\\x{3000}-\\x{30FF}\\x{4E00}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
    return re.match(text).hasMatch();
}

// Every text a window or dialog shows or holds: captions, labels, buttons,
// boxes, logs, column headers, the lists of choices and what a painted view
// tells through its accessible description.
QStringList widgetTexts(QWidget& w) {
    QStringList out{w.windowTitle()};
    for (QWidget* c : w.findChildren<QWidget*>()) {
        out << c->toolTip() << c->accessibleDescription() << c->windowTitle();
        if (auto* l = qobject_cast<QLabel*>(c))
            out << l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(c))
            out << b->text();
        else if (auto* g = qobject_cast<QGroupBox*>(c))
            out << g->title();
        else if (auto* b = qobject_cast<TCuteButton*>(c))
            out << b->caption();
        else if (auto* e = qobject_cast<QLineEdit*>(c))
            out << e->text() << e->placeholderText();
        else if (auto* m = qobject_cast<QPlainTextEdit*>(c))
            out << m->toPlainText();
        else if (auto* t = qobject_cast<QAbstractItemView*>(c); t && t->model())
            for (int col = 0; col < t->model()->columnCount(); ++col)
                out << t->model()->headerData(col, Qt::Horizontal).toString();
        else if (auto* b = qobject_cast<QComboBox*>(c))
            for (int i = 0; i < b->count(); ++i)
                out << b->itemText(i);
    }
    return out;
}

// The window's texts and those of its menus.
QStringList windowTexts(QMainWindow& w) {
    QStringList out = widgetTexts(w);
    QList<QAction*> actions = w.menuBar()->actions();
    while (!actions.isEmpty()) {
        QAction* a = actions.takeFirst();
        out << a->text();
        if (a->menu())
            actions << a->menu()->actions();
    }
    return out;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

    QTemporaryDir* dir = nullptr;
    QString ini() const { return dir->filePath("Korvane.ini"); }

private slots:
    void init() {
        dir = new QTemporaryDir;
        SpeedDb::open(dir->filePath("Korvane.db"));
    }
    void cleanup() {
        SpeedDb::close();
        delete dir;
    }

    void radioGroupRunsItsHandlerOnlyOnAChange() {
        TRadioGroup g("g", {"a", "b", "c"}, 1, nullptr);
        QList<int> seen;
        connect(&g, &TRadioGroup::clicked, [&] { seen << g.ItemIndex(); });
        QCOMPARE(g.ItemIndex(), -1);
        g.setItemIndex(0); // the first selection differs from "none"
        g.setItemIndex(0);
        g.setItemIndex(2);
        QCOMPARE(seen, QList<int>({0, 2}));

        g.show();
        QTest::mouseClick(g.item(1), Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(g.item(1), Qt::LeftButton, {}, QPoint(5, 5)); // current item again
        QCOMPARE(seen, QList<int>({0, 2, 1}));
    }

    void radioGroupFallbackFromInsideItsHandler() {
        // A port handler that fails selects "none" from inside itself.
        TRadioGroup g("g", {"none", "p1", "p2"}, 1, nullptr);
        QList<int> seen;
        connect(&g, &TRadioGroup::clicked, [&] {
            seen << g.ItemIndex();
            if (g.ItemIndex() == 2)
                g.setItemIndex(0);
        });
        g.setItemIndex(2);
        QCOMPARE(seen, QList<int>({2, 0}));
        QCOMPARE(g.ItemIndex(), 0);
        QVERIFY(static_cast<QRadioButton*>(g.item(0))->isChecked());
        QVERIFY(!static_cast<QRadioButton*>(g.item(2))->isChecked());
    }

    void exceptionLeavingAHandlerIsShownAndTheLoopGoesOn() {
        RecordingDialogs dialogs;
        int ticks = 0;
        QTimer t;
        t.setInterval(1);
        connect(&t, &QTimer::timeout, [&] {
            if (++ticks == 1)
                throw std::runtime_error("ディスクがいっぱいです");
        });
        t.start();
        QTRY_VERIFY(ticks >= 3);
        t.stop();
        QCOMPARE(dialogs.errors, QStringList({QStringLiteral("ディスクがいっぱいです")}));
    }

    void timerSemantics() {
        TTimer t;
        int ticks = 0;
        connect(&t, &TTimer::OnTimer, [&] { ++ticks; });
        t.setInterval(0);
        t.setEnabled(true);
        QVERIFY(!t.isTicking()); // an interval of 0 never ticks
        t.setInterval(-5000);
        QVERIFY(!t.isTicking());
        t.setInterval(qint64(3000000) * 1000); // Resetint of 3 000 000 s does not wrap
        QVERIFY(t.isTicking());
        QVERIFY(t.Interval() > 0);
        t.setInterval(5);
        QTRY_VERIFY(ticks >= 2);
        t.setEnabled(false);
        QVERIFY(!t.isTicking());
    }

    void memoLines() {
        QPlainTextEdit m;
        QCOMPARE(memoCount(&m), 0);
        for (int i = 1; i <= 3; ++i)
            memoAdd(&m, QString::number(i));
        memoDeleteFirst(&m);
        QCOMPARE(::memoLines(&m), QStringList({"2", "3"}));
        memoDeleteFirst(&m);
        memoDeleteFirst(&m);
        QCOMPARE(memoCount(&m), 0);
        memoDeleteFirst(&m); // on an empty memo: nothing
        QCOMPARE(memoCount(&m), 0);
        for (int i = 1; i <= 5; ++i)
            memoAdd(&m, QString::number(i));
        memoDeleteFirst(&m, 3);
        QCOMPARE(::memoLines(&m), QStringList({"4", "5"}));
        memoDeleteFirst(&m, 9);
        QCOMPARE(memoCount(&m), 0);
    }

    // A memo filled while hidden shows its newest line once it is shown.
    void hiddenMemoShowsItsNewestLineWhenShown() {
        QPlainTextEdit m;
        m.resize(200, 80);
        for (int i = 1; i <= 50; ++i)
            memoAdd(&m, QString::number(i));
        m.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m));
        QCOMPARE(m.textCursor().block().text(), QStringLiteral("50"));
        QVERIFY(m.verticalScrollBar()->value() > 0);
        memoAdd(&m, QStringLiteral("51"));
        QCOMPARE(m.textCursor().block().text(), QStringLiteral("51"));
    }

    void startUpWithoutPortsAndNavigation() {
        writeFile(ini(), kNoPorts);
        RecordingDialogs dialogs;
        TFkorvane w(dir->path());
        w.show();
        QCOMPARE(dialogs.messages,
                 QStringList({QStringLiteral("取り込みポート１は指定されていません。"),
                              QStringLiteral("取り込みポート２は指定されていません。"),
                              QStringLiteral("出力ポートは指定されていません。")}));
        QCOMPARE(w.windowTitle(), QStringLiteral("Speed"));
        QCOMPARE(w.size(), QSize(640, 378));
        QCOMPARE(w.activePage(), w.TabSheet1);
        QVERIFY(w.findChildren<QTabBar*>().isEmpty()); // pages change only through the menu
        QVERIFY(w.Timer1->Enabled());
        QCOMPARE(w.SpinEdit1->text(), QStringLiteral("10"));
        QCOMPARE(w.SpinEdit3->text(), QStringLiteral("3"));
        QCOMPARE(w.REdit3->text(), QStringLiteral("300"));
        QVERIFY(w.CBox1->isChecked()); // Timer2 = 0 means the periodic command is on
        // The data check page was shown first: with the "Timer" box ticked it
        // ran the clock command while the ports were still closed.
        QVERIFY(w.Edit10->text().startsWith(QStringLiteral("?,0,0,9,")));
        QVERIFY(!w.Timer2->Enabled()); // and the start page switched it off again
        QVERIFY(!w.Edit10->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!w.Panel2->isVisible(), 3000); // the indicator goes after a second

        const QList<QPair<QAction*, QWidget*>> items = {
            {w.N2, w.TabSheet2},
            {w.N3, w.TabSheet3},
            {w.N4, w.TabSheet4},
            {w.Var1, w.TabSheet5},
            {w.N6, w.TabSheet6},
            {w.findChild<QAction*>(QStringLiteral("historyItem")),
             w.host().page(QStringLiteral("history"))},
            {w.findChild<QAction*>(QStringLiteral("statusItem")),
             w.host().page(QStringLiteral("status"))}};
        for (const auto& [action, page] : items) {
            action->trigger();
            QCOMPARE(w.activePage(), page);
        }
        // Opening the file menu alone shows the start page.
        emit w.N1->aboutToShow();
        QCOMPARE(w.activePage(), w.TabSheet1);
        QTest::mouseClick(w.Image1, Qt::LeftButton);
        QCOMPARE(w.activePage(), w.TabSheet2);

        QStringList captions;
        for (QAction* a : w.menuBar()->actions())
            captions << a->text();
        QCOMPARE(captions, QStringList({"ファイル", "計測", "設定", "データ確認", "参照", "登録",
                                        "履歴", "状態", "エントリー", "", "Korvane"}));
        QCOMPARE(w.N5->text(), QStringLiteral("終了"));
        QCOMPARE(w.b1->text(), QStringLiteral("V1.27"));
        QCOMPARE(dialogs.errors, QStringList());
    }

    void indicatorCopyBoxPasswordEchoAndTitleClick() {
        writeFile(ini(), kNoPorts);
        RecordingDialogs dialogs;
        TFkorvane w(dir->path());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The clock indicator lies in the client area, below the menu.
        const QRect client = w.centralWidget()->geometry();
        QVERIFY(client.contains(w.Panel2->geometry()));
        QVERIFY(!w.Panel2->geometry().intersects(w.menuBar()->geometry()));
        // The command copy box leaves the decoder command buttons whole.
        w.setActivePage(w.TabSheet4);
        QTest::mouseDClick(w.Memo2->viewport(), Qt::LeftButton);
        QVERIFY(w.Edit10->isVisible());
        QVERIFY(client.contains(w.Edit10->geometry()));
        for (QWidget* button :
             {static_cast<QWidget*>(w.CuteButton1), static_cast<QWidget*>(w.CuteButton3)})
            QVERIFY(!QRect(button->mapTo(&w, QPoint(0, 0)), button->size())
                         .intersects(w.Edit10->geometry()));
        // The password boxes echo "*".
        for (QLineEdit* e : {w.Edit4, w.Edit5, w.Edit6}) {
            e->setText(QStringLiteral("abc"));
            QCOMPARE(e->displayText(), QStringLiteral("***"));
        }
        // Only the left button on the title picture turns to the measurement page.
        w.setActivePage(w.TabSheet1);
        QTest::mouseClick(w.Image1, Qt::RightButton);
        QTest::mouseClick(w.Image1, Qt::MiddleButton);
        QCOMPARE(w.activePage(), w.TabSheet1);
        QTest::mouseClick(w.Image1, Qt::LeftButton);
        QCOMPARE(w.activePage(), w.TabSheet2);
    }

    void settingsChangedInTheWindowAreSavedAtClose() {
        writeFile(ini(), kNoPorts + "Dist=500\n[Devices]\nCOM1=/dev/null\n");
        RecordingDialogs dialogs;
        {
            TFkorvane w(dir->path());
            w.show();
            QCOMPARE(w.SpinEdit1->text(), QStringLiteral("500"));
            w.SpinEdit1->setText(QStringLiteral("750"));
            w.SpinEdit3->setText(QStringLiteral("-1"));
            w.REdit1->setText(QStringLiteral("12"));
            w.REdit1Exit();
            w.REdit3->setText(QStringLiteral("abc"));
            QVERIFY_THROWS_EXCEPTION(std::exception, w.REdit3Exit());
            w.CBox1->setChecked(false);
            w.N5->trigger(); // "終了" closes like the close box
        }
        const Settings s = LoadSettings(ini());
        QCOMPARE(s.Dist, 750);
        QCOMPARE(s.Wait, -1);
        QCOMPARE(s.Decid1, 12);
        QCOMPARE(s.Resetint, 300); // the bad text left the setting as it was
        QCOMPARE(s.Timer2, 1);
        QVERIFY(readFile(ini()).contains("[Devices]\nCOM1=/dev/null"));
    }

    void bigSpeedsAndLongIdsFitTheirLabels() {
        writeFile(ini(), kNoPorts);
        RecordingDialogs dialogs;
        TFkorvane w(dir->path());
        w.show();
        for (QLabel* label : {w.Label1, w.Label6}) {
            auto* fit = dynamic_cast<TFitLabel*>(label);
            QVERIFY(fit);
            const int size = label->font().pixelSize();
            const auto width = [&](int pixels) {
                QFont f = label->font();
                f.setPixelSize(pixels);
                return QFontMetrics(f).horizontalAdvance(label->text());
            };
            // A text that fits keeps the label's size.
            label->setText(label == w.Label1 ? QStringLiteral("14.586 Km/h")
                                             : QStringLiteral("1234"));
            QVERIFY(width(size) <= label->width());
            QCOMPARE(fit->shownFont().pixelSize(), size);
            // One that does not takes the largest size that fits.
            label->setText(label == w.Label1 ? QStringLiteral("123.541 Km/h")
                                             : QStringLiteral("TX-00123456789"));
            QVERIFY2(width(size) > label->width(), "the text must not fit at full size");
            const int shown = fit->shownFont().pixelSize();
            QVERIFY2(shown < size && width(shown) <= label->width() &&
                         width(shown + 1) > label->width(),
                     qPrintable(QStringLiteral("%1 px: %2 of %3")
                                    .arg(shown)
                                    .arg(width(shown))
                                    .arg(label->width())));
            QCOMPARE(fit->shownFont().family(), label->font().family());
            // A shorter text afterwards is shown full size again.
            label->setText(QStringLiteral("9 Km/h"));
            QCOMPARE(fit->shownFont().pixelSize(), size);
        }
    }

    void failedCreationDoesNotOverwriteStoredSettings() {
        writeFile(ini(), kNoPorts + "Dist=777\n");
        {
            QSqlQuery q(SpeedDb::database());
            QVERIFY(q.exec("drop table speed"));
            QVERIFY(q.exec("create view speed as select 1 as tpid")); // cannot be upgraded
        }
        const QByteArray before = readFile(ini());
        RecordingDialogs dialogs;
        {
            TFkorvane w(dir->path());
            QCOMPARE(dialogs.errors.size(), 1); // the engine's error, shown
            QVERIFY(!w.settingsLoaded());
            // The program does not go on with built-in settings: it says so and ends.
            QVERIFY(!w.created());
            QCOMPARE(dialogs.messages,
                     QStringList{QStringLiteral("設定を読み込めませんでした。終了します。")});
            w.show(); // the window is still created and shown
            QVERIFY(w.isVisible());
            w.close();
        }
        QCOMPARE(readFile(ini()), before);
    }

    void aLockedDatabaseIsWaitedForAtCreation() {
        // Another program holds the write lock for a while when the name
        // column is to be added; the creation waits for it.
        writeFile(ini(), kNoPorts + "Dist=777\n");
        const QString db = dir->filePath("Korvane.db");
        std::atomic<bool> locked{false};
        std::thread holder([&] {
            {
                QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "holder");
                other.setDatabaseName(db);
                QSqlQuery q(other);
                if (other.open() && q.exec("begin immediate"))
                    locked = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(2500));
                q.exec("commit");
                other.close();
            }
            QSqlDatabase::removeDatabase("holder");
        });
        QTRY_VERIFY(locked.load());
        RecordingDialogs dialogs;
        TFkorvane w(dir->path());
        holder.join();
        QCOMPARE(dialogs.errors, QStringList());
        QVERIFY(w.created());
        QCOMPARE(w.settings().Dist, 777);
    }

    void failedCreationEndsTheProgramWithoutTouchingTheFiles() {
        writeFile(ini(), kNoPorts + "Dist=777\n");
        const QByteArray badPassword("\xff\xfe\x00x", 4);
        writeFile(dir->filePath("Passw"), badPassword);
        const QByteArray before = readFile(ini());
        QProcess p;
        p.setProgram(QStringLiteral(KORVANE_BIN));
        p.setArguments({"--data-dir", dir->path()});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start();
        QVERIFY(p.waitForStarted());
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("のデータ型が不正です"),
                                 20000);
        // Nobody answers the box: the termination closes it.
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        err += p.readAllStandardError();
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.exitCode() != 0, err.constData());
        QVERIFY2(!err.contains("指定されていません"), err.constData()); // no start-up step ran
        QCOMPARE(readFile(ini()), before);
        QCOMPARE(readFile(dir->filePath("Passw")), badPassword);
    }

    void pagePasswordThatIsNotTextIsReported() {
        writeFile(ini(), kNoPorts);
        writeFile(dir->filePath("Passw"), QByteArray("\xff\xfe\x00x", 4));
        RecordingDialogs dialogs;
        TFkorvane w(dir->path());
        QCOMPARE(dialogs.errors, QStringList({QStringLiteral("'Passw' のデータ型が不正です")}));
        QVERIFY(w.settingsLoaded()); // the settings step came before
    }

    void terminationSignalClosesLikeTheCloseBox() {
        // The real program, stopped while its first message box is open.
        writeFile(ini(), kNoPorts + "Wait=9\n");
        QProcess p;
        p.setProgram(QStringLiteral(KORVANE_BIN));
        p.setArguments({"--data-dir", dir->path()});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start();
        QVERIFY(p.waitForStarted());
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("指定されていません"),
                                 20000);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const Settings s = LoadSettings(ini());
        QCOMPARE(s.Wait, 9);
        QCOMPARE(s.Resetint, 300);
        QCOMPARE(readFile(ini()).count('='), 10);
    }

    void failedSaveAtASignalCloseIsReported() {
        // No box can be shown at a signal close: the failure goes to standard
        // error and into the exit status.
        writeFile(ini(), kNoPorts);
        QProcess p;
        p.setProgram(QStringLiteral(KORVANE_BIN));
        p.setArguments({"--data-dir", dir->path()});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start();
        QVERIFY(p.waitForStarted());
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("指定されていません"),
                                 20000);
        // The settings file has become something that cannot be written.
        QVERIFY(QFile::remove(ini()));
        QVERIFY(QDir().mkdir(ini()));
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        err += p.readAllStandardError();
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY(p.exitCode() != 0);
        QVERIFY2(err.contains((ini() + QStringLiteral(" に書き込めません")).toUtf8()),
                 err.constData());
    }

    void languageFromTheOptionThenTheEnvironmentJapaneseByDefault() {
        const auto with = [](const QString& option, QMap<QByteArray, QByteArray> vars) {
            return chooseLanguage(option, [vars](const char* name) { return vars.value(name); });
        };
        using L = UiLanguage;
        QCOMPARE(with({}, {}), L::Japanese);
        QCOMPARE(with({}, {{"LANG", "C"}, {"LC_ALL", "C.UTF-8"}}), L::Japanese);
        QCOMPARE(with({}, {{"LANG", "de_DE.UTF-8"}}), L::Japanese); // no German: our own
        QCOMPARE(with({}, {{"LANG", "en_GB.UTF-8"}}), L::English);
        // LC_ALL overrides LANG, both ways.
        QCOMPARE(with({}, {{"LANG", "en_US.UTF-8"}, {"LC_ALL", "C"}}), L::Japanese);
        QCOMPARE(with({}, {{"LANG", "ja_JP.UTF-8"}, {"LC_MESSAGES", "en_US"}}), L::English);
        // LANGUAGE comes first, even over a C locale; its first known entry decides.
        QCOMPARE(with({}, {{"LANGUAGE", "en"}, {"LC_ALL", "C"}}), L::English);
        QCOMPARE(with({}, {{"LANGUAGE", "fr:en_US:ja"}}), L::English);
        QCOMPARE(with({}, {{"LANGUAGE", "ja:en"}, {"LANG", "en_US.UTF-8"}}), L::Japanese);
        QCOMPARE(with({}, {{"LANGUAGE", "fr"}, {"LANG", "en_US.UTF-8"}}), L::English);
        // The option over everything.
        QCOMPARE(with(QStringLiteral("ja"), {{"LANGUAGE", "en"}}), L::Japanese);
        QCOMPARE(with(QStringLiteral("en"), {{"LANG", "ja_JP.UTF-8"}}), L::English);
        QVERIFY(!languageNamed(QStringLiteral("english")));
        QVERIFY(!languageNamed(QString()));
    }

    // An alarm with a long reason, in either language: every menu item stays
    // in the menu bar (none behind its extension button), and the alarm
    // covers no control of any page.
    void theAlarmHidesNoMenuItemAndNoControl() {
        struct Back {
            ~Back() { installLanguage(UiLanguage::Japanese); }
        } back;
        writeFile(ini(), kNoPorts);
        RecordingDialogs dialogs;
        for (const UiLanguage language : {UiLanguage::Japanese, UiLanguage::English}) {
            QVERIFY(installLanguage(language));
            TFkorvane w(dir->path());
            w.show();
            emit w.host().portFailed(
                1, QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZ3XQ-if00-port0: "
                                  "No such file or directory"));
            auto* alarm = w.findChild<QLabel*>(QStringLiteral("AlarmLabel"));
            QVERIFY(alarm && alarm->isVisible());
            QVERIFY(alarm->text().contains(QStringLiteral("/dev/serial/by-id/")));
            const QRect alarmRect(alarm->mapTo(&w, QPoint()), alarm->size());

            // Whole in the window, which does not grow to make room for it.
            QCOMPARE(w.size(), QSize(640, 378));
            QVERIFY(w.rect().contains(alarmRect));
            QMenuBar* bar = w.menuBar();
            auto* more = bar->findChild<QToolButton*>(QStringLiteral("qt_menubar_ext_button"));
            QVERIFY(!more || !more->isVisible());
            for (QAction* item : bar->actions()) {
                if (item->text().isEmpty())
                    continue;
                const QRect at = bar->actionGeometry(item);
                const QRect inWindow(bar->mapTo(&w, at.topLeft()), at.size());
                QVERIFY2(!at.isEmpty() && bar->rect().contains(at) && w.rect().contains(inWindow) &&
                             !inWindow.intersects(alarmRect),
                         qPrintable(item->text()));
            }

            for (int i = 0; i < w.PageControl1->count(); ++i) {
                QWidget* page = w.PageControl1->widget(i);
                w.setActivePage(page);
                const QRect pageRect(page->mapTo(&w, QPoint()), page->size());
                for (QWidget* c : page->findChildren<QWidget*>()) {
                    const QRect r(c->mapTo(&w, QPoint()), c->size());
                    // A curtain over the whole page (the locked registration) is no control.
                    if (!c->isVisibleTo(page) || r == pageRect)
                        continue;
                    QVERIFY2(!r.intersects(alarmRect),
                             qPrintable(page->objectName() + QLatin1Char(' ') +
                                        c->metaObject()->className() + QLatin1Char(' ') +
                                        c->objectName()));
                }
            }
        }
    }

    void englishWindowShowsNoJapaneseOnAnyPage() {
        QVERIFY(installLanguage(UiLanguage::English));
        struct Back {
            ~Back() { installLanguage(UiLanguage::Japanese); }
        } back;
        writeFile(ini(), kNoPorts);
        RecordingDialogs dialogs;
        QStringList seen;
        {
            TFkorvane w(dir->path());
            w.show();
            // Every page through its menu item, and the boxes each one gives.
            for (QAction* item : {w.N2, w.N3, w.N4, w.Var1, w.N6,
                                  w.findChild<QAction*>(QStringLiteral("statusItem"))}) {
                item->trigger();
                seen << windowTexts(w);
            }
            w.Edit3->setText(QStringLiteral("1 Km/h"));
            runHandler([&] { w.CuteButton5Click(); });
            w.REdit1->setText(QStringLiteral("x"));
            runHandler([&] { w.REdit1Exit(); });
            w.N6->trigger();
            w.Edit4->setText(QStringLiteral("wrong"));
            runHandler([&] { w.Edit4KeyDown(); });
            w.Edit4->clear(); // the empty password unlocks
            runHandler([&] { w.Edit4KeyDown(); });
            w.Edit5->setText(QStringLiteral("a"));
            w.Edit6->setText(QStringLiteral("b"));
            runHandler([&] { w.CuteButton6Click(); });
            w.Edit9->setText(QString(200, QLatin1Char('x')));
            runHandler([&] { w.CuteButton7Click(); });
            seen << windowTexts(w);
            QCOMPARE(w.N2->text(), QStringLiteral("&Measure"));

            // The speed view, before any speed and with one.
            QAction* view = w.findChild<QAction*>(QStringLiteral("speedViewItem"));
            QVERIFY(view);
            view->trigger();
            seen << windowTexts(w);
            emit w.host().speedShown(QStringLiteral("204518"), QStringLiteral("18"), true, 0);
            seen << windowTexts(w);

            // The file dialog of the CSV export, as Qt draws it.
            QStringList dialog;
            QTimer poll;
            connect(&poll, &QTimer::timeout, [&] {
                if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                    dialog = widgetTexts(*d);
                    d->reject();
                }
            });
            poll.start(20);
            runHandler([&] { w.CuteButtonCsvClick(); });
            QVERIFY(!dialog.isEmpty());
            seen << dialog;
        }
        QCOMPARE(dialogs.messages.size(), 6);
        QCOMPARE(dialogs.questions.size(), 1);
        QCOMPARE(dialogs.errors.size(), 1);
        seen << dialogs.messages << dialogs.details << dialogs.questions << dialogs.errors;
        for (const QString& text : seen)
            QVERIFY2(!japanese(text), qPrintable(text));

        // Back to Japanese: a new window has its Japanese captions again.
        installLanguage(UiLanguage::Japanese);
        TFkorvane w(dir->path());
        QCOMPARE(w.N2->text(), QStringLiteral("計測"));
    }

    // Qt's own boxes speak the window's Japanese: no English word on the
    // buttons of a Yes/No box (a mnemonic's "(&Y)" aside).
    void japaneseYesNoBoxHasNoEnglishButton() {
        QVERIFY(installLanguage(UiLanguage::Japanese));
        QMessageBox box(QMessageBox::Question, QStringLiteral("Speed"), QStringLiteral("?"),
                        QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.buttons().size(), 2);
        for (QAbstractButton* b : box.buttons()) {
            QString caption = b->text();
            caption.remove(QRegularExpression(QStringLiteral("\\(&\\w\\)"))).remove('&');
            QVERIFY2(!caption.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2,}"))),
                     qPrintable(caption));
        }
    }

    // The window by keyboard alone: Tab reaches a painted button, which then
    // shows where the keyboard is and is pressed by Space and Enter; F11 opens
    // the speed view, Esc closes it; F1 tells the version and the manual.
    void paintedButtonsAndShortcutsByKeyboard() {
        writeFile(ini(), kNoPorts);
        RecordingDialogs dialogs;
        TFkorvane w(dir->path());
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.setActivePage(w.TabSheet5);
        w.Edit3->setFocus(Qt::TabFocusReason);
        TCuteButton* b = nullptr;
        for (int i = 0; i < 8 && !b; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            b = qobject_cast<TCuteButton*>(QApplication::focusWidget());
        }
        QVERIFY(b);
        // Against the same button raised by the pointer: only the mark differs.
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(b->mapToGlobal(QPoint(2, 2))));
        QApplication::sendEvent(b, &enter);
        const QImage focused = b->grab().toImage();
        w.Edit3->setFocus();
        QApplication::sendEvent(b, &enter);
        const QImage hovered = b->grab().toImage();
        QVERIFY(focused != hovered);
        b->setFocus(Qt::TabFocusReason);
        QSignalSpy clicked(b, &TCuteButton::clicked);
        QTest::keyClick(b, Qt::Key_Space);
        QCOMPARE(clicked.count(), 1);
        QTest::keyClick(b, Qt::Key_Return);
        QCOMPARE(clicked.count(), 2);

        QTest::keyClick(&w, Qt::Key_F11);
        auto* view = w.findChild<QWidget*>(QStringLiteral("SpeedView"));
        QVERIFY(view);
        QTRY_VERIFY(view->isVisible());
        QTest::keyClick(view, Qt::Key_Escape);
        QVERIFY(!view->isVisible());

        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        dialogs.messages.clear();
        QTest::keyClick(&w, Qt::Key_F1);
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages.first().contains(QStringLiteral("V1.27")));
        QVERIFY(dialogs.messages.first().contains(QStringLiteral("manual.md")));
    }

    void languageOfTheProgramFromEnvironmentAndOption() {
        writeFile(ini(), kNoPorts);
        const auto firstBox = [this](const QStringList& args) {
            QProcess p;
            p.setProgram(QStringLiteral(KORVANE_BIN));
            p.setArguments(QStringList{"--data-dir", dir->path()} + args);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_QPA_PLATFORM", "offscreen");
            env.insert("LC_ALL", "C.UTF-8");
            env.insert("LANGUAGE", "en_US:en");
            p.setProcessEnvironment(env);
            p.setReadChannel(QProcess::StandardError);
            p.start();
            QByteArray err;
            QDeadlineTimer deadline(20000);
            while (!err.contains("message:") && p.waitForReadyRead(int(deadline.remainingTime())))
                err += p.readAllStandardError();
            ::kill(pid_t(p.processId()), SIGTERM);
            p.waitForFinished(10000);
            return err;
        };
        QVERIFY(firstBox({}).contains("No input port 1 selected."));
        QVERIFY(firstBox({"--lang", "ja"}).contains("取り込みポート１は指定されていません。"));
    }

    // A file where a folder of the data folder's path should be: the box
    // names the folder, the system's reason and the way out, in English.
    void dataFolderThatCannotBeMadeSaysWhichAndWhy() {
        writeFile(dir->filePath("plain"), "a file, not a folder");
        const QString folder = dir->filePath("plain/Korvane");
        QProcess p;
        p.setProgram(QStringLiteral(KORVANE_BIN));
        p.setArguments({"--data-dir", folder, "--lang", "en"});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LC_ALL", "C.UTF-8"); // the system's reason in English
        p.setProcessEnvironment(env);
        p.setReadChannel(QProcess::StandardError);
        p.start();
        QByteArray err;
        QDeadlineTimer deadline(20000);
        while (!err.contains("--data-dir") && p.waitForReadyRead(int(deadline.remainingTime())))
            err += p.readAllStandardError();
        p.kill(); // nobody answers the box
        p.waitForFinished(10000);
        const QString box = QStringLiteral("korvane: error: Cannot create the data folder %1: "
                                           "Not a directory\nStart again with --data-dir")
                                .arg(folder);
        QVERIFY2(err.contains(box.toUtf8()), err.constData());
    }

    // A capture file that cannot be opened is told in the window's language.
    void captureFileThatCannotBeOpenedIsToldInEnglish() {
        QProcess p;
        p.setProgram(QStringLiteral(KORVANE_BIN));
        p.setArguments({"--data-dir", dir->path(), "--lang", "en", "--capture",
                        dir->filePath("missing/capture.bin")});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.setReadChannel(QProcess::StandardError);
        p.start();
        QByteArray err;
        QDeadlineTimer deadline(20000);
        while (!err.contains("capture") && p.waitForReadyRead(int(deadline.remainingTime())))
            err += p.readAllStandardError();
        p.kill(); // nobody answers the box
        p.waitForFinished(10000);
        QVERIFY2(err.contains("Cannot open the capture file: "), err.constData());
    }

    void versionAndHelp() {
        QProcess p;
        p.start(QStringLiteral(KORVANE_BIN), {"--version"});
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.readAllStandardOutput(), QByteArray("V1.27\n"));
        p.start(QStringLiteral(KORVANE_BIN), {"--help"});
        QVERIFY(p.waitForFinished());
        const QByteArray help = p.readAllStandardOutput();
        QVERIFY(help.contains("--data-dir"));
        QVERIFY(help.contains("--page PAGE"));
        QVERIFY(help.contains("--lang LANG"));
        QCOMPARE(p.exitCode(), 0);
        p.start(QStringLiteral(KORVANE_BIN), {"--page", "speeds"});
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("unknown page 'speeds'"));
        p.start(QStringLiteral(KORVANE_BIN), {"--lang=fr"});
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitCode(), 2);
    }
};

int main(int argc, char** argv) {
    KorvaneApplication app(argc, argv);
    TestWindow t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_window.moc"
