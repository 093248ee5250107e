#include "RecordRoom.h"

#include "CertificatePaint.h"
#include "ChainCheck.h"
#include "Claim.h"
#include "Convert.h"
#include "Database.h"
#include "DecoderText.h"
#include "EventSettings.h"
#include "Framework.h"
#include "IniFile.h"
#include "Plausibility.h"
#include "Review.h"
#include "SlipPrinter.h"
#include "SpeedTable.h"
#include "SpeedText.h"
#include "Uncertainty.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// Passings stored since the last look are read this often while TwoWay=1:
// a reverse run is told about as soon as a forward one would be.
constexpr int kPollMs = 300;
// Reviews on the history page reach the record attempts this late at most.
constexpr int kReweighMs = 5000;
constexpr int kListed = 200;
// A transponder's passings weighed for a reverse run, per loop.
constexpr int kRecentPassings = 4;

double number(const QString& text, double fallback) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) && v >= 0 ? v : fallback;
}

QString timeOfDay(qint64 ms) {
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss"))
                  : QString();
}

} // namespace

RecordSettings LoadRecordSettings(const QString& iniPath) {
    IniFile ini(iniPath);
    ini.load();
    const QString section = QStringLiteral("Record");
    RecordSettings d;
    RecordSettings s;
    s.TwoWay = profileInt(ini.value(section, QStringLiteral("TwoWay")), d.TwoWay) != 0 ? 1 : 0;
    s.WindowMin = profileInt(ini.value(section, QStringLiteral("WindowMin")), d.WindowMin);
    if (s.WindowMin <= 0)
        s.WindowMin = d.WindowMin;
    s.MarginPct = number(ini.value(section, QStringLiteral("MarginPct")), d.MarginPct);
    s.SurveyToleranceMm =
        number(ini.value(section, QStringLiteral("SurveyToleranceMm")), d.SurveyToleranceMm);
    s.SlipEveryAttempt =
        profileInt(ini.value(section, QStringLiteral("SlipEveryAttempt")), d.SlipEveryAttempt) != 0
            ? 1
            : 0;
    return s;
}

RecordRoom::RecordRoom(Host& h) : Room(h) {
    nowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    slipSink = [] { return std::make_unique<DefaultPrinterSink>(); };
    poll_ = new QTimer(this);
    poll_->setInterval(kPollMs);
    connect(poll_, &QTimer::timeout, this, [this] { runHandler([this] { findReverseRuns(); }); });
    reweigh_ = new QTimer(this);
    reweigh_->setInterval(kReweighMs);
    connect(reweigh_, &QTimer::timeout, this, [this] {
        // A database that is busy now is asked again at the next round.
        try {
            reweigh();
        } catch (const DbError&) {
        }
    });
    connect(&host, &Host::attemptStoring, this, &RecordRoom::storing);
    connect(&host, &Host::attemptMeasured, this, &RecordRoom::measured);
    connect(&host, &Host::clockCommandSent, this,
            [this] { clockSets_.sent(QDateTime::currentMSecsSinceEpoch()); });
    // The digits each decoder sends its times with.
    connect(&host, &Host::chunkReceived, this,
            [this](int loop, qint64, const QByteArray&, qsizetype, const QStringList& lines) {
                if (loop != 1 && loop != 2)
                    return;
                for (const QString& line : lines)
                    if (const std::optional<Passing> p = ParsePassing(line.toUtf8())) {
                        const double r = TimeResolution(QString::fromLatin1(p->time));
                        if (r > 0)
                            resolution_[loop - 1] = r;
                    }
            });
}

RecordRoom::~RecordRoom() = default;

