// velta36 open-door / configure / add-card / delete-card: one control
// command, handed to the site running in the same folder when one answers
// on its control socket (it holds the line), else submitted to a site of
// our own that polls nothing; driven to its end, then the result query.
#include <functional>

#include "built_in_line.h"
#include "commands.h"
#include "control_socket.h"
#include "open_site.h"
#include "output_format.h"

namespace velta36cli {

namespace {

const velta36site::DeviceIdentity& ChooseDevice(const std::vector<velta36site::DeviceSpec>& devices,
                                                const velta36site::SiteOptions& options)
{
    if (devices.size() == 1)
        return devices.front().identity;
    if (options.address) {
        for (const velta36site::DeviceSpec& device : devices) {
            if (device.identity.address == *options.address)
                return device.identity;
        }
        throw InputError("no configured device has address " + std::to_string(*options.address));
    }
    throw InputError("the configuration names several devices: choose one with --address");
}

// A sequence that did not end in the controller carrying it out: the step
// it stopped at and how. The plug-in takes any reply to a command step
// that is not an acknowledgement "h..." as a refusal.
std::string WhereItStopped(const velta36site::ControlOutcome& outcome)
{
    auto text = [](const std::vector<unsigned char>& bytes) {
        return PrintableAscii(std::string(bytes.begin(), bytes.end()));
    };
    const std::string step = "step " + std::to_string(outcome.framesSent) + " (\"" + text(outcome.lastFrame) + "\")";
    if (outcome.lastReply.empty())
        return step + " got no answer from the controller";
    if (outcome.lastReply.front() != 'h')
        return step + " was refused by the controller (it answered \"" + text(outcome.lastReply) + "\")";
    return step + " got an acknowledgement the plug-in did not take (\"" + text(outcome.lastReply) + "\")";
}

// A refusal is worth another try; silence is not.
bool Refused(const velta36site::ControlOutcome& outcome)
{
    return outcome.error.empty() && outcome.started && !outcome.carriedOut() && !outcome.lastReply.empty() &&
           outcome.lastReply.front() != 'h';
}

int Report(const velta36site::ControlRequest& request, const velta36site::ControlOutcome& outcome,
           const std::string& where, Console& console)
{
    if (!outcome.error.empty()) {
        console.error(request.what + " failed: " + outcome.error);
        return kExitFailed;
    }
    if (outcome.ioResult == -1) {
        console.error(request.what + ": the plug-in refused the command's argument");
        return kExitBadInput;
    }
    if (!outcome.started) {
        console.error(request.what + ": the plug-in sent nothing to the controller");
        return kExitFailed;
    }
    if (outcome.carriedOut()) {
        console.line("done: " + request.what + " (" + where + ")");
        return kExitOk;
    }
    console.error(request.what + ": " + WhereItStopped(outcome) + " (" + where + ")");
    return kExitFailed;
}

// Runs the command up to `tries` times while the controller refuses a step.
velta36site::ControlOutcome Tried(const velta36site::ControlRequest& request, int32_t tries, Console& console,
                                  const std::function<velta36site::ControlOutcome()>& once)
{
    velta36site::ControlOutcome outcome = once();
    for (int32_t attempt = 2; attempt <= tries && Refused(outcome); ++attempt) {
        console.line(request.what + ": " + WhereItStopped(outcome) + "; again from the start (try " +
                     std::to_string(attempt) + " of " + std::to_string(tries) + ")");
        outcome = once();
    }
    return outcome;
}

}  // namespace

int ControlCommand(const velta36site::SiteOptions& options, const velta36site::ControlRequest& request,
                   int32_t tries, Console& console)
{
    if (tries < 1 || tries > 100)
        throw InputError("--tries " + std::to_string(tries) + " is out of range (1 to 100)");
    velta36site::SiteConfig config = ReadLineConfig(options);
    const velta36site::DeviceIdentity chosen = ChooseDevice(config.devices, options);

    // A site running in this folder holds the line: the command goes to it.
    const std::string socket = ControlSocketPath(config.dir.absolute);
    std::string where;
    bool asked = false;
    const velta36site::ControlOutcome remote = Tried(request, tries, console, [&] {
        std::optional<RunningSiteAnswer> answer = AskRunningSite(socket, chosen.port, chosen.address, request);
        if (!answer)
            return velta36site::ControlOutcome();
        asked = true;
        where = answer->place;
        return answer->outcome;
    });
    if (asked) {
        if (options.capture)
            console.line("--capture: the running site holds the line, nothing was captured");
        return Report(request, remote, where + ", through the running site", console);
    }

    config.schedule.poll = false;   // the command alone, no polling rounds
    config.streamEvents = false;
    BuiltInLine builtIn(console, false);
    velta36site::Site site(config);
    site.setLineOpener(builtIn.opener());
    OpenSite(site, console, false);
    const velta36site::DeviceIdentity& device = site.devices().at(chosen.index);

    site.start();
    const velta36site::ControlOutcome outcome =
        Tried(request, tries, console, [&] { return site.submit(device, request).get(); });
    site.stop();
    site.wait();
    const int status = Report(request, outcome, device.place(), console);
    return status == kExitOk && site.captureFailed() ? kExitFailed : status;
}

}  // namespace velta36cli
