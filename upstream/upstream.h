// The site's MQTT upstream: publishes every row the site stores in
// ZRMDevice.db, in order and at least once, from a cursor that only passes
// what the broker acknowledged; keeps each device's state retained; answers
// requests (commands, replay) under the safety rules of docs/mqtt.md; and
// announces the devices to Home Assistant.
//
// Two threads of its own: "velta36-mqtt" runs the broker session and sends
// from the upstream's state file, "velta36-reader" reads new rows from the
// site's file and commits them to that state (its commits wait for the
// disk, never for the network). The calls below may come from any thread;
// they only note a fact and wake a thread, and never wait for the network.
#ifndef VELTA36_UPSTREAM_UPSTREAM_H
#define VELTA36_UPSTREAM_UPSTREAM_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery.h"
#include "messages.h"
#include "request.h"
#include "settings.h"

namespace velta36up {

// What carrying out a command came to: ok (the controller did it) or
// failed, with the control result the site reports and an error text.
struct CommandOutcome {
    bool ok = false;
    int64_t controlResult = 0;
    std::string error;
};

// Hands a command to the site; the future is ready once the controller
// answered (or the site gave up). Called on the upstream's network thread,
// so it must return at once. A future still pending after commandTimeout is
// answered "failed" and kept until the upstream is destroyed.
using CommandExecutor = std::function<std::future<CommandOutcome>(const std::string& deviceId, const Command&)>;

struct UpstreamOptions {
    UpstreamSettings settings;
    std::vector<DeviceInfo> devices;
    std::string eventDatabase;    // the site's ZRMDevice.db, read only
    std::string stateFolder;      // the upstream's own durable state
    CommandExecutor execute;      // none: every command fails
    std::function<void(const std::string&)> log;   // one line each, from either thread (never at once); none: standard error

    // Tuning; the defaults are what a site runs with.
    int window = 20;                                     // events in flight at once
    int pageRows = 500;                                  // rows read per commit
    std::chrono::milliseconds sourcePoll{2000};          // reading without a wake-up
    std::chrono::milliseconds stopGrace{10000};          // waiting for acknowledgements at stop
    std::chrono::milliseconds offlineGrace{2000};        // waiting for "offline" to be acknowledged
    std::chrono::milliseconds commandTimeout{60000};     // waiting for the site's outcome
    std::chrono::milliseconds discoveryDelayMax{10000};  // after Home Assistant says online
    std::chrono::milliseconds retryFirst{1000};          // reconnect back-off, doubled up to
    std::chrono::milliseconds retryMax{60000};           // this, with jitter
    std::chrono::milliseconds refusedRetry{5000};        // after a PUBACK refused an event
    std::chrono::milliseconds stateInterval{10000};      // state changes of rounds and counts only
};

struct UpstreamStats {
    bool connected = false;
    uint64_t connectAttempts = 0;
    uint64_t assigned = 0;        // rows given a seq since start
    uint64_t published = 0;       // event messages handed to the broker (again after a loss too)
    uint64_t acknowledged = 0;    // of them, acknowledged with success
    uint64_t refusedAcks = 0;     // acknowledged with a failure reason
    uint64_t backlog = 0;         // assigned and not yet acknowledged (all time)
    uint64_t replayed = 0;        // events sent again for replay requests
    uint64_t commandsCarriedOut = 0;
    uint64_t commandsRefused = 0; // refused or invalid
    std::optional<double> lastAckAgeSeconds;
};

class Upstream {
public:
    // Checks the devices (ids unique and topic-safe), reads the password
    // file and opens the state folder; throws SettingsError (one line) or
    // std::runtime_error. Nothing connects before start().
    explicit Upstream(UpstreamOptions options);
    // Stops (as stop()) if still running.
    ~Upstream();
    Upstream(const Upstream&) = delete;
    Upstream& operator=(const Upstream&) = delete;

    void start();
    // Reads what is left in the file, waits up to stopGrace for the broker
    // to acknowledge everything stored, publishes "offline" (up to
    // offlineGrace) and disconnects. Without a connection it tries once
    // more at once and gives up when that fails.
    void stop();

    // Facts from the site.
    void eventsMayHaveArrived();
    void doorsChanged(const std::string& deviceId, DoorState door1, DoorState door2);
    void roundCompleted(const std::string& deviceId, WallClock::time_point when);
    void roundTimedOut(const std::string& deviceId);
    void databaseFault(const std::string& deviceId, bool faulty);

    UpstreamStats stats() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velta36up

#endif
