// Each injected fault shows on the line and in the statistics; a driver
// that follows the protocol stores exactly the duplicates the simulator
// reports as re-sent after a lost acknowledgement.
#include <gtest/gtest.h>

#include <set>

#include "sim_harness.h"
#include "velta36sim/event_generator.h"

using namespace velta36sim;

namespace {

SimHarness WithFaults(const FaultRates& rates, uint64_t seed = 7)
{
    ControllerOptions options;
    options.faults = rates;
    options.faultSeed = seed;
    return SimHarness(options);
}

// A driver of the polling round that stores every batch it receives
// intact, as the plug-in does, and gives up the round on any failure.
struct ModelDriver {
    SimulatedController& sim;
    std::multiset<std::string> stored;

    std::string Exchange(const Bytes& frame) { return Joined(sim.Feed(frame)); }

    // Data replies: bytes before the first 'A' are skipped.
    static bool DataArrived(std::string reply, std::string& frame)
    {
        const std::size_t a = reply.find('A');
        if (a == std::string::npos)
            return false;
        frame = reply.substr(a);
        return DataReplyValid(frame);
    }
    static bool Acknowledged(const std::string& reply) { return !reply.empty() && reply[0] == 'h'; }

    void Round()
    {
        std::string frame;
        if (!DataArrived(Exchange(CommandFrame('0', "{")), frame))
            return;
        for (;;) {
            if (!DataArrived(Exchange(EventReadFrame('0')), frame))
                return;
            const int count = RecordsIn(frame);
            for (int k = 0; k < count; ++k)
                stored.insert(frame.substr(1 + 23 * static_cast<std::size_t>(k), 23));
            if (count == 0)
                return;
            if (!Acknowledged(Exchange(CommandFrame('0', "v0"))))
                return;
            if (count < 10) {
                Exchange(CommandFrame('0', "v3"));
                return;
            }
        }
    }
};

}  // namespace

TEST(Faults, SplitRepliesArriveInSeveralChunks)
{
    FaultRates rates;
    rates.splitReply = 1;
    SimHarness h = WithFaults(rates);
    const std::vector<Bytes> chunks = h.sim.Feed(CommandFrame('0', "{"));
    EXPECT_GE(chunks.size(), 2u);
    EXPECT_LE(chunks.size(), 4u);
    EXPECT_EQ(Joined(chunks), "A03``jd/");
    for (const Bytes& chunk : chunks)
        EXPECT_FALSE(chunk.empty());
    EXPECT_EQ(h.sim.Stats().faults.splitReplies, 1u);
    EXPECT_EQ(h.sim.Stats().faults.Total(), 1u);
}

TEST(Faults, NoiseComesBeforeTheReplyAndHoldsNoFrameCharacters)
{
    FaultRates rates;
    rates.noiseBeforeReply = 1;
    SimHarness h = WithFaults(rates);
    for (int i = 0; i < 20; ++i) {
        const std::string reply = h.Send("{");
        ASSERT_GT(reply.size(), 8u);
        ASSERT_LE(reply.size(), 12u);
        EXPECT_EQ(reply.substr(reply.size() - 8), "A03``jd/");
        EXPECT_EQ(reply.find_first_of("A/@h"), reply.size() - 8);
    }
    EXPECT_EQ(h.sim.Stats().faults.noiseBursts, 20u);
}

TEST(Faults, CorruptedChecksumsFailTheCheckAndSpareAcknowledgements)
{
    FaultRates rates;
    rates.corruptChecksum = 1;
    SimHarness h = WithFaults(rates);
    h.controller().StoreEvent(EventRecord::PowerOn(CivilTime{2024, 3, 5, 6, 0, 0}));
    for (int i = 0; i < 10; ++i) {
        const std::string status = h.Send("{");
        ASSERT_EQ(status.size(), 8u);
        EXPECT_EQ(status.substr(0, 3), "A03");
        EXPECT_FALSE(DataReplyValid(status)) << status;
        for (std::size_t at = 3; at < 7; ++at)
            EXPECT_TRUE(status[at] >= 0x60 && status[at] <= 0x6F);
    }
    const std::string events = h.Read();
    EXPECT_EQ(RecordsIn(events), 1);
    EXPECT_FALSE(DataReplyValid(events));
    EXPECT_EQ(h.Send("v3"), "h0/");
    EXPECT_EQ(h.sim.Stats().faults.corruptedChecksums, 11u);
}

TEST(Faults, RefusedCommandsAreNotCarriedOut)
{
    FaultRates rates;
    rates.refuseCommand = 1;
    SimHarness h = WithFaults(rates);
    h.controller().StoreEvent(EventRecord::PowerOn(CivilTime{2024, 3, 5, 6, 0, 0}));
    EXPECT_EQ(h.Send("2201"), "n0/");
    EXPECT_FALSE(h.controller().DoorOpen(1));
    EXPECT_EQ(h.Send("791"), "n0/");
    EXPECT_TRUE(h.controller().ConfigurationFrames().empty());
    // Data requests are answered as usual; the refused "v0" deletes nothing.
    EXPECT_EQ(h.Send("{"), "A03``jd/");
    EXPECT_EQ(RecordsIn(h.Read()), 1);
    EXPECT_EQ(h.Send("v0"), "n0/");
    EXPECT_EQ(h.controller().StoredEvents().size(), 1u);
    EXPECT_EQ(h.sim.Stats().faults.refusedCommands, 3u);
}

