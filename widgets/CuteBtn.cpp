#include "CuteBtn.h"

#include <QMouseEvent>
#include <QPainter>

TCuteButton::TCuteButton(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    resize(75, 25);
}

TCuteButton::TCuteButton(const QString& caption, QWidget* parent) : TCuteButton(parent) {
    setCaption(caption);
}

void TCuteButton::setCaption(const QString& caption) {
    caption_ = caption;
    update();
}

void TCuteButton::click() { emit clicked(); }

void TCuteButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().button());
    p.drawText(rect(), Qt::AlignCenter, caption_);
}

void TCuteButton::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        click();
}
