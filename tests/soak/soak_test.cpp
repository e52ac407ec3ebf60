// Soak: the loaded velta36.so drains thousands of stored events from
// simulated controllers through the reference host's scheduler, while the
// lines misbehave (split and noisy replies, corrupted checksums, refused
// commands, lost commands and lost replies). Several controllers on two
// lines store into one database file.
//
// At the end the stored rows are compared, as multisets, with the rows the
// simulator's records imply:
//   lost        expected rows missing from the table: must be 0;
//   unexpected  stored rows no record implies: must be 0;
//   duplicates  rows stored more often than their record was generated:
//               allowed only for records the simulator handed out again
//               after an earlier hand-out whose "v0" was lost or refused,
//               and no more of them than it counted.
// Every controller must end drained, with every event acknowledged.
//
// VELTA36_SOAK_EVENTS sets the events per controller (default 1000);
// VELTA36_SOAK_SECONDS the time limit (default 300).
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <json/json.h>

#include "event_db.h"
#include "temp_work_dir.h"
#include "refhost/memory_transport.h"
#include "refhost/plugin_loader.h"
#include "refhost/scheduler.h"
#include "velta36sim/civil_time.h"
#include "velta36sim/clock.h"
#include "velta36sim/event_generator.h"
#include "velta36sim/memory_line.h"
#include "velta36sim/shared_line.h"

