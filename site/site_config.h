// A site's configuration: the devices (from a JSON file and the command
// line's defaults), the lines they share, the folder of the event database,
// the plug-in, the capture, and how the lines are polled.
//
// A configuration file holds one device's JSON configuration, a list of
// them, or {"devices": [...]}; an object at the root may also carry the
// site's "mqtt" object (its keys are the upstream's, upstream/settings.h). Each device keeps its whole JSON object,
// which the plug-in reads in InitSetting; the host's keys "address",
// "baud" and "data_id" are filled in here. Every path is made absolute
// when the configuration is read, so the site may change its working
// folder at any step after that.
#ifndef VELTA36_SITE_SITE_CONFIG_H
#define VELTA36_SITE_SITE_CONFIG_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <json/json.h>

#include "device_identity.h"
#include "refhost/scheduler.h"
#include "refhost/serial_transport.h"

namespace velta36site {

// The port of a line served by the built-in simulated controller: asked
// for by name, never taken for a missing or empty port.
const char* const kSimulatorPort = "simulator";

// What a front end (the command line, a service) hands over.
struct SiteOptions {
    // None: the built-in simulated controller when there is no
    // configuration file; a file names each device's "port".
    std::optional<std::string> port;
    std::optional<int32_t> baud;
    std::optional<int32_t> address;
    std::optional<std::string> config;   // the JSON configuration file
    std::string dir = ".";               // folder of the event database
    std::optional<std::string> plugin;   // velta36.so; none: looked up (plugin_path.h)
    bool trace = false;                  // the plug-in's output and every chunk on the lines
    std::optional<std::string> capture;  // pcapng file of every chunk on the lines
    refhost::Rs485Settings rs485;
};

// A path as the user gave it (for messages) and as the site uses it.
struct UserPath {
    std::string given;
    std::string absolute;
};

struct DeviceSpec {
    DeviceIdentity identity;
    Json::Value settings;   // the device's JSON configuration, for InitSetting
};

// A line and its devices, in the order given.
struct LineSpec {
    LineIdentity identity;
    std::vector<DeviceIdentity> devices;
};

struct SiteConfig {
    std::vector<DeviceSpec> devices;   // by index: grouped by line
    std::vector<LineSpec> lines;
    UserPath dir;
    std::string plugin;                       // --plugin, absolute; empty: the first
    std::vector<std::string> pluginCandidates;   // of these (absolute) that exists
    std::optional<UserPath> capture;
    bool trace = false;
    // Listeners hear every chunk on the lines (onTraffic) even without the
    // trace: for figures drawn from the frames (repeats, left-out openings).
    bool watchLines = false;
    refhost::Rs485Settings rs485;
    refhost::Scheduler::Options schedule;
    // Whether the site follows the event table and tells listeners of
    // every row stored while it runs.
    bool streamEvents = true;
    // The root object's "mqtt" object as written; null when there is none.
    Json::Value mqtt;
};

// Throws InputError with one line on bad input: a file that cannot be
// read, bad or lax JSON (comments, trailing commas or text, a key twice),
// an unknown key (with the key meant), a device without its "port", a bad
// address or baud rate, two devices at one address
// on one line, one line at two rates.
SiteConfig ReadSiteConfig(const SiteOptions& options);

}  // namespace velta36site

#endif
