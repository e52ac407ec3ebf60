// Soak: the loaded velta36.so drains thousands of stored events from
// simulated controllers through the reference host's scheduler while both
// the lines and the database misbehave. Several controllers on two lines
// store into one database file.
//
// Stage 1. Events keep arriving at the controllers for a while. The lines
// split and garble replies, corrupt checksums, refuse, lose commands and
// replies. The database, in turns with calm spells: a disk that fails a
// share of writes, syncs and lock requests (FlakyDisk); the table dropped
// (its rows kept aside first) and made anew; another connection holding
// an exclusive lock; a full disk. Afterwards the stored rows (table and
// rows kept aside) are compared, as multisets, with the rows the generated
// records imply:
//   lost        expected rows missing: must be 0;
//   unexpected  rows no record implies: must be 0;
//   duplicates  rows stored more often than generated: allowed only for
//               records handed out again after a "v0" was lost or refused,
//               and no more of them than the simulator counted.
// Every controller must end drained, every event acknowledged.
//
// Stage 2. A power cut right after a "v0": every write not yet synced is
// thrown away and nothing more reaches the disk. The file, opened again,
// must hold every event the controllers were told to delete.
//
// VELTA36_SOAK_EVENTS sets the events per controller (default 1000),
// VELTA36_SOAK_TRAFFIC_SECONDS how long they keep arriving (default 20),
// VELTA36_SOAK_SECONDS the time limit of each stage (default 300).
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <json/json.h>

#include "event_db.h"
#include "flaky_disk.h"
#include "raw_database.h"
#include "temp_work_dir.h"
#include "refhost/memory_transport.h"
#include "refhost/plugin_loader.h"
#include "refhost/scheduler.h"
#include "velta36sim/civil_time.h"
#include "velta36sim/clock.h"
#include "velta36sim/event_generator.h"
#include "velta36sim/shared_line.h"

namespace {

using RowKey = std::tuple<long long, long long, long long, std::string, std::string, std::string>;
using Clock = std::chrono::steady_clock;

struct ControllerPlan {
    std::size_t line;
    int32_t address;
    int32_t dataId;
    int32_t doors;
    uint64_t seed;
    std::vector<velta36sim::GeneratedEvent> events;
    std::size_t handedToController = 0;   // events stored on the controller so far
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

RowKey KeyOf(int32_t dataId, const velta36sim::ExpectedRow& row)
{
    return RowKey(dataId, row.readerChannel, row.eventType, row.cardNo, row.reason,
                  velta36sim::ToText(row.eventTime));
}

RowKey KeyOf(const velta36test::EventRow& row)
{
    return RowKey(row.data_id.value_or(-1), row.ReaderChannel.value_or(-1), row.EventType.value_or(-1),
                  row.CardNo.value_or("NULL"), row.Reason.value_or("NULL"), row.EventTime.value_or("NULL"));
}

// The plug-in logs each decoded record; the soak's own report stays
// readable. The buffer takes lines from several threads at once.
class QuietCout {
public:
    QuietCout() : saved_(std::cout.rdbuf(&sink_)) {}
    ~QuietCout() { std::cout.rdbuf(saved_); }

private:
    class Sink : public std::streambuf {
    protected:
        int overflow(int c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    };
    Sink sink_;
    std::streambuf* saved_;
};

// An SQLite connection of the test's own, on the plain VFS (never the
// flaky one), for the administrator's and the other program's doings.
class Admin : public velta36test::RawDatabase {
public:
    Admin() : velta36test::RawDatabase("ZRMDevice.db", "unix", 10000) {}

    std::vector<RowKey> rows()
    {
        std::vector<RowKey> all;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(handle(), "SELECT data_id, ReaderChannel, EventType, CardNo, Reason, EventTime "
                                         "FROM velta36_event",
                               -1, &st, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("admin: ") + sqlite3_errmsg(handle()));
        while (sqlite3_step(st) == SQLITE_ROW) {
            auto text = [st](int c) {
                const unsigned char* t = sqlite3_column_text(st, c);
                return t ? std::string(reinterpret_cast<const char*>(t)) : std::string("NULL");
            };
            all.emplace_back(sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1), sqlite3_column_int64(st, 2),
                             text(3), text(4), text(5));
        }
        sqlite3_finalize(st);
        return all;
    }
};

// The database's weather while the traffic lasts: calm spells between
// faults, each fault for a while.
class Weather {
public:
    explicit Weather(velta36test::FlakyDisk& disk) : disk_(disk) {}

