#pragma once

#include "Host.h"

class LiveWeb;

// The live results page for spectators: started with the window when
// section "Web" of "Korvane.ini" enables it. It hears of every speed shown,
// of the decoders' state and of the event's combined ranking through the
// host; the server runs in a thread of its own, so a slow browser never
// holds up measuring or decoder input.
class LiveRoom final : public Room {
    Q_OBJECT
public:
    explicit LiveRoom(Host& host);
    ~LiveRoom() override;

    void started() override;

private:
    void tell(const QString& line);
    void passRanking();
    void passRecords();

    LiveWeb* web_ = nullptr; // a child of the room, none unless enabled
};
