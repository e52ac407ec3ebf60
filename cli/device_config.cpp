#include "device_config.h"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "control_request.h"
#include "refhost/serial_transport.h"

namespace velta36cli {

namespace {

// Reads a host key given as a number or as text, the way the host does.
std::optional<int32_t> ReadInteger(const Json::Value& object, const char* key, const std::string& where)
{
    const Json::Value& value = object[key];
    if (value.isNull())
        return std::nullopt;
    if (value.isArray() || value.isObject() || value.isBool())
        throw InputError(where + ": \"" + key + "\" must be a number");
    const std::string text = value.asString();
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0')
        throw InputError(where + ": \"" + key + "\" must be a number, not \"" + text + "\"");
    return static_cast<int32_t>(number);
}

DeviceSpec ReadDevice(const Json::Value& object, std::size_t index, bool single, const LineDefaults& defaults,
                      const std::string& origin)
{
    const std::string where = single ? origin : origin + ", device " + std::to_string(index + 1);
    if (!object.isObject())
        throw InputError(where + ": a device's configuration must be a JSON object");
    DeviceSpec spec;
    spec.config = object;

    // Command-line options override a single device's file; for a list they
    // only fill in what a device leaves out.
    auto pick = [single](const std::optional<int32_t>& option, const std::optional<int32_t>& own,
                         int32_t fallback) {
        if (single && option)
            return *option;
        if (own)
            return *own;
        return option ? *option : fallback;
    };
    spec.address = pick(defaults.address, ReadInteger(object, "address", where), 0);
    spec.baud = pick(defaults.baud, ReadInteger(object, "baud", where), 9600);
    const Json::Value& port = object["port"];
    if (!port.isNull() && !port.isString())
        throw InputError(where + ": \"port\" must be a device path");
    if (single && defaults.port)
        spec.port = *defaults.port;
    else if (port.isString())
        spec.port = port.asString();
    else if (defaults.port)
        spec.port = *defaults.port;

    if (spec.address < 0 || spec.address > kMaxAddress)
        throw InputError(where + ": address " + std::to_string(spec.address) + " is out of range (0 to 207)");
    if (!refhost::IsStandardBaud(spec.baud))
        throw InputError(where + ": baud rate " + std::to_string(spec.baud) + " is not a standard rate");

    const Json::Value& app = object["appSetting"];
    if (!app.isNull() && !app.isObject())
        throw InputError(where + ": \"appSetting\" must be an object");
    if (app.isObject()) {
        for (const char* key : {"doors", "card_type", "door1_delay", "door2_delay", "b_mode"}) {
            const Json::Value& value = app[key];
            if (value.isArray() || value.isObject())
                throw InputError(where + ": \"appSetting\"." + key + " must be a number");
        }
        if (std::optional<int32_t> doors = ReadInteger(app, "doors", where + " appSetting")) {
            if (*doors != 1 && *doors != 2)
                throw InputError(where + ": \"doors\" must be 1 or 2");
            spec.doors = *doors;
        }
    }
    const Json::Value& thresholds = object["thresholdSetting"];
    if (!thresholds.isNull() && !thresholds.isObject())
        throw InputError(where + ": \"thresholdSetting\" must be an object");

    const std::optional<int32_t> dataId = ReadInteger(object, "data_id", where);
    spec.config["address"] = spec.address;
    spec.config["baud"] = spec.baud;
    spec.config["data_id"] = dataId ? *dataId : static_cast<int32_t>(index + 1);
    const Json::Value& name = object["name"];
    spec.name = name.isString() ? name.asString() : "device " + std::to_string(index + 1);
    spec.config.removeMember("port");
    return spec;
}

}  // namespace

std::vector<DeviceSpec> ParseDevices(const std::string& jsonText, const std::string& origin,
                                     const LineDefaults& defaults)
{
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(jsonText.data(), jsonText.data() + jsonText.size(), &root, &errors)) {
        std::string first = errors.substr(0, errors.find('\n', errors.find('\n') + 1));
        for (char& c : first) {
            if (c == '\n')
                c = ' ';
        }
        throw InputError(origin + ": not valid JSON: " + first);
    }
    const Json::Value* list = nullptr;
    if (root.isArray())
        list = &root;
    else if (root.isObject() && root.isMember("devices"))
        list = &root["devices"];
    std::vector<DeviceSpec> devices;
    if (list) {
        if (!list->isArray() || list->empty())
            throw InputError(origin + ": \"devices\" must be a non-empty list");
        for (Json::ArrayIndex i = 0; i < list->size(); ++i)
            devices.push_back(ReadDevice((*list)[i], i, false, defaults, origin));
    } else {
        devices.push_back(ReadDevice(root, 0, true, defaults, origin));
    }
    GroupByLine(devices);   // checks addresses and rates per line
    return devices;
}

std::vector<DeviceSpec> LoadDevices(const std::optional<std::string>& configFile, const LineDefaults& defaults)
{
    if (!configFile)
        return ParseDevices("{}", "the command line", defaults);
    std::ifstream in(*configFile);
    if (!in)
        throw InputError("cannot read the configuration " + *configFile);
    std::ostringstream text;
    text << in.rdbuf();
    return ParseDevices(text.str(), *configFile, defaults);
}

std::vector<LineSpec> GroupByLine(const std::vector<DeviceSpec>& devices)
{
    std::vector<LineSpec> lines;
    for (const DeviceSpec& device : devices) {
        LineSpec* line = nullptr;
        for (LineSpec& candidate : lines) {
            if (candidate.port == device.port)
                line = &candidate;
        }
        const std::string portName = device.port.empty() ? "the simulated line" : device.port;
        if (!line) {
            lines.push_back(LineSpec{device.port, device.baud, {}});
            line = &lines.back();
        } else if (line->baud != device.baud) {
            throw InputError(device.name + ": " + portName + " cannot run at " + std::to_string(line->baud) +
                             " and " + std::to_string(device.baud) + " baud");
        }
        for (const DeviceSpec& other : line->devices) {
            if (other.address == device.address)
                throw InputError(device.name + ": address " + std::to_string(device.address) +
                                 " is taken on " + portName + " by " + other.name);
        }
        line->devices.push_back(device);
    }
    return lines;
}

}  // namespace velta36cli
