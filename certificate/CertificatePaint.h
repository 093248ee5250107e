#pragma once

#include "Certificate.h"

#include <QPageSize>
#include <QRectF>
#include <QString>

class QIODevice;
class QPainter;

// A certificate (a completed record attempt, A4) or a slip (one attempt, on
// a narrow roll like a drag strip's time slip). Both are drawn by the same
// code onto any paint device: a PDF writer or a printer.
enum class DocumentKind { Certificate, Slip };

namespace CertificatePaint {

// The typeface of both documents: IPAGothic, embedded in every PDF so that
// the Japanese reads the same on any machine. Registers it from its file when
// the system's font list lacks it; false when it is nowhere to be found.
bool ensureFont();

// The page a document is drawn on: A4 portrait for a certificate; for a
// slip 80 mm wide and as long as its content needs.
QPageSize pageSize(DocumentKind kind, const CertificateData& data);

// Draws the document onto the painter's device; `page` is the whole sheet
// in device pixels (the documents keep their own margins).
void paint(QPainter& painter, const QRectF& page, DocumentKind kind, const CertificateData& data);

// Writes the one-page PDF to `out` (opened for writing) or to a file
// (replaced only once it is complete). False, with a reason in `error`,
// when it could not be written.
bool writePdf(QIODevice* out, DocumentKind kind, const CertificateData& data, QString* error);
bool writePdf(const QString& file, DocumentKind kind, const CertificateData& data, QString* error);

} // namespace CertificatePaint
