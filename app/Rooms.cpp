#include "Rooms.h"

#include "DecoderWatch.h"
#include "Host.h"

#include <memory>

void adoptRooms(Host& host) {
    host.adopt(std::make_unique<DecoderWatch>(host));
}
