// Door events judged but not yet in the table, oldest first.
//
// A record of an event reply is judged once, when it is first decoded: its
// event and the door tracking it changes are what they would be had the
// store never failed. The event then waits here until it is stored, and a
// record sent again is not judged again. So does the alarm end a status
// reply makes when a door closes after an alarm: the door counts as closed
// at once, whether or not its alarm end is stored yet.
//
// Events are stored in the order they were judged, as an unbroken store
// stores them: one that cannot be stored holds back those judged after it.
// The one exception are the two doors' alarm ends of one status reply,
// which do not wait for each other.
#ifndef VELTA36_PROTOCOL_WAITING_EVENTS_H
#define VELTA36_PROTOCOL_WAITING_EVENTS_H

#include <cstddef>
#include <deque>

#include "velta36_event.hxx"

class VELTA36;

namespace velta36 {

struct WaitingEvent {
    velta36_event event;
    // 1 or 2: the alarm end a status reply made for that door, which no
    // record on the controller stands for; 0: the event of a record.
    int alarmEndDoor;
};

struct WaitingEvents {
    std::deque<WaitingEvent> events;
};

// Records judged while this many events wait are left on the controller
// for a later reply (ten full batches: only a controller that keeps sending
// other records while the store is down gets here). Alarm ends are always
// judged; there are at most two more.
const std::size_t kMostWaitingEvents = 100;

// Queues an event judged just now.
void AddWaiting(VELTA36& device, const velta36_event& event, int alarmEndDoor);

std::size_t WaitingCount(const VELTA36& device);

// Stores the waiting events, oldest first. True when none waits any more;
// false when a save gave up (saveFailed is then set): that event and those
// after it wait for the next try.
//
// A save that gives up has waited at most one save's lock wait (four
// attempts of kLockWaitMs). The other door's alarm end right behind a door's
// alarm end that gave up is still tried, but only if that save gave up
// within one attempt's wait (it failed for another reason than a lock), so
// one call waits for locks about as long as one save.
bool StoreWaiting(VELTA36& device);

}  // namespace velta36

#endif