namespace {

using RowKey = std::tuple<long long, long long, long long, std::string, std::string, std::string>;

struct ControllerPlan {
    std::size_t line;
    int32_t address;
    int32_t dataId;
    uint64_t seed;
    std::vector<velta36sim::GeneratedEvent> events;
};

long EnvNumber(const char* name, long fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallback;
    const long value = std::strtol(text, nullptr, 10);
    return value > 0 ? value : fallback;
}

std::string Describe(const RowKey& key)
{
    std::ostringstream out;
    out << "data_id " << std::get<0>(key) << ", channel " << std::get<1>(key) << ", type "
        << std::get<2>(key) << ", card " << std::get<3>(key) << ", reason \"" << std::get<4>(key)
        << "\", time " << std::get<5>(key);
    return out.str();
}

// The plug-in logs each decoded record; the soak's own report stays readable.
class QuietCout {
public:
    QuietCout() : saved_(std::cout.rdbuf(sink_.rdbuf())) {}
    ~QuietCout() { std::cout.rdbuf(saved_); }

private:
    std::ostringstream sink_;
    std::streambuf* saved_;
};

int Run()
{
    const int32_t perController = static_cast<int32_t>(EnvNumber("VELTA36_SOAK_EVENTS", 1000));
    const long limitSeconds = EnvNumber("VELTA36_SOAK_SECONDS", 300);

    velta36test::TempWorkDir dir(velta36test::RamBackedTempBase());
    std::shared_ptr<refhost::PluginLibrary> plugin = refhost::PluginLibrary::Load(VELTA36_PLUGIN_PATH);
    // The table comes from the plug-in's registration in the schema catalog.
    velta36test::CreateEventDatabase("ZRMDevice.db");

    velta36sim::FaultRates faults;
    faults.splitReply = 0.25;
    faults.noiseBeforeReply = 0.05;
    faults.corruptChecksum = 0.02;
    faults.refuseCommand = 0.02;
    faults.dropReply = 0.02;
    faults.loseCommand = 0.02;

    // Two lines; two controllers on the first, one two-door and one
    // one-door controller on the second.
    std::vector<ControllerPlan> plans = {
        {0, 1, 101, 1001, {}}, {0, 2, 102, 1002, {}}, {1, 1, 201, 2001, {}}, {1, 3, 203, 2003, {}}};
    velta36sim::SteadyClock clock;
    velta36sim::SharedLine lines[2] = {velta36sim::SharedLine(clock), velta36sim::SharedLine(clock)};
    std::map<int32_t, int32_t> doorsOf = {{101, 2}, {102, 2}, {201, 2}, {203, 1}};
    for (ControllerPlan& plan : plans) {
        velta36sim::GeneratorOptions options;
        options.seed = plan.seed;
        options.count = perController;
        options.doors = doorsOf[plan.dataId];
        options.trackingIndependentOnly = true;
        plan.events = velta36sim::GenerateEvents(options);
        velta36sim::ControllerOptions controller;
        controller.address = plan.address;
        controller.doors = doorsOf[plan.dataId];
        controller.faults = faults;
        controller.faultSeed = plan.seed * 7 + 3;
        lines[plan.line].Add(controller).controller().StoreEvents(velta36sim::RecordsOf(plan.events));
    }

    auto drained = [&lines](std::size_t line) {
        bool empty = true;
        for (int32_t address : lines[line].Addresses())
            lines[line].With(address, [&empty](velta36sim::SimulatedController& c) {
                empty = empty && c.controller().StoredEvents().empty();
            });
        return empty;
    };

    refhost::Scheduler::Options options;
    options.turnaround = std::chrono::milliseconds(50);
    refhost::Scheduler scheduler(options);
    for (std::size_t line = 0; line < 2; ++line) {
        std::unique_ptr<refhost::MemoryTransport> transport(new refhost::MemoryTransport());
        velta36sim::ServeOnMemoryTransport(*transport, lines[line]);
        const std::size_t id = scheduler.addLine("line " + std::to_string(line),
                                                 std::unique_ptr<refhost::Transport>(transport.release()), 115200);
        for (const ControllerPlan& plan : plans) {
            if (plan.line != line)
                continue;
            Json::Value config(Json::objectValue);
            config["address"] = plan.address;
            config["data_id"] = plan.dataId;
            config["baud"] = 115200;
            config["appSetting"]["doors"] = doorsOf[plan.dataId];
            scheduler.addDevice(id, "controller " + std::to_string(plan.dataId), plugin->createDevice(), config);
        }
    }
    scheduler.setCycleCheck(drained);

    const auto started = std::chrono::steady_clock::now();
    bool ended = false;
    {
        QuietCout quiet;
        scheduler.start();
        const auto deadline = started + std::chrono::seconds(limitSeconds);
        while (!scheduler.finished() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ended = scheduler.finished();
        scheduler.stop();
        scheduler.wait();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    // What the simulator saw.
    uint64_t generated = 0, acknowledged = 0, handedOut = 0, resent = 0, resentAfterLostAck = 0;
    uint64_t faultsInjected = 0, leftOver = 0;
    velta36sim::FaultCounts faultCounts;
    for (const ControllerPlan& plan : plans) {
        generated += plan.events.size();
        lines[plan.line].With(plan.address, [&](velta36sim::SimulatedController& c) {
            const velta36sim::EventCounts& counts = c.controller().Counts();
            acknowledged += counts.acknowledged;
            handedOut += counts.handedOut;
            resent += counts.resent;
            resentAfterLostAck += counts.resentAfterLostAck;
            leftOver += c.controller().StoredEvents().size();
            const velta36sim::FaultCounts f = c.Stats().faults;
            faultsInjected += f.Total();
            faultCounts.splitReplies += f.splitReplies;
            faultCounts.noiseBursts += f.noiseBursts;
            faultCounts.corruptedChecksums += f.corruptedChecksums;
            faultCounts.refusedCommands += f.refusedCommands;
            faultCounts.droppedReplies += f.droppedReplies;
            faultCounts.lostCommands += f.lostCommands;
        });
    }

    // Expected and stored rows as multisets.
    std::map<RowKey, long> expected;
    for (const ControllerPlan& plan : plans)
        for (const velta36sim::GeneratedEvent& event : plan.events) {
            const velta36sim::ExpectedRow& row = event.expected;
            ++expected[RowKey(plan.dataId, row.readerChannel, row.eventType, row.cardNo, row.reason,
                              velta36sim::ToText(row.eventTime))];
        }
    const std::vector<velta36test::EventRow> rows = velta36test::ReadEventRows("ZRMDevice.db");
    std::map<RowKey, long> stored;
    for (const velta36test::EventRow& row : rows)
        ++stored[RowKey(row.data_id.value_or(-1), row.ReaderChannel.value_or(-1), row.EventType.value_or(-1),
                        row.CardNo.value_or("NULL"), row.Reason.value_or("NULL"), row.EventTime.value_or("NULL"))];

    long lost = 0, duplicates = 0, unexpected = 0;
    std::vector<std::string> examples;
    for (const auto& entry : expected) {
        const auto found = stored.find(entry.first);
        const long have = found == stored.end() ? 0 : found->second;
        if (have < entry.second) {
            lost += entry.second - have;
            if (examples.size() < 5)
                examples.push_back("lost: " + Describe(entry.first));
        } else {
            duplicates += have - entry.second;
        }
    }
    for (const auto& entry : stored) {
        if (expected.find(entry.first) == expected.end()) {
            unexpected += entry.second;
            if (examples.size() < 10)
                examples.push_back("unexpected: " + Describe(entry.first));
        }
    }

    uint64_t rounds = 0, timeouts = 0;
    for (const refhost::DeviceProgress& device : scheduler.progress()) {
        rounds += device.roundsCompleted;
        timeouts += device.timeouts;
    }

    std::cout << "soak: " << plans.size() << " controllers on 2 lines, " << seconds << " s, " << rounds
              << " rounds, " << timeouts << " exchanges ended by the host\n"
              << "soak: faults injected " << faultsInjected << " (split " << faultCounts.splitReplies
              << ", noise " << faultCounts.noiseBursts << ", bad checksum " << faultCounts.corruptedChecksums
              << ", refused " << faultCounts.refusedCommands << ", reply lost " << faultCounts.droppedReplies
              << ", command lost " << faultCounts.lostCommands << ")\n"
              << "soak: events generated " << generated << ", handed out " << handedOut << ", acknowledged "
              << acknowledged << ", handed out again " << resent << " (after a lost acknowledgement "
              << resentAfterLostAck << "), left on controllers " << leftOver << "\n"
              << "soak: rows stored " << rows.size() << ", lost " << lost << ", duplicated " << duplicates
              << ", unexpected " << unexpected << "\n";
    for (const std::string& example : examples)
        std::cout << "soak: " << example << "\n";
    for (const std::string& error : scheduler.errors())
        std::cout << "soak: line error: " << error << "\n";

    int failures = 0;
    auto check = [&failures](bool ok, const std::string& what) {
        if (!ok) {
            std::cout << "soak: FAILED: " << what << "\n";
            ++failures;
        }
    };
    check(ended, "the controllers were not drained within " + std::to_string(limitSeconds) + " s");
    check(scheduler.errors().empty(), "a line ended on an error");
    check(leftOver == 0, "events left on the controllers");
    check(acknowledged == generated, "acknowledged events differ from the events generated");
    check(faultsInjected > 0, "no fault was injected: the soak tested a clean line only");
    check(lost == 0, "events lost");
    check(unexpected == 0, "rows stored that no record implies");
    check(static_cast<uint64_t>(duplicates) <= resentAfterLostAck,
          "more duplicated rows than events handed out again after a lost acknowledgement");
    std::cout << "soak: " << (failures == 0 ? "passed" : "FAILED") << std::endl;
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main()
{
    try {
        return Run();
    } catch (const std::exception& e) {
        std::cout << "soak: FAILED: " << e.what() << std::endl;
        return 1;
    }
}
