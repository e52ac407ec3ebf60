#include "run_metrics.h"

namespace velta36cli {

namespace {

const std::chrono::milliseconds kSoonest(500);
const std::chrono::seconds kLatest(5);

}  // namespace

RunMetrics::RunMetrics(const MetricsFile& file, const velta36site::Site& site, Console& console)
    : file_(file), site_(site), console_(console)
{
}

void RunMetrics::onRoundCompleted(const velta36site::DeviceIdentity&)
{
    update();
}

void RunMetrics::onTick()
{
    update();
}

void RunMetrics::update(bool last)
{
    const auto now = std::chrono::steady_clock::now();
    const uint64_t rounds = site_.completedRounds();
    const bool due = last || !written_ || now - writtenAt_ >= kLatest ||
                     (rounds != roundsWritten_ && now - writtenAt_ >= kSoonest);
    if (!due)
        return;
    const std::vector<velta36site::DeviceStatus> status = site_.status();
    std::vector<DeviceMetrics> devices;
    for (std::size_t i = 0; i < status.size(); ++i) {
        const velta36site::DeviceIdentity& identity = site_.devices().at(i);
        const velta36site::DeviceStatus& figures = status[i];
        DeviceMetrics device;
        device.name = identity.name;
        device.port = identity.port;
        device.address = identity.address;
        device.doors = identity.doors;
        device.roundsCompleted = figures.progress.roundsCompleted;
        device.roundsTimedOut = figures.progress.timeouts;
        device.savesFailed = figures.progress.database.savesFailed;
        device.databaseFault = figures.progress.database.faulty;
        device.eventsStored = figures.eventsStored;
        if (figures.lastRoundAt)
            device.lastRoundAgeSeconds = std::chrono::duration<double>(now - *figures.lastRoundAt).count();
        device.lineOpen = figures.lineOpen;
        device.lineError = figures.lineError;
        if (figures.doors) {
            device.door1Open = figures.doors->door1Open;
            device.door2Open = figures.doors->door2Open;
        }
        devices.push_back(device);
    }
    // A failed write is tried again when the next is due (a full disk
    // clears); it is reported once per spell, and the host goes on polling.
    written_ = true;
    writtenAt_ = now;
    roundsWritten_ = rounds;
    std::string why;
    if (!file_.write(MetricsText(devices, upstream_ ? std::optional<UpstreamMetrics>(upstream_()) : std::nullopt), why)) {
        if (!failed_)
            console_.error("metrics file " + file_.path() + " not written: " + why);
        failed_ = true;
        return;
    }
    if (failed_)
        console_.line("metrics file " + file_.path() + " written again");
    failed_ = false;
}

}  // namespace velta36cli
