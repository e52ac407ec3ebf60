// The messages a site publishes for the collector, read from their JSON
// payloads: one event per stored row and the retained state of a device.
// The payload comes from the network and is checked field by field; a
// message that fails any check is refused whole, with the reason, so that
// nothing the database would reject (text that is not UTF-8, a NUL, a
// number out of range) ever reaches a batch.
#ifndef VELTA36_COLLECTOR_MESSAGES_H
#define VELTA36_COLLECTOR_MESSAGES_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velta36col {

struct EventMessage {
    std::string site;
    std::string device;
    int64_t dataId = 0;
    int64_t seq = 0;                   // per device, from 1, never reused
    std::string identity;              // "<epoch>:<row>", unique per (site, device)
    std::string epoch;                 // 16 lower-case hex digits
    int64_t row = 0;                   // the row's id in the site's table
    std::optional<std::string> time;   // "YYYY-MM-DD hh:mm:ss", controller's local time
    int32_t channel = 0;
    int32_t type = 0;
    std::string typeName;
    std::string card;
    std::string reason;
    bool replayed = false;
};

enum class DoorState { Unknown, Open, Closed };

struct StateMessage {
    std::string site;
    std::string device;
    int64_t dataId = 0;
    bool online = false;
    int32_t doors = 1;
    DoorState door1 = DoorState::Unknown;
    std::optional<DoorState> door2;          // only with two doors
    bool databaseFault = false;
    std::optional<std::string> lastRound;    // UTC, ISO 8601; none before the first round
    int64_t lastSeq = 0;                     // the newest seq the site has stored
    int64_t eventsStored = 0;
};

// Either the message or why it was refused.
template <typename Message>
struct Parsed {
    std::optional<Message> message;
    std::string error;
    explicit operator bool() const { return message.has_value(); }
};

// Payloads above this size are refused unread.
const std::size_t kMaxPayload = 16 * 1024;

Parsed<EventMessage> ParseEvent(std::string_view payload);
Parsed<StateMessage> ParseState(std::string_view payload);

// Site and device ids: 1 to 64 of [A-Za-z0-9_-].
bool IsTopicId(std::string_view text);
// Valid UTF-8 without NUL (PostgreSQL's text holds neither invalid
// sequences nor NUL).
bool IsStorableText(std::string_view text);

const char* DoorStateName(DoorState state);

}  // namespace velta36col

#endif
