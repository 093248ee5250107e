// The ranking and registration pages, driven through the real main window.
#include "Host.h"
#include "Ukorvane.h"

#include "Chain.h"
#include "CuteBtn.h"
#include "Database.h"
#include "Framework.h"
#include "History.h"
#include "Journal.h"
#include "PasswordStore.h"
#include "Plausibility.h"
#include "Ranking.h"
#include "Registration.h"

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>

namespace {

struct Recorder : Dialogs {
    QStringList messages;
    QStringList errors;
    QStringList questions;
    bool answer = true;
    void message(const QString& text, const QString&) override { messages << text; }
    bool yesNo(const QString& caption, const QString& text) override {
        questions << caption + QLatin1Char('|') + text;
        return answer;
    }
    void error(const QString& text) override { errors << text; }
};

void addRow(const QString& tpid, const QVariant& speed, const QString& name = QString()) {
    execSql(
        {QStringLiteral("insert into speed (tpid,time1,speed,sumi,pname) values (?,1,?,'1',?)")},
        {tpid, speed, name.isNull() ? QVariant() : QVariant(name)});
}

QString stored(const QString& column, const QString& tpid) {
    Query q;
    q.setSql({QStringLiteral("select %1 from speed where tpid=?").arg(column)}, {tpid});
    q.open();
    return q.isEmpty() ? QStringLiteral("<no row>") : q.asText(column);
}

QStringList column(QTableView* grid, int col) {
    QStringList out;
    for (int r = 0; r < grid->model()->rowCount(); ++r)
        out << grid->model()->index(r, col).data().toString();
    return out;
}

// A real double-click: the first press makes the row current.
void doubleClick(QTableView* g, int row, int col) {
    const QPoint at = g->visualRect(g->model()->index(row, col)).center();
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, at);
}

void press(TCuteButton* b) {
    runHandler([b] { b->click(); });
}

void enter(QLineEdit* e, const QString& text) {
    e->clear();
    QTest::keyClicks(e, text);
    QTest::keyClick(e, Qt::Key_Return);
}

} // namespace

class tst_Pages : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<TFkorvane> w_;
    Recorder rec_;

    void start() {
        w_ = std::make_unique<TFkorvane>(dir_->path());
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
        // Measurement is not under test here; keep it from touching the table.
        w_->Timer1->setEnabled(false);
        rec_.messages.clear();
        rec_.errors.clear();
    }
    void restart() {
        w_.reset();
        start();
    }
    void unlock(const QString& password = QString()) {
        w_->N6Click();
        enter(w_->Edit4, password);
        QVERIFY(!w_->Panel1->isVisible());
    }