void RecordRoom::created() {
    settings_ = LoadRecordSettings(host.iniPath());
    RecordStore::createSchema(SpeedDb::database());
    if (!settings_.TwoWay)
        return;
    lastPassing_ = Journal::lastPassingId();
    poll_->start();
    reweigh_->start();
    if (QWidget* p = host.addPage(tr("記録"), QStringLiteral("record"), [this] {
            reweigh();
            showList();
        })) {
        page_ = p;
        note_ = new QLabel(p);
        note_->setGeometry(6, 4, 620, 18);
        list_ = new QTableWidget(0, 9, p);
        list_->setObjectName(QStringLiteral("recordList"));
        list_->setGeometry(6, 24, 620, 290);
        list_->setHorizontalHeaderLabels({tr("状態"), tr("ID"), tr("走行1"), tr("走行2"),
                                          tr("平均 Km/h"), tr("±"), tr("開始"), tr("残り"),
                                          tr("理由")});
        list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list_->setSelectionBehavior(QAbstractItemView::SelectRows);
        list_->setSelectionMode(QAbstractItemView::SingleSelection);
        // Tab leaves the list for the button: the arrows walk the rows.
        list_->setTabKeyNavigation(false);
        list_->verticalHeader()->hide();
        list_->verticalHeader()->setDefaultSectionSize(18);
        // Everything but the reason fits the page; the reason takes the
        // rest, its whole text in the cell's tooltip.
        const int widths[] = {96, 62, 78, 78, 66, 40, 62, 50};
        for (int c = 0; c < 8; ++c)
            list_->setColumnWidth(c, widths[c]);
        list_->horizontalHeader()->setStretchLastSection(true);
        list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        certificate_ = new QPushButton(tr("証明書"), p);
        certificate_->setObjectName(QStringLiteral("recordCertificate"));
        certificate_->setGeometry(6, 318, 90, 24);
        certificate_->setEnabled(false);
        certificate_->setToolTip(tr("完了した記録挑戦を選ぶと証明書 (PDF) を作れます"));
        connect(list_, &QTableWidget::itemSelectionChanged, this, [this] {
            std::optional<RecordStore::RecordAttempt> r;
            if (const qint64 id = selectedRecord())
                r = RecordStore::byId(id);
            certificate_->setEnabled(r && r->state == RecordStore::kCompleted);
            print_->setEnabled(certificate_->isEnabled());
        });
        connect(certificate_, &QPushButton::clicked, this, [this] { certificateForSelected(); });
        print_ = new QPushButton(tr("印刷"), p);
        print_->setObjectName(QStringLiteral("recordPrint"));
        print_->setGeometry(102, 318, 70, 24);
        print_->setEnabled(false);
        print_->setToolTip(tr("完了した記録挑戦の証明書をプリンターで印刷します"));
        connect(print_, &QPushButton::clicked, this, [this] { printSelected(); });
        slipBox_ = new QCheckBox(tr("全計測の票を印刷"), p);
        slipBox_->setObjectName(QStringLiteral("recordSlipEveryAttempt"));
        slipBox_->setGeometry(184, 318, 240, 24);
        slipBox_->setChecked(settings_.SlipEveryAttempt != 0);
        slipBox_->setToolTip(tr("計測のたびに既定のプリンターで計測票を印刷します"));
        QWidget::setTabOrder(list_, certificate_);
        QWidget::setTabOrder(certificate_, print_);
        QWidget::setTabOrder(print_, slipBox_);
        connect(slipBox_, &QCheckBox::toggled, this,
                [this](bool on) { runHandler([&] { setSlipEveryAttempt(on); }); });
    }
    reweigh();
}

double RecordRoom::resolution(int loop) const {
    // Before a decoder's first line: the millisecond most decoders send.
    const double r = resolution_[loop - 1];
    return r > 0 ? r : 1e-3;
}

// A record stands on runs nobody doubts: a suspect run counts only once the
// operator has accepted it, whatever the ranking does with suspect speeds.
// A run of the usual way whose loop-2 passing is not the first one after its
// loop-1 passing timed the car from loop 1 to a later crossing of loop 2:
// on a two-way course, the start of its run back.
bool RecordRoom::counts(const Journal::Run& run) const {
    if ((run.status != Journal::kOk && run.status != Journal::kAccepted) || run.speed <= 0)
        return false;
    return run.reverse || !overtaken(run);
}

bool RecordRoom::overtaken(const Journal::Run& run) const {
    return run.passing1 > 0 && run.passing2 > run.passing1 &&
           Journal::passingBetween(run.tpid, 2, run.passing1, run.passing2);
}

