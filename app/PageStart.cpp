// The start page: the title picture that leads to the measuring page.
#include "Ukorvane.h"

#include "Pictures.h"
#include "WindowParts.h"

#include <QLabel>

void TFkorvane::buildStartPage() {
    Image1 = new QLabel(TabSheet1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(drawTitlePicture());
    Image1->setGeometry(63, 40, 513, 209);
    Image1->setCursor(Qt::PointingHandCursor);
    Image1->installEventFilter(this);
    Image2 = new QLabel(TabSheet1);
    Image2->setPixmap(drawLogoPicture());
    Image2->setGeometry(440, 270, 185, 65);
}
