// The card table after the driver's add and delete sequences, and the
// configuration download recorded frame by frame.
#include <gtest/gtest.h>

#include "sim_harness.h"

using namespace velta36sim;

namespace {

void SendAll(SimHarness& h, const std::vector<std::string>& commands)
{
    for (const std::string& command : commands)
        ASSERT_EQ(h.Send(command), "h0/") << command;
}

const std::vector<std::string> kAddSlot12BothDoors = {
    "090012" "AB12cd34", "350012311230", "33001201", "36001200", "1600121", "1700121"};

}  // namespace

TEST(CardTable, AddSequenceFillsTheSlot)
{
    SimHarness h;
    SendAll(h, kAddSlot12BothDoors);
    ASSERT_EQ(h.controller().Cards().count(12), 1u);
    CardSlot expected;
    expected.code = "AB12cd34";
    expected.endDate = "311230";
    expected.setting33 = "01";
    expected.setting36 = "00";
    expected.door1 = true;
    expected.door2 = true;
    EXPECT_EQ(h.controller().Cards().at(12), expected);
    EXPECT_TRUE(h.controller().Cards().at(12).HoldsCard());
    EXPECT_EQ(h.controller().Cards().size(), 1u);
    EXPECT_TRUE(h.controller().ConfigurationFrames().empty());
}

TEST(CardTable, DeleteSequenceEmptiesTheSlotAndLeavesOthers)
{
    SimHarness h;
    SendAll(h, kAddSlot12BothDoors);
    // A second card for door 1 only (no "17" frame).
    SendAll(h, {"090345" "00009876", "350345010125", "33034501", "36034500", "1603451"});
    SendAll(h, {"090012" "00000000", "350012010000", "1600120", "1700120"});

    const CardSlot& deleted = h.controller().Cards().at(12);
    EXPECT_FALSE(deleted.HoldsCard());
    EXPECT_EQ(deleted.endDate, "010000");
    EXPECT_FALSE(deleted.door1);
    EXPECT_FALSE(deleted.door2);

    const CardSlot& kept = h.controller().Cards().at(345);
    EXPECT_EQ(kept.code, "00009876");
    EXPECT_EQ(kept.endDate, "010125");
    EXPECT_TRUE(kept.door1);
    EXPECT_FALSE(kept.door2);
}

TEST(CardTable, MalformedCardCommandsAreRefusedAndChangeNothing)
{
    SimHarness h;
    const char* bad[] = {"0900120000123",      // code of 7 characters
                         "0900x2AB12cd34",     // slot not digits
                         "3500123112",         // date too short
                         "35001231123x",       // date not digits
                         "1600122",            // door flag neither 0 nor 1
                         "330012011"};         // too long
    for (const char* body : bad)
        EXPECT_EQ(h.Send(body), "n0/") << body;
    EXPECT_TRUE(h.controller().Cards().empty());
    EXPECT_TRUE(h.controller().ConfigurationFrames().empty());
}

TEST(Configuration, DownloadIsRecordedInOrder)
{
    SimHarness h;
    const std::vector<std::string> download = {
        "00", "022", "791", "190", "12105", "12203", "1410000", "1420000", "451000", "452000",
        "43011", "43021", "43030", "43040", "040000010800000000", "31010000235923592359",
        "32010101010101010101"};
    SendAll(h, download);
    EXPECT_EQ(h.controller().ConfigurationFrames(), download);
    EXPECT_TRUE(h.controller().Cards().empty());
    EXPECT_EQ(h.sim.Stats().framesHeard, download.size());
}

TEST(Configuration, PollingCommandsAreNotRecorded)
{
    SimHarness h;
    h.Send("{");
    h.Read();
    h.Send("v0");
    h.Send("v3");
    h.Send("2201");
    h.Send("0114070503243");
    EXPECT_TRUE(h.controller().ConfigurationFrames().empty());
}
