// velta36 open-door / configure / add-card / delete-card: one control
// command through the plug-in, driven to its end, then the result query.
#include "commands.h"

namespace velta36cli {

namespace {

std::size_t ChooseDevice(const HostSession& session, const LineOptions& options)
{
    const std::vector<DeviceSpec>& devices = session.devices();
    if (devices.size() == 1)
        return 0;
    if (options.address) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (devices[i].address == *options.address)
                return i;
        }
        throw InputError("no configured device has address " + std::to_string(*options.address));
    }
    throw InputError("the configuration names several devices: choose one with --address");
}

}  // namespace

int ControlCommand(const LineOptions& options, const ControlRequest& request, Console& console)
{
    refhost::Scheduler::Options schedule;
    schedule.poll = false;   // the command alone, no polling rounds
    HostSession session(options, schedule, console, false);
    const std::size_t device = ChooseDevice(session, options);
    const std::string where = session.placeOf(device);

    session.scheduler().start();
    std::future<refhost::ControlOutcome> pending =
        session.scheduler().submitControl(device, request.code, request.argument);
    refhost::ControlOutcome outcome;
    try {
        outcome = pending.get();
    } catch (const std::exception& error) {
        console.error(request.what + " failed: " + error.what());
        return kExitFailed;
    }
    const uint64_t received = session.scheduler().progress()[device].bytesReceived;
    session.scheduler().stop();
    session.scheduler().wait();

    if (outcome.ioResult == -1) {
        console.error(request.what + ": the plug-in refused the command's argument");
        return kExitBadInput;
    }
    if (!outcome.started) {
        console.error(request.what + ": the plug-in sent nothing to the controller");
        return kExitFailed;
    }
    if (outcome.controlResult == 1) {
        console.line("done: " + request.what + " (" + where + ")");
        return session.captureFailed() ? kExitFailed : kExitOk;
    }
    if (received == 0)
        console.error(request.what + ": no answer from the controller (" + where + ")");
    else if (outcome.timedOut)
        console.error(request.what + ": the controller refused the command or stopped answering (" + where + ")");
    else
        console.error(request.what + ": the controller refused the command (" + where + ")");
    return kExitFailed;
}

}  // namespace velta36cli
