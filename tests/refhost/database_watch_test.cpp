// The host's view of a device's saves: the plug-in's failure lines and its
// batch acknowledgements turn into one fault start and one fault end, and
// the lines a device writes reach the host whole, by thread.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "refhost/database_health.h"
#include "refhost/device_log.h"

using refhost::DatabaseHealthWatch;
using Change = refhost::DatabaseHealthWatch::Change;

namespace {

const std::string kLocked = "SaveDoorEvent odb::exception:database operation timeout";
const std::string kNoTable = "SaveDoorEvent odb::exception:1: no such table: velta36_event";

std::vector<unsigned char> Bytes(const std::string& text)
{
    return std::vector<unsigned char>(text.begin(), text.end());
}

Change Sent(DatabaseHealthWatch& watch, const std::string& frame)
{
    const std::vector<unsigned char> bytes = Bytes(frame);
    return watch.onFrameSent(bytes.data(), bytes.size());
}

}  // namespace

TEST(DatabaseWatch, four_failures_in_a_row_are_one_save_given_up)
{
    DatabaseHealthWatch watch;
    // A save that succeeded on its fourth attempt, then the next record.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(watch.onLogLine(kLocked), Change::None);
    EXPECT_EQ(watch.onLogLine("tm_year:124 tm_mon2 tm_mday:5 tm_min:7 tm_hour:12"), Change::None);
    EXPECT_EQ(watch.onLogLine(kNoTable), Change::None);
    EXPECT_FALSE(watch.health().faulty);
    EXPECT_EQ(watch.health().attemptsFailed, 4u);

    // Three more for the same save: it gave up.
    EXPECT_EQ(watch.onLogLine(kNoTable), Change::None);
    EXPECT_EQ(watch.onLogLine(kNoTable), Change::None);
    EXPECT_EQ(watch.onLogLine(kNoTable), Change::FaultStarted);
    EXPECT_TRUE(watch.health().faulty);
    EXPECT_EQ(watch.health().savesFailed, 1u);
    EXPECT_EQ(watch.health().lastError, "1: no such table: velta36_event");

    // The next round fails again: counted, but no second start.
    EXPECT_EQ(Sent(watch, "@0{007;/"), Change::None);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(watch.onLogLine("SaveDoorEvent std::exception:std::bad_alloc"), Change::None);
    EXPECT_EQ(watch.onLogLine("SaveDoorEvent std::exception:std::bad_alloc"), Change::None);
    EXPECT_EQ(watch.health().savesFailed, 2u);
    EXPECT_EQ(watch.health().lastError, "std::bad_alloc");

    // Only a batch acknowledgement ends it, whatever the address.
    EXPECT_EQ(Sent(watch, "@0v300:9/"), Change::None);
    EXPECT_EQ(Sent(watch, "@0q0;/"), Change::None);
    EXPECT_EQ(Sent(watch, "@:v000:6/"), Change::FaultCleared);
    EXPECT_FALSE(watch.health().faulty);
    EXPECT_EQ(Sent(watch, "@0v000:6/"), Change::None);
    EXPECT_EQ(watch.health().faultsSeen, 1u);
    EXPECT_EQ(watch.health().savesFailed, 2u);
}

TEST(DatabaseWatch, a_frame_between_failures_separates_saves)
{
    DatabaseHealthWatch watch;
    watch.onLogLine(kLocked);
    watch.onLogLine(kLocked);
    Sent(watch, "@0q0;/");
    watch.onLogLine(kLocked);
    EXPECT_EQ(watch.onLogLine(kLocked), Change::None);
    EXPECT_EQ(watch.health().savesFailed, 0u);
}

TEST(DeviceLog, lines_of_a_thread_with_a_sink_reach_it_whole_and_pass_on)
{
    std::ostringstream previous;
    std::streambuf* saved = std::cout.rdbuf(previous.rdbuf());
    std::vector<std::string> first, second;
    {
        refhost::DeviceLogCapture capture;
        std::thread one([&first] {
            refhost::DeviceLogSink sink([&first](const std::string& line) { first.push_back(line); });
            std::cout << "tm_year:" << 124 << " tm_mon" << 2 << std::endl;
            std::cout << "SaveDoorEvent odb::exception:" << "locked" << std::endl << "unfinished";
        });
        one.join();
        {
            refhost::DeviceLogSink sink([&second](const std::string& line) { second.push_back(line); });
            std::cout << "a\nb" << std::flush << "c" << std::endl;
        }
        std::cout << "no sink here" << std::endl;
    }
    std::cout << "after the capture" << std::endl;
    EXPECT_EQ(std::cout.rdbuf(), previous.rdbuf());
    std::cout.rdbuf(saved);

    EXPECT_EQ(first, (std::vector<std::string>{"tm_year:124 tm_mon2", "SaveDoorEvent odb::exception:locked",
                                               "unfinished"}));
    EXPECT_EQ(second, (std::vector<std::string>{"a", "bc"}));
    EXPECT_EQ(previous.str(), "tm_year:124 tm_mon2\nSaveDoorEvent odb::exception:locked\nunfinished\n"
                              "a\nbc\nno sink here\nafter the capture\n");
}
