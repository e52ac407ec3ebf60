#include "site_config.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "config_keys.h"
#include "input_error.h"
#include "plugin_path.h"
#include "strict_json.h"
#include "refhost/line_frames.h"

namespace velta36site {

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

// The file's text, for the line a key stands on; empty for the command
// line's defaults, which have no file.
struct Source {
    std::string origin;
    std::string text;
};

// Every member of `object` must be a key of `place`; a misspelled one is
// named with its line and the key meant. `hints`: where else to look for
// the key meant.
void CheckKeys(const Json::Value& object, ConfigPlace place, const std::vector<ConfigPlace>& hints,
               const std::string& where, const std::string& inside, const Source& source)
{
    for (const std::string& name : object.getMemberNames()) {
        if (IsConfigKey(place, name))
            continue;
        const int line = LineOfMember(source.text, object, name);
        std::vector<ConfigPlace> places{place};
        places.insert(places.end(), hints.begin(), hints.end());
        const std::string hint = SuggestConfigKey(places, name);
        throw InputError(where + (line > 0 ? ", line " + std::to_string(line) : std::string()) +
                         ": unknown key \"" + name + "\"" + inside + (hint.empty() ? "" : " (" + hint + ")"));
    }
}

void CheckSettingKeys(const Json::Value& device, const std::string& where, const Source& source)
{
    const Json::Value& app = device["appSetting"];
    if (app.isObject())
        CheckKeys(app, ConfigPlace::AppSetting, {ConfigPlace::Device}, where, " in \"appSetting\"", source);
    const Json::Value& thresholds = device["thresholdSetting"];
    if (!thresholds.isObject())
        return;
    for (const std::string& signal : thresholds.getMemberNames()) {
        const Json::Value& entry = thresholds[signal];
        const std::string inside = " in \"thresholdSetting\" \"" + signal + "\"";
        if (!entry.isObject()) {
            const int line = LineOfMember(source.text, thresholds, signal);
            throw InputError(where + (line > 0 ? ", line " + std::to_string(line) : std::string()) + ": \"" +
                             signal + "\" of \"thresholdSetting\" must be an object");
        }
        CheckKeys(entry, ConfigPlace::Signal, {}, where, inside, source);
    }
}

DeviceSpec ReadDevice(const Json::Value& object, std::size_t place, bool single, const SiteOptions& defaults,
                      const Source& source)
{
    const std::string& origin = source.origin;
    const bool fromFile = defaults.config.has_value();
    const std::string where = single ? origin : origin + ", device " + std::to_string(place + 1);
    if (!object.isObject())
        throw InputError(where + ": a device's configuration must be a JSON object");
    // A single device's object stands at the root, beside "mqtt".
    CheckKeys(object, ConfigPlace::Device, {ConfigPlace::Root}, where, "", source);
    CheckSettingKeys(object, where, source);
    DeviceSpec spec;
    spec.settings = object;
    DeviceIdentity& device = spec.identity;

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
    device.address = pick(defaults.address, ReadInteger(object, "address", where), 0);
    device.baud = pick(defaults.baud, ReadInteger(object, "baud", where), 9600);
    // In a file every device names its line: a device left without one
    // once polled the built-in simulated controller, and its made-up events
    // went into the site's database. The simulator is asked for by name.
    const Json::Value& port = object["port"];
    if (!port.isNull() && !port.isString())
        throw InputError(where + ": \"port\" must be a device path, or \"" + kSimulatorPort + "\"");
    if (single && defaults.port)
        device.port = *defaults.port;
    else if (port.isString())
        device.port = port.asString();
    else if (defaults.port)
        device.port = *defaults.port;
    else if (fromFile)
        throw InputError(where + ": \"port\" is missing (a device path, or \"" + kSimulatorPort + "\")");
    else
        device.port = kSimulatorPort;
    // An empty port names no device; it never stands for the simulator.
    if (device.port.empty())
        throw InputError(where + ": \"port\" is empty (a device path, or \"" + kSimulatorPort + "\")");

    if (device.address < 0 || device.address > refhost::kMaxAddress)
        throw InputError(where + ": address " + std::to_string(device.address) + " is out of range (0 to 207)");
    if (!refhost::IsStandardBaud(device.baud))
        throw InputError(where + ": baud rate " + std::to_string(device.baud) + " is not a standard rate");

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
            device.doors = *doors;
        }
    }
    const Json::Value& thresholds = object["thresholdSetting"];
    if (!thresholds.isNull() && !thresholds.isObject())
        throw InputError(where + ": \"thresholdSetting\" must be an object");

    const std::optional<int32_t> dataId = ReadInteger(object, "data_id", where);
    const int32_t id = dataId ? *dataId : static_cast<int32_t>(place + 1);
    device.dataId = id;
    spec.settings["address"] = device.address;
    spec.settings["baud"] = device.baud;
    spec.settings["data_id"] = id;
    const Json::Value& name = object["name"];
    if (!name.isNull() && !name.isString())
        throw InputError(where + ": \"name\" must be a text");
    device.name = name.isString() ? name.asString() : "device " + std::to_string(place + 1);
    spec.settings.removeMember("port");
    return spec;
}

