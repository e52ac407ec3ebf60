// Gaps filled from the source, with the tracker's state in PostgreSQL: one
// request after the bound, closed by the replayed events; repeated with
// back-off until answered; where a new device begins; a restarted collector
// going on where it was; two collectors writing the same events at once.
#include "collector_fixture.h"

#include <algorithm>
#include <random>
#include <thread>

namespace velta36col {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Polls once a second of the test clock up to `until`.
void PollUntil(Collector& c, Clock::time_point& now, Clock::time_point until)
{
    while (now < until) {
        now += seconds(1);
        c.poll();
    }
}

TEST_F(CollectorTest, AGapIsAskedForOnceAfterItsBoundAndClosedByTheReplay)
{
    auto c = collector(options());
    store(*c, Range("north", "front", 1, 3));
    store(*c, Range("north", "front", 7, 8));
    EXPECT_EQ(sql("SELECT concat_ws(',', from_seq, to_seq, asks) FROM velta36_gaps"), "4,6,0");

    const Clock::time_point opened = now;
    PollUntil(*c, now, opened + seconds(4));
    EXPECT_TRUE(replays.empty());
    PollUntil(*c, now, opened + seconds(20));
    EXPECT_EQ(replays, (std::vector<ReplayRequest>{{"north", "front", 4, 6}}));

    std::vector<EventMessage> replayed = Range("north", "front", 4, 6);
    for (EventMessage& e : replayed)
        e.replayed = true;
    store(*c, replayed);
    EXPECT_EQ(sql("SELECT count(*) FROM velta36_gaps"), "0");
    EXPECT_EQ(sql("SELECT contiguous_seq FROM velta36_device_progress"), "8");
    PollUntil(*c, now, opened + seconds(3600));
    EXPECT_EQ(replays.size(), 1u);
    EXPECT_EQ(c->stats().replaysAsked, 1);
}

TEST_F(CollectorTest, UnansweredRequestsRepeatWithBackOffUntilTheSiteSaysItHasNone)
{
    auto c = collector(options());
    store(*c, {Event("north", "front", 1), Event("north", "front", 5)});
    const Clock::time_point opened = now;
    PollUntil(*c, now, opened + seconds(100));
    // At 5 s, then 30 s and 60 s later.
    EXPECT_EQ(replays, (std::vector<ReplayRequest>{{"north", "front", 2, 4}, {"north", "front", 2, 4},
                                                   {"north", "front", 2, 4}}));
    // The site found 3 only: 2 and 4 it no longer holds.
    store(*c, {Event("north", "front", 3)});
    c->replayAnswered(ReplayAnswer{"north", "front", 2, 4, 1, 3, 3});
    EXPECT_EQ(sql("SELECT string_agg(concat_ws(',', from_seq, to_seq, unavailable), ' ' ORDER BY from_seq) "
                  "FROM velta36_gaps"),
              "2,2,t 4,4,t");
    EXPECT_EQ(sql("SELECT contiguous_seq FROM velta36_device_progress"), "5");
    PollUntil(*c, now, opened + seconds(7200));
    EXPECT_EQ(replays.size(), 3u);
    // An answer that contradicts its own range is ignored.
    c->replayAnswered(ReplayAnswer{"north", "front", 6, 9, 2, 1, 12});
    EXPECT_NE(log.back().find("ignoring a replay answer"), std::string::npos);
}

TEST_F(CollectorTest, WhereANewDeviceBeginsAndWhatItsStateTells)
{
    // By default everything from seq 1: asked for once, in chunks of 10,000.
    auto c = collector(options());
    store(*c, {Event("north", "front", 12001)});
    StateMessage state;
    state.site = "north";
    state.device = "back";
    state.lastSeq = 4;   // the site has 4 events the collector never saw
    ASSERT_TRUE(c->accept(state));
    c->flush();
    PollUntil(*c, now, now + seconds(10));
    EXPECT_EQ(replays, (std::vector<ReplayRequest>{{"north", "back", 1, 4}, {"north", "front", 1, 10000}}));

    // Told to begin at the first seq seen, a collector asks for nothing
    // before it (in a database of its own: the books above are shared).
    database = server->createDatabase();
    CollectorOptions o = options();
    o.backfill = Backfill::FromFirstSeen;
    auto later = collector(o);
    store(*later, {Event("south", "gate", 500)});
    StateMessage other;
    other.site = "south";
    other.device = "door";
    other.lastSeq = 70;
    ASSERT_TRUE(later->accept(other));
    later->flush();
    store(*later, {Event("south", "door", 71), Event("south", "gate", 501)});
    replays.clear();
    PollUntil(*later, now, now + seconds(60));
    EXPECT_TRUE(replays.empty());
    EXPECT_EQ(sql("SELECT string_agg(concat_ws(',', device, start_seq, contiguous_seq), ' ' ORDER BY device) "
                  "FROM velta36_device_progress WHERE site = 'south'"),
              "door,71,71 gate,500,501");
}

TEST_F(CollectorTest, ARestartedCollectorGoesOnWhereItWas)
{
    const Clock::time_point opened = now;
    {
        auto first = collector(options());
        store(*first, Range("north", "front", 1, 3));
        store(*first, {Event("north", "front", 7)});
        PollUntil(*first, now, opened + seconds(6));
        ASSERT_EQ(replays.size(), 1u);
        // Accepted but never committed: not acknowledged, so the broker
        // still has it when the collector is gone.
        ASSERT_TRUE(first->accept(Event("north", "front", 8)));
    }
    EXPECT_EQ(sql("SELECT max(seq) FROM velta36_events"), "7");

    auto second = collector(options());
    PollUntil(*second, now, opened + seconds(34));
    EXPECT_EQ(replays.size(), 1u);   // asked already, 5 s after the gap opened
    PollUntil(*second, now, opened + seconds(36));
    EXPECT_EQ(replays, (std::vector<ReplayRequest>{{"north", "front", 4, 6}, {"north", "front", 4, 6}}));
    store(*second, Range("north", "front", 4, 8));
    EXPECT_EQ(sql("SELECT concat_ws(',', highest_seq, contiguous_seq) FROM velta36_device_progress"), "8,8");
    EXPECT_EQ(sql("SELECT count(*) FROM velta36_events"), "8");
}

TEST_F(CollectorTest, TwoCollectorsWritingTheSameEventsStoreEachOnce)
{
    // Three sites with four devices each, 400 events a device; each
    // collector gets all of them in its own order (one shuffled, one
    // reversed) in batches of 100, on the real clock.
    std::vector<EventMessage> events;
    for (const char* site : {"north", "south", "east"})
        for (const char* device : {"d1", "d2", "d3", "d4"})
            for (const EventMessage& e : Range(site, device, 1, 400))
                events.push_back(e);
    std::vector<EventMessage> shuffled = events;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(21));
    std::vector<EventMessage> reversed(events.rbegin(), events.rend());

