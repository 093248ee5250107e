// The reference page: ranking of best speeds, lookup and clearing a record.
#include "Ukorvane.h"

#include "CuteBtn.h"
#include "Framework.h"

#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

void TFkorvane::buildRankingPage() {
    QWidget* p = TabSheet5;
    DBGrid1 = new QTableView(p);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(6, 6, 330, 340);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->verticalHeader()->setDefaultSectionSize(18);

    Shape4 = new QFrame(p);
    Shape4->setFrameShape(QFrame::Box);
    Shape4->setGeometry(346, 6, 288, 150);
    auto* l1 = new QLabel(QStringLiteral("検索"), p);
    l1->setGeometry(356, 18, 40, 18);
    Edit1 = new QLineEdit(p);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(400, 16, 220, 22);
    Edit1->installEventFilter(this);
    auto* l2 = new QLabel(QStringLiteral("名前"), p);
    l2->setGeometry(356, 48, 40, 18);
    Edit2 = new QLineEdit(p);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(400, 46, 220, 22);
    auto* l3 = new QLabel(QStringLiteral("記録"), p);
    l3->setGeometry(356, 78, 40, 18);
    Edit3 = new QLineEdit(p);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    QFont bold = Edit3->font();
    bold.setBold(true);
    Edit3->setFont(bold);
    Edit3->setGeometry(400, 76, 220, 22);
    CuteButton5 = new TCuteButton(QStringLiteral("記録の削除"), p);
    CuteButton5->setGeometry(520, 116, 100, 28);
    DBGrid1->viewport()->installEventFilter(this);
}

void TFkorvane::TabSheet5Show() {}
void TFkorvane::DBGrid1DblClick() {}
void TFkorvane::Edit1KeyDown() {}
void TFkorvane::CuteButton5Click() {}
