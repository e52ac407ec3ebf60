#include "config_keys.h"

#include <algorithm>
#include <cctype>

namespace velta36site {

const std::vector<ConfigKey>& ConfigKeys()
{
    static const std::vector<ConfigKey> keys = {
        {ConfigPlace::Root, "devices", "the list of device objects"},
        {ConfigPlace::Root, "mqtt", "the MQTT upstream's settings (docs/mqtt.md); also beside a single device's keys"},
        {ConfigPlace::Device, "port", "serial device of the controller's line, or \"simulator\" for the built-in "
                                      "simulated controller; required"},
        {ConfigPlace::Device, "address", "controller bus address, 0 to 207 (default 0)"},
        {ConfigPlace::Device, "baud", "line speed, a standard rate (default 9600); one rate per line"},
        {ConfigPlace::Device, "data_id", "the device's data id, stored with each event (default: its place, from 1)"},
        {ConfigPlace::Device, "name", "the device's name in messages (default \"device N\")"},
        {ConfigPlace::Device, "appSetting", "object: the controller's own settings, read by the plug-in"},
        {ConfigPlace::Device, "thresholdSetting", "object: one signal entry per signal name"},
        {ConfigPlace::AppSetting, "doors", "1 or 2 doors (default 1)"},
        {ConfigPlace::AppSetting, "card_type", "card type digit sent by `configure` (default 1)"},
        {ConfigPlace::AppSetting, "door1_delay", "door 1 relay delay sent by `configure` (default 3)"},
        {ConfigPlace::AppSetting, "door2_delay", "door 2 relay delay sent by `configure` (default 3)"},
        {ConfigPlace::AppSetting, "b_mode", "settings mode; 3 reads \"thresholdSetting\" (default 1)"},
        {ConfigPlace::Signal, "SignalName", "the signal's display name"},
        {ConfigPlace::Signal, "NMAlarmID", "first part of the alarm routing text"},
        {ConfigPlace::Signal, "ID", "second part of the alarm routing text"},
        {ConfigPlace::Signal, "SignalNumber", "third part of the alarm routing text"},
        {ConfigPlace::Signal, "Threshold", "the host's threshold for the signal"},
        {ConfigPlace::Signal, "Level", "the host's alarm level for the signal"},
    };
    return keys;
}

const char* ConfigPlaceName(ConfigPlace place)
{
    switch (place) {
    case ConfigPlace::Root:
        return "root";
    case ConfigPlace::Device:
        return "device";
    case ConfigPlace::AppSetting:
        return "appSetting";
    case ConfigPlace::Signal:
        return "signal";
    }
    return "";
}

bool IsConfigKey(ConfigPlace place, const std::string& name)
{
    for (const ConfigKey& key : ConfigKeys()) {
        if (key.place == place && name == key.name)
            return true;
    }
    return false;
}

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Edits (insert, delete, change, swap two neighbours) from one text to the
// other, ignoring case.
std::size_t Distance(const std::string& typed, const std::string& known)
{
    const std::string a = Lower(typed), b = Lower(known);
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::string SuggestConfigKey(const std::vector<ConfigPlace>& places, const std::string& name)
{
    // A key of that very name elsewhere was put in the wrong object.
    for (const ConfigKey& key : ConfigKeys()) {
        if (name == key.name)
            return std::string("it belongs in ") +
                   (key.place == ConfigPlace::Root     ? std::string("the root object")
                    : key.place == ConfigPlace::Device ? std::string("a device's object")
                    : key.place == ConfigPlace::Signal ? std::string("a \"thresholdSetting\" entry")
                                                       : std::string("\"") + ConfigPlaceName(key.place) + "\"");
    }
    // Up to one edit in three letters, at least one: "adress", "appSettings",
    // "doors1_delay" are meant; "foo" is not "ID".
    const std::size_t allowed = std::max<std::size_t>(1, name.size() / 3);
    std::string best;
    std::size_t bestDistance = allowed + 1;
    for (const ConfigKey& key : ConfigKeys()) {
        if (std::find(places.begin(), places.end(), key.place) == places.end())
            continue;
        const std::size_t distance = Distance(name, key.name);
        if (distance < bestDistance) {
            best = std::string("did you mean \"") + key.name + "\"?";
            bestDistance = distance;
        }
    }
    return best;
}

}  // namespace velta36site