// source.text empty: no file, the command line's defaults alone.
std::vector<DeviceSpec> ParseDevices(const Source& source, const SiteOptions& defaults, Json::Value& mqtt)
{
    const std::string& origin = source.origin;
    Json::Value root = source.text.empty() ? Json::Value(Json::objectValue) : ParseStrictJson(source.text, origin);
    if (root.isObject() && root.isMember("mqtt")) {
        mqtt = root["mqtt"];
        if (!mqtt.isObject())
            throw InputError(origin + ": \"mqtt\" must be an object");
        root.removeMember("mqtt");   // not a device's setting
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
        if (root.isObject())
            CheckKeys(root, ConfigPlace::Root, {ConfigPlace::Device}, origin, " at the root", source);
        for (Json::ArrayIndex i = 0; i < list->size(); ++i)
            devices.push_back(ReadDevice((*list)[i], i, false, defaults, source));
    } else {
        devices.push_back(ReadDevice(root, 0, true, defaults, source));
    }
    return devices;
}

// Lines in the order their first device comes; a device's index is its
// place once the devices are grouped by line (the scheduler's numbering).
std::vector<LineSpec> GroupByLine(std::vector<DeviceSpec>& devices)
{
    std::vector<LineSpec> lines;
    std::vector<std::vector<DeviceSpec>> members;
    for (const DeviceSpec& spec : devices) {
        const DeviceIdentity& device = spec.identity;
        std::size_t line = 0;
        while (line < lines.size() && lines[line].identity.port != device.port)
            ++line;
        const std::string portName = device.port == kSimulatorPort ? "the simulated line" : device.port;
        if (line == lines.size()) {
            lines.push_back(LineSpec{LineIdentity{line, device.port, device.baud}, {}});
            members.emplace_back();
        } else if (lines[line].identity.baud != device.baud) {
            throw InputError(device.name + ": " + portName + " cannot run at " +
                             std::to_string(lines[line].identity.baud) + " and " + std::to_string(device.baud) +
                             " baud");
        }
        for (const DeviceSpec& other : members[line]) {
            if (other.identity.address == device.address)
                throw InputError(device.name + ": address " + std::to_string(device.address) + " is taken on " +
                                 portName + " by " + other.identity.name);
        }
        members[line].push_back(spec);
    }
    devices.clear();
    for (std::size_t line = 0; line < lines.size(); ++line) {
        for (DeviceSpec& spec : members[line]) {
            spec.identity.index = devices.size();
            spec.identity.line = line;
            lines[line].devices.push_back(spec.identity);
            devices.push_back(spec);
        }
    }
    return lines;
}

UserPath Absolute(const std::string& path)
{
    return UserPath{path, path.empty() ? path : std::filesystem::absolute(path).string()};
}

}  // namespace

SiteConfig ReadSiteConfig(const SiteOptions& options)
{
    SiteConfig config;
    if (!options.config) {
        config.devices = ParseDevices(Source{"the command line", ""}, options, config.mqtt);
    } else {
        std::ifstream in(*options.config);
        if (!in)
            throw InputError("cannot read the configuration " + *options.config);
        std::ostringstream text;
        text << in.rdbuf();
        if (text.str().empty())
            throw InputError(*options.config + ": empty (a device's object or a list of them)");
        config.devices = ParseDevices(Source{*options.config, text.str()}, options, config.mqtt);
    }
    config.lines = GroupByLine(config.devices);
    config.dir = Absolute(options.dir);
    if (options.plugin) {
        config.plugin = Absolute(*options.plugin).absolute;
    } else {
        for (const std::string& candidate : PluginCandidates())
            config.pluginCandidates.push_back(Absolute(candidate).absolute);
    }
    if (options.capture)
        config.capture = Absolute(*options.capture);
    config.trace = options.trace;
    config.rs485 = options.rs485;
    return config;
}

}  // namespace velta36site
