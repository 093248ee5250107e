// The status page: one panel per decoder with its port, what it sent, its
// clock against the PC's and a plot of that offset over the last hour, and
// what the difference of the two clocks does to a speed.
#include "DecoderWatch.h"

#include "DecoderHealth.h"
#include "DiskSpace.h"
#include "PageParts.h"
#include "QrCode.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace windowparts;

namespace {

// A typical car on the track, for the speed error the clocks cause.
const double kTypicalKmh = 50;

// The offset of one decoder over the last hour, painted.
class OffsetPlot : public QWidget {
public:
    using Source = std::function<QList<QPointF>(qint64* now)>;
    OffsetPlot(Source source, QWidget* parent) : QWidget(parent), source_(std::move(source)) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.fillRect(box, QColor(0, 0, 0, 70));
        p.setPen(QColor(255, 255, 255, 120));
        p.drawRect(box);

        qint64 now = 0;
        const QList<QPointF> points = source_(&now);
        const double span = double(DecoderHealth::kHistoryMs);
        QFont small = font();
        small.setPixelSize(10);
        p.setFont(small);
        p.setPen(QColor(255, 255, 255, 180));
        const QRectF inner = box.adjusted(36, 4, -4, -14);
        p.drawText(QRectF(inner.left(), inner.bottom(), inner.width(), 12), Qt::AlignLeft,
                   QCoreApplication::translate("TFkorvane", "-60 分"));
        p.drawText(QRectF(inner.left(), inner.bottom(), inner.width(), 12), Qt::AlignRight,
                   QCoreApplication::translate("TFkorvane", "現在"));
        if (points.isEmpty()) {
            p.drawText(inner, Qt::AlignCenter,
                       QCoreApplication::translate("TFkorvane", "通過待ち"));
            return;
        }
        // The scale leaves out the odd line that waited long (one buffered
        // before the port was opened, say), or it would flatten the rest.
        QList<double> ys;
        for (const QPointF& q : points)
            ys << q.y();
        std::sort(ys.begin(), ys.end());
        double lo = ys.at(qsizetype(std::floor(0.02 * double(ys.size() - 1))));
        double hi = ys.at(qsizetype(std::ceil(0.98 * double(ys.size() - 1))));
        if (hi - lo < 2) { // at least 2 ms tall, so that noise does not look like a jump
            const double mid = (hi + lo) / 2;
            lo = mid - 1;
            hi = mid + 1;
        }
        const auto at = [&](const QPointF& q) {
            const double x = inner.left() + (1 - (double(now) - q.x()) / span) * inner.width();
            const double y =
                inner.bottom() - (std::clamp(q.y(), lo, hi) - lo) / (hi - lo) * inner.height();
            return QPointF(std::max(inner.left(), x), y);
        };
        p.drawText(QRectF(box.left() + 2, inner.top() - 2, 34, 12), Qt::AlignLeft,
                   QString::number(hi, 'f', 1));
        p.drawText(QRectF(box.left() + 2, inner.bottom() - 10, 34, 12), Qt::AlignLeft,
                   QString::number(lo, 'f', 1));
        QPainterPath path(at(points.first()));
        for (const QPointF& q : points)
            path.lineTo(at(q));
        p.setPen(QPen(Qt::yellow, 1.5));
        p.drawPath(path);
        p.setBrush(Qt::yellow);
        p.drawEllipse(at(points.last()), 2, 2);
    }

private:
    Source source_;
};

// The QR code at the size the page leaves it; a click shows it large, for
// a camera further away.
class QrLabel : public QLabel {
public:
    using QLabel::QLabel;
    QByteArray text;

protected:
    void mousePressEvent(QMouseEvent*) override {
        const QrCode code = QrCode::encode(text);
        if (code.isNull())
            return;
        auto* big = new QLabel(window(), Qt::Dialog);
        big->setObjectName(QStringLiteral("StatusQrLarge"));
        big->setAttribute(Qt::WA_DeleteOnClose);
        big->setWindowTitle(toolTip());
        big->setPixmap(QPixmap::fromImage(code.image(4)));
        big->show();
    }
};

QString ago(qint64 ms) {
    return ms < 0 ? QStringLiteral("—")
                  : QCoreApplication::translate("TFkorvane", "%1 秒前")
                        .arg(double(ms) / 1000, 0, 'f', 1);
}

