#include "Rooms.h"

#include "Host.h"

#include "EventRoom.h"
#include "LiveRoom.h"

void adoptRooms(Host& host) {
    host.adopt(std::make_unique<EventRoom>(host));
    host.adopt(std::make_unique<LiveRoom>(host));
}
