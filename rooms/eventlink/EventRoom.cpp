#include "EventRoom.h"

#include "AllStationsView.h"

#include "DataDir.h"
#include "PageParts.h"

#include "Database.h"
#include "Outbox.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTime>
#include <QTimer>

namespace {

// The combined ranking is read again when the server says it changed; this
// poll is only for while the station is not listening.
const int kRefreshMs = 5000;

QString describe(const PublisherStatus& s) {
    QString text = s.connected    ? QCoreApplication::translate("TFkorvane", "接続済み")
                   : s.unanswered ? QCoreApplication::translate("TFkorvane", "応答なし")
                                  : QCoreApplication::translate("TFkorvane", "未接続");
    if (s.waiting >= 0)
        text += QCoreApplication::translate("TFkorvane", "　未送信 %1 件").arg(s.waiting);
    if (!s.lastError.isEmpty())
        text += QStringLiteral("　") + s.lastError;
    if (!s.localError.isEmpty())
        text += QStringLiteral("　") + s.localError;
    return text;
}

} // namespace

EventRoom::EventRoom(Host& h) : Room(h) {}

// The view is the window's once handed over; a host that did not take it
// leaves it to the room.
EventRoom::~EventRoom() {
    if (view_ && !view_->parent())
        delete view_;
}

void EventRoom::created() {
    const EventSettings settings = LoadEventSettings(host.iniPath());
    if (!settings.enabled()) {
        Outbox::uninstall(SpeedDb::database());
        return;
    }
    // Captured from now on even while the settings are wrong, so that the
    // attempts reach the server once they are mended.
    Outbox::install(SpeedDb::database());
    settings_ = settings;

    view_ = new AllStationsView;
    host.addRankingView(QCoreApplication::translate("TFkorvane", "全ステーション"),
                        QStringLiteral("AllStations"), view_, [this](bool shown) {
                            if (shown && publisher_)
                                publisher_->requestRanking();
                        });

    const QString problem = EventSettingsProblem(settings);
    if (!problem.isEmpty()) {
        PublisherStatus s;
        s.lastError = problem;
        statusChanged(s);
        view_->showNote(problem);
        CombinedRanking shared;
        shared.event = settings.Event;
        shared.error = problem;
        host.setCombinedRanking(shared);
        return;
    }

    publisher_ = std::make_unique<Publisher>(settings, databasePathIn(host.dataDir()));
    connect(publisher_.get(), &Publisher::statusChanged, this,
            [this](const PublisherStatus& s) { statusChanged(s); });
    connect(publisher_.get(), &Publisher::published, this, [this] {
        if (!listening_ && rankingWatched())
            publisher_->requestRanking();
    });
    connect(publisher_.get(), &Publisher::rankingChanged, this, [this] {
        if (rankingWatched())
            publisher_->requestRanking();
    });
    connect(publisher_.get(), &Publisher::rankingReady, this,
            [this](const QList<EventServer::RankingEntry>& rows, const QString& error) {
                rankingRead(rows, error);
            });
    refresh_ = new QTimer(this);
    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, [this] {
        if (!listening_ && rankingWatched())
            publisher_->requestRanking();
    });
    refresh_->start();
    connect(&host, &Host::combinedRankingRequested, this, [this] { publisher_->requestRanking(); });
    publisher_->start();
}

// Read while someone looks at it: the ranking page's view, or the live page
// (its clients come and go without the window knowing).
bool EventRoom::rankingWatched() const {
    return (view_ && host.rankingViewShown(view_)) || host.combinedRankingWanted();
}

void EventRoom::statusChanged(const PublisherStatus& s) {
    listening_ = s.listening;
    const QString text = QCoreApplication::translate("TFkorvane", "イベント %1 / %2: %3")
                             .arg(settings_.Event, settings_.Station, describe(s));
    host.setStatusLine(
        QStringLiteral("Event"),
        {text, QStringList({s.lastError, s.localError}).join(QLatin1Char('\n')).trimmed()});
    // Memo3 and the terminal hear of a change of connection or error, not
    // of every attempt sent.
    if (told_ && told_->connected == s.connected && told_->unanswered == s.unanswered &&
        told_->lastError == s.lastError && told_->localError == s.localError)
        return;
    told_ = s;
    host.log(QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + text);
    windowparts::tellTerminal(text);
}

void EventRoom::rankingRead(const QList<EventServer::RankingEntry>& rows, const QString& error) {
    if (error.isEmpty()) {
        rows_ = rows;
        readAtMs_ = QDateTime::currentMSecsSinceEpoch();
    }
    CombinedRanking shared;
    shared.event = settings_.Event;
    shared.error = error;
    shared.readAtMs = readAtMs_;
    for (const EventServer::RankingEntry& e : std::as_const(rows_))
        shared.rows.append({e.rank, e.tpid, e.name, e.speedText, e.station});
    host.setCombinedRanking(shared);
    if (!view_)
        return;
    if (!error.isEmpty()) {
        // What was read before stays, under the reason it is not fresh.
        view_->showNote(
            QCoreApplication::translate("TFkorvane", "全ステーションの順位を読めません: %1")
                .arg(error));
        return;
    }
    view_->showRows(rows);
}
