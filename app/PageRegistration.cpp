// The registration page: driver names and the page password.
#include "Ukorvane.h"

#include "CuteBtn.h"
#include "Framework.h"
#include "Names.h"
#include "PasswordStore.h"
#include "Ranking.h"
#include "Registration.h"
#include "SpeedTable.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QTableView>

namespace {

// The registration grid, able to hand an open cell edit to its model on
// demand (when the page loses the focus the edit must not be lost).
class TDBGrid : public QTableView {
public:
    using QTableView::QTableView;

    void commitOpenEditor() {
        // An open cell editor belongs to the current cell (this grid has no
        // other widgets in its cells).
        QWidget* editor = state() == EditingState ? indexWidget(currentIndex()) : nullptr;
        if (!editor)
            return;
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
};

// Runs a step when the window is about to close, before its own close
// handler: a name typed in the grid is written, not lost with the window.
class CloseWatcher : public QObject {
public:
    CloseWatcher(QObject* parent, std::function<void()> step)
        : QObject(parent), step_(std::move(step)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent() && event->type() == QEvent::Close)
            step_();
        return false;
    }

private:
    std::function<void()> step_;
};

// Password boxes echo "*", whatever mask character the style would use.
class StarEchoStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

void applyRegistrationColumns(QTableView* grid) {
    grid->setColumnWidth(RegistrationModel::ColTpid, 84);
    grid->setColumnWidth(RegistrationModel::ColName, 150);
}

} // namespace

