// Every key a site configuration file may hold, where it may stand, and
// what it does: the one table the reader checks a file against and that
// docs/configuration.md documents row for row (a test compares the two).
#ifndef VELTA36_SITE_CONFIG_KEYS_H
#define VELTA36_SITE_CONFIG_KEYS_H

#include <string>
#include <vector>

namespace velta36site {

// Where a key stands: the root object around a list of devices, a
// device's object, its "appSetting" object, or one signal entry of its
// "thresholdSetting" object (whose own keys are signal names, not checked).
enum class ConfigPlace { Root, Device, AppSetting, Signal };

struct ConfigKey {
    ConfigPlace place;
    const char* name;
    const char* meaning;   // one line, as docs/configuration.md says it
};

const std::vector<ConfigKey>& ConfigKeys();

// "root", "device", "appSetting", "signal": the place's name in the docs
// table and in messages.
const char* ConfigPlaceName(ConfigPlace place);

bool IsConfigKey(ConfigPlace place, const std::string& name);

// The known key meant by an unknown one, as a hint for the message: a key
// of that name that belongs in another place ("it belongs in
// \"appSetting\""), or the closest key of these places (a letter left out,
// added, changed or two swapped, a different case: "did you mean
// \"address\"?").
// Empty when nothing is close.
std::string SuggestConfigKey(const std::vector<ConfigPlace>& places, const std::string& name);

}  // namespace velta36site

#endif