// Inside the attempt's commit: its uncertainty goes in with it. A failure
// leaves the attempt without one; it must not roll the attempt back.
void RecordRoom::storing(const MeasuredAttempt& a) {
    try {
        const std::optional<Journal::Run> run = Journal::runFacts(a.id);
        if (!run)
            return;
        UncertaintyInputs in;
        in.distCm = run->distCm;
        in.toleranceMm = settings_.SurveyToleranceMm;
        in.resolution1S = resolution(1);
        in.resolution2S = resolution(2);
        const ClockFigures& c = host.clockFigures();
        if (c.known) {
            in.offsetMs = c.offsetMs;
            in.offsetSpreadMs = c.spreadMs;
            in.driftMs = c.driftMs;
        }
        in.elapsedS = std::abs(run->time2 - run->time1);
        const SpeedUncertainty u = ExpandedUncertainty(in, run->speed);
        if (u.known)
            Journal::setUncertainty(a.id, u.kmh, u.percent);
    } catch (const DbError&) {
    }
}

// An attempt the database did not take at once (id 0) gets no slip: it has
// neither its decoder times nor its chain link yet.
void RecordRoom::measured(const MeasuredAttempt& a) {
    if (a.id <= 0)
        return;
    printSlip(a.id);
    if (!settings_.TwoWay)
        return;
    try {
        weigh(a.id);
    } catch (const DbError&) {
    }
}

// --- reverse runs ----------------------------------------------------------------

void RecordRoom::findReverseRuns() {
    QSet<QString> touched;
    for (;;) {
        const QVector<Journal::PassingRow> rows = Journal::passingsAfter(lastPassing_, 256);
        if (rows.isEmpty())
            break;
        for (const Journal::PassingRow& p : rows)
            if (!p.tpid.isEmpty())
                touched.insert(p.tpid);
        lastPassing_ = rows.back().id;
    }
    for (const QString& tpid : std::as_const(touched))
        lookForReverse(tpid);
}

// A reverse run is the transponder's latest loop-1 passing with the loop-2
// passing right before it in decoder time, within the longest section time,
// neither of them paired yet, and no loop-1 passing between the two. The
// two lines of one crossing may reach the program in either order, so both
// a new loop-1 and a new loop-2 passing are looked at. A loop-2 passing
// that ended a measured run of the usual way is no start: on a closed
// course the next lap's loop-1 passing follows it.
void RecordRoom::lookForReverse(const QString& tpid) {
    const QVector<Journal::PassingRow> ones = Journal::latestPassings(tpid, 1, kRecentPassings);
    const QVector<Journal::PassingRow> twos = Journal::latestPassings(tpid, 2, kRecentPassings);
    if (ones.isEmpty() || twos.isEmpty())
        return;
    bool ok1 = false;
    const Journal::PassingRow& p1 = ones.front();
    const double t1 = p1.time.toDouble(&ok1);
    if (!ok1)
        return;
    const Journal::PassingRow* p2 = nullptr;
    double t2 = 0;
    for (const Journal::PassingRow& r : twos) {
        bool ok = false;
        const double t = r.time.toDouble(&ok);
        if (ok && t < t1 && (!p2 || t > t2)) {
            p2 = &r;
            t2 = t;
        }
    }
    if (!p2 || t1 - t2 > host.suspectChecks().MaxSectionS)
        return;
    for (qsizetype i = 1; i < ones.size(); ++i) {
        bool ok = false;
        const double t = ones[i].time.toDouble(&ok);
        if (ok && t >= t2 && t < t1)
            return;
    }
    if (Journal::passingPaired(tpid, p1.id) || Journal::passingPaired(tpid, p2->id))
        return;
    const qint64 repeat1 = ones.size() > 1 ? p1.receivedMs - ones[1].receivedMs : -1;
    qint64 repeat2 = -1;
    for (qsizetype i = 0; i + 1 < twos.size(); ++i)
        if (twos[i].id == p2->id)
            repeat2 = twos[i].receivedMs - twos[i + 1].receivedMs;
    recordReverse(p1, *p2, repeat1, repeat2);
}

