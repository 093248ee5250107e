#include "CertificatePaint.h"

#include "QrCode.h"
#include "SpeedText.h"
#include "Uncertainty.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QMutex>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <cmath>

namespace {

// Speeds as the station shows them (cut, not rounded, after the third
// decimal), written out to three decimals; uncertainties rounded up, so that
// the paper never claims more than the station computed.
QString kmhText(double kmh) {
    QString s = SpeedText(kmh);
    if (!s.contains(QLatin1Char('.')))
        s += QLatin1Char('.');
    while (s.size() - s.indexOf(QLatin1Char('.')) < 4)
        s += QLatin1Char('0');
    return s;
}

const QString kFamily = QStringLiteral("IPAGothic");

// Drawing resolution of the PDFs: fine enough that text placed by the
// font's metrics lands where it was measured.
constexpr int kPdfDpi = 600;
constexpr double kSlipWidthMm = 80;

// Lays out and draws one document. Every piece of text goes into a box and
// must stay inside it: it wraps, then shrinks down to a floor, and what still
// does not fit ends in an ellipsis, so that a long event name or driver in
// either language never runs over the next line or off the page. With no
// painter it only measures (the slip's length is its content's).
class Sheet {
    Q_DECLARE_TR_FUNCTIONS(Certificate)

public:
    Sheet(QPainter* painter, QPaintDevice* device, const QRectF& page, const CertificateData& data)
        : p_(painter), device_(device), page_(page), d_(data), unit_(device->logicalDpiY() / 25.4) {
    }

    qreal drawCertificate();
    qreal drawSlip();

private:
    enum Wrap { Words, Anywhere };

    qreal mm(qreal v) const { return v * unit_; }
    QFont font(qreal pt, bool bold = false) const {
        QFont f(kFamily);
        f.setPointSizeF(pt);
        f.setBold(bold);
        return f;
    }
    qreal lineHeight(const QFont& f) const { return QFontMetricsF(f, device_).lineSpacing(); }

    // Draws `text` inside `box`; returns the height it took.
    qreal text(const QRectF& box, const QString& text, QFont f, int align, Wrap wrap = Words,
               qreal minScale = 0.7) const;
    // Text across the content width at the cursor, at most `lines` lines.
    void flow(const QString& s, const QFont& f, int align, int lines, Wrap wrap = Words,
              qreal gapMm = 1);
    void rule(qreal y, qreal x0, qreal x1, qreal widthMm = 0.2, Qt::PenStyle style = Qt::SolidLine);
    void fill(const QRectF& r, const QColor& c);
    void frame(const QRectF& r, qreal widthMm);
    void qr(const QRectF& square);

    // A table row: cells of the given widths (mm), each text fitted in it.
    void row(const QVector<qreal>& widthsMm, const QStringList& cells, const QFont& f,
             qreal heightMm, bool header);

    QString dateTime(qint64 ms) const;
    QString section() const;
    QString direction(RunDirection d, bool brief = false) const;
    QString speed(double kmh, double uKmh) const;
    QString offset(const CertificateRun& r) const;
    QString reviewKind(const QString& kind) const;
    QString status(const QString& status) const;
    QString orDash(const QString& s) const { return s.isEmpty() ? QStringLiteral("—") : s; }