    void start() { thread_ = std::thread([this] { run(); }); }
    // Ends the current fault and the weather.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    std::vector<RowKey> keptAside;   // rows that went with a dropped table
    int tablesDropped = 0, locksHeld = 0, fullDisks = 0, flakySpells = 0;

private:
    // Sleeps; false when the weather is stopping.
    bool pause(std::chrono::milliseconds ms)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return !wake_.wait_for(lock, ms, [this] { return stopping_; });
    }

    void run()
    {
        const std::chrono::milliseconds calm(700), spell(900);
        for (int turn = 0;; ++turn) {
            if (!pause(calm))
                return;
            switch (turn % 4) {
            case 0:
                ++flakySpells;
                disk_.failShare(0.3, 0.3, 0.2);
                pause(spell);
                disk_.behave();
                break;
            case 1: {
                ++tablesDropped;
                {
                    Admin admin;
                    admin.exec("BEGIN IMMEDIATE");
                    const std::vector<RowKey> rows = admin.rows();
                    keptAside.insert(keptAside.end(), rows.begin(), rows.end());
                    admin.exec("DROP TABLE velta36_event");
                    admin.exec("COMMIT");
                }
                pause(spell);
                // Made anew the way an installation makes it.
                for (int tries = 0;; ++tries) {
                    try {
                        velta36test::CreateEventDatabase("ZRMDevice.db");
                        break;
                    } catch (const std::exception&) {
                        if (tries > 100)
                            throw;
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    }
                }
                break;
            }
            case 2: {
                ++locksHeld;
                Admin other;
                other.exec("BEGIN EXCLUSIVE");
                pause(spell + spell);
                other.exec("COMMIT");
                break;
            }
            case 3:
                ++fullDisks;
                disk_.failAllWrites(SQLITE_FULL);
                pause(spell);
                disk_.behave();
                break;
            }
        }
    }

    velta36test::FlakyDisk& disk_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

velta36sim::FaultRates LineFaults()
{
    velta36sim::FaultRates faults;
    faults.splitReply = 0.25;
    faults.noiseBeforeReply = 0.05;
    faults.corruptChecksum = 0.02;
    faults.refuseCommand = 0.02;
    faults.dropReply = 0.02;
    faults.loseCommand = 0.02;
    return faults;
}

// Two lines; two controllers on the first, one two-door and one one-door
// controller on the second.
std::vector<ControllerPlan> Plans(int32_t perController, uint64_t seedBase)
{
    std::vector<ControllerPlan> plans = {{0, 1, 101, 2, seedBase + 1, {}},
                                         {0, 2, 102, 2, seedBase + 2, {}},
                                         {1, 1, 201, 2, seedBase + 3, {}},
                                         {1, 3, 203, 1, seedBase + 4, {}}};
    for (ControllerPlan& plan : plans) {
        velta36sim::GeneratorOptions options;
        options.seed = plan.seed;
        options.count = perController;
        options.doors = plan.doors;
        options.trackingIndependentOnly = true;
        plan.events = velta36sim::GenerateEvents(options);
    }
    return plans;
}

// The simulated lines, the scheduler over them and the plug-in's devices.
class Plant {
public:
    Plant(std::shared_ptr<refhost::PluginLibrary> plugin, std::vector<ControllerPlan>& plans,
          const std::function<void(const std::vector<unsigned char>&)>& onFrame = nullptr)
        : plans_(plans), lines_{velta36sim::SharedLine(clock_), velta36sim::SharedLine(clock_)}
    {
        for (ControllerPlan& plan : plans_) {
            velta36sim::ControllerOptions controller;
            controller.address = plan.address;
            controller.doors = plan.doors;
            controller.faults = LineFaults();
            controller.faultSeed = plan.seed * 7 + 3;
            lines_[plan.line].Add(controller);
        }
        refhost::Scheduler::Options options;
        options.turnaround = std::chrono::milliseconds(50);
        options.interval = std::chrono::milliseconds(10);
        scheduler_.reset(new refhost::Scheduler(options));
        for (std::size_t line = 0; line < 2; ++line) {
            std::unique_ptr<refhost::MemoryTransport> transport(new refhost::MemoryTransport());
            refhost::MemoryTransport& served = *transport;
            velta36sim::SharedLine& sim = lines_[line];
            transport->setResponder([&served, &sim, onFrame](const std::vector<unsigned char>& frame) {
                for (const velta36sim::Bytes& chunk : sim.Feed(reinterpret_cast<const char*>(frame.data()),
                                                               frame.size()))
                    served.pushReply(chunk);
                if (onFrame)
                    onFrame(frame);
            });
            const std::size_t id = scheduler_->addLine("line " + std::to_string(line),
                                                       std::unique_ptr<refhost::Transport>(transport.release()),
                                                       115200);
            for (const ControllerPlan& plan : plans_) {
                if (plan.line != line)
                    continue;
                Json::Value config(Json::objectValue);
                config["address"] = plan.address;
                config["data_id"] = plan.dataId;
                config["baud"] = 115200;
                config["appSetting"]["doors"] = plan.doors;
                scheduler_->addDevice(id, "controller " + std::to_string(plan.dataId), plugin->createDevice(),
                                      config);
            }
        }
    }

