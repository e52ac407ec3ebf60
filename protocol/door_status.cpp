// The door-status reply: 'A', one byte not looked at, the status character,
// checksum, '/'. Status - '0' carries one bit per door, set = closed.
#include "door_tracking.h"
#include "velta36.h"
#include "velta36_event.hxx"

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

// mayStore: false once a save of this reply gave up; the alarm end of the
// other door then waits for the next status reply as well, so that one reply
// never waits out more than one save's attempts.
void ApplyDoorState(VELTA36& device, int door, bool closed, bool mayStore)
{
    const int index = door - 1;
    if (closed) {
        SetDoorField(device.record, door, 0);
        // The next opening of this door is a new one, not a door standing
        // open since it was last seen.
        device.doorOpenSeen[index] = 0;
        const int last = device.lastEventType[index];
        // A door alarm is over once the door is closed again. Not stored,
        // the alarm stays remembered and the next reply tries again.
        if (mayStore && (last == device.EVT_CODE_13 || last == device.EVT_ILLEGAL_OPEN)) {
            velta36_event event = velta36::NewDoorEvent(device);
            event.EventTime = velta36::LocalNow();
            event.ReaderChannel = door;
            event.EventType = device.EVT_ALARM_END;
            event.CardNo = velta36::kNoCard;
            velta36::StoreAndTrack(device, event);
        }
        return;
    }
    SetDoorField(device.record, door, 1);
    // The first sighting of an open door counts as its access time, so an
    // opening record within the next minute is not taken for a break-in.
    if (device.doorOpenSeen[index] != 1)
        device.lastAccessTime[index] = velta36::LocalNow();
    device.doorOpenSeen[index] = 1;
}

}  // namespace

void VELTA36::DecodeDoorStatus(const unsigned char* frame, int length)
{
    // Too short to hold a status character: what sits at its place is a
    // checksum character, not a door state. Nothing is learnt.
    if (length < kShortestStatusReply)
        return;
    const unsigned char status = static_cast<unsigned char>(frame[kStatusOffset] - '0');
    saveFailed = 0;
    ApplyDoorState(*this, 1, (status & 0x01) != 0, true);
    if (doors == 2)
        ApplyDoorState(*this, 2, (status & 0x02) != 0, saveFailed == 0);
}