QString signedMs(double ms) {
    // A clock that was never set is hours off: told as a time, not in ms.
    if (std::abs(ms) >= 60000) {
        const qint64 s = qRound64(std::abs(ms) / 1000);
        return QCoreApplication::translate("TFkorvane", "%1%2:%3:%4 (未設定)")
            .arg(ms < 0 ? QStringLiteral("-") : QStringLiteral("+"))
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1%2 ms")
        .arg(ms < 0 ? QString() : QStringLiteral("+"))
        .arg(ms, 0, 'f', 1);
}

} // namespace

struct DecoderWatch::StatusPage {
    struct Panel {
        QLabel* title = nullptr;
        QLabel* values = nullptr;
        OffsetPlot* plot = nullptr;
    };
    Panel panels[2];
    QLabel* inter = nullptr;
    QrLabel* qr = nullptr; // a room's QR code at the right end of the last row
    QByteArray qrText;
    QWidget* page = nullptr;
};

void DecoderWatch::buildStatusPage() {
    status_ = std::make_shared<StatusPage>();
    QWidget* p = host.addPage(QCoreApplication::translate("TFkorvane", "状態"),
                              QStringLiteral("status"), [this] { showStatus(); });
    status_->page = p;

    const QString names =
        QStringList{QCoreApplication::translate("TFkorvane", "状態"),
                    QCoreApplication::translate("TFkorvane", "最後のバイト"),
                    QCoreApplication::translate("TFkorvane", "最後の行"),
                    QCoreApplication::translate("TFkorvane", "行／分"),
                    QCoreApplication::translate("TFkorvane", "状態行"),
                    QCoreApplication::translate("TFkorvane", "通過"),
                    QCoreApplication::translate("TFkorvane", "通過以外の行"),
                    QCoreApplication::translate("TFkorvane", "破棄したバイト"),
                    QCoreApplication::translate("TFkorvane", "時計のずれ (PC−デコーダ)"),
                    QCoreApplication::translate("TFkorvane", "ドリフト")}
            .join(QLatin1Char('\n'));
    for (int i = 0; i < 2; ++i) {
        const int x = i == 0 ? 6 : 322;
        frame(p, x, 4, 312, 270);
        StatusPage::Panel& panel = status_->panels[i];
        panel.title = label(QString(), p, x + 8, 8, 296);
        QFont bold = panel.title->font();
        bold.setBold(true);
        panel.title->setFont(bold);
        QLabel* left = label(names, p, x + 8, 28, 150, 150);
        left->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        panel.values = label(QString(), p, x + 160, 28, 146, 150);
        panel.values->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        panel.values->setObjectName(QStringLiteral("StatusValues%1").arg(i + 1));
        const int loop = i + 1;
        panel.plot = new OffsetPlot(
            [this, loop](qint64* now) {
                *now = DecoderWatch::now();
                return health_->history(loop);
            },
            p);
        panel.plot->setGeometry(x + 6, 184, 300, 84);
    }
    frame(p, 6, 280, 628, 66);
    status_->inter = label(QString(), p, 14, 284, 612, 58);
    status_->inter->setObjectName(QStringLiteral("StatusInter"));
    status_->inter->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    status_->qr = new QrLabel(p);
    status_->qr->setCursor(Qt::PointingHandCursor);
    status_->qr->setObjectName(QStringLiteral("StatusQr"));
    status_->qr->hide();
    connect(&host, &Host::statusLinesChanged, this, [this] { showStatus(); });
}

// Whole pixels per module, as large as the last row's frame and the gap
// above it allow: a scanner needs square modules, and a photo of the screen
// is what carries the code away.
void DecoderWatch::showQr(const QByteArray& text) {
    if (text == status_->qrText)
        return;
    status_->qrText = text;
    const QrCode code = QrCode::encode(text);
    if (code.isNull()) {
        status_->qr->hide();
        status_->inter->setGeometry(14, 284, 612, 58);
        status_->inter->setWordWrap(false);
        return;
    }
    const int modules = code.size() + 8; // with the quiet zone
    const int px = std::max(1, 74 / modules);
    const QImage image = code.image(px);
    status_->qr->setPixmap(QPixmap::fromImage(image));
    status_->qr->setGeometry(634 - image.width(), 348 - image.height(), image.width(),
                             image.height());
    status_->qr->text = text;
    status_->qr->setToolTip(QString::fromLatin1(text));
    status_->qr->show();
    status_->qr->raise();
    status_->inter->setWordWrap(true);
    // The code's white quiet zone is the margin; a line too long for what
    // is left wraps rather than losing its end (a fingerprint's last group).
    status_->inter->setGeometry(14, 284, 620 - image.width(), 58);
}

