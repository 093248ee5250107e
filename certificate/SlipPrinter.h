#pragma once

#include "Certificate.h"
#include "CertificatePaint.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThread;
class QWidget;

// Prints a certificate or a slip on a printer the operator picks in Qt's
// print dialog (modal on `parent`). False when the operator cancelled or
// the printer would not start.
bool printWithDialog(QWidget* parent, DocumentKind kind, const CertificateData& data);

// Where the slip printer's slips go. Called on the slip printer's own thread
// only, one slip at a time, so an implementation may take as long as the
// printer does.
class SlipSink {
public:
    virtual ~SlipSink() = default;
    // Whether there is somewhere to print now; if not, `why` says what is
    // missing, in the operator's words.
    virtual bool ready(QString* why) = 0;
    virtual bool print(const CertificateData& slip, QString* error) = 0;
};

// The system's default printer, looked up afresh for every slip so that a
// printer set up while the program runs is used.
class DefaultPrinterSink : public SlipSink {
public:
    bool ready(QString* why) override;
    bool print(const CertificateData& slip, QString* error) override;
};

// Slips as PDF files in a folder, slip-<attempt id>.pdf.
class PdfFolderSink : public SlipSink {
public:
    explicit PdfFolderSink(const QString& folder) : folder_(folder) {}
    bool ready(QString* why) override;
    bool print(const CertificateData& slip, QString* error) override;

private:
    QString folder_;
};

// The "a slip for every attempt" switch: slips are queued and printed one at
// a time, in order, on a thread of their own, so the caller (the GUI thread
// at each attempt) never waits on a printer. The queue is bounded: what
// cannot be printed is dropped, never piled up.
//
// The operator hears of trouble through `notice` (on the caller's thread),
// once per spell: no printer (told once; slips are dropped at once, and one
// is tried again after `retryMs` in case a printer was set up), a full queue
// (told once until it empties), a print that failed (told once until one
// succeeds).
class SlipPrinter : public QObject {
    Q_OBJECT

public:
    SlipPrinter(std::unique_ptr<SlipSink> sink, std::function<void(const QString&)> notice,
                QObject* parent = nullptr, int maxQueued = 16, int retryMs = 60000);
    // Drops what is still queued and waits for the slip being printed.
    ~SlipPrinter() override;

    // Queues a slip and returns at once; false when it was dropped.
    bool print(const CertificateData& slip);

    int queued() const { return inFlight_; }
    int printed() const { return printed_; }
    int dropped() const { return dropped_; }

private:
    enum class Outcome { Printed, NoPrinter, Failed };
    void finished(Outcome outcome, const QString& message);

    std::unique_ptr<SlipSink> sink_; // used on thread_ only
    std::function<void(const QString&)> notice_;
    QThread* thread_;
    QObject* worker_; // lives in thread_
    std::atomic<bool> stopping_{false};
    int maxQueued_;
    int retryMs_;
    int inFlight_ = 0;
    int printed_ = 0;
    int dropped_ = 0;
    bool noPrinter_ = false;
    QElapsedTimer noPrinterSince_;
    bool fullTold_ = false;
    bool failTold_ = false;
};
