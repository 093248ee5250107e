#pragma once

// Record attempts: a transponder's two runs in opposite directions within a
// window of time, their mean speed and its uncertainty. With TwoWay=1
// (section "Record" of "Korvane.ini") a car that crosses loop 2 and then
// loop 1 is measured too, as a run in the reverse direction, found in the
// journal's passings. Every attempt, either way and whatever TwoWay says,
// gets the expanded uncertainty of its speed (measure/Uncertainty.h) in the
// commit that stores it. The page "記録" lists the record attempts; the
// live page tells a driver how theirs stands (Host::recordStates).
//
// With TwoWay=0 the room only adds the uncertainty to each attempt: the
// speed table, the screen and the board see nothing of it.
//
// With SlipEveryAttempt=1, either way, each attempt that is a measurement
// gets a slip on the default printer as its result is shown.

#include "Host.h"

#include "ClockSets.h"
#include "Journal.h"
#include "RecordStore.h"

#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;
class SlipPrinter;
class SlipSink;
struct CertificateData;
namespace Claim {
struct Entry;
}

struct RecordSettings {
    int TwoWay = 0;
    int WindowMin = 60;
    double MarginPct = 0;
    double SurveyToleranceMm = 5;
    int SlipEveryAttempt = 0;
};
// Section "Record"; a missing or unreadable key gives its default, and so
// does a window of 0 minutes or less or a negative margin or tolerance.
RecordSettings LoadRecordSettings(const QString& iniPath);

class RecordRoom final : public Room {
    Q_OBJECT
public:
    explicit RecordRoom(Host& host);
    ~RecordRoom() override;

    void created() override;

    const RecordSettings& settings() const { return settings_; }
    // Looks for reverse runs among the passings stored since the last look
    // (the poll timer's work while TwoWay=1).
    void findReverseRuns();
    // Weighs a new run against the transponder's open record attempt.
    void weigh(qint64 attemptId);
    // Reads every record attempt's runs afresh: a run rejected or corrected
    // since reopens or changes it.
    void reweigh();
    // Redraws the page's list.
    void showList();
    QTableWidget* list() const { return list_; }

    // The certificate of a completed record attempt as a one-page PDF:
    // both runs with their uncertainty, the mean, the margin check, the
    // reviews and the evidence claim of the two runs' chain links (what
    // korvane-verify --claim checks against their evidence bundles). False
    // with the reason for any other record attempt or a file that cannot be
    // written.
    bool writeCertificate(qint64 recordId, const QString& path, QString* why);
    // Clock for the window of a record attempt; tests put their own.
    std::function<qint64()> nowMs;
    // Where slips go: the default printer; tests put a folder. Asked once,
    // at the first slip.
    std::function<std::unique_ptr<SlipSink>()> slipSink;

private:
    void storing(const MeasuredAttempt& a);
    void measured(const MeasuredAttempt& a);
    void lookForReverse(const QString& tpid);
    void recordReverse(const Journal::PassingRow& p1, const Journal::PassingRow& p2,
                       qint64 repeat1Ms, qint64 repeat2Ms);
    bool counts(const Journal::Run& run) const;
    bool overtaken(const Journal::Run& run) const;
    void complete(RecordStore::RecordAttempt& r, const Journal::Run& first,
                  const Journal::Run& second);
    void publish();
    void printSlip(qint64 attemptId);
    void setSlipEveryAttempt(bool on);
    CertificateData document(const QString& tpid, const QByteArray& publicKey) const;
    bool addRun(CertificateData& d, const Journal::Run& run, QVector<Claim::Entry>& links) const;
    void certificateForSelected();
    void printSelected();
    QByteArray stationKey(QString* why) const;
    std::optional<CertificateData> certificateOf(qint64 recordId, QString* why) const;
    qint64 selectedRecord() const;
    double resolution(int loop) const;

    RecordSettings settings_;
    qint64 lastPassing_ = 0;
    ClockSets clockSets_;                    // PC times of the clock commands
    std::array<double, 2> resolution_{0, 0}; // per loop, from its latest passing line
    QTimer* poll_ = nullptr;
    QTimer* reweigh_ = nullptr;
    QWidget* page_ = nullptr;
    QTableWidget* list_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* certificate_ = nullptr;
    QPushButton* print_ = nullptr;
    QCheckBox* slipBox_ = nullptr;
    std::unique_ptr<SlipPrinter> slips_; // made at the first slip
    mutable QByteArray publicKey_;       // the station's, once read
};
