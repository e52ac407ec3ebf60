#include "output_format.h"

#include <cstdio>
#include <ctime>

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
    std::string ascii;
    for (unsigned char byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof(pair), "%02X ", byte);
        hex += pair;
        ascii += (byte >= 0x20 && byte < 0x7F) ? static_cast<char>(byte) : '.';
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

std::string EventLine(const StoredEvent& event)
{
    char head[96];
    std::snprintf(head, sizeof(head), "%-19s  ch %lld  type %2lld  card %-8s  ",
                  event.eventTime ? event.eventTime->c_str() : "(no time)",
                  static_cast<long long>(event.readerChannel), static_cast<long long>(event.eventType),
                  event.cardNo.c_str());
    return std::string(head) + (event.reason.empty() ? "-" : event.reason);
}

std::string DoorStates(int doors, bool door1Open, bool door2Open)
{
    std::string text = std::string("door 1 ") + (door1Open ? "open" : "closed");
    if (doors == 2)
        text += std::string(", door 2 ") + (door2Open ? "open" : "closed");
    return text;
}

}  // namespace velta36cli
