#include "run_upstream.h"

#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <vector>

#include "control_request.h"
#include "input_error.h"
#include "names.h"
#include "site_listener.h"
#include "upstream.h"

namespace velta36cli {

using velta36site::InputError;

namespace {

void MakeAbsolute(std::optional<std::string>& path)
{
    if (path && !path->empty())
        *path = std::filesystem::absolute(*path).string();
}

velta36up::DoorState DoorOf(bool open)
{
    return open ? velta36up::DoorState::Open : velta36up::DoorState::Closed;
}

// The site's own request for a command from the broker; the site checks it
// again (InputError with one line).
velta36site::ControlRequest RequestFor(const velta36up::Command& command)
{
    switch (command.kind) {
    case velta36up::CommandKind::OpenDoor:
        return velta36site::OpenDoorRequest(command.door);
    case velta36up::CommandKind::Configure:
        return velta36site::ConfigureRequest();
    case velta36up::CommandKind::AddCard:
        return velta36site::AddCardRequest(command.code, command.slot, command.endDate, command.cardDoor);
    case velta36up::CommandKind::DeleteCard:
        return velta36site::DeleteCardRequest(command.slot, command.cardDoor);
    }
    throw InputError("unknown command");
}

velta36up::CommandOutcome OutcomeOf(const velta36site::ControlOutcome& outcome)
{
    velta36up::CommandOutcome result;
    result.ok = outcome.carriedOut();
    result.controlResult = outcome.controlResult;
    if (!outcome.error.empty())
        result.error = outcome.error;
    else if (outcome.ioResult == -1)
        result.error = "the plug-in refused the command's argument";
    else if (!outcome.started)
        result.error = "the plug-in sent nothing to the controller";
    else if (!result.ok)
        result.error = outcome.timedOut ? "the controller refused the command or stopped answering"
                                        : "the controller refused the command";
    return result;
}

std::future<velta36up::CommandOutcome> Ready(velta36up::CommandOutcome outcome)
{
    std::promise<velta36up::CommandOutcome> promise;
    promise.set_value(std::move(outcome));
    return promise.get_future();
}

}  // namespace

struct RunUpstream::Impl : velta36site::SiteListener {
    velta36up::UpstreamSettings settings;
    velta36site::Site* site = nullptr;
    std::map<std::size_t, std::string> ids;                        // device index -> device id
    std::map<std::string, velta36site::DeviceIdentity> devices;    // device id -> identity
    std::unique_ptr<velta36up::Upstream> upstream;
    bool stopped = false;

    const std::string* idOf(const velta36site::DeviceIdentity& device) const
    {
        const auto it = ids.find(device.index);
        return device.ofThisSite() && it != ids.end() ? &it->second : nullptr;
    }

    // On the upstream's network thread: it must return at once. The site
    // answers on its own future; a short thread of ours waits for it
    // (commands are few, and each ends when the site's run does).
    std::future<velta36up::CommandOutcome> execute(const std::string& deviceId, const velta36up::Command& command)
    {
        const auto it = devices.find(deviceId);
        if (it == devices.end())
            return Ready(velta36up::CommandOutcome{false, -1, "no device " + deviceId + " at this site"});
        velta36site::ControlRequest request;
        try {
            request = RequestFor(command);
        } catch (const InputError& error) {
            return Ready(velta36up::CommandOutcome{false, -1, error.what()});
        }
        std::future<velta36site::ControlOutcome> outcome = site->submit(it->second, request);
        return std::async(std::launch::async, [outcome = std::move(outcome)]() mutable {
            try {
                return OutcomeOf(outcome.get());
            } catch (const std::exception& e) {   // a site torn down with the command pending
                return velta36up::CommandOutcome{false, -1, e.what()};
            }
        });
    }