void RecordRoom::recordReverse(const Journal::PassingRow& p1, const Journal::PassingRow& p2,
                               qint64 repeat1Ms, qint64 repeat2Ms) {
    const int dist = host.settings().Dist;
    const double t1 = p1.time.toDouble();
    const double t2 = p2.time.toDouble();
    const double e = t1 - t2;
    const double kmh = ComputeSpeed(e, dist);
    AttemptFacts facts;
    facts.kmh = kmh;
    facts.elapsedS = e;
    facts.loop1RepeatMs = repeat1Ms;
    facts.loop2RepeatMs = repeat2Ms;
    facts.clockSetBetween = clockSets_.within(std::min(p1.receivedMs, p2.receivedMs),
                                              std::max(p1.receivedMs, p2.receivedMs));
    const SuspectChecks c = host.suspectChecks();
    PlausibilityLimits limits;
    limits.minKmh = c.MinKmh;
    limits.maxKmh = c.MaxKmh;
    limits.doubleReadMs = c.DoubleReadMs;
    limits.maxSectionS = c.MaxSectionS;
    const unsigned flags = PlausibilityFlags(facts, limits);
    Journal::Attempt a;
    a.tpid = p1.tpid;
    a.passing1 = p1.id;
    a.passing2 = p2.id;
    a.time1 = t1;
    a.time2 = t2;
    a.distCm = dist;
    a.speed = kmh;
    a.speedText = SpeedText(kmh);
    a.flags = flags;
    a.status = !IsMeasurement(flags) ? Journal::kNotMeasurement
               : flags               ? Journal::kSuspect
                                     : Journal::kOk;
    a.measuredMs = nowMs();

    auto timeOf = [](const Journal::PassingRow& p, double fallback) {
        const std::optional<Passing> line = ParsePassing(p.raw);
        const double r = line ? TimeResolution(QString::fromLatin1(line->time)) : 0;
        return r > 0 ? r : fallback;
    };
    UncertaintyInputs in;
    in.distCm = dist;
    in.toleranceMm = settings_.SurveyToleranceMm;
    in.resolution1S = timeOf(p1, resolution(1));
    in.resolution2S = timeOf(p2, resolution(2));
    const ClockFigures& clocks = host.clockFigures();
    if (clocks.known) {
        in.offsetMs = clocks.offsetMs;
        in.offsetSpreadMs = clocks.spreadMs;
        in.driftMs = clocks.driftMs;
    }
    in.elapsedS = e;
    const SpeedUncertainty u = ExpandedUncertainty(in, kmh);

    qint64 id = 0;
    Batch batch;
    try {
        id = Journal::recordReverseAttempt(a);
        if (u.known)
            Journal::setUncertainty(id, u.kmh, u.percent);
        batch.commit();
    } catch (...) {
        batch.rollback();
        throw;
    }
    host.note(QStringLiteral(" ") + tr("逆方向 %1 %2 Km/h").arg(a.tpid, a.speedText));
    printSlip(id);
    weigh(id);
}

// --- record attempts ---------------------------------------------------------------

