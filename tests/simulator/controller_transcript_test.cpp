// Whole exchanges with one simulated controller: framing and address
// checks, the polling round, batches, doors and the clock.
#include <gtest/gtest.h>

#include "sim_harness.h"

using namespace velta36sim;

namespace {

const CivilTime kDay{2024, 3, 5, 9, 0, 0};

std::vector<EventRecord> Swipes(int count)
{
    std::vector<EventRecord> records;
    for (int i = 0; i < count; ++i)
        records.push_back(EventRecord::GrantedSwipe(1, i % 2 == 0, static_cast<uint16_t>(1000 + i),
                                                    CivilTime{2024, 3, 5, 8, i % 60, 0}));
    return records;
}

}  // namespace

TEST(ControllerFraming, AnswersOnlyItsAddressAndGoodChecksums)
{
    ControllerOptions options;
    options.address = 3;
    SimHarness h(options);
    EXPECT_EQ(Joined(h.sim.Feed(CommandFrame('3', "{"))), "A33``jg/");
    EXPECT_TRUE(h.sim.Feed(CommandFrame('4', "{")).empty());
    EXPECT_TRUE(h.sim.Feed(EventReadFrame('0')).empty());
    EXPECT_TRUE(h.sim.Feed("@3{008;/").empty());   // checksum one off
    EXPECT_TRUE(h.sim.Feed("@3v000:7/").empty());
    EXPECT_EQ(h.sim.Stats().framesRejected, 2u);
    EXPECT_EQ(h.sim.Stats().framesHeard, 1u);
}

TEST(ControllerFraming, AssemblesSplitAndMergedWritesAndSkipsGarbage)
{
    SimHarness h;
    const Bytes status = CommandFrame('0', "{");
    EXPECT_TRUE(h.sim.Feed(status.substr(0, 3)).empty());
    EXPECT_EQ(Joined(h.sim.Feed(status.substr(3))), "A03``jd/");

    // Garbage, a frame, garbage with a stray '@', two frames in one write.
    const Bytes merged = "xx\r\n" + status + "z@@junk" + CommandFrame('0', "v3") + EventReadFrame('0');
    EXPECT_EQ(Joined(h.sim.Feed(merged)), "A03``jd/" "h0/" "A``da/");

    // An endless run without '/' does not grow without bound; the next
    // frame is still heard.
    EXPECT_TRUE(h.sim.Feed("@0" + Bytes(1000, 'x')).empty());
    EXPECT_EQ(h.Send("v3"), "h0/");
}

TEST(ControllerPolling, BatchIsDeletedOnlyOnV0)
{
    SimHarness h;
    h.controller().StoreEvents(Swipes(3));
    const std::string first = h.Read();
    EXPECT_EQ(first, EventReply(Swipes(3)));
    EXPECT_EQ(h.controller().StoredEvents().size(), 3u);

    // "v3" and a status read do not delete; reading again hands out the same.
    EXPECT_EQ(h.Send("v3"), "h0/");
    EXPECT_EQ(h.Send("{"), "A03``jd/");
    EXPECT_EQ(h.Read(), first);
    EXPECT_EQ(h.controller().Counts().resent, 3u);

    EXPECT_EQ(h.Send("v0"), "h0/");
    EXPECT_TRUE(h.controller().StoredEvents().empty());
    EXPECT_EQ(h.Read(), "A``da/");
    // A second "v0" deletes nothing more (the last batch handed out was empty).
    h.controller().StoreEvents(Swipes(1));
    EXPECT_EQ(h.Send("v0"), "h0/");
    EXPECT_EQ(h.controller().StoredEvents().size(), 1u);
    EXPECT_EQ(h.controller().Counts().acknowledged, 3u);
}

