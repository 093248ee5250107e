#include "Pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QPixmap drawTitlePicture() {
    QPixmap pm(513, 209);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    // Speed streaks behind the word.
    QLinearGradient streak(0, 0, 513, 0);
    streak.setColorAt(0, QColor(255, 255, 255, 0));
    streak.setColorAt(1, QColor(255, 220, 0, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(streak);
    for (int i = 0; i < 5; ++i)
        p.drawRoundedRect(QRectF(20 + i * 18, 70 + i * 16, 300 - i * 30, 5), 2.5, 2.5);

    QFont script;
    script.setFamilies(
        {QStringLiteral("Z003"), QStringLiteral("URW Chancery L"), QStringLiteral("DejaVu Serif")});
    script.setItalic(true);
    script.setBold(true);
    script.setPixelSize(150);
    QPainterPath word;
    word.addText(0, 0, script, QStringLiteral("Speed"));
    const QRectF b = word.boundingRect();
    const qreal scale = qMin(470.0 / b.width(), 180.0 / b.height());
    QTransform t;
    t.translate((513 - b.width() * scale) / 2 - b.left() * scale,
                (209 - b.height() * scale) / 2 - b.top() * scale);
    t.scale(scale, scale);
    const QPainterPath placed = t.map(word);

    QLinearGradient fill(0, 20, 0, 190);
    fill.setColorAt(0, QColor(255, 244, 120));
    fill.setColorAt(0.55, QColor(255, 190, 0));
    fill.setColorAt(1, QColor(230, 110, 0));
    p.setPen(QPen(QColor(0, 0, 0, 110), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(placed.translated(4, 4));
    p.setPen(QPen(QColor(120, 40, 0), 2.5));
    p.setBrush(fill);
    p.drawPath(placed);
    return pm;
}

QPixmap drawLogoPicture() {
    QPixmap pm(185, 65);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255), 2));
    p.setBrush(QColor(255, 255, 255, 30));
    p.drawRoundedRect(QRectF(1, 1, 183, 63), 10, 10);

    // A stopwatch.
    p.setBrush(QColor(255, 210, 0));
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.drawEllipse(QPointF(34, 35), 21, 21);
    p.drawRect(QRectF(30, 7, 8, 6));
    p.setPen(QPen(QColor(40, 40, 40), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(34, 35), QPointF(46, 26));
    p.drawPoint(QPointF(34, 35));

    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("IPAPGothic")});
    f.setBold(true);
    f.setItalic(true);
    f.setPixelSize(30);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(62, 4, 120, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Ostrel"));
    f.setPixelSize(12);
    f.setItalic(false);
    f.setBold(false);
    p.setFont(f);
    p.drawText(QRectF(64, 40, 120, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Korvane V1.27"));
    return pm;
}
