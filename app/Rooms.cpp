#include "Rooms.h"

#include "HistoryRoom.h"
#include "Host.h"

#include <memory>

void adoptRooms(Host& host) {
    host.adopt(std::make_unique<HistoryRoom>(host));
}