    QPainter* p_;
    QPaintDevice* device_;
    QRectF page_;
    const CertificateData& d_;
    qreal unit_;
    // The content column and the cursor.
    qreal left_ = 0;
    qreal width_ = 0;
    qreal y_ = 0;
};

qreal Sheet::text(const QRectF& box, const QString& s, QFont f, int align, Wrap wrap,
                  qreal minScale) const {
    const int flags = align | (wrap == Words ? Qt::TextWordWrap : Qt::TextWrapAnywhere);
    const qreal pt = f.pointSizeF();
    const auto fits = [&](const QString& t, QRectF* need) {
        *need = QFontMetricsF(f, device_).boundingRect(QRectF(0, 0, box.width(), 1e7), flags, t);
        return need->width() <= box.width() + 0.5 && need->height() <= box.height() + 0.5;
    };
    QRectF need;
    QString shown = s;
    bool ok = fits(shown, &need);
    for (qreal scale = 0.95; !ok && scale >= minScale - 1e-9; scale -= 0.05) {
        f.setPointSizeF(pt * scale);
        ok = fits(shown, &need);
    }
    if (!ok) {
        // The longest beginning that fits with an ellipsis.
        int lo = 0, hi = s.size();
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            if (fits(s.left(mid).trimmed() + QStringLiteral("…"), &need))
                lo = mid;
            else
                hi = mid - 1;
        }
        shown = s.left(lo).trimmed() + QStringLiteral("…");
        fits(shown, &need);
    }
    if (p_) {
        p_->setFont(f);
        p_->drawText(box, flags, shown);
    }
    return std::min(need.height(), box.height());
}

void Sheet::flow(const QString& s, const QFont& f, int align, int lines, Wrap wrap, qreal gapMm) {
    y_ += text(QRectF(left_, y_, width_, lines * lineHeight(f)), s, f, align, wrap) + mm(gapMm);
}

void Sheet::rule(qreal y, qreal x0, qreal x1, qreal widthMm, Qt::PenStyle style) {
    if (!p_)
        return;
    QPen pen(Qt::black, mm(widthMm));
    pen.setStyle(style);
    p_->setPen(pen);
    p_->drawLine(QPointF(x0, y), QPointF(x1, y));
}

void Sheet::fill(const QRectF& r, const QColor& c) {
    if (p_)
        p_->fillRect(r, c);
}

void Sheet::frame(const QRectF& r, qreal widthMm) {
    if (!p_)
        return;
    p_->setPen(QPen(Qt::black, mm(widthMm)));
    p_->setBrush(Qt::NoBrush);
    p_->drawRect(r);
}

void Sheet::qr(const QRectF& square) {
    if (!p_)
        return;
    const QrCode code = QrCode::encode(d_.claim);
    if (!code.isNull())
        code.paint(*p_, square);
}

void Sheet::row(const QVector<qreal>& widthsMm, const QStringList& cells, const QFont& f,
                qreal heightMm, bool header) {
    const qreal h = mm(heightMm);
    if (header)
        fill(QRectF(left_, y_, width_, h), QColor(230, 230, 230));
    qreal x = left_;
    for (int i = 0; i < cells.size(); ++i) {
        const qreal w = mm(widthsMm.at(i));
        if (p_)
            p_->setPen(Qt::black);
        text(QRectF(x + mm(1.2), y_, w - mm(2.4), h), cells.at(i), f,
             Qt::AlignVCenter | (header ? Qt::AlignHCenter : Qt::AlignLeft));
        x += w;
    }
    rule(y_ + h, left_, left_ + width_, 0.15);
    y_ += h;
}

QString Sheet::dateTime(qint64 ms) const {
    if (ms <= 0)
        return QStringLiteral("—");
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"));
}

QString Sheet::section() const {
    return tr("%1 m ± %2 mm（測量の許容差）")
        .arg(QString::number(d_.sectionCm / 100.0, 'f', 3),
             QString::number(d_.surveyToleranceMm, 'g', 4));
}

QString Sheet::direction(RunDirection d, bool brief) const {
    if (brief)
        return d == RunDirection::Forward ? tr("ループ1→2") : tr("ループ2→1");
    return d == RunDirection::Forward ? tr("順方向（ループ1→2）") : tr("逆方向（ループ2→1）");
}

QString Sheet::speed(double kmh, double uKmh) const {
    const double pct = kmh > 0 ? uKmh / kmh * 100 : 0;
    return QStringLiteral("%1 ± %2 km/h (%3 %)")
        .arg(kmhText(kmh), UncertaintyText(uKmh), UncertaintyText(pct));
}