private slots:
    void init() {
        Dialogs::install(&rec_);
        rec_ = Recorder();
        dir_ = std::make_unique<QTemporaryDir>();
        QFile ini(dir_->filePath(QStringLiteral("Korvane.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[SP]\nPort1=0\nPort2=0\nPort3=0\n");
        ini.close();
        SpeedDb::open(dir_->filePath(QStringLiteral("Korvane.db")));
        SpeedDb::checkNameColumn();
        addRow(QStringLiteral("1001"), 36.0, QStringLiteral("山田"));
        addRow(QStringLiteral("1002"), 14.586);
        addRow(QStringLiteral("it's"), 20.5, QStringLiteral("O'Neil"));
        addRow(QStringLiteral("1004"), QVariant()); // loop 1 only: no speed yet
        start();
    }
    void cleanup() {
        w_.reset();
        SpeedDb::close();
        Dialogs::install(nullptr);
        dir_.reset();
    }

    void rankingListsBestSpeeds() {
        w_->Var1Click();
        QTableView* g = w_->DBGrid1;
        QCOMPARE(column(g, 0), (QStringList{"1001", "it's", "1002"}));
        QCOMPARE(column(g, 1), (QStringList{"山田", "O'Neil", ""}));
        QCOMPARE(column(g, 2), (QStringList{"36", "20.5", "14.586"}));
        QCOMPARE(g->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("スピード"));
        QCOMPARE(g->columnWidth(0), 84);
        QCOMPARE(g->columnWidth(1), 150);
        QCOMPARE(g->columnWidth(2), 60);
        QCOMPARE(g->editTriggers(), QAbstractItemView::NoEditTriggers);

        // A speed recorded while the page is away shows at the next showing.
        execSql({QStringLiteral("update speed set speed=50 where tpid='1004'")});
        w_->N2Click();
        w_->Var1Click();
        QCOMPARE(column(g, 0).first(), QStringLiteral("1004"));
    }

    void doubleClickTakesTheRow() {
        w_->Var1Click();
        QTableView* g = w_->DBGrid1;
        doubleClick(g, 1, 1);
        QCOMPARE(w_->Edit1->text(), QStringLiteral("it's"));
        QCOMPARE(w_->Edit2->text(), QStringLiteral("O'Neil"));
        QCOMPARE(w_->Edit3->text(), QStringLiteral("20.5 Km/h"));
    }

    void lookupByEnter() {
        w_->Var1Click();
        enter(w_->Edit1, QStringLiteral("it's"));
        QCOMPARE(w_->Edit2->text(), QStringLiteral("O'Neil"));
        QCOMPARE(w_->Edit3->text(), QStringLiteral("20.5 Km/h"));
        enter(w_->Edit1, QStringLiteral("9999"));
        QCOMPARE(w_->Edit2->text(), QString());
        QCOMPARE(w_->Edit3->text(), QStringLiteral(" Km/h"));
        QVERIFY(rec_.errors.isEmpty());
    }

    void clearAsksAndKeepsTheRow() {
        w_->Var1Click();
        enter(w_->Edit1, QStringLiteral("1001"));

        rec_.answer = false;
        press(w_->CuteButton5);
        QCOMPARE(rec_.questions,
                 QStringList{QStringLiteral(
                     "確認してください。|選択したデータのスピード記録を削除してよろしいですか？")});
        QCOMPARE(stored(QStringLiteral("speed"), QStringLiteral("1001")), QStringLiteral("36"));
        QCOMPARE(w_->Edit3->text(), QStringLiteral("36 Km/h"));
        QCOMPARE(column(w_->DBGrid1, 2).first(), QStringLiteral("36"));

        rec_.answer = true;
        press(w_->CuteButton5);
        QCOMPARE(stored(QStringLiteral("speed"), QStringLiteral("1001")), QStringLiteral("0"));
        QCOMPARE(w_->Edit3->text(), QString());
        QCOMPARE(column(w_->DBGrid1, 0), (QStringList{"it's", "1002", "1001"}));
        QCOMPARE(column(w_->DBGrid1, 2).last(), QStringLiteral("0"));

        // The record box is empty now: nothing is asked until the next lookup.
        press(w_->CuteButton5);
        QCOMPARE(rec_.questions.size(), 2);
        QVERIFY(rec_.errors.isEmpty());
    }

    void curtainOnEveryShowing() {
        w_->N6Click();
        QVERIFY(w_->Panel1->isVisible());
        enter(w_->Edit4, QStringLiteral("wrong"));
        QCOMPARE(rec_.messages, QStringList{QStringLiteral("パスワードが一致しません。")});
        QVERIFY(w_->Panel1->isVisible());
        QCOMPARE(w_->Edit4->text(), QStringLiteral("wrong"));
        QCOMPARE(w_->DBGrid2->model()->rowCount(), 0);

        // No stored password: the empty entry unlocks.
        enter(w_->Edit4, QString());
        QVERIFY(!w_->Panel1->isVisible());
        QTableView* g = w_->DBGrid2;
        QCOMPARE(column(g, 0), (QStringList{"1001", "1002", "1004", "it's"}));
        QCOMPARE(g->model()->columnCount(), 2);
        QCOMPARE(g->columnWidth(0), 84);
        QCOMPARE(g->columnWidth(1), 150);

        w_->Var1Click();
        QCOMPARE(g->model()->rowCount(), 0); // the list is closed when the page is left
        w_->N6Click();
        QVERIFY(w_->Panel1->isVisible());
        QCOMPARE(w_->Edit4->text(), QString());
    }

    // The keyboard cannot get under the curtain: Tab, typing, Enter and
    // Space go wherever the focus is, as from a real keyboard.
    void curtainKeepsTheKeyboardOut() {
        PasswordStore(dir_->path()).write(QStringLiteral("secret"));
        restart();
        w_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        w_->N6Click();
        const auto focused = [] { return QApplication::focusWidget(); };
        for (int i = 0; i < 16; ++i) {
            QWidget* f = focused();
            QVERIFY(f);
            QVERIFY2(f == w_->Edit4 || !w_->TabSheet6->isAncestorOf(f),
                     qPrintable(f->objectName()));
            QTest::keyClicks(f, QStringLiteral("1001"));
            QTest::keyClick(f, Qt::Key_Return);
            QTest::keyClick(focused(), Qt::Key_Space);
            QTest::keyClick(focused(), i % 2 ? Qt::Key_Tab : Qt::Key_Backtab);
        }
        QVERIFY(w_->Panel1->isVisible());
        QCOMPARE(w_->pagePassword(), QStringLiteral("secret"));
        QCOMPARE(PasswordStore(dir_->path()).read(), QStringLiteral("secret"));
        QCOMPARE(stored(QStringLiteral("pname"), QStringLiteral("1001")), QStringLiteral("山田"));
        for (QWidget* under :
             {static_cast<QWidget*>(w_->DBGrid2), static_cast<QWidget*>(w_->Edit5),
              static_cast<QWidget*>(w_->Edit6), static_cast<QWidget*>(w_->Edit8),
              static_cast<QWidget*>(w_->Edit9), static_cast<QWidget*>(w_->CuteButton6),
              static_cast<QWidget*>(w_->CuteButton7)})
            QVERIFY2(!under->isEnabled(), qPrintable(under->objectName()));
        // The write handlers refuse while the page is locked, whoever calls them.
        w_->Edit5->setText(QStringLiteral("x"));
        w_->Edit6->setText(QStringLiteral("x"));
        w_->CuteButton6Click();
        QCOMPARE(w_->pagePassword(), QStringLiteral("secret"));

        // The right password, then the page works from the keyboard as before.
        QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(focused(), QStringLiteral("secret"));
        QTest::keyClick(focused(), Qt::Key_Return);
        QVERIFY(!w_->Panel1->isVisible());
        QTest::mouseClick(w_->Edit8, Qt::LeftButton);
        QCOMPARE(focused(), w_->Edit8);
        QTest::keyClicks(focused(), QStringLiteral("1001"));
        QTest::keyClick(focused(), Qt::Key_Return);
        QCOMPARE(w_->Edit9->text(), QStringLiteral("山田"));
        QTest::keyClick(focused(), Qt::Key_Tab);
        QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(focused(), QStringLiteral("Suzuki"));
        QTest::keyClick(focused(), Qt::Key_Tab);
        QTest::keyClick(focused(), Qt::Key_Return);
        QCOMPARE(stored(QStringLiteral("pname"), QStringLiteral("1001")), QStringLiteral("Suzuki"));
        QTest::keyClick(focused(), Qt::Key_Tab);
        QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(focused(), QStringLiteral("new"));
        QTest::keyClick(focused(), Qt::Key_Tab);
        QTest::keyClicks(focused(), QStringLiteral("new"));
        QTest::keyClick(focused(), Qt::Key_Tab);
        QCOMPARE(focused(), static_cast<QWidget*>(w_->CuteButton6));
        QTest::keyClick(focused(), Qt::Key_Space);
        QCOMPARE(w_->pagePassword(), QStringLiteral("new"));
        QCOMPARE(PasswordStore(dir_->path()).read(), QStringLiteral("new"));
        QVERIFY(rec_.errors.isEmpty());
    }

    void newPasswordAtOnceAndAtNextStart() {
        unlock();
        w_->Edit5->setText(QStringLiteral("abc"));
        w_->Edit6->setText(QStringLiteral("abd"));
        press(w_->CuteButton6);
        QCOMPARE(rec_.messages, QStringList{QStringLiteral("２つの認証番号が一致しません。")});
        QCOMPARE(w_->pagePassword(), QString());
        QVERIFY(!QFile::exists(PasswordStore(dir_->path()).path()));

        w_->Edit6->setText(QStringLiteral("abc"));
        press(w_->CuteButton6);
        QCOMPARE(w_->pagePassword(), QStringLiteral("abc"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(PasswordStore(dir_->path()).path()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);

        w_->N2Click();
        w_->N6Click();
        enter(w_->Edit4, QString());
        QVERIFY(w_->Panel1->isVisible());
        enter(w_->Edit4, QStringLiteral("abc"));
        QVERIFY(!w_->Panel1->isVisible());

        restart();
        QCOMPARE(w_->pagePassword(), QStringLiteral("abc"));
        unlock(QStringLiteral("abc"));
    }

    void failedPasswordWriteKeepsThePasswordInForce() {
        unlock();
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("Passw.tmp")));
        w_->Edit5->setText(QStringLiteral("new"));
        w_->Edit6->setText(QStringLiteral("new"));
        press(w_->CuteButton6);
        QCOMPARE(rec_.errors, QStringList{QStringLiteral("'Passw' の設定に失敗しました")});
        QCOMPARE(w_->pagePassword(), QString());
        w_->N2Click();
        unlock(); // the empty password still opens the page
    }

    void renameRelocatesAndShowsInRanking() {
        unlock();
        enter(w_->Edit8, QStringLiteral("it's"));
        QCOMPARE(w_->Edit9->text(), QStringLiteral("O'Neil")); // Enter in the ID box looks up
        w_->Edit9->setText(QStringLiteral("O'Brien \"Speedy\""));
        press(w_->CuteButton7);
        QVERIFY(rec_.errors.isEmpty());
        QCOMPARE(stored(QStringLiteral("pname"), QStringLiteral("it's")),
                 QStringLiteral("O'Brien \"Speedy\""));
        QCOMPARE(w_->DBGrid2->currentIndex().row(), 3);
        QCOMPARE(column(w_->DBGrid2, 1).at(3), QStringLiteral("O'Brien \"Speedy\""));

        // No such ID: nothing changes and the list stands on its first row.
        w_->Edit8->setText(QStringLiteral("nobody"));
        press(w_->CuteButton7);
        QCOMPARE(stored(QStringLiteral("pname"), QStringLiteral("nobody")),
                 QStringLiteral("<no row>"));
        QCOMPARE(w_->DBGrid2->currentIndex().row(), 0);

        // An empty name clears it; the ranking then shows no name.
        w_->Edit8->setText(QStringLiteral("1001"));
        w_->Edit9->clear();
        press(w_->CuteButton7);
        w_->Var1Click();
        QCOMPARE(column(w_->DBGrid1, 1).first(), QString());
    }

    void japaneseNamesAtAndPastTheLimit() {
        unlock();
        const QString at = QString(14, QChar(0x5C71)) + QStringLiteral("ab");  // 30 bytes
        const QString past = QString(15, QChar(0x5C71)) + QStringLiteral("a"); // 31 bytes
        w_->Edit8->setText(QStringLiteral("1002"));
        w_->Edit9->setText(at);
        press(w_->CuteButton7);
        QCOMPARE(stored(QStringLiteral("pname"), QStringLiteral("1002")), at);

        w_->Edit9->setText(past);
        press(w_->CuteButton7);
        QCOMPARE(rec_.messages.size(), 1);
        QVERIFY(rec_.messages.first().contains(QStringLiteral("31バイト")));
        QCOMPARE(stored(QStringLiteral("pname"), QStringLiteral("1002")), at);

        w_->Edit9->setText(QStringLiteral("Ünal"));
        press(w_->CuteButton7);
        QCOMPARE(rec_.messages.size(), 2);
        QCOMPARE(stored(QStringLiteral("pname"), QStringLiteral("1002")), at);
    }

    void gridDoubleClickTakesTheRow() {
        unlock();
        QTableView* g = w_->DBGrid2;
        doubleClick(g, 3, 0);
        QCOMPARE(w_->Edit8->text(), QStringLiteral("it's"));
        QCOMPARE(w_->Edit9->text(), QStringLiteral("O'Neil"));
    }

    void gridEditOpenWhenThePageIsLeftIsWritten() {
        w_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        unlock();
        QTableView* g = w_->DBGrid2;
        const QModelIndex cell = g->model()->index(1, RegistrationModel::ColName);
        g->setCurrentIndex(cell);
        g->edit(cell);
        auto* editor = g->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->setText(QStringLiteral("鈴木"));
        w_->Var1Click();
        QCOMPARE(stored(QStringLiteral("pname"), QStringLiteral("1002")), QStringLiteral("鈴木"));
        QCOMPARE(column(w_->DBGrid1, 1).at(2), QStringLiteral("鈴木"));
    }

    void gridEditOpenWhenTheWindowClosesIsWritten() {
        unlock();
        QTableView* g = w_->DBGrid2;
        const QModelIndex cell = g->model()->index(2, RegistrationModel::ColName);
        g->setCurrentIndex(cell);
        g->edit(cell);
        auto* editor = g->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->setText(QStringLiteral("高橋"));
        QVERIFY(w_->close());
        QCOMPARE(stored(QStringLiteral("pname"), QStringLiteral("1004")), QStringLiteral("高橋"));
    }

    void focusLeavingThePageClosesTheList() {
        w_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        unlock();
        QVERIFY(w_->DBGrid2->hasFocus());
        QVERIFY(w_->DBGrid2->model()->rowCount() > 0);
        w_->Memo2DblClick(); // Edit10 is a control of the window outside the page
        w_->Edit10->setFocus();
        QTRY_COMPARE(w_->DBGrid2->model()->rowCount(), 0);
    }

    void gridEditsFollowTheRules() {
        unlock();
        QAbstractItemModel* m = w_->DBGrid2->model();
        QVERIFY(!m->setData(m->index(0, RegistrationModel::ColTpid), QStringLiteral("1002")));
        QTRY_COMPARE(rec_.messages.size(), 1);
        QVERIFY(rec_.messages.first().contains(QStringLiteral("1002")));
        QVERIFY(!m->setData(m->index(0, RegistrationModel::ColName), QString(16, QChar(0x5C71))));
        QTRY_COMPARE(rec_.messages.size(), 2);

        // A valid edit is written when the operator moves to another row.
        QVERIFY(m->setData(m->index(0, RegistrationModel::ColTpid), QStringLiteral("2001")));
        QCOMPARE(stored(QStringLiteral("tpid"), QStringLiteral("2001")),
                 QStringLiteral("<no row>"));
        w_->DBGrid2->setCurrentIndex(m->index(2, 0));
        QCOMPARE(stored(QStringLiteral("pname"), QStringLiteral("2001")), QStringLiteral("山田"));
        QCOMPARE(stored(QStringLiteral("tpid"), QStringLiteral("1001")),
                 QStringLiteral("<no row>"));
    }

    void csvExport() {
        w_->Var1Click();
        const QString path = dir_->filePath(QStringLiteral("rank.csv"));
        QString suggested;
        w_->chooseCsvPath = [&](QWidget*, const QString& s) {
            suggested = s;
            return QString();
        };
        press(w_->CuteButtonCsv);
        QVERIFY(suggested.endsWith(QStringLiteral(".csv")));
        QVERIFY(!QFile::exists(path));

        w_->chooseCsvPath = [&](QWidget*, const QString&) { return path; };
        press(w_->CuteButtonCsv);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()),
                 QStringLiteral("順位,ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID,名前,スピード\r\n"
                                "1,1001,山田,36\r\n"
                                "2,it's,O'Neil,20.5\r\n"
                                "3,1002,,14.586\r\n"));
        QCOMPARE(rec_.messages.size(), 1);
        QVERIFY(rec_.errors.isEmpty());
    }

    // The history lists attempts newest first; a suspect one stands out by
    // colour and word; accepting a held one makes it the best; a correction
    // asks with its figures before it writes, and refuses a bad length.
    void historyReviewsAttempts() {
        QFile ini(dir_->filePath(QStringLiteral("Korvane.ini")));
        QVERIFY(ini.open(QIODevice::Append));
        ini.write("[Checks]\nHoldSuspect=1\n");
        ini.close();
        restart();
        const QString car = QStringLiteral("1001"); // best 36, 山田
        const qint64 ok = Journal::recordAttempt(
            {car, 0, 0, 0, 0.5, 500, 36, "36", 0, Journal::kOk, 1700000000000},
            {3, QStringLiteral("ストック")});
        Journal::recordAttempt(
            {car, 0, 0, 0, 0.36, 500, 50, "50", FlagDoubleRead, Journal::kSuspect, 1700000001000});

        w_->findChild<QAction*>(QStringLiteral("historyItem"))->trigger();
        QCOMPARE(w_->activePage(), w_->host().page(QStringLiteral("history")));
        auto* g = w_->findChild<QTableView*>(QStringLiteral("HistoryGrid"));
        QAbstractItemModel* m = g->model();
        QCOMPARE(column(g, HistoryModel::ColSpeed), (QStringList{"50", "36"}));
        QCOMPARE(column(g, HistoryModel::ColName), (QStringList{"山田", "山田"}));
        QCOMPARE(column(g, HistoryModel::ColFlags), (QStringList{"二重読み", ""}));
        QCOMPARE(column(g, HistoryModel::ColStatus), (QStringList{"要確認", "正常"}));
        QCOMPARE(column(g, HistoryModel::ColClass), (QStringList{"", "ストック"}));
        QVERIFY(m->index(0, 0).data(Qt::BackgroundRole).value<QBrush>().style() != Qt::NoBrush);
        QVERIFY(!m->index(1, 0).data(Qt::BackgroundRole).isValid());
        QCOMPARE(stored(QStringLiteral("speed"), car), QStringLiteral("36"));

        const auto button = [&](const char* name) {
            return w_->findChild<TCuteButton*>(QString::fromLatin1(name));
        };
        g->selectRow(0);
        press(button("HistoryAccept"));
        QCOMPARE(column(g, HistoryModel::ColStatus).first(), QStringLiteral("承認"));
        QCOMPARE(stored(QStringLiteral("speed"), car), QStringLiteral("50"));

        auto* dist = w_->findChild<QLineEdit*>(QStringLiteral("HistoryDist"));
        g->selectRow(1);
        for (const QString bad : {"abc", "0", "-500"}) {
            dist->setText(bad);
            press(button("HistoryCorrect"));
        }
        QCOMPARE(
            rec_.messages,
            QStringList(3, QStringLiteral("区間長は 1～5000 の整数（cm）で入力してください。")));
        QVERIFY(rec_.questions.isEmpty());

        // Not without the operator's reason, which goes into the chain.
        dist->setText(QStringLiteral("1000"));
        press(button("HistoryCorrect"));
        QCOMPARE(rec_.messages.size(), 4);
        QVERIFY(rec_.messages.last().startsWith(QStringLiteral("訂正の理由を入力してください")));
        QVERIFY(rec_.questions.isEmpty());
        w_->findChild<QLineEdit*>(QStringLiteral("HistoryReason"))
            ->setText(QStringLiteral("区間を測り直した"));
        rec_.answer = false;
        press(button("HistoryCorrect"));
        QCOMPARE(rec_.questions.size(), 1);
        QVERIFY2(rec_.questions[0].contains(QStringLiteral("1 件の計測の区間長を 1000 cm")) &&
                     rec_.questions[0].contains(QStringLiteral("1 台のうち、1 台")),
                 qPrintable(rec_.questions[0]));
        QCOMPARE(column(g, HistoryModel::ColSpeed).last(), QStringLiteral("36"));
        rec_.answer = true;
        press(button("HistoryCorrect"));
        QCOMPARE(column(g, HistoryModel::ColSpeed).last(), QStringLiteral("72"));
        QCOMPARE(column(g, HistoryModel::ColStatus).last(), QStringLiteral("正常・訂正"));
        QCOMPARE(stored(QStringLiteral("speed"), car), QStringLiteral("72"));
        Query q;
        q.setSql({QStringLiteral("select orig_speed_text from attempt where id=?")}, {ok});
        q.open();
        QCOMPARE(q.asText(QStringLiteral("orig_speed_text")), QStringLiteral("36"));
        const QString tip = m->index(1, HistoryModel::ColSpeed).data(Qt::ToolTipRole).toString();
        QVERIFY2(tip.contains(QStringLiteral("区間を測り直した")), qPrintable(tip));
        q.setSql({QStringLiteral("select data from chain where kind='correct' and row_id=?")},
                 {ok});
        q.open();
        QCOMPARE(Chain::decode(q.value(QStringLiteral("data")).toByteArray())
                     .value()
                     .value(0)
                     .toString(),
                 QStringLiteral("区間を測り直した"));

        auto* filter = w_->findChild<QLineEdit*>(QStringLiteral("HistoryFilter"));
        enter(filter, QStringLiteral("9999"));
        QCOMPARE(m->rowCount(), 0);
        enter(filter, car);
        QCOMPARE(m->rowCount(), 2);
        const QString path = dir_->filePath(QStringLiteral("history.csv"));
        w_->chooseCsvPath = [&](QWidget*, const QString&) { return path; };
        press(button("HistoryCsv"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 4); // header, two attempts, the empty rest
        QVERIFY(lines[0].startsWith(QStringLiteral("日時,ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID,名前,スピード")));
        QVERIFY2(lines[2].endsWith(QStringLiteral(",1001,山田,72,1000,,正常,36,500,ストック")),
                 qPrintable(lines[2]));
        QVERIFY(rec_.errors.isEmpty());
    }

    // While the history shows, attempts come in on top: at the top of the
    // list the newest comes into view; further down the rows in view stay in
    // view; the operator's selection stays on its attempt either way.
    void historyFollowsAttemptsKeepingSelectionAndView() {
        const auto record = [this](int i) {
            Journal::recordAttempt({QStringLiteral("1001"), 0, 0, 0, 0.5, 500, 36,
                                    QString::number(100 + i), 0, Journal::kOk,
                                    1700000000000 + i * 1000});
            emit w_->host().attemptMeasured(MeasuredAttempt{});
        };
        for (int i = 0; i < 100; ++i)
            Journal::recordAttempt({QStringLiteral("1001"), 0, 0, 0, 0.5, 500, 36,
                                    QString::number(100 + i), 0, Journal::kOk,
                                    1700000000000 + i * 1000});
        w_->findChild<QAction*>(QStringLiteral("historyItem"))->trigger();
        auto* g = w_->findChild<QTableView*>(QStringLiteral("HistoryGrid"));
        const auto speedAt = [&](int row) {
            return g->model()->index(row, HistoryModel::ColSpeed).data().toString();
        };
        const auto selected = [&] {
            QStringList out;
            for (const QModelIndex& i : g->selectionModel()->selectedRows())
                out << speedAt(i.row());
            return out;
        };
        g->selectRow(3);
        QCOMPARE(selected(), QStringList{QStringLiteral("196")});

        record(100);
        QTRY_COMPARE_WITH_TIMEOUT(speedAt(0), QStringLiteral("200"), 1000);
        QCOMPARE(g->rowAt(0), 0);
        QCOMPARE(selected(), QStringList{QStringLiteral("196")});

        g->scrollTo(g->model()->index(50, 0), QAbstractItemView::PositionAtTop);
        const QString top = speedAt(g->rowAt(0));
        QVERIFY(g->rowAt(0) > 0);
        for (int i = 101; i < 106; ++i)
            record(i);
        QTRY_COMPARE_WITH_TIMEOUT(speedAt(0), QStringLiteral("205"), 1000);
        QCOMPARE(speedAt(g->rowAt(0)), top);
        QCOMPARE(selected(), QStringList{QStringLiteral("196")});
        QCOMPARE(g->model()->rowCount(), 106);
    }

    // The rows for the operator's eye: counted, listed alone on request,
    // reached by F3 / Shift+F3; an attempt that is not a measurement shows no
    // speed; Tab goes from the grid through the review in the order of the
    // work.
    void historyRowsForReview() {
        const QString car = QStringLiteral("1001");
        const auto record = [&](const char* speed, const QString& status) {
            Journal::recordAttempt(
                {car, 0, 0, 0, 0.5, 500, 36, QString::fromLatin1(speed), 0, status, 1700000000000});
        };
        record("36", Journal::kOk);
        record("50", Journal::kSuspect);
        // What a loop-2 passing without a loop-1 time gives: no car drove it.
        record("0.027", Journal::kNotMeasurement);
        record("37", Journal::kOk);
        record("51", Journal::kSuspect);
        w_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        w_->findChild<QAction*>(QStringLiteral("historyItem"))->trigger();
        auto* g = w_->findChild<QTableView*>(QStringLiteral("HistoryGrid"));
        auto* count = w_->findChild<QLabel*>(QStringLiteral("HistoryCount"));
        QCOMPARE(column(g, HistoryModel::ColSpeed),
                 (QStringList{"51", "37", QStringLiteral("—"), "50", "36"}));
        QCOMPARE(count->text(), QStringLiteral("3 件"));
        QCOMPARE(g->model()->index(0, HistoryModel::ColStatus).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("要確認"));

        g->setFocus();
        g->selectRow(1);
        QList<int> reached;
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(g, Qt::Key_F3);
            reached << g->currentIndex().row();
        }
        for (int i = 0; i < 2; ++i) {
            QTest::keyClick(g, Qt::Key_F3, Qt::ShiftModifier);
            reached << g->currentIndex().row();
        }
        QCOMPARE(reached, (QList<int>{2, 3, 3, 2, 0}));
        QCOMPARE(g->selectionModel()->selectedRows().size(), 1);

        QStringList order;
        for (QWidget* at = g->nextInFocusChain(); at != g; at = at->nextInFocusChain())
            if (at->isVisible() && (at->focusPolicy() & Qt::TabFocus) &&
                at->parentWidget() == g->parentWidget())
                order << at->objectName();
        QCOMPARE(order,
                 (QStringList{"HistoryFilter", "HistoryReason", "HistoryAccept", "HistoryReject",
                              "HistoryDist", "HistoryByRange", "HistoryFrom", "HistoryTo",
                              "HistoryCorrect", "HistoryCsv", "HistoryForReview"}));
        QTest::keyClick(g, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("HistoryFilter"));

        w_->findChild<QCheckBox*>(QStringLiteral("HistoryForReview"))->setChecked(true);
        QCOMPARE(column(g, HistoryModel::ColSpeed), (QStringList{"51", QStringLiteral("—"), "50"}));
        g->selectRow(0);
        press(w_->findChild<TCuteButton*>(QStringLiteral("HistoryAccept")));
        QCOMPARE(count->text(), QStringLiteral("2 件"));
        QVERIFY(rec_.errors.isEmpty());
    }

    // Pictures of both pages for the documentation, when asked for.
    void screenshots() {
        const QString out = qEnvironmentVariable("KORVANE_SCREENSHOTS");
        if (out.isEmpty())
            QSKIP("set KORVANE_SCREENSHOTS to a folder to take the pictures");
        w_->N6Click();
        QVERIFY(w_->grab().save(QDir(out).filePath(QStringLiteral("registration-locked.png"))));
        w_->Var1Click();
        enter(w_->Edit1, QStringLiteral("it's"));
        QVERIFY(w_->grab().save(QDir(out).filePath(QStringLiteral("ranking.png"))));
        unlock();
        enter(w_->Edit8, QStringLiteral("1001"));
        QVERIFY(w_->grab().save(QDir(out).filePath(QStringLiteral("registration.png"))));
    }
};

int main(int argc, char** argv) {
    KorvaneApplication app(argc, argv);
    tst_Pages t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_pages.moc"
