// The per-door memory the event decoding keeps between records and replies:
// the last event code per channel (1, 2 doors; 3, 4 exit buttons), whether a
// door has been seen open, and the time of its last granted access.
#ifndef VELTA36_PROTOCOL_DOOR_TRACKING_H
#define VELTA36_PROTOCOL_DOOR_TRACKING_H

#include <boost/date_time/posix_time/posix_time_types.hpp>

class VELTA36;
class velta36_event;

namespace velta36 {

// Door-event card number when no card is involved.
extern const char* const kNoCard;

// A new event of this device: data id set, no time, empty card and reason.
velta36_event NewDoorEvent(const VELTA36& device);

// The event is judged: its code becomes the last one of its channel
// (channels 1 to 4; the controller's channel 0 has no memory) and it waits
// to be stored (waiting_events.h). The tracking does not wait for the
// store: it is what an unbroken store leaves. alarmEndDoor: the door of an
// alarm end a status reply made, else 0.
void JudgeEvent(VELTA36& device, const velta36_event& event, int alarmEndDoor = 0);

// The local clock at second resolution, as the decoders read it.
boost::posix_time::ptime LocalNow();

}  // namespace velta36

#endif