QString Sheet::offset(const CertificateRun& r) const {
    if (!r.clockOffsetMs)
        return tr("不明");
    QString s =
        QStringLiteral("%1%2 ms").arg(*r.clockOffsetMs >= 0 ? QStringLiteral("+") : QString(),
                                      QString::number(*r.clockOffsetMs, 'f', 1));
    if (r.clockSpreadMs)
        s += tr("（ばらつき %1 ms）").arg(QString::number(*r.clockSpreadMs, 'f', 1));
    return s;
}

QString Sheet::reviewKind(const QString& kind) const {
    if (kind == QLatin1String("accept"))
        return tr("承認");
    if (kind == QLatin1String("reject"))
        return tr("却下");
    if (kind == QLatin1String("correct"))
        return tr("区間長の訂正");
    return kind;
}

QString Sheet::status(const QString& s) const {
    if (s == QLatin1String("ok"))
        return tr("正常");
    if (s == QLatin1String("suspect"))
        return tr("要確認");
    if (s == QLatin1String("accepted"))
        return tr("承認");
    if (s == QLatin1String("rejected"))
        return tr("却下");
    if (s == QLatin1String("unmeasured"))
        return tr("計測ではない");
    return orDash(s);
}

qreal Sheet::drawCertificate() {
    const qreal margin = mm(17);
    left_ = page_.left() + margin;
    width_ = page_.width() - 2 * margin;
    const qreal bottom = page_.bottom() - margin;
    y_ = page_.top() + margin + mm(4);

    // A double border, as on a printed award.
    frame(page_.adjusted(mm(9), mm(9), -mm(9), -mm(9)), 0.8);
    frame(page_.adjusted(mm(11), mm(11), -mm(11), -mm(11)), 0.25);

    if (p_)
        p_->setPen(Qt::black);
    flow(tr("速度記録証明書"), font(26, true), Qt::AlignHCenter, 1, Words, 3);
    // A name a little too long for one line is set smaller rather than
    // broken, so that no word sits alone on a second line.
    const QFont eventFont = font(15, true);
    if (QFontMetricsF(eventFont, device_).horizontalAdvance(d_.event) * 0.85 <= width_)
        y_ += text(QRectF(left_, y_, width_, lineHeight(eventFont)), d_.event, eventFont,
                   Qt::AlignHCenter, Words, 0.85) +
              mm(1);
    else
        flow(d_.event, eventFont, Qt::AlignHCenter, 2, Words, 1);
    flow(d_.station.isEmpty() ? dateTime(d_.atMs)
                              : QStringLiteral("%1　%2").arg(d_.station, dateTime(d_.atMs)),
         font(10), Qt::AlignHCenter, 1, Words, 6);

    // Who and where.
    const QFont cell = font(10);
    const QVector<qreal> kv = {42, width_ / unit_ - 42};
    rule(y_, left_, left_ + width_, 0.3);
    const auto info = [&](const QString& label, const QString& value, const QFont& f) {
        fill(QRectF(left_, y_, mm(kv[0]), mm(8)), QColor(242, 242, 242));
        row(kv, {label, value}, f, 8, false);
    };
    info(tr("ドライバー"), orDash(d_.driver), font(12, true));
    info(tr("クラス"), orDash(d_.className), cell);
    info(tr("トランスポンダー"), orDash(d_.tpid), cell);
    info(tr("計測所"), orDash(d_.station), cell);
    info(tr("日時"), dateTime(d_.atMs), cell);
    info(tr("計測区間"), section(), cell);
    y_ += mm(6);

    // The runs.
    flow(tr("走行"), font(11, true), Qt::AlignLeft, 1, Words, 1);
    const qreal rest = width_ / unit_;
    const QVector<qreal> cols = {15, 26, 22, 22, 48, rest - 15 - 26 - 22 - 22 - 48};
    rule(y_, left_, left_ + width_, 0.3);
    row(cols,
        {tr("走行"), tr("方向"), tr("ループ1の時刻"), tr("ループ2の時刻"), tr("速度 ± U (k=2)"),
         tr("時計のずれ")},
        font(8.5, true), 9, true);
    for (int i = 0; i < d_.runs.size(); ++i) {
        const CertificateRun& r = d_.runs.at(i);
        row(cols,
            {QStringLiteral("%1 #%2").arg(i + 1).arg(r.attemptId), direction(r.direction, true),
             orDash(r.loop1Time), orDash(r.loop2Time), speed(r.speedKmh, r.uncertaintyKmh),
             offset(r)},
            font(8.5), 10, false);
    }
    y_ += mm(6);

    // The result, large.
    const QRectF result(left_, y_, width_, mm(36));
    fill(result, QColor(245, 245, 245));
    frame(result, 0.3);
    if (p_)
        p_->setPen(Qt::black);
    text(QRectF(left_, y_ + mm(2), width_, mm(7)), tr("2回の走行の平均"), font(11),
         Qt::AlignHCenter | Qt::AlignVCenter);
    text(QRectF(left_, y_ + mm(9), width_, mm(17)),
         QStringLiteral("%1 km/h").arg(kmhText(d_.meanKmh)), font(34, true),
         Qt::AlignHCenter | Qt::AlignVCenter);
    const double pct = d_.meanKmh > 0 ? d_.meanUncertaintyKmh / d_.meanKmh * 100 : 0;
    text(QRectF(left_, y_ + mm(27), width_, mm(7)),
         tr("± %1 km/h（%2 %）拡張不確かさ k=2")
             .arg(UncertaintyText(d_.meanUncertaintyKmh), UncertaintyText(pct)),
         font(11), Qt::AlignHCenter | Qt::AlignVCenter);
    y_ += result.height() + mm(3);

    QString margin_;
    if (!d_.margin)
        margin_ = tr("比べる記録はありません");
    else
        margin_ =
            tr("記録 %1 km/h に %2 % を加えた %3 km/h を超えること：%4")
                .arg(kmhText(d_.margin->recordKmh), QString::number(d_.margin->marginPct, 'g', 4),
                     kmhText(d_.margin->requiredKmh),
                     d_.margin->passed ? tr("達成") : tr("未達成"));
    flow(margin_, font(11, true), Qt::AlignHCenter, 2, Words, 4);

    // The evidence block at the foot: the QR at the right, what it stands on
    // at the left.
    const qreal qrSide = mm(46);
    const QFont claimFont = font(6.5);
    const qreal claimH = 6 * lineHeight(claimFont);
    const qreal footTop = bottom - qrSide - claimH - mm(1);

    // The operator's review actions, as many as there is room for.
    if (!d_.reviews.isEmpty()) {
        flow(tr("確認の操作"), font(11, true), Qt::AlignLeft, 1, Words, 1);
        const QFont f = font(9);
        const qreal h = lineHeight(f) + mm(0.8);
        for (int i = 0; i < d_.reviews.size(); ++i) {
            const bool last = y_ + 2 * h > footTop - mm(3);
            if (last && i + 1 < d_.reviews.size()) {
                flow(tr("ほか %1 件").arg(d_.reviews.size() - i), f, Qt::AlignLeft, 1, Words, 0.8);
                break;
            }
            const CertificateReview& r = d_.reviews.at(i);
            const QString reason = r.reason.isEmpty() ? QString() : tr("理由：%1").arg(r.reason);
            flow(QStringLiteral("%1　%2　#%3　%4")
                     .arg(dateTime(r.atMs), reviewKind(r.kind), QString::number(r.attemptId),
                          reason),
                 f, Qt::AlignLeft, 1, Words, 0.8);
        }
    }

    const QRectF square(left_ + width_ - qrSide, footTop, qrSide, qrSide);
    qr(square);
    if (p_)
        p_->setPen(Qt::black);
    text(QRectF(square.left(), square.bottom() + mm(1), qrSide, claimH),
         QString::fromLatin1(d_.claim), claimFont, Qt::AlignLeft | Qt::AlignTop, Anywhere, 0.8);

    const qreal evW = width_ - qrSide - mm(6);
    qreal y = footTop + mm(2);
    const auto ev = [&](const QString& s, const QFont& f, int lines, Wrap wrap) {
        y += text(QRectF(left_, y, evW, lines * lineHeight(f)), s, f, Qt::AlignLeft | Qt::AlignTop,
                  wrap, 0.8) +
             mm(1.2);
    };
    ev(tr("証拠"), font(10, true), 1, Words);
    ev(tr("局の鍵の指紋：%1").arg(orDash(d_.fingerprint)), font(7.5), 2, Anywhere);
    for (int i = 0; i < d_.runs.size(); ++i)
        ev(tr("走行%1 チェーン行 %2：%3")
               .arg(i + 1)
               .arg(d_.runs.at(i).chainSeq)
               .arg(orDash(d_.runs.at(i).chainHash)),
           font(7.5), 2, Anywhere);
    ev(tr("QRコードの内容を局の証拠の束と照らし合わせて確認できます：\n"
          "korvane-verify --claim \"QRコードの内容\" 証拠の束"),
       font(7.5), 4, Words);
    return page_.bottom();
}