    void onEventStored(const velta36site::DeviceIdentity&, const velta36site::StoredEvent&) override
    {
        upstream->eventsMayHaveArrived();
    }
    void onDoorsChanged(const velta36site::DeviceIdentity& device, const velta36site::DoorStates& doors) override
    {
        if (const std::string* id = idOf(device))
            upstream->doorsChanged(*id, DoorOf(doors.door1Open),
                                   device.doors == 2 ? DoorOf(doors.door2Open) : velta36up::DoorState::Unknown);
    }
    void onRoundCompleted(const velta36site::DeviceIdentity& device) override
    {
        if (const std::string* id = idOf(device))
            upstream->roundCompleted(*id, velta36up::WallClock::now());
    }
    void onRoundTimedOut(const velta36site::DeviceIdentity& device) override
    {
        if (const std::string* id = idOf(device))
            upstream->roundTimedOut(*id);
    }
    void onDatabaseFault(const velta36site::DeviceIdentity& device, const refhost::DatabaseHealth& health) override
    {
        if (const std::string* id = idOf(device))
            upstream->databaseFault(*id, health.faulty);
    }
};

std::unique_ptr<RunUpstream> RunUpstream::FromSettings(const MqttOptions& options, const Json::Value& mqtt)
{
    if (!options.url && mqtt.isNull()) {
        if (options.site)
            throw InputError("--site names the site on the broker: it needs --mqtt or an \"mqtt\" object");
        return nullptr;
    }
    std::unique_ptr<Impl> impl(new Impl);
    try {
        impl->settings = velta36up::ParseSettings(mqtt, velta36up::SettingsOverrides{options.url, options.site});
    } catch (const velta36up::SettingsError& error) {
        throw InputError(error.what());
    }
    MakeAbsolute(impl->settings.passwordFile);
    MakeAbsolute(impl->settings.caFile);
    MakeAbsolute(impl->settings.certFile);
    MakeAbsolute(impl->settings.keyFile);
    return std::unique_ptr<RunUpstream>(new RunUpstream(std::move(impl)));
}

RunUpstream::RunUpstream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

RunUpstream::~RunUpstream()
{
    stop();
}

void RunUpstream::attach(velta36site::Site& site, Console& console)
{
    Impl& impl = *impl_;
    impl.site = &site;
    velta36up::UpstreamOptions options;
    options.settings = impl.settings;
    for (const velta36site::DeviceIdentity& device : site.devices()) {
        const std::string id = velta36up::DeviceIdFromName(device.name);
        impl.ids[device.index] = id;
        impl.devices[id] = device;
        options.devices.push_back(velta36up::DeviceInfo{id, device.name, device.dataId, device.doors});
    }
    options.eventDatabase = site.config().dir.absolute + "/" + velta36site::kDatabaseFile;
    options.stateFolder = site.config().dir.absolute + "/" + kUpstreamFolder;
    options.execute = [&impl](const std::string& device, const velta36up::Command& command) {
        return impl.execute(device, command);
    };
    options.log = [&console](const std::string& line) { console.line(line); };
    try {
        impl.upstream.reset(new velta36up::Upstream(std::move(options)));
    } catch (const velta36up::SettingsError& error) {
        throw InputError(error.what());
    }
    site.addListener(impl);
}

void RunUpstream::start()
{
    if (impl_->upstream)
        impl_->upstream->start();
}

void RunUpstream::stop()
{
    if (impl_->upstream && !impl_->stopped) {
        impl_->stopped = true;
        impl_->upstream->stop();
    }
}

UpstreamMetrics RunUpstream::metrics() const
{
    UpstreamMetrics metrics;
    if (!impl_->upstream)
        return metrics;
    const velta36up::UpstreamStats stats = impl_->upstream->stats();
    metrics.connected = stats.connected;
    metrics.published = stats.published;
    metrics.acknowledged = stats.acknowledged;
    metrics.backlog = stats.backlog;
    metrics.lastAckAgeSeconds = stats.lastAckAgeSeconds;
    metrics.commandsCarriedOut = stats.commandsCarriedOut;
    metrics.commandsRefused = stats.commandsRefused;
    return metrics;
}

}  // namespace velta36cli
