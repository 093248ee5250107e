#include "SlipPrinter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QThread>

namespace {

struct Texts {
    Q_DECLARE_TR_FUNCTIONS(SlipPrinter)
};

// Sets the printer up for the document and draws it on the whole sheet:
// the documents keep their own margins, wider than a printer's.
bool printOn(QPrinter& printer, DocumentKind kind, const CertificateData& data, QString* error) {
    printer.setFullPage(true);
    QPainter painter;
    if (!painter.begin(&printer)) {
        if (error)
            *error = Texts::tr("プリンター %1 で印刷を始められません").arg(printer.printerName());
        return false;
    }
    CertificatePaint::paint(painter,
                            QRectF(QPointF(0, 0), printer.paperRect(QPrinter::DevicePixel).size()),
                            kind, data);
    return painter.end();
}

} // namespace

bool printWithDialog(QWidget* parent, DocumentKind kind, const CertificateData& data) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(CertificatePaint::pageSize(kind, data));
    printer.setDocName(kind == DocumentKind::Certificate ? Texts::tr("速度記録証明書")
                                                         : Texts::tr("計測票"));
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    return printOn(printer, kind, data, nullptr);
}

bool DefaultPrinterSink::ready(QString* why) {
    if (!QPrinterInfo::defaultPrinter().isNull())
        return true;
    *why = Texts::tr("既定のプリンターがないため、計測票を印刷しません");
    return false;
}

bool DefaultPrinterSink::print(const CertificateData& slip, QString* error) {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        *error = Texts::tr("既定のプリンターがないため、計測票を印刷しません");
        return false;
    }
    QPrinter printer(info, QPrinter::HighResolution);
    printer.setPageSize(CertificatePaint::pageSize(DocumentKind::Slip, slip));
    printer.setDocName(Texts::tr("計測票"));
    return printOn(printer, DocumentKind::Slip, slip, error);
}

bool PdfFolderSink::ready(QString* why) {
    if (QFileInfo(folder_).isDir())
        return true;
    *why = Texts::tr("計測票のフォルダー %1 がありません").arg(folder_);
    return false;
}

bool PdfFolderSink::print(const CertificateData& slip, QString* error) {
    const qint64 id = slip.runs.isEmpty() ? 0 : slip.runs.first().attemptId;
    return CertificatePaint::writePdf(QDir(folder_).filePath(QStringLiteral("slip-%1.pdf").arg(id)),
                                      DocumentKind::Slip, slip, error);
}

SlipPrinter::SlipPrinter(std::unique_ptr<SlipSink> sink, std::function<void(const QString&)> notice,
                         QObject* parent, int maxQueued, int retryMs)
    : QObject(parent), sink_(std::move(sink)), notice_(std::move(notice)),
      thread_(new QThread(this)), worker_(new QObject), maxQueued_(maxQueued), retryMs_(retryMs) {
    // Before the thread draws: registering the font file belongs here.
    CertificatePaint::ensureFont();
    worker_->moveToThread(thread_);
    thread_->setObjectName(QStringLiteral("slips"));
    thread_->start();
}

SlipPrinter::~SlipPrinter() {
    stopping_ = true;
    thread_->quit();
    thread_->wait();
    delete worker_;
}

bool SlipPrinter::print(const CertificateData& slip) {
    if (noPrinter_ && (inFlight_ > 0 || noPrinterSince_.elapsed() < retryMs_)) {
        ++dropped_;
        return false;
    }
    if (inFlight_ >= maxQueued_) {
        ++dropped_;
        if (!fullTold_ && notice_)
            notice_(tr("計測票の印刷が追いつかないため、計測票 %n 枚を待たせています。"
                       "これより後の計測票は印刷しません",
                       nullptr, inFlight_));
        fullTold_ = true;
        return false;
    }
    ++inFlight_;
    QMetaObject::invokeMethod(
        worker_,
        [this, slip] {
            if (stopping_)
                return;
            QString message;
            Outcome outcome = Outcome::Printed;
            if (!sink_->ready(&message))
                outcome = Outcome::NoPrinter;
            else if (!sink_->print(slip, &message))
                outcome = Outcome::Failed;
            QMetaObject::invokeMethod(
                this, [this, outcome, message] { finished(outcome, message); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}

void SlipPrinter::finished(Outcome outcome, const QString& message) {
    --inFlight_;
    if (inFlight_ == 0)
        fullTold_ = false;
    switch (outcome) {
    case Outcome::Printed:
        ++printed_;
        noPrinter_ = false;
        failTold_ = false;
        break;
    case Outcome::NoPrinter:
        ++dropped_;
        noPrinterSince_.start();
        if (!noPrinter_ && notice_)
            notice_(message);
        noPrinter_ = true;
        break;
    case Outcome::Failed:
        ++dropped_;
        if (!failTold_ && notice_)
            notice_(tr("計測票を印刷できません：%1").arg(message));
        failTold_ = true;
        break;
    }
}
