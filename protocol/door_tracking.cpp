#include "door_tracking.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include "velta36.h"
#include "velta36_event.hxx"
#include "waiting_events.h"

namespace velta36 {

const char* const kNoCard = "00000000";

velta36_event NewDoorEvent(const VELTA36& device)
{
    velta36_event event;
    event.data_id = device.DataId();
    return event;
}

void JudgeEvent(VELTA36& device, const velta36_event& event, int alarmEndDoor)
{
    if (event.ReaderChannel >= 1 && event.ReaderChannel <= 4)
        device.lastEventType[event.ReaderChannel - 1] = static_cast<uint8_t>(event.EventType);
    AddWaiting(device, event, alarmEndDoor);
}

boost::posix_time::ptime LocalNow()
{
    return boost::posix_time::second_clock::local_time();
}

}  // namespace velta36
