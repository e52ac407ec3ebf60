// velta36 events: the stored events, newest first, straight from SQLite, as
// a table for reading (with a header, the device and the event type's name)
// or as CSV or JSON lines for other systems; --config names the devices. Every
// option is checked before the database is opened, so bad input prints
// one line and nothing else.
#include <map>

#include "commands.h"
#ifdef VELTA36_HAVE_COLLECTOR
#include "central_events_listing.h"
#endif
#include "event_database.h"
#include "output_format.h"

namespace velta36cli {

namespace {

using velta36site::EventFilter;
using velta36site::EventReader;
using velta36site::StoredEvent;

// Channels: 0 the controller, 1 and 2 the doors (or readers), 3 and 4 the
// exit buttons.
const int32_t kMaxChannel = 4;
// Event-type codes a stored event can carry (7 and 8 are no code).
bool IsEventType(int32_t code)
{
    return (code >= 0 && code <= 6) || (code >= 9 && code <= 15);
}

std::optional<std::string> TimeOption(const char* option, const std::optional<std::string>& text,
                                      std::optional<std::string> (*normalise)(const std::string&))
{
    if (!text)
        return std::nullopt;
    std::optional<std::string> time = normalise(*text);
    if (!time)
        throw InputError(std::string(option) + " \"" + *text + "\" is not a time YYYY-MM-DD[ hh:mm[:ss]]");
    return time;
}

// The configuration's devices by data id; none without --config.
std::map<int64_t, std::string> DeviceNames(const std::optional<std::string>& config)
{
    std::map<int64_t, std::string> names;
    if (!config)
        return names;
    velta36site::SiteOptions options;
    options.config = config;
    for (const velta36site::DeviceSpec& device : velta36site::ReadSiteConfig(options).devices)
        names[device.identity.dataId] = device.identity.name;
    return names;
}

// --device: a data id, or a device's name in the configuration.
int64_t DeviceOption(const std::string& value, const std::map<int64_t, std::string>& names,
                     const std::optional<std::string>& config)
{
    if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos && value.size() < 10)
        return std::stoll(value);
    std::string known;
    for (const auto& device : names) {
        if (device.second == value)
            return device.first;
        known += (known.empty() ? "" : ", ") + device.second;
    }
    if (!config)
        throw InputError("--device \"" + value + "\" is not a data id (a device's name needs --config)");
    throw InputError("--device \"" + value + "\" is not a device of " + *config + " (" + known + ")");
}

}  // namespace

int EventsCommand(const EventsOptions& options, Console& console)
{
    if (options.format != "table" && options.format != "csv" && options.format != "json")
        throw InputError("--format \"" + options.format + "\" is not one of table, csv, json");
    EventFilter filter;
    if (options.limit && *options.limit <= 0)
        throw InputError("--limit must be a positive number");
    filter.limit = options.limit.value_or(options.format == "table" ? 20 : -1);
    filter.since = TimeOption("--since", options.since, velta36site::NormaliseTime);
    filter.until = TimeOption("--until", options.until, velta36site::NormaliseUntil);
    if (filter.since && filter.until && *filter.until < *filter.since)
        throw InputError("--until " + *options.until + " comes before --since " + *options.since);
    if (options.card && options.card->size() != 8)
        throw InputError("--card \"" + *options.card + "\" is not a card number of 8 characters");
    filter.cardNo = options.card;
    for (int32_t channel : options.channels) {
        if (channel < 0 || channel > kMaxChannel)
            throw InputError("--channel " + std::to_string(channel) + " is out of range (0 to 4)");
        filter.channels.push_back(channel);
    }
    for (int32_t type : options.types) {
        if (!IsEventType(type))
            throw InputError("--type " + std::to_string(type) + " is not an event type (0 to 6, 9 to 15)");
        filter.types.push_back(type);
    }

    if (options.db) {
#ifdef VELTA36_HAVE_COLLECTOR
        return CentralEventsListing(options, filter, console);
#else
        throw InputError("--db: this build of velta36 has no PostgreSQL support");
#endif
    }
    if (!options.sites.empty())
        throw InputError("--site lists the central database: give --db too");
    const std::map<int64_t, std::string> names = DeviceNames(options.config);
    for (const std::string& device : options.devices)
        filter.dataIds.push_back(DeviceOption(device, names, options.config));
    auto nameOf = [&names](int64_t dataId) {
        const auto found = names.find(dataId);
        return found == names.end() ? std::string() : found->second;
    };

    EventReader reader(options.dir + "/" + velta36site::kDatabaseFile);
    const std::vector<StoredEvent> rows = reader.newest(filter);
    if (options.format == "csv") {
        console.line(EventCsvHeader());
        for (const StoredEvent& row : rows)
            console.line(EventCsvLine(row, nameOf(row.dataId)));
    } else if (options.format == "json") {
        for (const StoredEvent& row : rows)
            console.line(EventJsonLine(row, nameOf(row.dataId)));
    } else if (rows.empty()) {
        console.line("no events");
    } else {
        for (const std::string& line : EventTable(rows, nameOf))
            console.line(line);
    }
    return kExitOk;
}

}  // namespace velta36cli
