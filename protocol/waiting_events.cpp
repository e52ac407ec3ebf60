#include "waiting_events.h"

#include <chrono>
#include <memory>

#include "store_connection.h"
#include "velta36.h"

namespace velta36 {

namespace {

std::deque<WaitingEvent>& Events(VELTA36& device)
{
    if (!device.waitingEvents)
        device.waitingEvents = std::make_shared<WaitingEvents>();
    return device.waitingEvents->events;
}

bool Store(VELTA36& device, WaitingEvent& waiting)
{
    device.SaveDoorEvent(waiting.event);
    return device.saveFailed == 0;
}

bool OtherDoorsAlarmEnd(const WaitingEvent& failed, const WaitingEvent& next)
{
    return failed.alarmEndDoor != 0 && next.alarmEndDoor != 0 && next.alarmEndDoor != failed.alarmEndDoor;
}

}  // namespace

void AddWaiting(VELTA36& device, const velta36_event& event, int alarmEndDoor)
{
    Events(device).push_back(WaitingEvent{event, alarmEndDoor});
}

std::size_t WaitingCount(const VELTA36& device)
{
    return device.waitingEvents ? device.waitingEvents->events.size() : 0;
}

bool StoreWaiting(VELTA36& device)
{
    std::deque<WaitingEvent>& events = Events(device);
    while (!events.empty()) {
        const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
        if (Store(device, events.front())) {
            events.pop_front();
            continue;
        }
        const bool quick = std::chrono::steady_clock::now() - started < std::chrono::milliseconds(kLockWaitMs);
        if (quick && events.size() > 1 && OtherDoorsAlarmEnd(events[0], events[1]) && Store(device, events[1]))
            events.erase(events.begin() + 1);
        device.saveFailed = 1;
        return false;
    }
    return true;
}

}  // namespace velta36
