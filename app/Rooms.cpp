#include "Rooms.h"

#include "Host.h"
#include "SpeedViewRoom.h"

void adoptRooms(Host& host) {
    host.adopt(std::make_unique<SpeedViewRoom>(host));
}
