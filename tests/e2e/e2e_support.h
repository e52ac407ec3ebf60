// Shared set-up of the end-to-end tests: a scratch folder holding the event
// database, simulated controllers served on a pseudo-terminal, the plug-in
// loaded once per process, and the stored rows read back.
#ifndef VELTA36_TESTS_E2E_SUPPORT_H
#define VELTA36_TESTS_E2E_SUPPORT_H

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <json/json.h>

#include "event_database.h"
#include "temp_work_dir.h"
#include "refhost/plugin_loader.h"
#include "refhost/scheduler.h"
#include "refhost/serial_transport.h"
#include "velta36sim/event_generator.h"
#include "velta36sim/line_server.h"
#include "velta36sim/shared_line.h"

namespace e2e {

// A fresh working folder, on tmpfs when there is one (every event is a
// commit).
class ScratchDir : public velta36test::TempWorkDir {
public:
    ScratchDir() : velta36test::TempWorkDir(velta36test::RamBackedTempBase()) {}
};

inline std::shared_ptr<refhost::PluginLibrary> Plugin()
{
    static std::shared_ptr<refhost::PluginLibrary> library = refhost::PluginLibrary::Load(VELTA36_PLUGIN_PATH);
    return library;
}

struct ControllerSetup {
    int32_t address = 0;
    int32_t doors = 2;
    std::vector<velta36sim::GeneratedEvent> events;
    velta36sim::FaultRates faults;
    uint64_t faultSeed = 1;
};

inline std::vector<velta36sim::GeneratedEvent> IndependentEvents(uint64_t seed, int32_t count)
{
    velta36sim::GeneratorOptions options;
    options.seed = seed;
    options.count = count;
    options.doors = 2;
    options.trackingIndependentOnly = true;
    return velta36sim::GenerateEvents(options);
}

// Simulated controllers sharing one pseudo-terminal, served unpaced (or
// with replies paced at a baud rate).
class SimLine {
public:
    explicit SimLine(const std::vector<ControllerSetup>& controllers, int32_t baud = 0) : line_(clock_)
    {
        for (const ControllerSetup& setup : controllers) {
            velta36sim::ControllerOptions options;
            options.address = setup.address;
            options.doors = setup.doors;
            options.faults = setup.faults;
            options.faultSeed = setup.faultSeed;
            line_.Add(options).controller().StoreEvents(velta36sim::RecordsOf(setup.events));
        }
        velta36sim::ServerOptions options;
        options.baud = baud;
        server_.reset(new velta36sim::LineServer(line_, options));
        path_ = server_->StartPty();
    }
    const std::string& path() const { return path_; }
    velta36sim::SharedLine& line() { return line_; }
    // Reads controller state under the line's lock.
    template <typename Fn>
    auto with(int32_t address, Fn fn)
    {
        decltype(fn(std::declval<velta36sim::SimulatedController&>())) result{};
        line_.With(address, [&](velta36sim::SimulatedController& c) { result = fn(c); });
        return result;
    }
    bool drained()
    {
        bool empty = true;
        for (int32_t address : line_.Addresses())
            empty = empty && with(address, [](velta36sim::SimulatedController& c) {
                        return c.controller().StoredEvents().empty();
                    });
        return empty;
    }

private:
    velta36sim::SteadyClock clock_;
    velta36sim::SharedLine line_;
    std::unique_ptr<velta36sim::LineServer> server_;
    std::string path_;
};

inline Json::Value DeviceConfig(int32_t address, int32_t dataId, int32_t doors = 2)
{
    Json::Value config(Json::objectValue);
    config["address"] = address;
    config["data_id"] = dataId;
    config["baud"] = 115200;
    config["appSetting"]["doors"] = doors;
    return config;
}

inline refhost::Scheduler::Options FastOptions()
{
    refhost::Scheduler::Options options;
    options.turnaround = std::chrono::milliseconds(150);
    return options;
}

inline std::size_t AddLine(refhost::Scheduler& scheduler, const SimLine& sim)
{
    return scheduler.addLine(sim.path(),
                             std::unique_ptr<refhost::Transport>(new refhost::SerialTransport(sim.path(), 115200)),
                             115200);
}

// Runs the scheduler until it ends by itself; stops it after `limit`.
inline bool RunToEnd(refhost::Scheduler& scheduler, std::chrono::seconds limit = std::chrono::seconds(60))
{
    scheduler.start();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!scheduler.finished() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const bool ended = scheduler.finished();
    scheduler.stop();
    scheduler.wait();
    return ended;
}

inline std::vector<velta36site::StoredEvent> StoredRows()
{
    velta36site::EventReader reader;
    return reader.after(0);
}

inline std::vector<velta36site::StoredEvent> RowsOf(const std::vector<velta36site::StoredEvent>& rows, int64_t dataId)
{
    std::vector<velta36site::StoredEvent> mine;
    for (const velta36site::StoredEvent& row : rows) {
        if (row.dataId == dataId)
            mine.push_back(row);
    }
    return mine;
}

// "" when the row is what the record implies, else what differs.
inline std::string Mismatch(const velta36site::StoredEvent& row, const velta36sim::ExpectedRow& expected)
{
    std::string diff;
    if (row.readerChannel != expected.readerChannel)
        diff += " channel " + std::to_string(row.readerChannel) + "!=" + std::to_string(expected.readerChannel);
    if (row.eventType != expected.eventType)
        diff += " type " + std::to_string(row.eventType) + "!=" + std::to_string(expected.eventType);
    if (row.cardNo != expected.cardNo)
        diff += " card " + row.cardNo + "!=" + expected.cardNo;
    if (row.reason != expected.reason)
        diff += " reason " + row.reason + "!=" + expected.reason;
    const std::string time = velta36sim::ToText(expected.eventTime);
    if (!row.eventTime || *row.eventTime != time)
        diff += " time " + row.eventTime.value_or("NULL") + "!=" + time;
    return diff;
}

// Waits until cond holds; false when it still does not after the limit.
inline bool WaitFor(const std::function<bool()>& cond, std::chrono::seconds limit = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The plug-in logs every decoded record on standard output; keep the test
// output readable.
class QuietPlugin {
public:
    QuietPlugin() : saved_(std::cout.rdbuf(sink_.rdbuf())) {}
    ~QuietPlugin() { std::cout.rdbuf(saved_); }

private:
    std::ostringstream sink_;
    std::streambuf* saved_;
};

// A test with the plug-in loaded and quiet, in a scratch folder of its own
// that holds an event database (the table comes from the plug-in's catalog
// registration).
class HostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Plugin();
        velta36site::EnsureEventDatabase();
    }

    QuietPlugin quiet_;
    ScratchDir dir_;
};

}  // namespace e2e

#endif