qreal Sheet::drawSlip() {
    const qreal margin = mm(4);
    left_ = page_.left() + margin;
    width_ = page_.width() - 2 * margin;
    y_ = page_.top() + margin + mm(2);
    const CertificateRun run = d_.runs.value(0);

    if (p_)
        p_->setPen(Qt::black);
    flow(tr("計測票"), font(16, true), Qt::AlignHCenter, 1, Words, 1.5);
    flow(d_.event, font(10, true), Qt::AlignHCenter, 3, Words, 0.8);
    if (!d_.station.isEmpty())
        flow(d_.station, font(8), Qt::AlignHCenter, 2, Words, 0.5);
    flow(dateTime(run.measuredMs > 0 ? run.measuredMs : d_.atMs), font(8), Qt::AlignHCenter, 1,
         Words, 2);
    rule(y_, left_, left_ + width_, 0.3, Qt::DashLine);
    y_ += mm(2);

    const QFont label = font(7.5);
    const QFont value = font(8.5, true);
    const qreal labelW = mm(25);
    const auto line = [&](const QString& l, const QString& v, int lines = 2) {
        const qreal h = lines * lineHeight(value);
        text(QRectF(left_, y_, labelW, lineHeight(value)), l, label,
             Qt::AlignLeft | Qt::AlignVCenter);
        const qreal used =
            text(QRectF(left_ + labelW, y_, width_ - labelW, h), v, value, Qt::AlignRight);
        y_ += std::max(used, lineHeight(value)) + mm(0.8);
    };
    line(tr("ドライバー"), orDash(d_.driver));
    line(tr("クラス"), orDash(d_.className));
    line(tr("トランスポンダー"), orDash(d_.tpid), 1);
    line(tr("計測番号"), QStringLiteral("#%1").arg(run.attemptId), 1);
    line(tr("方向"), direction(run.direction));
    line(tr("ループ1の時刻"), orDash(run.loop1Time), 1);
    line(tr("ループ2の時刻"), orDash(run.loop2Time), 1);
    line(tr("計測区間"), section());
    line(tr("時計のずれ"), offset(run));
    line(tr("状態"), status(run.status), 1);
    y_ += mm(1);
    rule(y_, left_, left_ + width_, 0.3, Qt::DashLine);
    y_ += mm(2);

    flow(QStringLiteral("%1 km/h").arg(kmhText(run.speedKmh)), font(22, true), Qt::AlignHCenter, 1,
         Words, 0.5);
    const double pct = run.speedKmh > 0 ? run.uncertaintyKmh / run.speedKmh * 100 : 0;
    flow(tr("± %1 km/h（%2 %）k=2").arg(UncertaintyText(run.uncertaintyKmh), UncertaintyText(pct)),
         font(9), Qt::AlignHCenter, 1, Words, 2);

    if (!d_.reviews.isEmpty()) {
        rule(y_, left_, left_ + width_, 0.3, Qt::DashLine);
        y_ += mm(1.5);
        flow(tr("確認の操作"), font(8, true), Qt::AlignLeft, 1, Words, 0.5);
        for (const CertificateReview& r : d_.reviews) {
            QString s = QStringLiteral("%1　%2").arg(dateTime(r.atMs), reviewKind(r.kind));
            if (!r.reason.isEmpty())
                s += QStringLiteral("　") + tr("理由：%1").arg(r.reason);
            flow(s, font(7.5), Qt::AlignLeft, 3, Words, 0.5);
        }
        y_ += mm(1.5);
    }
    rule(y_, left_, left_ + width_, 0.3, Qt::DashLine);
    y_ += mm(1.5);

    const QFont small = font(6.5);
    flow(tr("チェーン行 %1：%2").arg(run.chainSeq).arg(orDash(run.chainHash)), small, Qt::AlignLeft,
         3, Anywhere, 0.8);
    flow(tr("局の鍵の指紋：%1").arg(orDash(d_.fingerprint)), small, Qt::AlignLeft, 3, Anywhere, 2);

    const qreal side = std::min(width_, mm(48));
    qr(QRectF(left_ + (width_ - side) / 2, y_, side, side));
    y_ += side + mm(1);
    if (p_)
        p_->setPen(Qt::black);
    flow(QString::fromLatin1(d_.claim), small, Qt::AlignLeft, 5, Anywhere, 0);
    return y_ - page_.top() + margin + mm(2);
}

