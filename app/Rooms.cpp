#include "Rooms.h"

#include "ClassesRoom.h"
#include "DecoderWatch.h"
#include "EventRoom.h"
#include "EvidenceRoom.h"
#include "HistoryRoom.h"
#include "Host.h"
#include "LiveRoom.h"
#include "RecordRoom.h"
#include "SpeedViewRoom.h"

#include <memory>

void adoptRooms(Host& host) {
    host.adopt(std::make_unique<HistoryRoom>(host));
    host.adopt(std::make_unique<DecoderWatch>(host));
    host.adopt(std::make_unique<EventRoom>(host));
    host.adopt(std::make_unique<LiveRoom>(host));
    host.adopt(std::make_unique<SpeedViewRoom>(host));
    host.adopt(std::make_unique<ClassesRoom>(host));
    host.adopt(std::make_unique<EvidenceRoom>(host));
    host.adopt(std::make_unique<RecordRoom>(host));
}
