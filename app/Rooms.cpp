#include "Rooms.h"

#include "DecoderWatch.h"
#include "Host.h"

#include "EventRoom.h"
#include "LiveRoom.h"

#include <memory>

void adoptRooms(Host& host) {
    host.adopt(std::make_unique<DecoderWatch>(host));
    host.adopt(std::make_unique<EventRoom>(host));
    host.adopt(std::make_unique<LiveRoom>(host));
}
