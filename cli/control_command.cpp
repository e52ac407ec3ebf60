// velta36 open-door / configure / add-card / delete-card: one control
// command submitted to a site that polls nothing, driven to its end, then
// the result query.
#include "built_in_line.h"
#include "commands.h"
#include "open_site.h"

namespace velta36cli {

namespace {

const velta36site::DeviceIdentity& ChooseDevice(const velta36site::Site& site,
                                                const velta36site::SiteOptions& options)
{
    const std::vector<velta36site::DeviceIdentity>& devices = site.devices();
    if (devices.size() == 1)
        return devices.front();
    if (options.address) {
        for (const velta36site::DeviceIdentity& device : devices) {
            if (device.address == *options.address)
                return device;
        }
        throw InputError("no configured device has address " + std::to_string(*options.address));
    }
    throw InputError("the configuration names several devices: choose one with --address");
}

}  // namespace

int ControlCommand(const velta36site::SiteOptions& options, const velta36site::ControlRequest& request,
                   Console& console)
{
    velta36site::SiteConfig config = velta36site::ReadSiteConfig(options);
    config.schedule.poll = false;   // the command alone, no polling rounds
    config.streamEvents = false;
    BuiltInLine builtIn(console, false);
    velta36site::Site site(config);
    site.setLineOpener(builtIn.opener());
    OpenSite(site, console, false);
    const velta36site::DeviceIdentity& device = ChooseDevice(site, options);

    site.start();
    const velta36site::ControlOutcome outcome = site.submit(device, request).get();
    if (!outcome.error.empty()) {
        console.error(request.what + " failed: " + outcome.error);
        return kExitFailed;
    }
    const uint64_t received = site.status()[device.index].progress.bytesReceived;
    site.stop();
    site.wait();

    if (outcome.ioResult == -1) {
        console.error(request.what + ": the plug-in refused the command's argument");
        return kExitBadInput;
    }
    if (!outcome.started) {
        console.error(request.what + ": the plug-in sent nothing to the controller");
        return kExitFailed;
    }
    const std::string where = device.place();
    if (outcome.carriedOut()) {
        console.line("done: " + request.what + " (" + where + ")");
        return site.captureFailed() ? kExitFailed : kExitOk;
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
