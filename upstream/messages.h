// The payloads the site publishes: one stored event, a device's state and
// the response to a request. Keys in the documented order, written by hand.
#ifndef VELTA36_UPSTREAM_MESSAGES_H
#define VELTA36_UPSTREAM_MESSAGES_H

#include <cstdint>
#include <optional>
#include <string>

#include "iso_time.h"

namespace velta36up {

// One row of "velta36_event" as stored.
struct SourceRow {
    int64_t id = 0;
    int64_t dataId = 0;
    std::optional<std::string> eventTime;   // "YYYY-MM-DD hh:mm:ss", NULL when unknown
    int64_t channel = 0;
    int64_t type = 0;
    std::string card;
    std::string reason;
};

// Where a row stands in the upstream: its device, sequence and identity.
struct EventIdentity {
    std::string site;
    std::string device;
    int64_t seq = 0;
    std::string epoch;   // 16 lower-case hex digits
};

// granted_entry, granted_exit, unknown_card, refused_card, exit_button,
// break_in, alarm_end, power_off, power_on or other; from the stored type
// and, for type 0 (which three kinds of event share), the reason.
const char* EventTypeName(int64_t type, const std::string& reason);

// The event as published (never replayed: "replayed":false last).
std::string EventPayload(const EventIdentity& identity, const SourceRow& row);
// The same bytes marked as sent again in answer to a replay request.
std::string ReplayedPayload(const std::string& eventPayload);

enum class DoorState { Unknown, Closed, Open };

struct DeviceState {
    bool online = false;
    int doors = 1;
    DoorState door1 = DoorState::Unknown;
    DoorState door2 = DoorState::Unknown;
    bool databaseFault = false;
    std::optional<WallClock::time_point> lastRound;
    int64_t lastSeq = 0;
    int64_t eventsStored = 0;
};
std::string StatePayload(const std::string& site, const std::string& device, int64_t dataId,
                         const DeviceState& state);

struct Response {
    std::optional<std::string> transaction;   // null when it could not be read
    std::optional<std::string> device;
    std::string kind;
    std::string status;                       // ok, failed, refused, invalid
    std::optional<int64_t> controlResult;
    std::optional<std::string> error;
    // replay only
    std::optional<int64_t> count, first, last;
};
std::string ResponsePayload(const Response& response);

}  // namespace velta36up

#endif
