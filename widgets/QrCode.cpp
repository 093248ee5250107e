#include "QrCode.h"

#include <QPainter>
#include <qrencode.h>

namespace {
constexpr int kQuiet = 4;
}

QrCode QrCode::encode(const QByteArray& text) {
    QrCode code;
    if (text.isEmpty())
        return code;
    // QRencode_data takes the bytes as they are: no NUL handling, no charset
    // guessing, so what a scanner returns is byte for byte the input.
    QRcode* raw = QRcode_encodeData(int(text.size()),
                                    reinterpret_cast<const unsigned char*>(text.constData()), 0,
                                    QR_ECLEVEL_M);
    if (!raw)
        return code;
    code.size_ = raw->width;
    code.modules_.resize(raw->width * raw->width);
    for (int i = 0; i < raw->width * raw->width; ++i)
        code.modules_[i] = raw->data[i] & 1;
    QRcode_free(raw);
    return code;
}

QImage QrCode::image(int pixelsPerModule) const {
    if (isNull() || pixelsPerModule < 1)
        return {};
    const int side = (size_ + 2 * kQuiet) * pixelsPerModule;
    QImage img(side, side, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    paint(p, QRectF(0, 0, side, side));
    return img;
}

void QrCode::paint(QPainter& painter, const QRectF& area) const {
    if (isNull())
        return;
    const qreal side = qMin(area.width(), area.height());
    const qreal module = side / (size_ + 2 * kQuiet);
    const QPointF origin(area.x() + (area.width() - side) / 2 + kQuiet * module,
                         area.y() + (area.height() - side) / 2 + kQuiet * module);
    painter.save();
    painter.fillRect(QRectF(origin - QPointF(kQuiet * module, kQuiet * module), QSizeF(side, side)),
                     Qt::white);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    for (int y = 0; y < size_; ++y) {
        // One rectangle per run of dark modules: fewer shapes in a PDF and no
        // hairline seams between neighbours when a viewer scales it.
        for (int x = 0; x < size_;) {
            if (!dark(x, y)) {
                ++x;
                continue;
            }
            int end = x;
            while (end < size_ && dark(end, y))
                ++end;
            painter.drawRect(QRectF(origin.x() + x * module, origin.y() + y * module,
                                    (end - x) * module, module));
            x = end;
        }
    }
    painter.restore();
}