void RecordRoom::weigh(qint64 attemptId) {
    const std::optional<Journal::Run> run = Journal::runFacts(attemptId);
    if (!run)
        return;
    std::optional<RecordStore::RecordAttempt> open = RecordStore::openOf(run->tpid);
    const std::optional<Journal::Run> first =
        open ? Journal::runFacts(open->run1) : std::optional<Journal::Run>();
    if (!open || !first) {
        if (counts(*run)) {
            if (open) {
                open->state = RecordStore::kVoid;
                RecordStore::update(*open);
            }
            RecordStore::open(run->tpid, run->id, run->measuredMs);
        }
        publish();
        return;
    }
    const qint64 windowMs = qint64(settings_.WindowMin) * 60 * 1000;
    if (!counts(*run)) {
        // The car going back to the start of the usual way says nothing, nor
        // does the usual way's view of a run the other way (loop 2 before
        // loop 1, not a measurement there): that run is the finder's own.
        const bool otherWaysView = !run->reverse && run->time2 < run->time1;
        if (run->reverse != first->reverse && !otherWaysView) {
            if (overtaken(*run)) {
                open->reason =
                    tr("走行 %1 はループ1の後に2度目のループ2で計られています").arg(run->id);
            } else if (run->status == Journal::kSuspect && run->speed > 0 &&
                       run->measuredMs - first->measuredMs <= windowMs) {
                // Held as the partner until the operator decides on it.
                open->run2 = run->id;
                open->reason =
                    tr("帰りの走行 %1 は要確認です。承認されると完了します").arg(run->id);
            } else {
                open->reason = tr("帰りの走行 %1 は計測になっていません").arg(run->id);
            }
            RecordStore::update(*open);
        }
    } else if (run->measuredMs - first->measuredMs > windowMs) {
        open->reason = tr("走行 %1 は最初の走行から %2 分後: 窓は %3 分です。%1 から数え直します")
                           .arg(run->id)
                           .arg((run->measuredMs - first->measuredMs) / 60000)
                           .arg(settings_.WindowMin);
        open->run1 = run->id;
        open->run2 = 0;
        open->openedMs = run->measuredMs;
        RecordStore::update(*open);
    } else if (run->reverse == first->reverse) {
        open->reason = tr("走行 %1 は同じ方向です。%1 から数え直します").arg(run->id);
        open->run1 = run->id;
        open->run2 = 0;
        open->openedMs = run->measuredMs;
        RecordStore::update(*open);
    } else {
        complete(*open, *first, *run);
    }
    publish();
}

// The mean of the two runs. Its uncertainty is the mean of theirs: the
// section's length errs the same way in both, so nothing of it averages
// out, and the clocks' part that would cancel between the two directions
// is not credited.
void RecordRoom::complete(RecordStore::RecordAttempt& r, const Journal::Run& first,
                          const Journal::Run& second) {
    r.run2 = second.id;
    r.state = RecordStore::kCompleted;
    r.reason.clear();
    r.mean = (first.speed + second.speed) / 2;
    r.uKmh = first.uKmh >= 0 && second.uKmh >= 0 ? (first.uKmh + second.uKmh) / 2 : -1;
    const std::optional<double> best = RecordStore::bestMean(r.id);
    r.beats = !best || r.mean > *best * (1 + settings_.MarginPct / 100);
    if (r.closedMs == 0)
        r.closedMs = second.measuredMs;
    RecordStore::update(r);
}

void RecordRoom::reweigh() {
    if (!settings_.TwoWay)
        return;
    for (RecordStore::RecordAttempt r : RecordStore::newest(kListed)) {
        if (r.state == RecordStore::kVoid)
            continue;
        const std::optional<Journal::Run> first = Journal::runFacts(r.run1);
        const std::optional<Journal::Run> second =
            r.run2 > 0 ? Journal::runFacts(r.run2) : std::optional<Journal::Run>();
        const bool firstCounts = first && counts(*first);
        const bool secondCounts = second && counts(*second);
        if (r.state == RecordStore::kOpen) {
            if (!firstCounts) {
                r.state = RecordStore::kVoid;
                r.reason = tr("最初の走行 %1 が数えられなくなりました").arg(r.run1);
                RecordStore::update(r);
            } else if (second && secondCounts) {
                // The suspect return run held as the partner was accepted.
                complete(r, *first, *second);
            } else if (second && second->status != Journal::kSuspect) {
                r.reason = tr("帰りの走行 %1 が却下されました").arg(r.run2);
                r.run2 = 0;
                RecordStore::update(r);
            }
            continue;
        }
        if (firstCounts && secondCounts) {
            // A corrected run moves the mean with it; an attempt as it was
            // is not written again.
            const double mean = (first->speed + second->speed) / 2;
            const double u =
                first->uKmh >= 0 && second->uKmh >= 0 ? (first->uKmh + second->uKmh) / 2 : -1;
            if (mean != r.mean || u != r.uKmh) {
                r.mean = mean;
                r.uKmh = u;
                RecordStore::update(r);
            }
            continue;
        }
        // A rejected run reopens the attempt; the run that still counts
        // waits for a new partner.
        const qint64 lost = !firstCounts ? r.run1 : r.run2;
        r.state = RecordStore::kOpen;
        r.reason = tr("走行 %1 が却下されたため、再び開いています").arg(lost);
        r.run1 = firstCounts ? r.run1 : r.run2;
        r.run2 = 0;
        r.beats = false;
        r.closedMs = 0;
        if (!firstCounts && !secondCounts)
            r.state = RecordStore::kVoid;
        else if (const std::optional<RecordStore::RecordAttempt> other =
                     RecordStore::openOf(r.tpid);
                 other && other->id != r.id) {
            // The transponder has an open attempt already: this one ends.
            r.state = RecordStore::kVoid;
        }
        RecordStore::update(r);
    }
    publish();
    if (page_ && host.isShown(page_))
        showList();
}

