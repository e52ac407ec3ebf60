// Text the tool prints: event lines and tables, door states.
#ifndef VELTA36_CLI_OUTPUT_FORMAT_H
#define VELTA36_CLI_OUTPUT_FORMAT_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "door_states.h"
#include "event_database.h"

namespace velta36cli {

// The bytes as ASCII, '.' for anything outside printable ASCII.
std::string PrintableAscii(const std::string& bytes);

// "2024-03-05 08:01:00  ch 1  type 1  card 00001234  刷卡进门成功"
std::string EventLine(const velta36site::StoredEvent& event);

// `velta36 events` for people: a header, then per row the time, the
// device (data id, and its name where the configuration gives one), the
// channel, the event type's name in English, the card and the stored
// reason, in columns as wide as their widest entry.
//   time                 device     ch  event          card      reason
//   2024-03-05 08:01:00  101 front  1   granted in     00001234  刷卡进门成功
std::vector<std::string> EventTable(const std::vector<velta36site::StoredEvent>& rows,
                                    const std::function<std::string(int64_t dataId)>& deviceName);

// Export forms of a row, under the table's own column names: a CSV header
// and line (RFC 4180 quoting, an empty field for a row without a time),
// and a JSON object on one line (null for no time; text outside ASCII as
// \u escapes, so every line is plain ASCII whatever bytes a card number
// holds). After the table's columns come "Device" (the device's name;
// empty, or null in JSON, where unknown) and "TypeName" (EventTypeName),
// so readers of the earlier columns by place are not disturbed.
std::string EventCsvHeader();
std::string EventCsvLine(const velta36site::StoredEvent& event, const std::string& device = "");
std::string EventJsonLine(const velta36site::StoredEvent& event, const std::string& device = "");

// "door 1 open, door 2 closed" (door 2 only for two doors); "doors not
// reported yet" for none.
std::string DoorStatesText(int32_t doors, const std::optional<velta36site::DoorStates>& states);

}  // namespace velta36cli

#endif
