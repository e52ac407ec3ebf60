// The devices a run drives: from --config (one device's JSON configuration,
// a list of them, or {"devices": [...]}) and the line options. Each device
// keeps its whole JSON object, which the plug-in reads in InitSetting; the
// host's keys "address", "baud" and "data_id" are filled in here.
#ifndef VELTA36_CLI_DEVICE_CONFIG_H
#define VELTA36_CLI_DEVICE_CONFIG_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <json/json.h>

namespace velta36cli {

// Frames carry the address as one character, '0' + address: 0 to 207.
const int32_t kMaxAddress = 207;

struct LineDefaults {
    std::optional<std::string> port;     // none: the built-in simulated controller
    std::optional<int32_t> baud;
    std::optional<int32_t> address;
};

struct DeviceSpec {
    std::string name;
    std::string port;     // empty: built-in simulator
    int32_t baud = 9600;
    int32_t address = 0;
    int32_t doors = 1;    // from "appSetting", for the simulator and the door report
    Json::Value config;
};

// A line and the devices on it, in the order given.
struct LineSpec {
    std::string port;
    int32_t baud = 9600;
    std::vector<DeviceSpec> devices;
};

// Throws InputError (control_request.h) with one line on bad input: a file
// that cannot be read, bad JSON, a bad address or baud rate, two devices at
// one address on one line, one line at two rates.
std::vector<DeviceSpec> LoadDevices(const std::optional<std::string>& configFile, const LineDefaults& defaults);
std::vector<DeviceSpec> ParseDevices(const std::string& jsonText, const std::string& origin,
                                     const LineDefaults& defaults);
std::vector<LineSpec> GroupByLine(const std::vector<DeviceSpec>& devices);

}  // namespace velta36cli

#endif