void RecordRoom::publish() {
    const qint64 now = nowMs();
    const qint64 windowMs = qint64(settings_.WindowMin) * 60 * 1000;
    QList<RecordState> states;
    QSet<QString> told;
    for (const RecordStore::RecordAttempt& r : RecordStore::newest(kListed)) {
        if (r.state == RecordStore::kVoid || told.contains(r.tpid))
            continue;
        told.insert(r.tpid);
        RecordState s;
        s.tpid = r.tpid;
        s.reason = r.reason;
        const std::optional<Journal::Run> first = Journal::runFacts(r.run1);
        if (first)
            s.firstRunText = first->speedText + (first->uKmh >= 0 ? QStringLiteral(" ± ") +
                                                                        UncertaintyText(first->uKmh)
                                                                  : QString());
        if (r.state == RecordStore::kCompleted) {
            s.state = QStringLiteral("completed");
            s.resultText =
                SpeedText(r.mean) +
                (r.uKmh >= 0 ? QStringLiteral(" ± ") + UncertaintyText(r.uKmh) : QString());
        } else {
            s.windowEndsMs = (first ? first->measuredMs : r.openedMs) + windowMs;
            s.state = now > s.windowEndsMs ? QStringLiteral("expired") : QStringLiteral("waiting");
        }
        states << s;
    }
    host.setRecordStates(states);
}

void RecordRoom::showList() {
    if (!list_)
        return;
    const qint64 now = nowMs();
    const qint64 windowMs = qint64(settings_.WindowMin) * 60 * 1000;
    const QVector<RecordStore::RecordAttempt> rows = RecordStore::newest(kListed);
    // The list is drawn anew as runs come in: the record attempt the
    // operator picked stays picked, wherever its row moves.
    const qint64 picked = selectedRecord();
    const QSignalBlocker quiet(list_);
    list_->clearSelection();
    list_->setRowCount(int(rows.size()));
    int completed = 0;
    for (int i = 0; i < rows.size(); ++i) {
        const RecordStore::RecordAttempt& r = rows[i];
        const std::optional<Journal::Run> first = Journal::runFacts(r.run1);
        const std::optional<Journal::Run> second =
            r.run2 > 0 ? Journal::runFacts(r.run2) : std::optional<Journal::Run>();
        auto runText = [](const std::optional<Journal::Run>& run) {
            if (!run)
                return QString();
            return (run->reverse ? QStringLiteral("← ") : QStringLiteral("→ ")) + run->speedText;
        };
        QString state = r.state == RecordStore::kCompleted ? tr("完了")
                        : r.state == RecordStore::kVoid    ? tr("無効")
                                                           : tr("待機中");
        QString left;
        if (r.state == RecordStore::kOpen && first) {
            const qint64 ms = first->measuredMs + windowMs - now;
            left = ms > 0 ? tr("%1 分").arg((ms + 59999) / 60000) : tr("期限切れ");
        }
        if (r.state == RecordStore::kCompleted) {
            ++completed;
            if (r.beats)
                state += tr("・更新");
        }
        const QStringList cells{
            state,
            r.tpid,
            runText(first),
            runText(second),
            r.state == RecordStore::kCompleted ? SpeedText(r.mean) : QString(),
            r.state == RecordStore::kCompleted && r.uKmh >= 0 ? UncertaintyText(r.uKmh) : QString(),
            timeOfDay(r.openedMs),
            left,
            r.reason};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setData(Qt::UserRole, r.id);
            if (c == 8)
                item->setToolTip(cells[c]);
            list_->setItem(i, c, item);
        }
    }
    int pickedRow = -1;
    for (int i = 0; i < rows.size(); ++i)
        if (rows[i].id == picked)
            pickedRow = i;
    if (pickedRow >= 0)
        list_->selectRow(pickedRow);
    if (certificate_) {
        certificate_->setEnabled(pickedRow >= 0 &&
                                 rows[pickedRow].state == RecordStore::kCompleted);
        print_->setEnabled(certificate_->isEnabled());
    }
    note_->setText(tr("記録挑戦 %1 件（完了 %2 件）　窓 %3 分　更新に必要な差 %4 %")
                       .arg(rows.size())
                       .arg(completed)
                       .arg(settings_.WindowMin)
                       .arg(settings_.MarginPct));
}

