// The metrics file: Prometheus text format byte for byte (label escaping,
// samples left out until known), replaced as a whole, bad paths refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "input_error.h"
#include "metrics_file.h"
#include "temp_work_dir.h"
#include "text_file.h"

namespace {

TEST(MetricsText, GoldenText)
{
    velta36cli::DeviceMetrics front;
    front.name = "front \"main\" door";
    front.port = "/dev/ttyUSB0";
    front.address = 1;
    front.roundsCompleted = 12;
    front.roundsTimedOut = 2;
    front.eventsStored = 340;
    front.savesFailed = 1;
    front.databaseFault = true;
    front.lastRoundAgeSeconds = 0.25;
    front.doors = 2;
    front.door1Open = false;
    front.door2Open = true;
    velta36cli::DeviceMetrics back;   // nothing heard from it yet
    back.name = "back\\door";
    back.port = "/dev/ttyUSB0";
    back.address = 2;
    back.lineOpen = false;
    back.lineError = "/dev/ttyUSB0: busy \"x\"";

    const std::string front1 = "{device=\"front \\\"main\\\" door\",port=\"/dev/ttyUSB0\",address=\"1\"}";
    const std::string back2 = "{device=\"back\\\\door\",port=\"/dev/ttyUSB0\",address=\"2\"}";
    EXPECT_EQ(velta36cli::MetricsText({front, back}),
              "# HELP velta36_rounds_completed_total Polling rounds the device completed since the host started.\n"
              "# TYPE velta36_rounds_completed_total counter\n"
              "velta36_rounds_completed_total" + front1 + " 12\n"
              "velta36_rounds_completed_total" + back2 + " 0\n"
              "# HELP velta36_rounds_timed_out_total Exchanges the host ended because the controller went quiet.\n"
              "# TYPE velta36_rounds_timed_out_total counter\n"
              "velta36_rounds_timed_out_total" + front1 + " 2\n"
              "velta36_rounds_timed_out_total" + back2 + " 0\n"
              "# HELP velta36_events_stored_total Events of the device stored in the database since the host started.\n"
              "# TYPE velta36_events_stored_total counter\n"
              "velta36_events_stored_total" + front1 + " 340\n"
              "velta36_events_stored_total" + back2 + " 0\n"
              "# HELP velta36_saves_failed_total Event saves that gave up; their batch stayed on the controller.\n"
              "# TYPE velta36_saves_failed_total counter\n"
              "velta36_saves_failed_total" + front1 + " 1\n"
              "velta36_saves_failed_total" + back2 + " 0\n"
              "# HELP velta36_database_fault 1 while the device's events do not reach the database.\n"
              "# TYPE velta36_database_fault gauge\n"
              "velta36_database_fault" + front1 + " 1\n"
              "velta36_database_fault" + back2 + " 0\n"
              "# HELP velta36_last_round_age_seconds Seconds since the device last completed a round (absent before its first).\n"
              "# TYPE velta36_last_round_age_seconds gauge\n"
              "velta36_last_round_age_seconds" + front1 + " 0.250\n"
              "# HELP velta36_door_open 1 when the door was open at the last status reply.\n"
              "# TYPE velta36_door_open gauge\n"
              "velta36_door_open{device=\"front \\\"main\\\" door\",port=\"/dev/ttyUSB0\",address=\"1\",door=\"1\"} 0\n"
              "velta36_door_open{device=\"front \\\"main\\\" door\",port=\"/dev/ttyUSB0\",address=\"1\",door=\"2\"} 1\n"
              "# HELP velta36_line_open 1 while the device's port is open; 0 while it cannot be opened (error: why).\n"
              "# TYPE velta36_line_open gauge\n"
              "velta36_line_open" + front1 + " 1\n"
              "velta36_line_open{device=\"back\\\\door\",port=\"/dev/ttyUSB0\",address=\"2\","
              "error=\"/dev/ttyUSB0: busy \\\"x\\\"\"} 0\n");
}

class MetricsFileTest : public ::testing::Test {
protected:
    velta36test::TempWorkDir dir_;
};

// The upstream's figures follow the devices' (none here), without labels;
// the age of the last acknowledgement only once there was one.
TEST(MetricsText, UpstreamFigures)
{
    velta36cli::UpstreamMetrics upstream;
    upstream.connected = true;
    upstream.published = 1020;
    upstream.acknowledged = 1000;
    upstream.backlog = 20;
    upstream.commandsCarriedOut = 3;
    upstream.commandsRefused = 2;
    EXPECT_EQ(velta36cli::MetricsText({}, upstream).find("last_ack"), std::string::npos);
    upstream.lastAckAgeSeconds = 1.5;
    const std::string text = velta36cli::MetricsText({}, upstream);
    for (const char* part : {"# TYPE velta36_upstream_connected gauge\nvelta36_upstream_connected 1\n",
                             "# TYPE velta36_upstream_published_total counter\nvelta36_upstream_published_total 1020\n",
                             "velta36_upstream_acknowledged_total 1000\n",
                             "# TYPE velta36_upstream_backlog gauge\nvelta36_upstream_backlog 20\n",
                             "# TYPE velta36_upstream_last_ack_age_seconds gauge\nvelta36_upstream_last_ack_age_seconds 1.500\n",
                             "velta36_upstream_commands_carried_out_total 3\n",
                             "velta36_upstream_commands_refused_total 2\n"})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
    EXPECT_EQ(velta36cli::MetricsText({}).find("upstream"), std::string::npos);
}

TEST_F(MetricsFileTest, ReplacedAsAWholeWithNothingLeftBeside)
{
    velta36cli::MetricsFile file("site.prom");
    EXPECT_FALSE(std::filesystem::exists("site.prom"));   // appears with the first write
    // run changes into the database's folder after the options are read.
    std::filesystem::create_directory("database");
    std::filesystem::current_path("database");
    std::string why;
    ASSERT_TRUE(file.write("first 1\n", why)) << why;
    ASSERT_TRUE(file.write("second 2\n", why)) << why;
    std::filesystem::current_path("..");
    EXPECT_EQ(velta36test::ReadTextFile("site.prom"), "second 2\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator()), 2);
    EXPECT_TRUE(std::filesystem::is_empty("database"));
}

TEST_F(MetricsFileTest, PathInAMissingFolderOrOnAFolderIsBadInput)
{
    EXPECT_THROW(velta36cli::MetricsFile("no-such-folder/site.prom"), velta36site::InputError);
    std::filesystem::create_directory("site.prom");
    EXPECT_THROW(velta36cli::MetricsFile("site.prom"), velta36site::InputError);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator()), 1);
}

}  // namespace
