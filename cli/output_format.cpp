#include "output_format.h"

#include <algorithm>
#include <cstdio>

#include <json/json.h>

#include "event_names.h"

namespace velta36cli {

std::string PrintableAscii(const std::string& bytes)
{
    std::string ascii;
    for (char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        ascii += (byte >= 0x20 && byte < 0x7F) ? c : '.';
    }
    return ascii;
}

std::string EventLine(const velta36site::StoredEvent& event)
{
    char head[96];
    std::snprintf(head, sizeof(head), "%-19s  ch %lld  type %2lld  card %-8s  ",
                  event.eventTime ? event.eventTime->c_str() : "(no time)",
                  static_cast<long long>(event.readerChannel), static_cast<long long>(event.eventType),
                  event.cardNo.c_str());
    return std::string(head) + (event.reason.empty() ? "-" : event.reason);
}

namespace {

// Columns are measured in characters (UTF-8 sequences count once), so
// reasons in Chinese line up as well as names do.
std::size_t Width(const std::string& text)
{
    std::size_t width = 0;
    for (char c : text)
        width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return width;
}

std::string Padded(const std::string& text, std::size_t width)
{
    return text + std::string(width > Width(text) ? width - Width(text) : 0, ' ');
}

}  // namespace

std::vector<std::string> EventTable(const std::vector<velta36site::StoredEvent>& rows,
                                    const std::function<std::string(int64_t dataId)>& deviceName)
{
    std::vector<std::vector<std::string>> cells{{"time", "device", "ch", "event", "card", "reason"}};
    for (const velta36site::StoredEvent& row : rows) {
        const std::string name = deviceName(row.dataId);
        cells.push_back({row.eventTime.value_or("(no time)"),
                         std::to_string(row.dataId) + (name.empty() ? "" : " " + name),
                         std::to_string(row.readerChannel), EventTypeName(row.eventType, row.reason),
                         PrintableAscii(row.cardNo), row.reason.empty() ? "-" : row.reason});
    }
    std::vector<std::size_t> widths(cells[0].size(), 0);
    for (const std::vector<std::string>& line : cells) {
        for (std::size_t i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], Width(line[i]));
    }
    std::vector<std::string> lines;
    for (const std::vector<std::string>& line : cells) {
        std::string text;
        for (std::size_t i = 0; i + 1 < line.size(); ++i)
            text += Padded(line[i], widths[i]) + "  ";
        lines.push_back(text + line.back());
    }
    return lines;
}

std::string EventCsvHeader()
{
    return "id,data_id,EventTime,ReaderChannel,EventType,CardNo,Reason,Device,TypeName";
}

namespace {

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

}  // namespace

std::string EventCsvLine(const velta36site::StoredEvent& event, const std::string& device)
{
    return std::to_string(event.id) + "," + std::to_string(event.dataId) + "," +
           CsvField(event.eventTime.value_or("")) + "," + std::to_string(event.readerChannel) + "," +
           std::to_string(event.eventType) + "," + CsvField(event.cardNo) + "," + CsvField(event.reason) + "," +
           CsvField(device) + "," + CsvField(EventTypeName(event.eventType, event.reason));
}

std::string EventJsonLine(const velta36site::StoredEvent& event, const std::string& device)
{
    Json::Value row(Json::objectValue);
    row["id"] = static_cast<Json::Int64>(event.id);
    row["data_id"] = static_cast<Json::Int64>(event.dataId);
    row["EventTime"] = event.eventTime ? Json::Value(*event.eventTime) : Json::Value();
    row["ReaderChannel"] = static_cast<Json::Int64>(event.readerChannel);
    row["EventType"] = static_cast<Json::Int64>(event.eventType);
    row["CardNo"] = event.cardNo;
    row["Reason"] = event.reason;
    row["Device"] = device.empty() ? Json::Value() : Json::Value(device);
    row["TypeName"] = EventTypeName(event.eventType, event.reason);
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = false;
    return Json::writeString(writer, row);
}

std::string DoorStatesText(int32_t doors, const std::optional<velta36site::DoorStates>& states)
{
    if (!states)
        return "doors not reported yet";
    std::string text = std::string("door 1 ") + (states->door1Open ? "open" : "closed");
    if (doors == 2)
        text += std::string(", door 2 ") + (states->door2Open ? "open" : "closed");
    return text;
}

}  // namespace velta36cli