// Only while the page is up: the watch's tick and the bulletin's changes
// come here whatever page shows.
void DecoderWatch::showStatus() {
    if (!host.isShown(status_->page))
        return;
    const qint64 at = now();
    const Settings settings = host.settings();
    for (int i = 0; i < 2; ++i) {
        const int loop = i + 1;
        const PortState port = host.port(loop);
        const LoopFigures f = health_->figures(loop, at);
        StatusPage::Panel& panel = status_->panels[i];
        const int portNo = port.number;
        QString title = QCoreApplication::translate("TFkorvane", "ループ%1　").arg(loop);
        if (portNo == 0)
            title += QCoreApplication::translate("TFkorvane", "ポート無し");
        else
            title += QCoreApplication::translate("TFkorvane", "Port %1　%2")
                         .arg(portNo)
                         .arg(port.devicePath);
        panel.title->setText(title);

        QString state;
        if (f.failed)
            state = QCoreApplication::translate("TFkorvane", "ポート異常");
        else if (f.silent)
            state = QCoreApplication::translate("TFkorvane", "無信号");
        else if (f.open)
            state = QCoreApplication::translate("TFkorvane", "受信中");
        else
            state = QCoreApplication::translate("TFkorvane", "閉じています");
        const QStringList values{
            state,
            ago(f.sinceByteMs),
            ago(f.sinceLineMs),
            QString::number(f.linesPerMinute),
            QString::number(f.statusLines),
            QString::number(f.passings),
            QString::number(f.nonPassings),
            QString::number(f.discarded),
            f.offsetMs ? signedMs(*f.offsetMs) : QStringLiteral("—"),
            f.driftPpm ? QStringLiteral("%1%2 ppm")
                             .arg(*f.driftPpm < 0 ? QString() : QStringLiteral("+"))
                             .arg(*f.driftPpm, 0, 'f', 1)
                       : QStringLiteral("—"),
        };
        panel.values->setText(values.join(QLatin1Char('\n')));
        panel.values->setToolTip(f.failure);
        panel.plot->update();
    }

    const std::optional<double> inter = health_->interOffsetMs();
    QString text;
    if (!inter) {
        text = QCoreApplication::translate("TFkorvane",
                                           "ループ間の時計差: 両方のループの通過待ち（上限 %1 ms）")
                   .arg(checks_.MaxOffsetMs);
    } else {
        const double err = std::abs(SpeedErrorPercent(*inter, settings.Dist, kTypicalKmh));
        text = QCoreApplication::translate(
                   "TFkorvane", "ループ間の時計差 (ループ2−ループ1): %1（上限 %2 ms）%3\n")
                   .arg(signedMs(*inter))
                   .arg(checks_.MaxOffsetMs)
                   .arg(health_->offsetOver()
                            ? QCoreApplication::translate("TFkorvane",
                                                          "　上限超え: 時計合わせをしてください")
                            : QString());
        text += QCoreApplication::translate("TFkorvane", "計測区間 %1 cm、%2 km/h で ±%3 %")
                    .arg(settings.Dist)
                    .arg(kTypicalKmh, 0, 'f', 0)
                    .arg(err, 0, 'f', err < 10 ? 2 : 0);
    }
    // Room on the data folder's disk, told while writes still succeed.
    QStringList last;
    const qint64 free = diskspace::available(host.dataDir());
    if (free >= 0) {
        const qint64 mb = free / (1024 * 1024);
        QString room =
            QCoreApplication::translate("TFkorvane", "データフォルダの空き %1 MB").arg(mb);
        if (mb < checks_.MinFreeMB)
            room += QCoreApplication::translate(
                        "TFkorvane", "（%1 MB 未満: 記録できなくなる前に空きを作ってください）")
                        .arg(checks_.MinFreeMB);
        last << room;
    }
    // What the other rooms have to say (the live page, the event link).
    QStringList tips;
    QByteArray qrText;
    const QMap<QString, StatusLine> lines = host.statusLines();
    for (const StatusLine& l : lines) {
        last << l.text;
        if (!l.toolTip.isEmpty())
            tips << l.toolTip;
        if (qrText.isEmpty())
            qrText = l.qrText;
    }
    showQr(qrText);
    status_->inter->setToolTip(tips.join(QLatin1Char('\n')));
    if (!last.isEmpty())
        text += QLatin1Char('\n') +
                last.join(QCoreApplication::translate(
                    "TFkorvane", "　", "between the lines of the status page's last row"));
    status_->inter->setText(text);
}
