// How soon a stored event reaches a site's listeners: one simulated
// controller on an in-memory line, unpaced, polled by a site with the
// loaded velta36.so; a listener notes when each batch's last row reaches
// it, the line when the batch's acknowledgement ("v0", sent right after
// the batch's last commit) leaves for the controller.
//   velta36-bench-site PLUGIN [--batches N] [--journal wal|delete] [--every MS]
// With --every, the controller is handed one batch every MS milliseconds
// (and polled every 5 ms), as on a line that keeps up with its doors;
// without, it holds every batch from the start and is drained flat out.
// The database is created under $TMPDIR. Prints one RESULT line: events a
// second through the site, and the delay from the acknowledgement to the
// listener (p50, p99, max; a delay below zero, the row told before the
// frame had left, counts as zero). The commit comes before the
// acknowledgement, so the delay from the commit is a little longer: the
// time the plug-in takes to build and send one frame.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "raw_database.h"
#include "refhost/memory_transport.h"
#include "site.h"
#include "temp_work_dir.h"
#include "velta36sim/event_generator.h"
#include "velta36sim/memory_line.h"
#include "velta36sim/shared_line.h"

namespace {

using Clock = std::chrono::steady_clock;

// Notes when each acknowledgement of a batch left.
class AcknowledgementClock : public refhost::MemoryTransport {
public:
    void send(const unsigned char* data, std::size_t len) override
    {
        refhost::MemoryTransport::send(data, len);
        if (len >= 4 && data[2] == 'v' && data[3] == '0') {
            std::lock_guard<std::mutex> lock(mutex_);
            sent_.push_back(Clock::now());
        }
    }
    std::vector<Clock::time_point> sent() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::vector<Clock::time_point>(sent_.begin(), sent_.end());
    }

private:
    mutable std::mutex mutex_;
    std::deque<Clock::time_point> sent_;
};

// Notes when each tenth row (a full batch's last) reached it.
class BatchEnds : public velta36site::SiteListener {
public:
    void onEventStored(const velta36site::DeviceIdentity&, const velta36site::StoredEvent&) override
    {
        if (++rows_ % velta36sim::kBatchSize == 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            told_.push_back(Clock::now());
        }
    }
    std::size_t batches() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return told_.size();
    }
    std::vector<Clock::time_point> told() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return told_;
    }

private:
    mutable std::mutex mutex_;
    uint64_t rows_ = 0;
    std::vector<Clock::time_point> told_;
};

double Percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: velta36-bench-site PLUGIN [--batches N] [--journal wal|delete] [--every MS]\n");
        return 2;
    }
    const std::string plugin = std::filesystem::absolute(argv[1]).string();   // before the folder changes
    int batches = 200;
    int everyMs = 0;
    std::string journal = "wal";
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--batches") == 0)
            batches = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--journal") == 0)
            journal = argv[i + 1];
        else if (std::strcmp(argv[i], "--every") == 0)
            everyMs = std::atoi(argv[i + 1]);
    }

    velta36test::TempWorkDir dir;
    velta36sim::SteadyClock clock;
    velta36sim::SharedLine line(clock);
    velta36sim::ControllerOptions controller;
    controller.doors = 2;
    line.Add(controller);
    velta36sim::GeneratorOptions generator;
    generator.seed = 18;
    generator.count = batches * velta36sim::kBatchSize;
    generator.doors = 2;
    generator.trackingIndependentOnly = true;
    const std::vector<velta36sim::EventRecord> events = velta36sim::RecordsOf(velta36sim::GenerateEvents(generator));

    velta36site::SiteOptions options;
    options.port = "memory";
    options.plugin = plugin;
    velta36site::SiteConfig config = velta36site::ReadSiteConfig(options);
    if (everyMs > 0)
        config.schedule.interval = std::chrono::milliseconds(5);
    velta36site::Site site(config);
    AcknowledgementClock* wire = nullptr;
    site.setLineOpener([&](const velta36site::LineSpec&, const refhost::Rs485Settings&) {
        std::unique_ptr<AcknowledgementClock> transport(new AcknowledgementClock);
        velta36sim::ServeOnMemoryTransport(*transport, line);
        transport->open();
        wire = transport.get();
        return velta36site::OpenedLine{std::move(transport), "", {}};
    });
    site.loadPlugin();
    site.enterWorkingFolder();
    const velta36site::DatabaseSetupReport setup = site.setUpEventDatabase();
    if (!setup.error.empty()) {
        std::fprintf(stderr, "velta36-bench-site: %s\n", setup.error.c_str());
        return 1;
    }
    velta36test::RawDatabase(velta36site::kDatabaseFile).exec("PRAGMA journal_mode=" + journal);
    site.silencePluginOutput();
    site.openLines();
    BatchEnds listener;
    site.addListener(listener);
    auto hand = [&line, &events](std::size_t from, std::size_t count) {
        const std::vector<velta36sim::EventRecord> some(events.begin() + static_cast<std::ptrdiff_t>(from),
                                                        events.begin() + static_cast<std::ptrdiff_t>(from + count));
        line.With(0, [&some](velta36sim::SimulatedController& c) { c.controller().StoreEvents(some); });
    };
    if (everyMs == 0)
        hand(0, events.size());

    const Clock::time_point began = Clock::now();
    site.start();
    for (int batch = 0; everyMs > 0 && batch < batches; ++batch) {
        hand(static_cast<std::size_t>(batch) * velta36sim::kBatchSize, velta36sim::kBatchSize);
        std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
    }
    while (listener.batches() < static_cast<std::size_t>(batches) && Clock::now() - began < std::chrono::minutes(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    site.stop();
    site.wait();

    const std::vector<Clock::time_point> sent = wire->sent();
    const std::vector<Clock::time_point> told = listener.told();
    std::vector<double> delays;
    for (std::size_t i = 0; i < told.size() && i < sent.size(); ++i)
        delays.push_back(std::max(0.0, std::chrono::duration<double, std::milli>(told[i] - sent[i]).count()));
    if (delays.size() < static_cast<std::size_t>(batches)) {
        std::fprintf(stderr, "velta36-bench-site: %zu of %d batches told\n", delays.size(), batches);
        return 1;
    }
    std::printf("RESULT site journal=%s every_ms=%d events=%d seconds=%.3f rate=%.1f p50_ms=%.3f p99_ms=%.3f "
                "max_ms=%.3f\n",
                journal.c_str(), everyMs, batches * velta36sim::kBatchSize, seconds,
                batches * velta36sim::kBatchSize / seconds, Percentile(delays, 0.5), Percentile(delays, 0.99),
                *std::max_element(delays.begin(), delays.end()));
    return 0;
}