TEST(Faults, DroppedRepliesLeaveTheCommandCarriedOut)
{
    FaultRates rates;
    rates.dropReply = 1;
    SimHarness h = WithFaults(rates);
    EXPECT_EQ(h.Send("2202"), "");
    EXPECT_TRUE(h.controller().DoorOpen(2));
    EXPECT_EQ(h.Send("{"), "");
    EXPECT_EQ(h.sim.Stats().faults.droppedReplies, 2u);
    EXPECT_EQ(h.sim.Stats().framesHeard, 2u);
}

TEST(Faults, LostCommandsAreNeverSeen)
{
    FaultRates rates;
    rates.loseCommand = 1;
    SimHarness h = WithFaults(rates);
    EXPECT_EQ(h.Send("2202"), "");
    EXPECT_FALSE(h.controller().DoorOpen(2));
    EXPECT_EQ(h.Read(), "");
    EXPECT_EQ(h.controller().Counts().handedOut, 0u);
    EXPECT_EQ(h.sim.Stats().faults.lostCommands, 2u);
    EXPECT_EQ(h.sim.Stats().framesHeard, 0u);
}

TEST(Faults, ZeroRatesInjectNothing)
{
    SimHarness h = WithFaults(FaultRates());
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(h.Send("{"), "A03``jd/");
    EXPECT_EQ(h.sim.Stats().faults.Total(), 0u);
}

TEST(Faults, ResentAfterLostAckCountsTheDuplicatesADriverStores)
{
    FaultRates rates;
    rates.splitReply = 0.3;
    rates.noiseBeforeReply = 0.1;
    rates.corruptChecksum = 0.1;
    rates.refuseCommand = 0.1;
    rates.dropReply = 0.1;
    rates.loseCommand = 0.15;
    for (uint64_t seed = 1; seed <= 5; ++seed) {
        SimHarness h = WithFaults(rates, seed);
        GeneratorOptions generator;
        generator.seed = seed;
        generator.count = 95;
        const std::vector<EventRecord> records = RecordsOf(GenerateEvents(generator));
        h.controller().StoreEvents(records);

        ModelDriver driver{h.sim, {}};
        for (int round = 0; round < 400 && !h.controller().StoredEvents().empty(); ++round)
            driver.Round();
        ASSERT_TRUE(h.controller().StoredEvents().empty()) << "seed " << seed;

        std::multiset<std::string> once;
        for (const EventRecord& record : records)
            once.insert(record.Encode());
        const std::set<std::string> distinctStored(driver.stored.begin(), driver.stored.end());
        const std::set<std::string> distinctAll(once.begin(), once.end());
        EXPECT_EQ(distinctStored, distinctAll);

        const Statistics stats = h.sim.Stats();
        EXPECT_EQ(stats.events.stored, 95u);
        EXPECT_EQ(stats.events.acknowledged, 95u);
        EXPECT_EQ(driver.stored.size() - once.size(), stats.events.resentAfterLostAck) << "seed " << seed;
        EXPECT_GE(stats.events.resent, stats.events.resentAfterLostAck);
        EXPECT_GT(stats.faults.lostCommands, 0u);
        EXPECT_GT(stats.faults.corruptedChecksums, 0u);
    }
}

TEST(Faults, ABatchWithoutV0IsHandedOutAgain)
{
    SimHarness h;
    h.controller().StoreEvents({EventRecord::ExitButton(1, CivilTime{2024, 3, 5, 10, 0, 0}),
                                EventRecord::ExitButton(2, CivilTime{2024, 3, 5, 10, 1, 0})});
    const std::string first = h.Read();
    // The driver sends no "v0" (it kept the batch back); the next round
    // reads the same two events, which it has not stored twice.
    EXPECT_EQ(h.Read(), first);
    EXPECT_EQ(h.controller().Counts().resentWithheld, 2u);
    EXPECT_EQ(h.controller().Counts().resentAfterLostAck, 0u);
    EXPECT_EQ(h.Send("v0"), "h0/");
    EXPECT_EQ(h.Read(), "A``da/");
}

TEST(Faults, ARefusedV0CountsTheBatchAsResentAfterALostAcknowledgement)
{
    FaultRates rates;
    rates.refuseCommand = 1;   // acknowledged commands only; reads are answered
    SimHarness h = WithFaults(rates);
    h.controller().StoreEvents({EventRecord::ExitButton(1, CivilTime{2024, 3, 5, 10, 0, 0}),
                                EventRecord::ExitButton(2, CivilTime{2024, 3, 5, 10, 1, 0})});
    const std::string first = h.Read();
    EXPECT_EQ(h.Send("v0"), "n0/");
    EXPECT_EQ(h.Read(), first);
    EXPECT_EQ(h.controller().Counts().resentAfterLostAck, 2u);
    EXPECT_EQ(h.controller().Counts().resentWithheld, 0u);
}

TEST(Faults, SameSeedSameFaults)
{
    FaultRates rates;
    rates.splitReply = 0.5;
    rates.noiseBeforeReply = 0.5;
    rates.corruptChecksum = 0.5;
    auto run = [&rates] {
        SimHarness h = WithFaults(rates, 99);
        std::vector<Bytes> all;
        for (int i = 0; i < 30; ++i) {
            for (Bytes& chunk : h.sim.Feed(CommandFrame('0', "{")))
                all.push_back(chunk);
        }
        return all;
    };
    EXPECT_EQ(run(), run());
}
