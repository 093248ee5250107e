#include "Host.h"

#include "Error.h"

#include <QElapsedTimer>

Room::Room(Host& h) : host(h) {}

Room::~Room() = default;

Host::Host(QObject* parent) : QObject(parent) {
    qRegisterMetaType<MeasuredAttempt>();
    qRegisterMetaType<QList<LoopState>>();
}

// Rooms go before the host's bulletin, in the reverse order of their coming:
// a later room may have listened to an earlier one's lines.
Host::~Host() {
    while (!rooms_.empty())
        rooms_.pop_back();
}

void Host::addMenuItem(const QString&, const QString&, const QString&, std::function<void()>) {}

bool Host::pagePasswordMatches(const QString& typed) const {
    (void)typed;
    return false;
}

Room& Host::adopt(std::unique_ptr<Room> room) {
    rooms_.push_back(std::move(room));
    return *rooms_.back();
}

void Host::roomsCreated() {
    for (const auto& r : rooms_)
        r->created();
}

void Host::roomsStarted() {
    for (const auto& r : rooms_)
        r->started();
}

void Host::roomsClose() {
    QStringList failures;
    for (const auto& r : rooms_) {
        try {
            r->close();
        } catch (const Error& e) {
            failures << e.message();
        }
    }
    if (!failures.isEmpty())
        throw Error(failures.join(QLatin1Char('\n')));
}

void Host::setStatusLine(const QString& room, const StatusLine& line) {
    const auto at = statusLines_.constFind(room);
    if (line.text.isEmpty()) {
        if (at == statusLines_.cend())
            return;
        statusLines_.remove(room);
    } else {
        if (at != statusLines_.cend() && at->text == line.text && at->toolTip == line.toolTip &&
            at->qrText == line.qrText)
            return;
        statusLines_.insert(room, line);
    }
    emit statusLinesChanged();
}

void Host::setLoopStates(const QList<LoopState>& states) {
    loopStates_ = states;
    emit loopStatesChanged(states);
}

void Host::setCombinedRanking(const CombinedRanking& ranking) {
    combinedRanking_ = ranking;
    emit combinedRankingChanged();
}

void Host::setRecordStates(const QList<RecordState>& states) {
    recordStates_ = states;
    emit recordStatesChanged();
}

qint64 monotonicNowMs() {
    QElapsedTimer t;
    t.start();
    return t.msecsSinceReference();
}