    CollectorOptions o;
    o.batchRows = 100;
    auto a = collector(o);
    auto b = collector(o);
    auto feed = [](Collector& c, const std::vector<EventMessage>& input, std::size_t& committed) {
        for (const EventMessage& e : input) {
            while (!c.accept(e))
                committed += c.flush().tickets.size();
            committed += c.poll().tickets.size();
        }
        committed += c.flush().tickets.size();
    };
    std::size_t committedA = 0, committedB = 0;
    std::thread ta([&] { feed(*a, shuffled, committedA); });
    std::thread tb([&] { feed(*b, reversed, committedB); });
    ta.join();
    tb.join();

    EXPECT_EQ(committedA, events.size());
    EXPECT_EQ(committedB, events.size());
    EXPECT_EQ(a->stats().inserted + b->stats().inserted, static_cast<int64_t>(events.size()));
    EXPECT_EQ(a->stats().duplicates + b->stats().duplicates, static_cast<int64_t>(events.size()));
    // No deadlock was broken and no batch failed.
    EXPECT_EQ(a->stats().failedAttempts, 0);
    EXPECT_EQ(b->stats().failedAttempts, 0);
    EXPECT_EQ(sql("SELECT count(*) FROM velta36_events"), "4800");
    EXPECT_EQ(sql("SELECT count(*) FROM velta36_device_progress WHERE contiguous_seq = 400 AND highest_seq = 400"),
              "12");
    EXPECT_EQ(sql("SELECT count(*) FROM velta36_gaps"), "0");
}

}  // namespace
}  // namespace velta36col
