#include "run_metrics.h"

namespace velta36cli {

namespace {

const std::chrono::milliseconds kSoonest(500);
const std::chrono::seconds kLatest(5);

}  // namespace

RunMetrics::RunMetrics(const std::string& path) : file_(path) {}

void RunMetrics::countStored(int64_t dataId)
{
    ++stored_[dataId];
}

void RunMetrics::update(HostSession& session, Console& console, bool last)
{
    const auto now = std::chrono::steady_clock::now();
    const uint64_t rounds = session.scheduler().completedRounds();
    const bool due = last || !written_ || now - writtenAt_ >= kLatest ||
                     (rounds != roundsWritten_ && now - writtenAt_ >= kSoonest);
    if (!due)
        return;
    const std::vector<refhost::DeviceProgress> progress = session.scheduler().progress();
    std::vector<DeviceMetrics> devices;
    for (std::size_t i = 0; i < progress.size(); ++i) {
        const DeviceSpec& spec = session.devices().at(i);
        DeviceMetrics device;
        device.name = spec.name;
        device.port = spec.port;
        device.address = spec.address;
        device.doors = spec.doors;
        device.roundsCompleted = progress[i].roundsCompleted;
        device.roundsTimedOut = progress[i].timeouts;
        device.savesFailed = progress[i].database.savesFailed;
        device.databaseFault = progress[i].database.faulty;
        const auto stored = stored_.find(spec.config["data_id"].asInt64());
        device.eventsStored = stored != stored_.end() ? stored->second : 0;
        const HostSession::LastRound round = session.lastRoundOf(i);
        if (round.at)
            device.lastRoundAgeSeconds = std::chrono::duration<double>(now - *round.at).count();
        if (round.doors >= 0) {
            device.door1Open = (round.doors & 1) != 0;
            device.door2Open = (round.doors & 2) != 0;
        }
        devices.push_back(device);
    }
    // A failed write is tried again when the next is due (a full disk
    // clears); it is reported once per spell, and the host goes on polling.
    written_ = true;
    writtenAt_ = now;
    roundsWritten_ = rounds;
    std::string why;
    if (!file_.write(MetricsText(devices), why)) {
        if (!failed_)
            console.error("metrics file " + file_.path() + " not written: " + why);
        failed_ = true;
        return;
    }
    if (failed_)
        console.line("metrics file " + file_.path() + " written again");
    failed_ = false;
}

}  // namespace velta36cli
