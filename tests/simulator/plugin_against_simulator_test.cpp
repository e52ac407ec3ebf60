// The plug-in drains a simulated controller through the reference host's
// in-memory line: every tracking-independent event the simulator generated
// becomes exactly the row the simulator predicted, once, also on a line
// that splits replies.
#include <gtest/gtest.h>

#include "device_test.h"
#include "velta36sim/event_generator.h"
#include "velta36sim/memory_line.h"

namespace {

using velta36sim::ExpectedRow;

std::string DigitsOf(const std::string& text)
{
    std::string digits;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            digits += c;
    }
    return digits;
}

std::string DigitsOf(const velta36sim::CivilTime& t)
{
    return DigitsOf(velta36sim::ToText(t));
}

class PluginAgainstSimulator : public velta36test::DeviceTest {
protected:
    // Runs polling rounds until the controller is empty (or 20 rounds).
    void Drain(velta36sim::SharedLine& line)
    {
        velta36sim::ServeOnMemoryTransport(rig.transport, line);
        for (int round = 0; round < 20; ++round) {
            rig.device->RefreshStatus();
            unsigned char buffer[512];
            while (std::size_t n = rig.transport.receive(buffer, sizeof buffer, std::chrono::milliseconds(0)))
                rig.receive(std::string(reinterpret_cast<const char*>(buffer), n));
            bool empty = false;
            line.With(0, [&empty](velta36sim::SimulatedController& sim) {
                empty = sim.controller().StoredEvents().empty();
            });
            if (empty && round > 0)
                return;
        }
    }

    void ExpectRows(const std::vector<velta36sim::GeneratedEvent>& events)
    {
        const std::vector<velta36test::EventRow> rows = velta36test::ReadEventRows();
        ASSERT_EQ(rows.size(), events.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const ExpectedRow& want = events[i].expected;
            SCOPED_TRACE("row " + std::to_string(i) + ": " + events[i].record.Encode());
            EXPECT_EQ(rows[i].ReaderChannel, want.readerChannel);
            EXPECT_EQ(rows[i].EventType, want.eventType);
            EXPECT_EQ(rows[i].CardNo, want.cardNo);
            EXPECT_EQ(rows[i].Reason, want.reason);
            ASSERT_TRUE(rows[i].EventTime.has_value());
            EXPECT_EQ(DigitsOf(*rows[i].EventTime).substr(0, 14), DigitsOf(want.eventTime));
        }
    }
};

}  // namespace

TEST_F(PluginAgainstSimulator, StoresThePredictedRowsInOrder)
{
    rig.configure(R"({"appSetting": {"doors": "2"}})");
    velta36sim::ManualClock clock;
    velta36sim::SharedLine line(clock);
    velta36sim::GeneratorOptions generator;
    generator.seed = 21;
    generator.count = 37;
    generator.trackingIndependentOnly = true;
    generator.powerCycle = true;
    const auto events = velta36sim::GenerateEvents(generator);
    line.Add(velta36sim::ControllerOptions()).controller().StoreEvents(velta36sim::RecordsOf(events));

    Drain(line);
    ExpectRows(events);
    const velta36sim::Statistics stats = line.Stats(0);
    EXPECT_EQ(stats.events.acknowledged, 37u);
    EXPECT_EQ(stats.events.resentAfterLostAck, 0u);
}

TEST_F(PluginAgainstSimulator, SplitRepliesLoseNothing)
{
    rig.configure(R"({"appSetting": {"doors": "2"}})");
    velta36sim::ManualClock clock;
    velta36sim::SharedLine line(clock);
    velta36sim::GeneratorOptions generator;
    generator.seed = 4;
    generator.count = 25;
    generator.trackingIndependentOnly = true;
    const auto events = velta36sim::GenerateEvents(generator);
    velta36sim::ControllerOptions options;
    options.faults.splitReply = 1;
    line.Add(options).controller().StoreEvents(velta36sim::RecordsOf(events));

    Drain(line);
    ExpectRows(events);
    EXPECT_GT(line.Stats(0).faults.splitReplies, 0u);
}
