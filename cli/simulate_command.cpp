// velta36 simulate: simulated controllers on a new pseudo-terminal, for
// `velta36 run --port` or any other program to talk to.
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "commands.h"
#include "line_capture.h"
#include "simulated_line.h"
#include "stop_signals.h"

namespace velta36cli {

namespace {

using velta36site::CaptureDirection;
using velta36site::LineCapture;

void CheckRate(const char* name, double rate)
{
    if (!(rate >= 0 && rate <= 1))
        throw InputError(std::string("--") + name + " must be a rate from 0 to 1");
}

std::string AddressList(const std::vector<int32_t>& addresses)
{
    std::string text = addresses.size() == 1 ? "address " : "addresses ";
    for (std::size_t i = 0; i < addresses.size(); ++i)
        text += (i > 0 ? ", " : "") + std::to_string(addresses[i]);
    return text;
}

}  // namespace

int SimulateCommand(const SimulateOptions& options, Console& console)
{
    if (options.doors != 1 && options.doors != 2)
        throw InputError("--doors must be 1 or 2");
    if (options.events && (*options.events < 0 || *options.events > 100000))
        throw InputError("--events " + std::to_string(*options.events) + " is out of range (0 to 100000)");
    if (options.seconds && !(*options.seconds > 0))
        throw InputError("--seconds must be more than 0");
    if (options.baud != 0 && !refhost::IsStandardBaud(options.baud))
        throw InputError("--baud " + std::to_string(options.baud) + " is not a standard rate (or 0: unpaced)");
    CheckRate("split", options.split);
    CheckRate("noise", options.noise);
    CheckRate("corrupt", options.corrupt);
    CheckRate("refuse", options.refuse);
    CheckRate("drop", options.drop);
    CheckRate("lose", options.lose);

    std::vector<int32_t> addresses = options.addresses;
    if (addresses.empty())
        addresses.push_back(0);
    std::vector<SimulatedControllerSpec> controllers;
    for (int32_t address : addresses) {
        if (address < 0 || address > refhost::kMaxAddress)
            throw InputError("address " + std::to_string(address) + " is out of range (0 to " +
                             std::to_string(refhost::kMaxAddress) + ")");
        SimulatedControllerSpec spec;
        spec.address = address;
        spec.doors = options.doors;
        spec.events = options.events.value_or(-1);
        spec.seed = options.seed + static_cast<uint64_t>(address);
        spec.faults.splitReply = options.split;
        spec.faults.noiseBeforeReply = options.noise;
        spec.faults.corruptChecksum = options.corrupt;
        spec.faults.refuseCommand = options.refuse;
        spec.faults.dropReply = options.drop;
        spec.faults.loseCommand = options.lose;
        controllers.push_back(spec);
    }
    std::unique_ptr<LineCapture> capture;
    if (options.capture) {
        capture.reset(new LineCapture(*options.capture));
        capture->onFailure([&console](const std::string& why) { console.error(why); });
    }
    // The interface is described once the path is known; a chunk that
    // comes before (nobody knows the path yet, but a guess is possible)
    // waits for it.
    std::mutex describing;
    std::unique_lock<std::mutex> describingLock(describing);
    SimulatedLine::Tap tap;
    if (capture) {
        tap = [&capture, &describing](bool toControllers, const char* data, std::size_t length) {
            std::lock_guard<std::mutex> described(describing);
            // Taken on the controllers' side: commands come in, replies go out.
            capture->record(0, toControllers ? CaptureDirection::Inbound : CaptureDirection::Outbound,
                            std::chrono::system_clock::now(), reinterpret_cast<const unsigned char*>(data),
                            length, "");
        };
    }
    // Declared after what the tap uses, so that its thread stops first.
    SimulatedLine line(controllers, options.baud);
    const std::string path = line.start(tap);
    if (capture)
        capture->addInterface(path, "velta36 simulated controllers, controller side, " + AddressList(addresses) +
                                        (options.baud > 0 ? ", " + std::to_string(options.baud) + " baud"
                                                          : ", unpaced"));
    describingLock.unlock();
    InstallStopSignals();
    console.line(path);
    console.line("simulating " + std::to_string(addresses.size()) + " controller(s) with " +
                 std::to_string(line.eventsSeeded()) + " stored events; interrupt to stop");

    const auto began = std::chrono::steady_clock::now();
    while (StopRequests() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (options.seconds &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() >= *options.seconds)
            break;
    }
    line.stop();
    const int status = capture && capture->failed() ? kExitFailed : kExitOk;
    for (const SimulatedControllerReport& controller : line.report()) {
        console.line("address " + std::to_string(controller.address) + ": " +
                     std::to_string(controller.framesHeard) + " frames heard, " +
                     std::to_string(controller.acknowledged) + " events acknowledged, " +
                     std::to_string(controller.left) + " left, " + std::to_string(controller.cardSlots) +
                     " card slots written, " + std::to_string(controller.faultsInjected) + " faults injected");
    }
    return status;
}

}  // namespace velta36cli
