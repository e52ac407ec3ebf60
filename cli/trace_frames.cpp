#include "trace_frames.h"

#include <cstdio>
#include <ctime>

#include "refhost/line_frames.h"

namespace velta36cli {

std::string EscapedFrame(const std::string& bytes)
{
    std::string text;
    for (char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            text += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\x%02X", byte);
            text += escape;
        }
    }
    return text;
}

std::string ClockTime(std::chrono::system_clock::time_point when)
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
    return stamp;
}

namespace {

std::string Line(std::chrono::system_clock::time_point when, const std::string& device, bool sent,
                 const std::string& note, const std::string& bytes)
{
    return ClockTime(when) + " " + device + (sent ? " -> " : " <- ") + (note.empty() ? "" : "(" + note + ") ") +
           EscapedFrame(bytes);
}

}  // namespace

void TraceFrames::flush(Pending& pending, bool sent, const char* note, std::vector<std::string>& lines)
{
    if (!pending.bytes.empty())
        lines.push_back(Line(pending.when, pending.device, sent, note, pending.bytes));
    pending.bytes.clear();
}

std::vector<std::string> TraceFrames::add(const refhost::TraceRecord& record)
{
    const bool sent = record.direction == refhost::TraceRecord::Direction::Sent;
    std::vector<std::string> lines;
    // The line is half duplex: a command sent ends whatever was coming in.
    if (sent)
        flush(pending_[{record.line, false}], false, "incomplete", lines);
    Pending& pending = pending_[{record.line, sent}];
    for (unsigned char byte : record.bytes) {
        if (pending.bytes.empty()) {
            pending.when = record.when;
            pending.device = record.device;
        }
        pending.bytes += static_cast<char>(byte);
        if (byte != '/')
            continue;
        if (sent) {
            flush(pending, true, "", lines);
            continue;
        }
        const std::size_t start = pending.bytes.find_first_of("Ah");
        if (start != 0) {
            Pending noise{pending.when, pending.device, pending.bytes.substr(0, start)};
            flush(noise, false, "noise", lines);
            pending.bytes.erase(0, start == std::string::npos ? pending.bytes.size() : start);
        }
        const bool data = !pending.bytes.empty() && pending.bytes[0] == 'A';
        flush(pending, false, data && !refhost::DataReplyValid(pending.bytes) ? "bad checksum" : "", lines);
    }
    return lines;
}

std::vector<std::string> TraceFrames::timedOut(const std::string& device, std::chrono::system_clock::time_point when)
{
    std::vector<std::string> lines;
    for (auto& entry : pending_) {
        if (!entry.first.second && entry.second.device == device)
            flush(entry.second, false, "incomplete", lines);
    }
    lines.push_back(ClockTime(when) + " " + device + " -- timeout: no answer");
    return lines;
}

}  // namespace velta36cli
