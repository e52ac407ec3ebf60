#include "discovery.h"

#include <json/json.h>

#ifndef VELTA36_VERSION
#define VELTA36_VERSION "0"
#endif

namespace velta36up {

namespace {

std::string Compact(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

class DeviceDiscovery {
public:
    DeviceDiscovery(const std::string& prefix, const Topics& topics, const std::string& site,
                    const DeviceInfo& device)
        : prefix_(prefix), site_(site), device_(device)
    {
        const std::string key = "velta36_" + site + "_" + device.id;
        deviceBlock_["identifiers"].append(key);
        deviceBlock_["name"] = device.name;
        deviceBlock_["manufacturer"] = "velta36";
        deviceBlock_["model"] = std::string("access controller, ") + (device.doors == 2 ? "two doors" : "one door");
        deviceBlock_["serial_number"] = site + "/" + device.id;
        origin_["name"] = "velta36";
        origin_["sw_version"] = VELTA36_VERSION;
        // The site and the device both: a stopped site's last will says
        // offline, a controller whose rounds time out says so in its state.
        Json::Value whole(Json::objectValue);
        whole["topic"] = topics.status();
        whole["payload_available"] = "online";
        whole["payload_not_available"] = "offline";
        Json::Value controller(Json::objectValue);
        controller["topic"] = topics.state(device.id);
        controller["value_template"] = "{{ 'online' if value_json.online else 'offline' }}";
        controller["payload_available"] = "online";
        controller["payload_not_available"] = "offline";
        availability_.append(whole);
        availability_.append(controller);
    }

    // A component's configuration with what every one carries.
    Json::Value entity(const std::string& object, const std::string& name)
    {
        Json::Value config(Json::objectValue);
        config["name"] = name;
        config["unique_id"] = "velta36_" + site_ + "_" + device_.id + "_" + object;
        config["object_id"] = site_ + "_" + device_.id + "_" + object;
        config["device"] = deviceBlock_;
        config["origin"] = origin_;
        config["availability"] = availability_;
        config["availability_mode"] = "all";
        return config;
    }

    DiscoveryMessage message(const std::string& component, const std::string& object, const Json::Value& config)
    {
        return DiscoveryMessage{prefix_ + "/" + component + "/" + site_ + "/" + device_.id + "_" + object + "/config",
                                Compact(config)};
    }

private:
    const std::string& prefix_;
    const std::string& site_;
    const DeviceInfo& device_;
    Json::Value deviceBlock_{Json::objectValue};
    Json::Value origin_{Json::objectValue};
    Json::Value availability_{Json::arrayValue};
};

}  // namespace

const std::vector<std::string>& EventTypeNames()
{
    static const std::vector<std::string> names = {"granted_entry", "granted_exit", "unknown_card", "refused_card",
                                                   "exit_button",   "break_in",     "alarm_end",    "power_off",
                                                   "power_on",      "other"};
    return names;
}

std::vector<DiscoveryMessage> DiscoveryFor(const std::string& discoveryPrefix, const Topics& topics,
                                           const std::string& site, const DeviceInfo& device, bool openAllowed)
{
    DeviceDiscovery d(discoveryPrefix, topics, site, device);
    const std::string state = topics.state(device.id);
    std::vector<DiscoveryMessage> messages;
    for (int door = 1; door <= device.doors; ++door) {
        const std::string n = std::to_string(door);
        Json::Value sensor = d.entity("door" + n, "Door " + n);
        sensor["state_topic"] = state;
        sensor["value_template"] = "{{ value_json.door" + n + " }}";
        sensor["payload_on"] = "open";
        sensor["payload_off"] = "closed";
        sensor["device_class"] = "door";
        messages.push_back(d.message("binary_sensor", "door" + n, sensor));
        if (openAllowed) {
            // A button, not a lock: the controller releases the door for a
            // moment and locks it again itself, so there is no lock state to
            // show or keep, and nothing retained that could open it again.
            Json::Value button = d.entity("open_door" + n, "Open door " + n);
            button["command_topic"] = topics.press(device.id, door);
            button["payload_press"] = "PRESS";
            button["retain"] = false;
            button["qos"] = 1;
            messages.push_back(d.message("button", "open_door" + n, button));
        }
    }
    Json::Value event = d.entity("access", "Access");
    event["state_topic"] = topics.event(device.id);
    for (const std::string& type : EventTypeNames())
        event["event_types"].append(type);
    event["value_template"] =
        "{\"event_type\":{{ value_json.type_name | tojson }},\"card\":{{ value_json.card | tojson }},"
        "\"channel\":{{ value_json.channel }},\"reason\":{{ value_json.reason | tojson }},"
        "\"time\":{{ value_json.time | tojson }},\"id\":{{ value_json.id | tojson }}}";
    messages.push_back(d.message("event", "access", event));

    // Diagnostics, all from the state.
    const struct {
        const char* component;
        const char* object;
        const char* name;
        const char* valueTemplate;
        const char* classKey;
        const char* classValue;
    } diagnostics[] = {
        {"binary_sensor", "database_fault", "Database fault", "{{ 'ON' if value_json.database_fault else 'OFF' }}",
         "device_class", "problem"},
        {"sensor", "last_round", "Last round", "{{ value_json.last_round }}", "device_class", "timestamp"},
        {"sensor", "events_stored", "Events stored", "{{ value_json.events_stored }}", "state_class",
         "total_increasing"},
    };
    for (const auto& diagnostic : diagnostics) {
        Json::Value config = d.entity(diagnostic.object, diagnostic.name);
        config["state_topic"] = state;
        config["value_template"] = diagnostic.valueTemplate;
        config[diagnostic.classKey] = diagnostic.classValue;
        config["entity_category"] = "diagnostic";
        messages.push_back(d.message(diagnostic.component, diagnostic.object, config));
    }
    return messages;
}

}  // namespace velta36up
