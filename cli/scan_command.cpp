// velta36 scan: which addresses on a line answer, and with what. Each
// address gets the request the plug-in opens every round with, the door
// status "{", which changes nothing on a controller, and as long to answer
// as a status reply takes at the line's rate plus the controller's
// turnaround.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "line_capture.h"
#include "output_format.h"
#include "refhost/line_frames.h"
#include "refhost/scheduler.h"
#include "stop_signals.h"

namespace velta36cli {

namespace {

using velta36site::CaptureDirection;
using velta36site::LineCapture;

std::string DoorsOfStatus(char status)
{
    const int bits = static_cast<unsigned char>(status) - '0';
    return std::string("door 1 ") + ((bits & 1) ? "closed" : "open") + ", door 2 " +
           ((bits & 2) ? "closed" : "open");
}

// What a reply says, read the way the plug-in reads it: a data reply starts
// at the first 'A', whatever noise came before.
std::string Meaning(int32_t asked, const std::string& reply)
{
    const std::size_t start = reply.find('A');
    if (start == std::string::npos) {
        if (reply[0] == 'n')
            return "refused the status request";
        if (reply[0] == 'h')
            return "acknowledged, but sent no status";
        return "no reply it could read";
    }
    const std::string frame = reply.substr(start);
    const std::string noise =
        start > 0 ? " (after " + std::to_string(start) + (start == 1 ? " byte" : " bytes") + " of noise)"
                  : std::string();
    if (!refhost::DataReplyValid(frame))
        return "a reply with a wrong checksum" + noise;
    if (frame.size() != refhost::kDoorStatusReplyBytes)
        return "a data reply of " + std::to_string(frame.size()) + " bytes, not a door status" + noise;
    std::string text = "door status " + std::string(1, frame[2]) + ": " + DoorsOfStatus(frame[2]) + noise;
    if (frame[1] != refhost::AddressCharacter(asked))
        text += "; the reply names address " + std::to_string(static_cast<unsigned char>(frame[1]) - '0');
    return text;
}

void CheckRange(const char* option, int32_t value, int32_t low, int32_t high)
{
    if (value < low || value > high)
        throw InputError(std::string(option) + " " + std::to_string(value) + " is out of range (" +
                         std::to_string(low) + " to " + std::to_string(high) + ")");
}

}  // namespace

int ScanCommand(const ScanOptions& options, Console& console)
{
    CheckRange("--from", options.from, 0, refhost::kMaxAddress);
    CheckRange("--to", options.to, 0, refhost::kMaxAddress);
    if (options.to < options.from)
        throw InputError("--to " + std::to_string(options.to) + " comes before --from " +
                         std::to_string(options.from));
    CheckRange("--tries", options.tries, 1, 10);
    CheckRange("--wait", options.waitMs, 0, 10000);
    if (!refhost::IsStandardBaud(options.baud))
        throw InputError("baud rate " + std::to_string(options.baud) + " is not a standard rate");

    std::unique_ptr<LineCapture> capture;
    if (options.capture) {
        capture.reset(new LineCapture(*options.capture));
        capture->onFailure([&console](const std::string& why) { console.error(why); });
        capture->addInterface(options.port, "velta36 host side, " + std::to_string(options.baud) +
                                                " baud: scan of addresses " + std::to_string(options.from) +
                                                " to " + std::to_string(options.to));
    }
    refhost::SerialTransport line(options.port, options.baud, options.rs485);
    line.open();

    const std::chrono::milliseconds window = refhost::ReplyTimeout(
        options.baud, refhost::CommandFrame(0, "{").size(), std::chrono::milliseconds(options.waitMs),
        refhost::kDoorStatusReplyBytes);
    // Each address is printed as it answers, so an interrupt loses none.
    InstallStopSignals();
    std::vector<std::pair<int32_t, std::string>> answers;
    auto print = [&console, &answers](int32_t address, const std::string& reply) {
        if (answers.size() == 1)
            console.line("address  reply             what it says");
        char head[32];
        std::snprintf(head, sizeof(head), "%7d  ", address);
        std::string shown = PrintableAscii(reply);
        shown.resize(std::max<std::size_t>(shown.size(), 16), ' ');
        console.line(head + shown + "  " + Meaning(address, reply));
    };
    int32_t last = options.to;
    bool interrupted = false;
    for (int32_t address = options.from; address <= options.to; ++address) {
        if (StopRequests() > 0) {
            interrupted = true;
            last = address - 1;
            break;
        }
        console.progress("scanning address " + std::to_string(address) + " (" + std::to_string(options.from) +
                         " to " + std::to_string(options.to) + "), " + std::to_string(answers.size()) +
                         " answered");
        const std::string note = "scan, address " + std::to_string(address);
        const std::string request = refhost::CommandFrame(address, "{");
        std::string reply;
        for (int32_t attempt = 0; attempt < options.tries && reply.empty(); ++attempt) {
            line.flush();
            const auto sentAt = std::chrono::steady_clock::now();
            line.send(reinterpret_cast<const unsigned char*>(request.data()), request.size());
            if (capture)
                capture->record(0, CaptureDirection::Outbound, std::chrono::system_clock::now(),
                                reinterpret_cast<const unsigned char*>(request.data()), request.size(), note);
            // Like the plug-in, a reply is complete when a chunk ends with '/'.
            while (reply.empty() || reply.back() != '/') {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    sentAt + window - std::chrono::steady_clock::now());
                if (left.count() <= 0)
                    break;
                unsigned char chunk[256];
                const std::size_t n = line.receive(chunk, sizeof(chunk), left);
                if (n > 0 && capture)
                    capture->record(0, CaptureDirection::Inbound, std::chrono::system_clock::now(), chunk, n,
                                    note);
                reply.append(reinterpret_cast<const char*>(chunk), n);
            }
        }
        if (!reply.empty()) {
            answers.emplace_back(address, reply);
            print(address, reply);
        }
    }
    line.close();
    console.clearProgress();

    const std::string range = "addresses " + std::to_string(options.from) + " to " + std::to_string(last);
    const std::string asked = std::to_string(last - options.from + 1);
    if (interrupted) {
        console.line("interrupted: " + std::to_string(answers.size()) + " of " + asked + " addresses answered (" +
                     range + ", " + std::to_string(options.to - last) + " not asked)");
        return kExitInterrupted;
    }
    if (answers.empty()) {
        console.error("no controller answered on " + options.port + " (" + range + ", " +
                      std::to_string(window.count()) + " ms each)");
        return kExitFailed;
    }
    console.line(std::to_string(answers.size()) + " of " + asked + " addresses answered (" + range + " at " +
                 std::to_string(options.baud) + " baud, " + std::to_string(window.count()) + " ms each)");
    return capture && capture->failed() ? kExitFailed : kExitOk;
}

}  // namespace velta36cli
