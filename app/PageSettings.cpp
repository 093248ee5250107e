// The settings page: board adjustment, the three ports and bit rate, the
// decoder IDs and the clock-setting interval.
#include "Ukorvane.h"

#include "Convert.h"
#include "CuteBtn.h"
#include "Framework.h"
#include "REdit.h"
#include "WindowParts.h"

#include "DataDir.h"
#include "DeviceList.h"
#include "IniFile.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSlider>

using namespace windowparts;

void TFkorvane::buildSettingsPage() {
    QWidget* p = TabSheet3;
    frame(p, 6, 4, 396, 90);
    Label7 = label(tr("ボード調整"), p, 14, 8);
    CuteButton28 = new TCuteButton(QStringLiteral("All Null"), p);
    CuteButton28->setGeometry(14, 28, 90, 25);
    CuteButton29 = new TCuteButton(QStringLiteral("All 8"), p);
    CuteButton29->setGeometry(110, 28, 90, 25);
    CuteButton58 = new TCuteButton(QStringLiteral("1 to 0"), p);
    CuteButton58->setGeometry(206, 28, 90, 25);
    CuteButton61 = new TCuteButton(QStringLiteral("Show address"), p);
    CuteButton61->setGeometry(302, 28, 92, 25);
    Label4 = label(tr("明るさ"), p, 14, 64);
    TBarbright = new QSlider(Qt::Horizontal, p);
    TBarbright->setObjectName(QStringLiteral("TBarbright"));
    TBarbright->setRange(1, 9);
    TBarbright->setValue(1);
    TBarbright->setPageStep(1);
    TBarbright->setTickPosition(QSlider::TicksBelow);
    TBarbright->setTickInterval(1);
    TBarbright->setGeometry(60, 58, 236, 30);
    CuteButton2 = new TCuteButton(QStringLiteral("Set"), p);
    CuteButton2->setGeometry(302, 60, 92, 25);

    RGport1 = new TRadioGroup(tr("ポート１"), portItems(), 2, p);
    RGport1->setObjectName(QStringLiteral("RGport1"));
    RGport1->setGeometry(6, 102, 156, 150);
    RGport2 = new TRadioGroup(tr("ポート２"), portItems(), 2, p);
    RGport2->setObjectName(QStringLiteral("RGport2"));
    RGport2->setGeometry(168, 102, 156, 150);
    RGport3 = new TRadioGroup(tr("出力ポート"), portItems(), 2, p);
    RGport3->setObjectName(QStringLiteral("RGport3"));
    RGport3->setGeometry(330, 102, 156, 150);
    // Beside each port group: which device its port number stands for.
    new DevicePicker(this);
    const int groupLeft[] = {6, 168, 330};
    for (int port : {1, 2, 3}) {
        auto* pick = new QPushButton(tr("デバイス…"), p);
        pick->setObjectName(QStringLiteral("DevicePick%1").arg(port));
        pick->setGeometry(groupLeft[port - 1], 256, 156, 24);
        connect(pick, &QPushButton::clicked, this,
                [this, port] { runHandler([this, port] { pickDevice(port); }); });
    }
    RGrate = new TRadioGroup(QStringLiteral("BitRate"),
                             {QStringLiteral("2400"), QStringLiteral("9600")}, 1, p);
    RGrate->setObjectName(QStringLiteral("RGrate"));
    RGrate->setGeometry(494, 102, 136, 62);

    Label13 = label(QStringLiteral("Dec ID"), p, 494, 176);
    REdit1 = new TREdit(p);
    REdit1->setObjectName(QStringLiteral("REdit1"));
    REdit1->setText(QStringLiteral("0"));
    REdit1->setGeometry(546, 173, 40, 22);
    REdit2 = new TREdit(p);
    REdit2->setObjectName(QStringLiteral("REdit2"));
    REdit2->setText(QStringLiteral("0"));
    REdit2->setGeometry(590, 173, 40, 22);
    Label14 = label(QStringLiteral("Reset int."), p, 494, 206);
    REdit3 = new TREdit(p);
    REdit3->setObjectName(QStringLiteral("REdit3"));
    REdit3->setText(QStringLiteral("300"));
    REdit3->setGeometry(564, 203, 44, 22);
    Label15 = label(tr("秒"), p, 612, 206);
    CBox1 = new QCheckBox(QStringLiteral("Timer"), p);
    CBox1->setObjectName(QStringLiteral("CBox1"));
    CBox1->setGeometry(494, 234, 120, 22);

    for (QWidget* w : {static_cast<QWidget*>(REdit1), static_cast<QWidget*>(REdit2),
                       static_cast<QWidget*>(REdit3)})
        w->installEventFilter(this);
}

void TFkorvane::REdit1Exit() {
    S.Decid1 = StrToInt(REdit1->text());
}
void TFkorvane::REdit2Exit() {
    S.Decid2 = StrToInt(REdit2->text());
}

void TFkorvane::REdit3Exit() {
    S.Resetint = StrToInt(REdit3->text());
    Timer2->setInterval(qint64(S.Resetint) * 1000);
}

void TFkorvane::CBox1Click() {
    S.Timer2 = CBox1->isChecked() ? 0 : 1;
}

// The choice goes to section Devices for the port number the group has
// selected; a port open on that number opens again on the new device.
void TFkorvane::pickDevice(int port) {
    TRadioGroup* group = port == 1 ? RGport1 : port == 2 ? RGport2 : RGport3;
    const int portNo = group->ItemIndex();
    if (portNo < 1) {
        ShowMessage(tr("先にポート番号を選んでください。"));
        return;
    }
    auto* anchor = TabSheet3->findChild<QWidget*>(QStringLiteral("DevicePick%1").arg(port));
    const QString path =
        findChild<DevicePicker*>()->pick(anchor, devicePathForPort(iniPath(), portNo));
    if (path.isEmpty())
        return;
    IniFile ini(iniPath());
    ini.load();
    ini.setValue(QStringLiteral("Devices"), QStringLiteral("COM%1").arg(portNo), path);
    if (!ini.save())
        throw KorvaneError(tr("%1 に書き込めません").arg(iniPath()));
    // Every group on that number reopens, as a click on it would.
    if (RGport1->ItemIndex() == portNo)
        RGport1Click();
    if (RGport2->ItemIndex() == portNo)
        RGport2Click();
    if (RGport3->ItemIndex() == portNo)
        RGport3Click();
}
