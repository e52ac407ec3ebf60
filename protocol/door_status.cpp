// The door-status reply: 'A', one byte not looked at, the status character,
// checksum, '/'. Status - '0' carries one bit per door, set = closed.
#include "door_tracking.h"
#include "velta36.h"
#include "velta36_event.hxx"
#include "waiting_events.h"

namespace {

const int kStatusOffset = 2;
// 'A', the byte before the status, the status, four checksum characters, '/'.
const int kShortestStatusReply = 8;

void SetDoorField(VELTA36_Data_t& record, int door, unsigned char open)
{
    // Assigned field by field: the record is packed.
    if (door == 1)
        record.door1Open = open;
    else
        record.door2Open = open;
}

// Returns true when the door's closing ended an alarm: its alarm end waits
// to be stored.
bool ApplyDoorState(VELTA36& device, int door, bool closed)
{
    const int index = door - 1;
    if (closed) {
        SetDoorField(device.record, door, 0);
        // The next opening of this door is a new one, not a door standing
        // open since it was last seen.
        device.doorOpenSeen[index] = 0;
        const int last = device.lastEventType[index];
        if (last != device.EVT_CODE_13 && last != device.EVT_ILLEGAL_OPEN)
            return false;
        // A door alarm is over once the door is closed again. The door
        // counts as closed from now on, stored or not: no record on the
        // controller stands for this event, and a later opening must be
        // judged a new break-in.
        velta36_event event = velta36::NewDoorEvent(device);
        event.EventTime = velta36::LocalNow();
        event.ReaderChannel = door;
        event.EventType = device.EVT_ALARM_END;
        event.CardNo = velta36::kNoCard;
        velta36::JudgeEvent(device, event, door);
        return true;
    }
    SetDoorField(device.record, door, 1);
    // The first sighting of an open door counts as its access time, so an
    // opening record within the next minute is not taken for a break-in.
    if (device.doorOpenSeen[index] != 1)
        device.lastAccessTime[index] = velta36::LocalNow();
    device.doorOpenSeen[index] = 1;
    return false;
}

}  // namespace

void VELTA36::DecodeDoorStatus(const unsigned char* frame, int length)
{
    // Too short to hold a status character: what sits at its place is a
    // checksum character, not a door state. Nothing is learnt.
    if (length < kShortestStatusReply)
        return;
    const unsigned char status = static_cast<unsigned char>(frame[kStatusOffset] - '0');
    bool alarmEnded = ApplyDoorState(*this, 1, (status & 0x01) != 0);
    if (doors == 2)
        alarmEnded = ApplyDoorState(*this, 2, (status & 0x02) != 0) || alarmEnded;
    // Only a reply that ended an alarm stores anything (and what waits
    // before its alarm ends); an alarm end that cannot be stored yet waits
    // for the next reply that stores, with the time it was made.
    if (alarmEnded)
        velta36::StoreWaiting(*this);
}
