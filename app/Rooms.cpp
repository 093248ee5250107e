#include "Rooms.h"

#include "ClassesRoom.h"
#include "Host.h"

void adoptRooms(Host& host) {
    host.adopt(std::make_unique<ClassesRoom>(host));
}
