#include "output_format.h"

#include <cstdio>
#include <ctime>

#include <json/json.h>

namespace velta36cli {

std::string TraceLine(std::chrono::system_clock::time_point when, const std::string& device, bool sent,
                      const std::vector<unsigned char>& bytes)
{
    const auto sinceEpoch = when.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds);
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm local{};
    localtime_r(&whole, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis.count()));
    std::string hex;
    for (unsigned char byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof(pair), "%02X ", byte);
        hex += pair;
    }
    if (!hex.empty())
        hex.pop_back();
    return std::string(stamp) + " " + device + (sent ? " -> " : " <- ") + hex + "  |" +
           PrintableAscii(std::string(bytes.begin(), bytes.end())) + "|";
}

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

std::string EventCsvHeader()
{
    return "id,data_id,EventTime,ReaderChannel,EventType,CardNo,Reason";
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

std::string EventCsvLine(const velta36site::StoredEvent& event)
{
    return std::to_string(event.id) + "," + std::to_string(event.dataId) + "," +
           CsvField(event.eventTime.value_or("")) + "," + std::to_string(event.readerChannel) + "," +
           std::to_string(event.eventType) + "," + CsvField(event.cardNo) + "," + CsvField(event.reason);
}

std::string EventJsonLine(const velta36site::StoredEvent& event)
{
    Json::Value row(Json::objectValue);
    row["id"] = static_cast<Json::Int64>(event.id);
    row["data_id"] = static_cast<Json::Int64>(event.dataId);
    row["EventTime"] = event.eventTime ? Json::Value(*event.eventTime) : Json::Value();
    row["ReaderChannel"] = static_cast<Json::Int64>(event.readerChannel);
    row["EventType"] = static_cast<Json::Int64>(event.eventType);
    row["CardNo"] = event.cardNo;
    row["Reason"] = event.reason;
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