TEST(ControllerPolling, TwentyThreeEventsAreHandedOutAsTenTenThree)
{
    SimHarness h;
    const std::vector<EventRecord> all = Swipes(23);
    h.controller().StoreEvents(all);

    // The driver's round: status, then read / "v0" while batches are full,
    // "v3" after the short one.
    EXPECT_EQ(h.Send("{"), "A03``jd/");
    const std::string b1 = h.Read();
    EXPECT_EQ(h.Send("v0"), "h0/");
    const std::string b2 = h.Read();
    EXPECT_EQ(h.Send("v0"), "h0/");
    const std::string b3 = h.Read();
    EXPECT_EQ(h.Send("v0"), "h0/");
    EXPECT_EQ(h.Send("v3"), "h0/");

    EXPECT_EQ(b1, EventReply({all.begin(), all.begin() + 10}));
    EXPECT_EQ(b2, EventReply({all.begin() + 10, all.begin() + 20}));
    EXPECT_EQ(b3, EventReply({all.begin() + 20, all.end()}));
    EXPECT_EQ(RecordsIn(b3), 3);
    EXPECT_EQ(h.Read(), "A``da/");

    const EventCounts& counts = h.controller().Counts();
    EXPECT_EQ(counts.stored, 23u);
    EXPECT_EQ(counts.handedOut, 23u);
    EXPECT_EQ(counts.acknowledged, 23u);
    EXPECT_EQ(counts.resent, 0u);
}

TEST(ControllerDoors, OpenAndCloseCommandsShowInTheStatusReply)
{
    SimHarness h;
    EXPECT_EQ(h.Send("2201"), "h0/");
    EXPECT_TRUE(h.controller().DoorOpen(1));
    EXPECT_EQ(h.Send("{"), "A02``jc/");
    EXPECT_EQ(h.Send("2202"), "h0/");
    EXPECT_EQ(h.Send("{"), "A00``ja/");
    h.clock.Advance(3000);
    EXPECT_EQ(h.Send("2301"), "h0/");
    EXPECT_EQ(h.Send("2302"), "h0/");
    EXPECT_EQ(h.Send("{"), "A03``jd/");
    EXPECT_FALSE(h.controller().DoorOpen(1));
    // Door commands are not configuration.
    EXPECT_TRUE(h.controller().ConfigurationFrames().empty());
}

TEST(ControllerDoors, DoorsThatDoNotExistAreRefused)
{
    ControllerOptions options;
    options.doors = 1;
    SimHarness h(options);
    EXPECT_EQ(h.Send("2202"), "n0/");
    EXPECT_EQ(h.Send("2200"), "n0/");
    EXPECT_EQ(h.Send("2209"), "n0/");
    EXPECT_FALSE(h.controller().DoorOpen(2));
    EXPECT_EQ(h.Send("2201"), "h0/");
    // A single-door controller reports the missing second door as closed.
    EXPECT_EQ(h.Send("{"), "A02``jc/");
}

TEST(ControllerClock, SetByCommandZeroOneAndRunsOn)
{
    ControllerOptions options;
    options.initialTime = kDay;
    SimHarness h(options);
    EXPECT_FALSE(h.controller().ClockWasSet());
    EXPECT_EQ(h.controller().Now(), kDay);

    // Tuesday 5 March 2024, 14:07.
    EXPECT_EQ(h.sim.Feed("@00114070503243" + Nibbles(Sum16("0114070503243", 0, 13), '0') + "/").size(), 1u);
    EXPECT_TRUE(h.controller().ClockWasSet());
    EXPECT_EQ(h.controller().Now(), (CivilTime{2024, 3, 5, 14, 7, 0}));
    h.clock.Advance(61500);
    EXPECT_EQ(h.controller().Now(), (CivilTime{2024, 3, 5, 14, 8, 1}));
}

TEST(ControllerClock, ImpossibleTimesAreRefusedAndChangeNothing)
{
    SimHarness h;
    const char* bad[] = {"0124000503243", "0114600503243", "0114073002243", "0114070513243",
                         "0114070503240", "0114070503248", "01140705032", "011407O503243"};
    for (const char* body : bad) {
        EXPECT_EQ(h.Send(body), "n0/") << body;
    }
    EXPECT_FALSE(h.controller().ClockWasSet());
    EXPECT_EQ(h.Send("0100000101007"), "h0/");   // Saturday 1 January 2000, 00:00
    EXPECT_EQ(h.controller().Now(), (CivilTime{2000, 1, 1, 0, 0, 0}));
}