// --- certificates ----------------------------------------------------------------

qint64 RecordRoom::selectedRecord() const {
    const QList<QTableWidgetItem*> items =
        list_ ? list_->selectedItems() : QList<QTableWidgetItem*>();
    return items.isEmpty() ? 0 : items.first()->data(Qt::UserRole).toLongLong();
}

void RecordRoom::certificateForSelected() {
    const qint64 id = selectedRecord();
    if (!id)
        return;
    const QString path = QFileDialog::getSaveFileName(
        page_, tr("証明書"), QStringLiteral("certificate-%1.pdf").arg(id), tr("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    QString why;
    if (writeCertificate(id, path, &why))
        host.note(QLatin1Char(' ') + tr("証明書を %1 に書き出しました").arg(path));
    else
        QMessageBox::warning(page_, tr("証明書"), tr("証明書を作れません: %1").arg(why));
}

bool RecordRoom::writeCertificate(qint64 recordId, const QString& path, QString* why) {
    const std::optional<CertificateData> d = certificateOf(recordId, why);
    return d && CertificatePaint::writePdf(path, DocumentKind::Certificate, *d, why);
}

void RecordRoom::printSelected() {
    QString why;
    if (const std::optional<CertificateData> d = certificateOf(selectedRecord(), &why)) {
        if (printWithDialog(page_, DocumentKind::Certificate, *d))
            host.note(QLatin1Char(' ') + tr("証明書を印刷しました"));
    } else {
        QMessageBox::warning(page_, tr("証明書"), tr("証明書を作れません: %1").arg(why));
    }
}

std::optional<CertificateData> RecordRoom::certificateOf(qint64 recordId, QString* why) const {
    try {
        const std::optional<RecordStore::RecordAttempt> r = RecordStore::byId(recordId);
        if (!r || r->state != RecordStore::kCompleted) {
            *why = tr("完了した記録挑戦ではありません");
            return std::nullopt;
        }
        QString keyWhy;
        const QByteArray key = stationKey(&keyWhy);
        if (key.isEmpty()) {
            *why = tr("局の鍵がありません（%1）").arg(keyWhy);
            return std::nullopt;
        }
        CertificateData d = document(r->tpid, key);
        d.atMs = r->closedMs;
        d.meanKmh = r->mean;
        d.meanUncertaintyKmh = std::max(0.0, r->uKmh);
        QVector<Claim::Entry> links;
        for (const qint64 runId : {r->run1, r->run2}) {
            const std::optional<Journal::Run> run = Journal::runFacts(runId);
            if (!run || !addRun(d, *run, links)) {
                *why = tr("走行 %1 が記録にありません").arg(runId);
                return std::nullopt;
            }
        }
        if (const std::optional<double> before = RecordStore::bestMean(recordId)) {
            CertificateMargin m;
            m.recordKmh = *before;
            m.marginPct = settings_.MarginPct;
            m.requiredKmh = *before * (1 + settings_.MarginPct / 100);
            m.passed = r->beats;
            d.margin = m;
        }
        d.claim = Claim::evidenceClaim(d.fingerprint, links);
        return d;
    } catch (const DbError& e) {
        *why = e.what();
        return std::nullopt;
    }
}

// --- documents ---------------------------------------------------------------------

// The station's public key, read from the data folder until there is one
// (it is made at the first start) and then kept: a slip at every attempt
// reads no file for it.
QByteArray RecordRoom::stationKey(QString* why) const {
    if (publicKey_.isEmpty())
        publicKey_ = ChainCheck::publicKeyIn(host.dataDir(), why);
    return publicKey_;
}

// What a certificate and a slip tell alike of the event, the station and the
// driver. Without the station's key they name no fingerprint.
CertificateData RecordRoom::document(const QString& tpid, const QByteArray& publicKey) const {
    CertificateData d;
    const EventSettings event = LoadEventSettings(host.iniPath());
    d.event = event.Event;
    d.station = event.Station;
    d.tpid = tpid;
    d.driver = SpeedTable::lookup(tpid).name;
    d.surveyToleranceMm = settings_.SurveyToleranceMm;
    if (!publicKey.isEmpty())
        d.fingerprint = ChainCheck::fingerprint(publicKey);
    return d;
}

// A run as both documents show it, with the decoder clocks as the watch
// has them now and a correction of its section among the reviews. Its chain
// link goes to `links`; false when the chain holds none for it.
bool RecordRoom::addRun(CertificateData& d, const Journal::Run& run,
                        QVector<Claim::Entry>& links) const {
    const std::optional<Claim::Entry> link = Claim::attemptLink(run.id);
    d.sectionCm = run.distCm;
    CertificateRun c;
    c.attemptId = run.id;
    c.direction = run.reverse ? RunDirection::Reverse : RunDirection::Forward;
    c.measuredMs = run.measuredMs;
    c.loop1Time = QString::number(run.time1, 'f', 3);
    c.loop2Time = QString::number(run.time2, 'f', 3);
    c.speedKmh = run.speed;
    c.uncertaintyKmh = std::max(0.0, run.uKmh);
    if (link) {
        c.chainSeq = link->seq;
        c.chainHash = QString::fromLatin1(link->hash.toHex());
        links << *link;
    }
    c.status = run.status;
    const ClockFigures& clock = host.clockFigures();
    if (clock.known) {
        c.clockOffsetMs = clock.offsetMs;
        c.clockSpreadMs = clock.spreadMs;
    }
    d.runs << c;
    if (const QString reason = Review::correctionReason(run.id); !reason.isEmpty())
        d.reviews << CertificateReview{run.id, QStringLiteral("correct"), run.measuredMs, reason};
    return link.has_value();
}

// Queued on the slip printer's own thread: measuring never waits for paper.
// A slip stands without the station's key or a chain link (it then names
// none); only a run missing from the journal has none.
void RecordRoom::printSlip(qint64 attemptId) {
    if (!settings_.SlipEveryAttempt)
        return;
    CertificateData d;
    try {
        const std::optional<Journal::Run> run = Journal::runFacts(attemptId);
        if (!run || (run->status != Journal::kOk && run->status != Journal::kSuspect &&
                     run->status != Journal::kAccepted))
            return;
        QString keyWhy;
        d = document(run->tpid, stationKey(&keyWhy));
        d.atMs = run->measuredMs;
        QVector<Claim::Entry> links;
        addRun(d, *run, links);
        if (!d.fingerprint.isEmpty() && !links.isEmpty())
            d.claim = Claim::evidenceClaim(d.fingerprint, links);
    } catch (const DbError& e) {
        host.note(QLatin1Char(' ') +
                  tr("計測 %1 の計測票を作れません：%2").arg(attemptId).arg(e.message()));
        return;
    }
    if (!slips_)
        slips_ = std::make_unique<SlipPrinter>(
            slipSink(), [this](const QString& text) { host.note(QLatin1Char(' ') + text); });
    slips_->print(d);
}

// Takes effect at once; the file keeps its other keys and sections.
void RecordRoom::setSlipEveryAttempt(bool on) {
    settings_.SlipEveryAttempt = on ? 1 : 0;
    IniFile ini(host.iniPath());
    ini.load();
    ini.setValue(QStringLiteral("Record"), QStringLiteral("SlipEveryAttempt"),
                 QString::number(settings_.SlipEveryAttempt));
    QString why;
    if (!ini.save(&why))
        throw KorvaneError(tr("%1 に書き込めません: %2").arg(host.iniPath(), why));
}
