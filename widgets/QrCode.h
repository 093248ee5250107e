#pragma once

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QVector>

class QPainter;

// QR codes for what a copy of the station's evidence needs outside it (the
// chain head on the status page, a certificate's claim). Encoding is
// libqrencode's, at error correction level M, byte mode, so a phone camera or
// `zbarimg` reads back exactly the bytes given.
class QrCode {
public:
    // Empty (isNull) when the text does not fit the largest QR version.
    static QrCode encode(const QByteArray& text);

    bool isNull() const { return size_ == 0; }
    int size() const { return size_; } // modules per side, without the quiet zone
    bool dark(int x, int y) const { return modules_.at(y * size_ + x); }

    // Black modules on white, with the standard four-module quiet zone, scaled
    // to whole pixels per module so that scanners see square modules.
    QImage image(int pixelsPerModule) const;
    // Paints into the square that fits `area` (quiet zone included); a vector
    // drawing, so a PDF keeps it sharp at any zoom.
    void paint(QPainter& painter, const QRectF& area) const;

private:
    int size_ = 0;
    QVector<bool> modules_;
};