// The font file shipped by fonts-ipafont-gothic, for a system whose font
// list does not name it (a minimal container, an offscreen platform).
const char* const kFontFiles[] = {
    "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
    "/usr/share/fonts/truetype/fonts-japanese-gothic.ttf",
};

} // namespace

namespace CertificatePaint {

bool ensureFont() {
    static QMutex mutex;
    static bool found = false;
    QMutexLocker lock(&mutex);
    if (found)
        return true;
    found = QFontDatabase::families().contains(kFamily);
    for (const char* file : kFontFiles) {
        if (found)
            break;
        if (QFile::exists(QString::fromLatin1(file)))
            found = QFontDatabase::addApplicationFont(QString::fromLatin1(file)) >= 0;
    }
    return found;
}

QPageSize pageSize(DocumentKind kind, const CertificateData& data) {
    if (kind == DocumentKind::Certificate)
        return QPageSize(QPageSize::A4);
    ensureFont();
    // Measure the slip on a PDF device of the drawing resolution: the length
    // is what the content needs at the width it is drawn at.
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    QPdfWriter device(&sink);
    device.setResolution(kPdfDpi);
    const qreal unit = kPdfDpi / 25.4;
    Sheet sheet(nullptr, &device, QRectF(0, 0, kSlipWidthMm * unit, 1e7), data);
    const qreal lengthMm = std::ceil(sheet.drawSlip() / unit);
    return QPageSize(QSizeF(kSlipWidthMm, lengthMm), QPageSize::Millimeter,
                     QStringLiteral("Korvane slip"), QPageSize::ExactMatch);
}

void paint(QPainter& painter, const QRectF& page, DocumentKind kind, const CertificateData& data) {
    ensureFont();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    Sheet sheet(&painter, painter.device(), page, data);
    if (kind == DocumentKind::Certificate)
        sheet.drawCertificate();
    else
        sheet.drawSlip();
    painter.restore();
}

bool writePdf(QIODevice* out, DocumentKind kind, const CertificateData& data, QString* error) {
    QPdfWriter writer(out);
    writer.setResolution(kPdfDpi);
    writer.setCreator(QStringLiteral("Korvane"));
    writer.setTitle(data.event);
    writer.setPageSize(pageSize(kind, data));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    if (!painter.begin(&writer)) {
        if (error)
            *error = out->errorString();
        return false;
    }
    paint(painter, QRectF(QPointF(0, 0), writer.pageLayout().fullRectPixels(kPdfDpi).size()), kind,
          data);
    return painter.end();
}

bool writePdf(const QString& file, DocumentKind kind, const CertificateData& data, QString* error) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        if (error)
            *error = out.errorString();
        return false;
    }
    if (!writePdf(&out, kind, data, error)) {
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        if (error)
            *error = out.errorString();
        return false;
    }
    return true;
}

} // namespace CertificatePaint