void TFkorvane::buildRegistrationPage() {
    QWidget* p = TabSheet6;
    DBGrid2 = new TDBGrid(p);
    DBGrid2->setObjectName(QStringLiteral("DBGrid2"));
    DBGrid2->setGeometry(6, 6, 280, 340);
    DBGrid2->verticalHeader()->setDefaultSectionSize(18);
    DBGrid2->verticalHeader()->hide();
    DBGrid2->setWordWrap(false);
    DBGrid2->setSelectionMode(QAbstractItemView::SingleSelection);
    // A double-click takes the row into the boxes; typing or F2 edits a cell.
    DBGrid2->setEditTriggers(QAbstractItemView::SelectedClicked |
                             QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    DBGrid2->viewport()->installEventFilter(this);
    Qrename = new RegistrationModel(this);
    DBGrid2->setModel(Qrename);
    applyRegistrationColumns(DBGrid2);
    // An edited row is written when the operator moves to another row.
    connect(DBGrid2->selectionModel(), &QItemSelectionModel::currentRowChanged, Qrename,
            [this](const QModelIndex&, const QModelIndex&) { Qrename->submit(); });
    // Reported after the edit that caused it has finished, not from inside
    // the grid's own focus and editor handling.
    connect(
        Qrename, &RegistrationModel::refused, this, [](const QString& why) { ShowMessage(why); },
        Qt::QueuedConnection);
    connect(qApp, &QApplication::focusChanged, this, &TFkorvane::registrationFocusChanged);
    installEventFilter(new CloseWatcher(this, [this] { runHandler([this] { TabSheet6Exit(); }); }));

    Shape6 = new QFrame(p);
    Shape6->setFrameShape(QFrame::Box);
    Shape6->setGeometry(296, 6, 338, 120);
    auto* l8 = new QLabel(tr("検索"), p);
    l8->setGeometry(306, 18, 40, 18);
    Edit8 = new QLineEdit(p);
    Edit8->setObjectName(QStringLiteral("Edit8"));
    Edit8->setGeometry(350, 16, 270, 22);
    Edit8->installEventFilter(this);
    auto* l9 = new QLabel(tr("名前"), p);
    l9->setGeometry(306, 48, 40, 18);
    Edit9 = new QLineEdit(p);
    Edit9->setObjectName(QStringLiteral("Edit9"));
    Edit9->setGeometry(350, 46, 270, 22);
    CuteButton7 = new TCuteButton(tr("名前の登録"), p);
    CuteButton7->setGeometry(520, 86, 100, 28);

    Shape5 = new QFrame(p);
    Shape5->setFrameShape(QFrame::Box);
    Shape5->setGeometry(296, 140, 338, 120);
    auto* l5 = new QLabel(tr("パスワード"), p);
    l5->setGeometry(306, 152, 140, 18);
    Edit5 = new QLineEdit(p);
    Edit5->setObjectName(QStringLiteral("Edit5"));
    Edit5->setEchoMode(QLineEdit::Password);
    Edit5->setGeometry(450, 150, 170, 22);
    auto* l6 = new QLabel(tr("パスワード（確認用）"), p);
    l6->setGeometry(306, 182, 140, 18);
    Edit6 = new QLineEdit(p);
    Edit6->setObjectName(QStringLiteral("Edit6"));
    Edit6->setEchoMode(QLineEdit::Password);
    Edit6->setGeometry(450, 180, 170, 22);
    CuteButton6 = new TCuteButton(tr("パスワードの登録"), p);
    CuteButton6->setGeometry(500, 220, 120, 28);

    // The curtain covers the page until the password in force is typed.
    Panel1 = new QFrame(p);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setAutoFillBackground(true);
    Panel1->setGeometry(p->rect());
    Edit4 = new QLineEdit(Panel1);
    Edit4->setObjectName(QStringLiteral("Edit4"));
    Edit4->setEchoMode(QLineEdit::Password);
    Edit4->setGeometry(245, 160, 150, 22);
    Edit4->installEventFilter(this);
    // The curtain's only control: without a word beside it nothing says
    // what the box wants.
    auto* l4 = new QLabel(tr("パスワード"), Panel1);
    l4->setGeometry(135, 162, 102, 18);
    l4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l4->setBuddy(Edit4);
    Panel1->raise();

    auto* starEcho = new StarEchoStyle;
    starEcho->setParent(this);
    for (QLineEdit* e : {Edit5, Edit6, Edit4})
        e->setStyle(starEcho);

    lockRegistration(true);
}

// Covered is not enough: a control under the curtain that is still enabled
// can be reached with Tab and typed into. Everything on the page but the
// curtain itself is disabled while it is up, which also takes it out of the
// focus chain.
void TFkorvane::lockRegistration(bool locked) {
    registrationLocked_ = locked;
    Panel1->setVisible(locked);
    if (locked)
        Panel1->raise();
    for (QWidget* w : TabSheet6->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w != Panel1)
            w->setEnabled(!locked);
}

void TFkorvane::TabSheet6Show() {
    lockRegistration(true);
    Edit4->clear();
    Edit4->setFocus();
}

// The page counts as left when the focus moves to another control of this
// window; a message box or another application taking the focus is not a
// move away from the page.
void TFkorvane::registrationFocusChanged(QWidget* old, QWidget* now) {
    if (!old || !now || now->window() != this || !TabSheet6->isAncestorOf(old) ||
        TabSheet6->isAncestorOf(now))
        return;
    runHandler([this] { TabSheet6Exit(); });
}

void TFkorvane::commitRegistrationEditor() {
    static_cast<TDBGrid*>(DBGrid2)->commitOpenEditor();
}

void TFkorvane::TabSheet6Exit() {
    if (!Qrename->isOpen())
        return;
    commitRegistrationEditor();
    Qrename->submit(); // a refusal is reported by the model
    Qrename->close();
}

void TFkorvane::Edit4KeyDown() {
    if (Edit4->text() != Passw) {
        ShowMessage(tr("パスワードが一致しません。"));
        return;
    }
    lockRegistration(false);
    Qrename->open();
    applyRegistrationColumns(DBGrid2);
    if (Qrename->rowCount() > 0)
        DBGrid2->setCurrentIndex(Qrename->index(0, RegistrationModel::ColTpid));
    DBGrid2->setFocus();
}

// Enter in the ID box looks the transponder up and shows its name here.
void TFkorvane::Edit8KeyDown() {
    Edit9->setText(SpeedTable::lookup(Edit8->text()).name);
}

void TFkorvane::DBGrid2DblClick() {
    const int row = DBGrid2->currentIndex().isValid() ? DBGrid2->currentIndex().row() : 0;
    Edit8->setText(Qrename->tpid(row));
    Edit9->setText(Qrename->name(row));
}

void TFkorvane::CuteButton7Click() {
    if (registrationLocked_)
        return;
    const QString id = Edit8->text();
    const QString name = Edit9->text();
    const QString problem = nameProblem(name);
    if (!problem.isEmpty()) {
        ShowMessage(problem);
        return;
    }
    // A cell edit still pending in the grid is written before the list is read anew.
    commitRegistrationEditor();
    Qrename->submit();
    renameTransponder(id, name);
    Qrename->open();
    applyRegistrationColumns(DBGrid2);
    if (Qrename->rowCount() == 0)
        return;
    const int row = Qrename->locate(id);
    DBGrid2->setCurrentIndex(Qrename->index(row < 0 ? 0 : row, RegistrationModel::ColTpid));
}

void TFkorvane::CuteButton6Click() {
    if (registrationLocked_)
        return;
    if (Edit5->text() != Edit6->text()) {
        ShowMessage(tr("２つの認証番号が一致しません。"));
        return;
    }
    PasswordStore(dataDir()).write(Edit5->text());
    Passw = Edit5->text();
}
