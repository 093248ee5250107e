#include "FitLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace {

int textWidth(const QFont& f, const QString& text) {
    return QFontMetrics(f).horizontalAdvance(text);
}

} // namespace

QFont TFitLabel::shownFont() const {
    QFont f = font();
    const int room = contentsRect().width() - 2 * margin();
    if (textWidth(f, text()) <= room || f.pixelSize() <= 1)
        return f;
    // Widths grow with the size, but not strictly in proportion (hinting):
    // search for the largest size that fits rather than scale.
    int fits = 1;
    int tooBig = f.pixelSize();
    while (tooBig - fits > 1) {
        const int mid = (fits + tooBig) / 2;
        f.setPixelSize(mid);
        (textWidth(f, text()) <= room ? fits : tooBig) = mid;
    }
    f.setPixelSize(fits);
    return f;
}

void TFitLabel::paintEvent(QPaintEvent* e) {
    const QFont shown = shownFont();
    if (shown.pixelSize() == font().pixelSize()) {
        QLabel::paintEvent(e);
        return;
    }
    QPainter p(this);
    drawFrame(&p);
    p.setFont(shown);
    const QRect r = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&p, r, int(QStyle::visualAlignment(layoutDirection(), alignment())),
                          palette(), isEnabled(), text(), foregroundRole());
}
