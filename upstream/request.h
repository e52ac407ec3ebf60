// Requests from the network: the payload of P/request/<kind>, untrusted,
// checked whole before anything is carried out.
#ifndef VELTA36_UPSTREAM_REQUEST_H
#define VELTA36_UPSTREAM_REQUEST_H

#include <cstdint>
#include <optional>
#include <string>

#include "iso_time.h"

namespace velta36up {

enum class CommandKind { OpenDoor, Configure, AddCard, DeleteCard };

// A control command for one device, as plain values; the site turns it into
// its own request (and checks it again).
struct Command {
    CommandKind kind = CommandKind::OpenDoor;
    int door = 0;          // open-door: 1 or 2
    std::string code;      // add-card: 8 letters or digits
    int slot = 0;          // add-card, delete-card: 0..9999
    std::string endDate;   // add-card: YYYY-MM-DD
    int cardDoor = 0;      // add-card, delete-card: 0 (both), 1 or 2
};

const char* KindName(CommandKind kind);

const std::size_t kMaxRequestBytes = 4096;
const int64_t kMaxReplaySpan = 10000;

struct Request {
    std::string kind;                 // the topic's last level
    std::string transaction;
    std::string device;
    std::optional<Command> command;   // every kind but replay
    int64_t from = 0, to = 0;         // replay
    std::optional<WallClock::time_point> sent;
};

struct ParsedRequest {
    bool ok = false;
    Request request;      // on failure, transaction and device as far as they could be read
    std::string error;    // one line
};

// kind: the topic level after "request/"; an unknown one is an error too.
ParsedRequest ParseRequest(const std::string& kind, const std::string& payload);

}  // namespace velta36up

#endif
