// The registration page: driver names and the page password.
#include "Ukorvane.h"

#include "CuteBtn.h"
#include "Framework.h"

#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

void TFkorvane::buildRegistrationPage() {
    QWidget* p = TabSheet6;
    DBGrid2 = new QTableView(p);
    DBGrid2->setObjectName(QStringLiteral("DBGrid2"));
    DBGrid2->setGeometry(6, 6, 280, 340);
    DBGrid2->verticalHeader()->setDefaultSectionSize(18);
    DBGrid2->viewport()->installEventFilter(this);

    Shape6 = new QFrame(p);
    Shape6->setFrameShape(QFrame::Box);
    Shape6->setGeometry(296, 6, 338, 120);
    auto* l8 = new QLabel(QStringLiteral("検索"), p);
    l8->setGeometry(306, 18, 40, 18);
    Edit8 = new QLineEdit(p);
    Edit8->setObjectName(QStringLiteral("Edit8"));
    Edit8->setGeometry(350, 16, 270, 22);
    Edit8->installEventFilter(this);
    auto* l9 = new QLabel(QStringLiteral("名前"), p);
    l9->setGeometry(306, 48, 40, 18);
    Edit9 = new QLineEdit(p);
    Edit9->setObjectName(QStringLiteral("Edit9"));
    Edit9->setGeometry(350, 46, 270, 22);
    CuteButton7 = new TCuteButton(QStringLiteral("名前の登録"), p);
    CuteButton7->setGeometry(520, 86, 100, 28);

    Shape5 = new QFrame(p);
    Shape5->setFrameShape(QFrame::Box);
    Shape5->setGeometry(296, 140, 338, 120);
    auto* l5 = new QLabel(QStringLiteral("パスワード"), p);
    l5->setGeometry(306, 152, 140, 18);
    Edit5 = new QLineEdit(p);
    Edit5->setObjectName(QStringLiteral("Edit5"));
    Edit5->setEchoMode(QLineEdit::Password);
    Edit5->setGeometry(450, 150, 170, 22);
    auto* l6 = new QLabel(QStringLiteral("パスワード（確認用）"), p);
    l6->setGeometry(306, 182, 140, 18);
    Edit6 = new QLineEdit(p);
    Edit6->setObjectName(QStringLiteral("Edit6"));
    Edit6->setEchoMode(QLineEdit::Password);
    Edit6->setGeometry(450, 180, 170, 22);
    CuteButton6 = new TCuteButton(QStringLiteral("パスワードの登録"), p);
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
    Panel1->raise();
}

void TFkorvane::TabSheet6Show() {
    Panel1->show();
    Panel1->raise();
    Edit4->clear();
    Edit4->setFocus();
}
void TFkorvane::TabSheet6Exit() {}
void TFkorvane::Edit4KeyDown() {}
void TFkorvane::Edit8KeyDown() {}
void TFkorvane::DBGrid2DblClick() {}
void TFkorvane::CuteButton7Click() {}
void TFkorvane::CuteButton6Click() {}
