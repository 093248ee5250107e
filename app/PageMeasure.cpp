// The measuring page: the speed and ID in large type, section distance and
// hold time.
#include "Ukorvane.h"
#include "WindowHost.h"

#include "FitLabel.h"
#include "Framework.h"
#include "Spin.h"
#include "WindowParts.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace windowparts;

void TFkorvane::buildMeasurementPage() {
    QWidget* p = TabSheet2;
    QPalette yellow = palette();
    yellow.setColor(QPalette::WindowText, Qt::yellow);

    Label1 = new TFitLabel(QStringLiteral("000.000 km"), p);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big = font();
    big.setPixelSize(96);
    Label1->setFont(big);
    Label1->setPalette(yellow);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setGeometry(0, 16, 640, 120);

    Label6 = new TFitLabel(QStringLiteral("TPID"), p);
    Label6->setObjectName(QStringLiteral("Label6"));
    QFont id = font();
    id.setPixelSize(80);
    Label6->setFont(id);
    Label6->setPalette(yellow);
    Label6->setAlignment(Qt::AlignCenter);
    Label6->setGeometry(0, 146, 640, 100);

    Label3 = label(tr("計測区間距離"), p, 24, 296);
    SpinEdit1 = new TSpinEdit(p);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setMinValue(1);
    SpinEdit1->setMaxValue(5000);
    SpinEdit1->setGeometry(110, 292, 72, 24);
    Label2 = label(QStringLiteral("cm"), p, 188, 296);

    Label9 = label(tr("スクロールタイム"), p, 300, 296);
    SpinEdit3 = new TSpinEdit(p);
    SpinEdit3->setObjectName(QStringLiteral("SpinEdit3"));
    SpinEdit3->setGeometry(404, 292, 60, 24);
    Label11 = label(tr("秒"), p, 470, 296);

    Memo3 = new QPlainTextEdit(p);
    Memo3->setObjectName(QStringLiteral("Memo3"));
    Memo3->setPlainText(QStringLiteral("Memo3"));
    // The log keeps its latest lines; the document drops the oldest itself,
    // in one step however long the log.
    Memo3->setMaximumBlockCount(windowparts::kEventLogLines);
    Memo3->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo3->setGeometry(520, 260, 110, 60);
    Memo3->hide();

    Button2 = new QPushButton(QStringLiteral("Button2"), p);
    Button2->setGeometry(560, 296, 75, 25);
    Button2->hide();
}

void TFkorvane::SpinEdit1Change() {
    S.Dist = SpinEdit1->value();
    emit host_->settingsChanged();
}
void TFkorvane::SpinEdit3Change() {
    S.Wait = SpinEdit3->value();
    emit host_->settingsChanged();
}
void TFkorvane::Button2Click() {
    Timer1->setEnabled(true);
}
