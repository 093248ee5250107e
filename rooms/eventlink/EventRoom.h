#pragma once

#include "Host.h"

#include "EventServer.h"
#include "EventSettings.h"
#include "Publisher.h"

#include <QPointer>

#include <memory>
#include <optional>

class AllStationsView;
class QTimer;

// Publishing to the event's server when section "Event" names one: the
// outbox triggers (installed or taken away as the window is created), the
// publisher thread, its line on the status page and in Memo3, and the
// combined ranking of all stations beside the ranking grid and on the
// bulletin for the live page.
class EventRoom final : public Room {
    Q_OBJECT
public:
    explicit EventRoom(Host& host);
    ~EventRoom() override;

    void created() override;

private:
    bool rankingWatched() const;
    void statusChanged(const PublisherStatus& s);
    void rankingRead(const QList<EventServer::RankingEntry>& rows, const QString& error);

    EventSettings settings_;
    std::unique_ptr<Publisher> publisher_;
    QPointer<AllStationsView> view_; // the window's once it took it
    QTimer* refresh_ = nullptr;
    bool listening_ = false;              // the server tells of changes: no poll needed
    std::optional<PublisherStatus> told_; // what Memo3 was last told
    // The combined ranking last read, kept for the live page.
    QList<EventServer::RankingEntry> rows_;
    qint64 readAtMs_ = 0;
};