    // Hands the controllers their next events, up to `share` (0..1) of each
    // plan.
    void deliver(double share)
    {
        for (ControllerPlan& plan : plans_) {
            const std::size_t upTo =
                std::min(plan.events.size(), static_cast<std::size_t>(share * static_cast<double>(plan.events.size())));
            if (upTo <= plan.handedToController)
                continue;
            std::vector<velta36sim::GeneratedEvent> more(
                plan.events.begin() + static_cast<std::ptrdiff_t>(plan.handedToController),
                plan.events.begin() + static_cast<std::ptrdiff_t>(upTo));
            lines_[plan.line].With(plan.address, [&more](velta36sim::SimulatedController& c) {
                c.controller().StoreEvents(velta36sim::RecordsOf(more));
            });
            plan.handedToController = upTo;
        }
    }

    bool drained()
    {
        bool empty = true;
        for (ControllerPlan& plan : plans_)
            lines_[plan.line].With(plan.address, [&empty](velta36sim::SimulatedController& c) {
                empty = empty && c.controller().StoredEvents().empty();
            });
        return empty;
    }

    velta36sim::SharedLine& line(std::size_t index) { return lines_[index]; }
    refhost::Scheduler& scheduler() { return *scheduler_; }

private:
    std::vector<ControllerPlan>& plans_;
    velta36sim::SteadyClock clock_;
    velta36sim::SharedLine lines_[2];
    std::unique_ptr<refhost::Scheduler> scheduler_;
};

struct Checks {
    int failures = 0;
    void operator()(bool ok, const std::string& what)
    {
        if (!ok) {
            std::cout << "soak: FAILED: " << what << "\n";
            ++failures;
        }
    }
};

void LineAndDatabaseFaults(std::shared_ptr<refhost::PluginLibrary> plugin, velta36test::FlakyDisk& disk,
                           Checks& check)
{
    const int32_t perController = static_cast<int32_t>(EnvNumber("VELTA36_SOAK_EVENTS", 1000));
    const long trafficSeconds = EnvNumber("VELTA36_SOAK_TRAFFIC_SECONDS", 20);
    const long limitSeconds = EnvNumber("VELTA36_SOAK_SECONDS", 300);

    velta36test::TempWorkDir dir(velta36test::RamBackedTempBase());
    velta36test::CreateEventDatabase("ZRMDevice.db");
    std::vector<ControllerPlan> plans = Plans(perController, 1000);
    Plant plant(plugin, plans);
    std::atomic<bool> trafficOver(false);
    plant.scheduler().setCycleCheck([&plant, &trafficOver](std::size_t) { return trafficOver && plant.drained(); });

    Weather weather(disk);
    const auto started = Clock::now();
    bool ended = false;
    {
        QuietCout quiet;
        plant.deliver(0.05);
        plant.scheduler().start();
        weather.start();
        const auto trafficEnd = started + std::chrono::seconds(trafficSeconds);
        while (Clock::now() < trafficEnd) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const double share =
                0.05 + 0.95 * std::chrono::duration<double>(Clock::now() - started).count() / trafficSeconds;
            plant.deliver(std::min(1.0, share));
        }
        plant.deliver(1.0);
        weather.stop();
        trafficOver = true;
        const auto deadline = started + std::chrono::seconds(limitSeconds);
        while (!plant.scheduler().finished() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ended = plant.scheduler().finished();
        plant.scheduler().stop();
        plant.scheduler().wait();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    uint64_t generated = 0, acknowledged = 0, handedOut = 0, resent = 0, resentAfterLostAck = 0, resentWithheld = 0;
    uint64_t leftOver = 0;
    velta36sim::FaultCounts lineFaults;
    for (ControllerPlan& plan : plans) {
        generated += plan.events.size();
        plant.line(plan.line).With(plan.address, [&](velta36sim::SimulatedController& c) {
            const velta36sim::EventCounts& counts = c.controller().Counts();
            acknowledged += counts.acknowledged;
            handedOut += counts.handedOut;
            resent += counts.resent;
            resentAfterLostAck += counts.resentAfterLostAck;
            resentWithheld += counts.resentWithheld;
            leftOver += c.controller().StoredEvents().size();
            const velta36sim::FaultCounts f = c.Stats().faults;
            lineFaults.splitReplies += f.splitReplies;
            lineFaults.noiseBursts += f.noiseBursts;
            lineFaults.corruptedChecksums += f.corruptedChecksums;
            lineFaults.refusedCommands += f.refusedCommands;
            lineFaults.droppedReplies += f.droppedReplies;
            lineFaults.lostCommands += f.lostCommands;
        });
    }

    std::map<RowKey, long> expected, stored;
    for (const ControllerPlan& plan : plans)
        for (const velta36sim::GeneratedEvent& event : plan.events)
            ++expected[KeyOf(plan.dataId, event.expected)];
    const std::vector<velta36test::EventRow> rows = velta36test::ReadEventRows("ZRMDevice.db");
    for (const velta36test::EventRow& row : rows)
        ++stored[KeyOf(row)];
    for (const RowKey& row : weather.keptAside)
        ++stored[row];
    const uint64_t storedCount = rows.size() + weather.keptAside.size();

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

    uint64_t rounds = 0, timeouts = 0, savesFailed = 0, attemptsFailed = 0, faultsSeen = 0;
    for (const refhost::DeviceProgress& device : plant.scheduler().progress()) {
        rounds += device.roundsCompleted;
        timeouts += device.timeouts;
        savesFailed += device.database.savesFailed;
        attemptsFailed += device.database.attemptsFailed;
        faultsSeen += device.database.faultsSeen;
    }

    std::cout << "soak: stage 1: " << plans.size() << " controllers on 2 lines, " << seconds << " s (events arriving for "
              << trafficSeconds << " s), " << rounds << " rounds, " << timeouts << " exchanges ended by the host\n"
              << "soak: line faults " << lineFaults.Total() << " (split " << lineFaults.splitReplies << ", noise "
              << lineFaults.noiseBursts << ", bad checksum " << lineFaults.corruptedChecksums << ", refused "
              << lineFaults.refusedCommands << ", reply lost " << lineFaults.droppedReplies << ", command lost "
              << lineFaults.lostCommands << ")\n"
              << "soak: database faults: " << weather.flakySpells << " flaky-disk spells (" << disk.failuresInjected()
              << " failed writes, syncs and locks), " << weather.tablesDropped << " tables dropped and made anew, "
              << weather.locksHeld << " exclusive locks held, " << weather.fullDisks << " full disks; "
              << attemptsFailed << " save attempts failed, " << savesFailed << " saves gave up (batch kept back), "
              << faultsSeen << " faults reported\n"
              << "soak: events generated " << generated << ", handed out " << handedOut << ", acknowledged "
              << acknowledged << ", handed out again " << resent << " (after a lost acknowledgement "
              << resentAfterLostAck << ", after the driver kept the batch back " << resentWithheld
              << "), left on controllers " << leftOver << "\n"
              << "soak: rows stored " << storedCount << " (" << weather.keptAside.size()
              << " of them went with dropped tables), lost " << lost << ", duplicated " << duplicates
              << ", unexpected " << unexpected << "\n";
    for (const std::string& example : examples)
        std::cout << "soak: " << example << "\n";
    for (const std::string& error : plant.scheduler().errors())
        std::cout << "soak: line error: " << error << "\n";

    check(ended, "the controllers were not drained within " + std::to_string(limitSeconds) + " s");
    check(plant.scheduler().errors().empty(), "a line ended on an error");
    check(leftOver == 0, "events left on the controllers");
    check(acknowledged == generated, "acknowledged events differ from the events generated");
    check(lineFaults.Total() > 0, "no line fault was injected");
    check(savesFailed > 0 && weather.tablesDropped > 0 && weather.locksHeld > 0 && weather.fullDisks > 0,
          "the database faults did not all happen or made no save fail");
    check(lost == 0, "events lost");
    check(unexpected == 0, "rows stored that no record implies");
    check(static_cast<uint64_t>(duplicates) <= resentAfterLostAck,
          "more duplicated rows than events handed out again after a lost acknowledgement");
}

void PowerCut(std::shared_ptr<refhost::PluginLibrary> plugin, velta36test::FlakyDisk& disk, Checks& check)
{
    const long limitSeconds = EnvNumber("VELTA36_SOAK_SECONDS", 300);
    velta36test::TempWorkDir dir(velta36test::RamBackedTempBase());
    velta36test::CreateEventDatabase("ZRMDevice.db");
    disk.behave();
    std::vector<ControllerPlan> plans = Plans(300, 2000);

    // The power goes right after the 40th "v0" on the lines.
    const int kCutAfter = 40;
    std::atomic<int> acknowledgements(0);
    std::atomic<bool> cut(false);
    Plant plant(plugin, plans, [&](const std::vector<unsigned char>& frame) {
        const bool v0 = frame.size() == 9 && frame[2] == 'v' && frame[3] == '0';
        if (v0 && ++acknowledgements == kCutAfter) {
            disk.powerCut();
            cut = true;
        }
    });
    plant.deliver(1.0);
    {
        QuietCout quiet;
        plant.scheduler().start();
        const auto deadline = Clock::now() + std::chrono::seconds(limitSeconds);
        while (!cut && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        plant.scheduler().abort();
        plant.scheduler().wait();
    }
    check(cut, "no power cut: too few acknowledgements");

    // What the controllers deleted, oldest first: their first `acknowledged`
    // events.
    std::map<RowKey, long> deleted;
    uint64_t acknowledged = 0;
    for (ControllerPlan& plan : plans) {
        uint64_t count = 0;
        plant.line(plan.line).With(plan.address, [&count](velta36sim::SimulatedController& c) {
            count = c.controller().Counts().acknowledged;
        });
        acknowledged += count;
        for (uint64_t i = 0; i < count; ++i)
            ++deleted[KeyOf(plan.dataId, plan.events[i].expected)];
    }

    // Opened again after the power came back: the journal left behind (if
    // any) rolls back what was not committed.
    std::map<RowKey, long> found;
    std::string integrity;
    {
        Admin reopened;
        for (const RowKey& row : reopened.rows())
            ++found[row];
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(reopened.handle(), "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            integrity = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
    }
    long lost = 0;
    for (const auto& entry : deleted) {
        const auto have = found.find(entry.first);
        if (have == found.end() || have->second < entry.second)
            lost += entry.second - (have == found.end() ? 0 : have->second);
    }
    std::cout << "soak: stage 2: power cut after " << kCutAfter << " acknowledgements; " << acknowledged
              << " events acknowledged, " << found.size() << " distinct rows in the file opened again, integrity "
              << integrity << ", acknowledged events missing " << lost << "\n";
    check(lost == 0, "acknowledged events missing after the power cut");
    check(integrity == "ok", "the file is damaged after the power cut");
}

int Run()
{
    // Installed before the plug-in connects anywhere: all its connections
    // go through the flaky disk.
    velta36test::FlakyDisk disk(20240305);
    std::shared_ptr<refhost::PluginLibrary> plugin = refhost::PluginLibrary::Load(VELTA36_PLUGIN_PATH);
    Checks check;
    LineAndDatabaseFaults(plugin, disk, check);
    PowerCut(plugin, disk, check);
    std::cout << "soak: " << (check.failures == 0 ? "passed" : "FAILED") << std::endl;
    return check.failures == 0 ? 0 : 1;
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
