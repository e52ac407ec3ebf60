// The tool's subcommands; each returns the process exit status.
#ifndef VELTA36_CLI_COMMANDS_H
#define VELTA36_CLI_COMMANDS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console.h"
#include "control_request.h"
#include "refhost/line_frames.h"
#include "refhost/serial_transport.h"
#include "run_upstream.h"
#include "site_config.h"

namespace velta36cli {

using velta36site::InputError;

// Exit statuses.
const int kExitOk = 0;
const int kExitFailed = 1;     // the line, the controller or the system failed
const int kExitBadInput = 2;   // the command line or the configuration is wrong
const int kExitInterrupted = 130;   // stopped by an interrupt before the end (128 + SIGINT)

struct RunOptions {
    velta36site::SiteOptions line;
    uint32_t rounds = 0;
    double intervalSeconds = 0;
    std::optional<std::string> metrics;   // the metrics file, kept up to date
    MqttOptions mqtt;                      // the upstream's command-line settings
};

struct EventsOptions {
    std::string dir = ".";
    std::optional<int32_t> limit;   // default: 20 in the table, all rows in csv and json
    std::string format = "table";
    std::optional<std::string> since;
    std::optional<std::string> until;
    std::optional<std::string> card;
    std::vector<int32_t> channels;
    std::vector<int32_t> types;
    std::vector<std::string> devices;    // data ids, or names given by the configuration
    std::optional<std::string> config;   // the site's configuration: the devices' names
    // The central PostgreSQL database instead of the local file.
    std::optional<std::string> db;
    std::optional<std::string> dbPasswordFile;
    std::vector<std::string> sites;     // with db only
};

struct CollectOptions {
    std::optional<std::string> mqtt;
    std::optional<std::string> config;   // a file with an "mqtt" object
    std::string db;
    std::optional<std::string> dbPasswordFile;
    std::optional<std::string> share;    // shared-subscription group
    std::optional<std::string> clientId;
    // Default: a week alone; 30 s in a shared group, where the broker goes
    // on handing a dead member its share until its session expires.
    std::optional<uint32_t> sessionExpirySeconds;
    int64_t gapGraceMs = 5000;
    int64_t replayRetryMs = 30000;
};

struct SimulateOptions {
    int32_t doors = 2;
    std::vector<int32_t> addresses;
    std::optional<int32_t> events;   // none: a working day
    int32_t baud = 0;
    uint64_t seed = 1;
    std::optional<double> seconds;   // none: until interrupted
    double split = 0, noise = 0, corrupt = 0, refuse = 0, drop = 0, lose = 0;
    std::optional<std::string> capture;
};

struct ScanOptions {
    std::string port;
    int32_t baud = 9600;
    int32_t from = 0;
    int32_t to = refhost::kMaxAddress;
    int32_t tries = 1;
    int32_t waitMs = 300;   // the controller's turnaround, on top of the wire time
    std::optional<std::string> capture;
    refhost::Rs485Settings rs485;
};

int RunCommand(const RunOptions& options, Console& console);
// tries: runs of the command while the controller refuses one of its
// steps (silence is not tried again).
const int32_t kDefaultTries = 3;
int ControlCommand(const velta36site::SiteOptions& options, const velta36site::ControlRequest& request,
                   int32_t tries, Console& console);
int EventsCommand(const EventsOptions& options, Console& console);
int CollectCommand(const CollectOptions& options, Console& console);
int SimulateCommand(const SimulateOptions& options, Console& console);
int ScanCommand(const ScanOptions& options, Console& console);

}  // namespace velta36cli

#endif
