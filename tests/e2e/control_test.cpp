// Control commands queued from another thread, carried out between
// exchanges and checked on the simulated controller: its door, its card
// table and the configuration it received.
#include <gtest/gtest.h>

#include <atomic>

#include "control_request.h"
#include "e2e_support.h"

namespace {

using velta36sim::SimulatedController;

class Control : public e2e::HostTest {
protected:
    // A polling host with one controller at address 3 that holds a few
    // events, so commands have to find their place between rounds.
    void startHost(const Json::Value& config)
    {
        e2e::ControllerSetup setup;
        setup.address = 3;
        setup.events = e2e::IndependentEvents(41, 25);
        sim_.reset(new e2e::SimLine({setup}));
        scheduler_.reset(new refhost::Scheduler(e2e::FastOptions()));
        scheduler_->addDevice(e2e::AddLine(*scheduler_, *sim_), "dev", e2e::Plugin()->createDevice(), config);
        scheduler_->setTraceObserver([this](const refhost::TraceRecord& record) {
            if (record.direction == refhost::TraceRecord::Direction::Sent) {
                std::lock_guard<std::mutex> lock(traceMutex_);
                sent_.emplace_back(std::string(record.bytes.begin(), record.bytes.end()), record.when);
            }
        });
        scheduler_->start();
    }

    refhost::ControlOutcome run(const velta36site::ControlRequest& request)
    {
        return scheduler_->submitControl(0, request.code, request.argument).get();
    }

    void TearDown() override
    {
        if (scheduler_) {
            scheduler_->stop();
            scheduler_->wait();
        }
    }

    std::unique_ptr<e2e::SimLine> sim_;
    std::unique_ptr<refhost::Scheduler> scheduler_;
    std::mutex traceMutex_;
    std::vector<std::pair<std::string, std::chrono::system_clock::time_point>> sent_;
};

TEST_F(Control, OpenDoorOpensThenClosesTheSimulatedDoorAfterTheDelay)
{
    startHost(e2e::DeviceConfig(3, 1));
    std::atomic<bool> seenOpen{false};
    std::atomic<bool> watching{true};
    std::thread watcher([&] {
        while (watching) {
            if (sim_->with(3, [](SimulatedController& c) { return c.controller().DoorOpen(2); }))
                seenOpen = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const refhost::ControlOutcome outcome = run(velta36site::OpenDoorRequest(2));
    watching = false;
    watcher.join();

    EXPECT_EQ(outcome.ioResult, 0);
    EXPECT_TRUE(outcome.started);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.controlResult, 1);
    EXPECT_TRUE(seenOpen.load());
    EXPECT_FALSE(sim_->with(3, [](SimulatedController& c) { return c.controller().DoorOpen(2); }));

    // The follow-up frame left only after the delay the plug-in asked for.
    std::lock_guard<std::mutex> lock(traceMutex_);
    std::chrono::system_clock::time_point opened, closed;
    for (const auto& frame : sent_) {
        if (frame.first.compare(0, 6, "@32202") == 0)
            opened = frame.second;
        if (frame.first.compare(0, 6, "@32302") == 0)
            closed = frame.second;
    }
    ASSERT_NE(opened.time_since_epoch().count(), 0);
    ASSERT_NE(closed.time_since_epoch().count(), 0);
    EXPECT_GE(closed - opened, std::chrono::milliseconds(2900));
}

TEST_F(Control, AddAndDeleteCardChangeTheCardTable)
{
    startHost(e2e::DeviceConfig(3, 1));
    const refhost::ControlOutcome added = run(velta36site::AddCardRequest("1234ABCD", 12, "2030-12-31", 0));
    EXPECT_EQ(added.controlResult, 1);
    velta36sim::CardSlot slot = sim_->with(3, [](SimulatedController& c) { return c.controller().Cards().at(12); });
    EXPECT_EQ(slot.code, "1234ABCD");
    EXPECT_EQ(slot.endDate, "311230");
    EXPECT_TRUE(slot.door1);
    EXPECT_TRUE(slot.door2);

    const refhost::ControlOutcome deleted = run(velta36site::DeleteCardRequest(12, 0));
    EXPECT_EQ(deleted.controlResult, 1);
    slot = sim_->with(3, [](SimulatedController& c) { return c.controller().Cards().at(12); });
    EXPECT_FALSE(slot.HoldsCard());
    EXPECT_FALSE(slot.door1);
    EXPECT_FALSE(slot.door2);

    // Polling went on around the commands: every event still arrived once.
    scheduler_->stop();
    scheduler_->wait();
    EXPECT_EQ(e2e::StoredRows().size(),
              25u - sim_->with(3, [](SimulatedController& c) { return c.controller().StoredEvents().size(); }));
}

TEST_F(Control, ConfigurationDownloadSendsTheSettingsOfTheConfig)
{
    Json::Value config = e2e::DeviceConfig(3, 1);
    config["appSetting"]["doors"] = 2;
    config["appSetting"]["door1_delay"] = "5";
    config["appSetting"]["door2_delay"] = 3;
    config["appSetting"]["card_type"] = 1;
    startHost(config);
    const refhost::ControlOutcome outcome = run(velta36site::ConfigureRequest());
    EXPECT_EQ(outcome.controlResult, 1);
    const std::vector<std::string> received =
        sim_->with(3, [](SimulatedController& c) { return c.controller().ConfigurationFrames(); });
    const std::vector<std::string> expected = {
        "00", "022", "791", "190", "12105", "12203", "1410000", "1420000", "451000", "452000", "43011",
        "43021", "43030", "43040", "040000010800000000", "31010000235923592359", "32010101010101010101"};
    EXPECT_EQ(received, expected);
}

TEST_F(Control, RefusedArgumentSendsNothingAndFailsTheCommand)
{
    startHost(e2e::DeviceConfig(3, 1));
    const refhost::ControlOutcome outcome = run(velta36site::ControlRequest{320, "{not json", "bad"});
    EXPECT_EQ(outcome.ioResult, -1);
    EXPECT_FALSE(outcome.started);
    EXPECT_NE(outcome.controlResult, 1);
}

}  // namespace
