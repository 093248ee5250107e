#include "Rooms.h"

#include "EvidenceRoom.h"
#include "Host.h"

void adoptRooms(Host& host) {
    host.adopt(std::make_unique<EvidenceRoom>(host));
}
