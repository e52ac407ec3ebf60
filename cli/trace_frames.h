// What `--trace` prints of a line: whole frames, not the chunks the port
// hands over (at 9600 baud a reply arrives a few bytes at a time). Chunks
// of one line and direction are gathered until a frame ends with '/';
// bytes received before a reply's start ('A' or 'h') are marked as noise,
// a data reply with a wrong checksum as such, and what was left unfinished
// when the host gave up waiting as incomplete, followed by the timeout.
//   14:07:05.123 front -> @1q0;/
//   14:07:05.180 front <- (noise) \x91\xFF
//   14:07:05.181 front <- A1...Ip`a/
//   14:07:06.002 front -- timeout: no answer
#ifndef VELTA36_CLI_TRACE_FRAMES_H
#define VELTA36_CLI_TRACE_FRAMES_H

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "refhost/scheduler.h"

namespace velta36cli {

class TraceFrames {
public:
    // The lines to print for this chunk (none until a frame is whole).
    std::vector<std::string> add(const refhost::TraceRecord& record);
    // The host ended the device's exchange for silence: what it had
    // received so far, then the timeout line.
    std::vector<std::string> timedOut(const std::string& device, std::chrono::system_clock::time_point when);

private:
    struct Pending {
        std::chrono::system_clock::time_point when;
        std::string device;
        std::string bytes;
    };
    void flush(Pending& pending, bool sent, const char* note, std::vector<std::string>& lines);

    std::map<std::pair<std::size_t, bool>, Pending> pending_;   // by line, sent
};

// The bytes as text: printable ASCII as it is, anything else as \xNN.
std::string EscapedFrame(const std::string& bytes);

// "14:07:05.123", local time.
std::string ClockTime(std::chrono::system_clock::time_point when);

}  // namespace velta36cli

#endif
