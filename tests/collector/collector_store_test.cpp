// The collector's commits against a real PostgreSQL: duplicates are no-ops
// and counted, batches commit by size or delay and report exactly what they
// committed, the state table, epochs, the schema's version.
#include "collector_fixture.h"

namespace velta36col {
namespace {

using std::chrono::milliseconds;

TEST_F(CollectorTest, DuplicatesAreNoOpsAndRowsReadBackWhole)
{
    auto c = collector(options());
    store(*c, Range("north", "front", 1, 3));
    EXPECT_EQ(c->stats().inserted, 3);

    // Sent again (a redelivery), once more within one batch, and one new:
    // only the new one is stored. Then replayed ones, one of them new.
    std::vector<EventMessage> again = Range("north", "front", 2, 4);
    again.push_back(Event("north", "front", 4));
    for (const EventMessage& e : again)
        ASSERT_TRUE(c->accept(e));
    const Committed committed = c->flush();
    EXPECT_EQ(committed.tickets.size(), 4u);
    EXPECT_EQ(committed.inserted, 1);
    EXPECT_EQ(committed.duplicates, 3);
    std::vector<EventMessage> replayed = {Event("north", "front", 1), Event("north", "front", 5)};
    for (EventMessage& e : replayed) {
        e.replayed = true;
        ASSERT_TRUE(c->accept(e));
    }
    EXPECT_EQ(c->flush().inserted, 1);
    EXPECT_EQ(c->stats().duplicates, 4);
    EXPECT_EQ(sql("SELECT count(*) FROM velta36_events"), "5");

    // Text that needs quoting on each way in (COPY, and arrays when the
    // batch holds a duplicate).
    EventMessage odd = Event("north", "front", 6);
    odd.time.reset();
    odd.card = "ab\"c\\d,{}";
    odd.reason = "tab\there\r\nnext \\N";
    odd.dataId = -7;
    store(*c, {odd});
    EventMessage odd2 = odd;
    odd2.seq = 7;
    odd2.row = 7;
    odd2.identity = std::string(kEpochA) + ":7";
    ASSERT_TRUE(c->accept(odd2));
    ASSERT_TRUE(c->accept(odd));
    EXPECT_EQ(c->flush().inserted, 1);
    EXPECT_EQ(sql("SELECT string_agg((reason = E'tab\\there\\r\\nnext \\\\N')::text, ',') FROM velta36_events "
                  "WHERE seq >= 6"),
              "true,true");
    sql("DELETE FROM velta36_events WHERE seq = 7");
    sql("UPDATE velta36_events SET reason = '刷卡进门成功' WHERE seq = 6");
    EXPECT_EQ(sql("SELECT concat_ws('|', site, device, identity, data_id, seq, epoch, site_row, "
                  "coalesce(event_time, 'NULL'), channel, event_type, type_name, card, reason, "
                  "received_at > now() - interval '1 hour') FROM velta36_events ORDER BY seq"),
              "north|front|6f1c2a9e0b7d4e11:1|1|1|6f1c2a9e0b7d4e11|1|2024-03-05 07:01:00|1|1|granted_entry|"
              "00001234|刷卡进门成功|t\n"
              "north|front|6f1c2a9e0b7d4e11:2|1|2|6f1c2a9e0b7d4e11|2|2024-03-05 07:02:00|1|1|granted_entry|"
              "00001234|刷卡进门成功|t\n"
              "north|front|6f1c2a9e0b7d4e11:3|1|3|6f1c2a9e0b7d4e11|3|2024-03-05 07:03:00|1|1|granted_entry|"
              "00001234|刷卡进门成功|t\n"
              "north|front|6f1c2a9e0b7d4e11:4|1|4|6f1c2a9e0b7d4e11|4|2024-03-05 07:04:00|1|1|granted_entry|"
              "00001234|刷卡进门成功|t\n"
              "north|front|6f1c2a9e0b7d4e11:5|1|5|6f1c2a9e0b7d4e11|5|2024-03-05 07:05:00|1|1|granted_entry|"
              "00001234|刷卡进门成功|t\n"
              "north|front|6f1c2a9e0b7d4e11:6|-7|6|6f1c2a9e0b7d4e11|6|NULL|1|1|granted_entry|"
              "ab\"c\\d,{}|刷卡进门成功|t");
}

TEST_F(CollectorTest, BatchesCommitBySizeOrDelayAndReportWhatTheyCommitted)
{
    CollectorOptions o = options();
    o.batchRows = 3;
    o.batchDelay = milliseconds(20);
    auto c = collector(o);

    std::vector<Ticket> tickets;
    for (const EventMessage& e : Range("north", "front", 1, 6))
        tickets.push_back(*c->accept(e));
    StateMessage state;
    state.site = "north";
    state.device = "front";
    state.lastSeq = 6;
    tickets.push_back(*c->accept(state));
    EXPECT_EQ(sql("SELECT count(*) FROM velta36_events"), "0");   // nothing before a poll

    // Two full batches go at once; the seventh waits for its delay.
    Committed first = c->poll();
    EXPECT_EQ(first.tickets, std::vector<Ticket>(tickets.begin(), tickets.begin() + 6));
    EXPECT_EQ(first.inserted, 6);
    EXPECT_EQ(c->stats().batches, 2);
    EXPECT_EQ(c->pending(), 1u);
    EXPECT_EQ(c->nextWake(), now + milliseconds(20));
    now += milliseconds(19);
    EXPECT_TRUE(c->poll().tickets.empty());
    EXPECT_EQ(sql("SELECT count(*) FROM velta36_device_state WHERE state_last_seq IS NOT NULL"), "0");
    now += milliseconds(1);
    Committed second = c->poll();
    EXPECT_EQ(second.tickets, std::vector<Ticket>{tickets[6]});
    EXPECT_EQ(second.states, 1);
    EXPECT_EQ(sql("SELECT state_last_seq FROM velta36_device_state"), "6");

    // Beyond the pending bound a message is refused, not dropped: the
    // broker keeps it until it is taken.
    o.maxPending = 2;
    auto bounded = collector(o);
    EXPECT_TRUE(bounded->accept(Event("north", "back", 1)));
    EXPECT_TRUE(bounded->accept(Event("north", "back", 2)));
    EXPECT_FALSE(bounded->accept(Event("north", "back", 3)));
}

TEST_F(CollectorTest, CurrentStatePerDeviceFromStatesAndEvents)
{
    auto c = collector(options());
    StateMessage state;
    state.site = "north";
    state.device = "front";
    state.dataId = 3;
    state.online = true;
    state.doors = 2;
    state.door1 = DoorState::Closed;
    state.door2 = DoorState::Open;
    state.lastRound = "2026-12-10T11:40:02Z";
    state.lastSeq = 3;
    state.eventsStored = 1234;
    ASSERT_TRUE(c->accept(state));
    for (const EventMessage& e : Range("north", "front", 1, 3))
        ASSERT_TRUE(c->accept(e));
    EXPECT_EQ(c->flush().tickets.size(), 4u);
    const std::string columns =
        "SELECT concat_ws('|', site, device, data_id, online, doors, door1, coalesce(door2, 'NULL'), "
        "database_fault, to_char(last_round AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS'), state_last_seq, "
        "events_stored, last_event_time, last_seq) FROM velta36_device_state";
    EXPECT_EQ(sql(columns),
              "north|front|3|t|2|closed|open|f|2026-12-10 11:40:02|3|1234|2024-03-05 07:03:00|3");

    // An older state that crossed the newer one changes nothing; a newer
    // one (offline, one door, a database fault) replaces it; a replayed
    // older event leaves the last event alone.
    StateMessage older = state;
    older.lastSeq = 2;
    older.door1 = DoorState::Open;
    ASSERT_TRUE(c->accept(older));
    ASSERT_TRUE(c->accept(Event("north", "front", 1)));
    EXPECT_EQ(c->flush().tickets.size(), 2u);
    EXPECT_EQ(sql(columns),
              "north|front|3|t|2|closed|open|f|2026-12-10 11:40:02|3|1234|2024-03-05 07:03:00|3");
    StateMessage newer = state;
    newer.online = false;
    newer.doors = 1;
    newer.door2.reset();
    newer.door1 = DoorState::Unknown;
    newer.databaseFault = true;
    ASSERT_TRUE(c->accept(newer));
    c->flush();
    EXPECT_EQ(sql(columns),
              "north|front|3|f|1|unknown|NULL|t|2026-12-10 11:40:02|3|1234|2024-03-05 07:03:00|3");
}

TEST_F(CollectorTest, ANewEpochIsNeitherAGapNorADuplicate)
{
    auto c = collector(options());
    store(*c, Range("north", "front", 1, 5));
    // The site rebuilt its table: rows count from 1 again under a new
    // epoch, seq goes on.
    std::vector<EventMessage> rebuilt;
    for (int64_t row = 1; row <= 3; ++row)
        rebuilt.push_back(Event("north", "front", 5 + row, kEpochB, row));
    for (const EventMessage& e : rebuilt)
        ASSERT_TRUE(c->accept(e));
    const Committed committed = c->flush();
    EXPECT_EQ(committed.inserted, 3);
    EXPECT_EQ(committed.duplicates, 0);
    EXPECT_EQ(sql("SELECT string_agg(identity, ',' ORDER BY seq) FROM velta36_events WHERE site_row = 2"),
              "6f1c2a9e0b7d4e11:2,0123456789abcdef:2");
    EXPECT_EQ(sql("SELECT concat_ws(',', start_seq, highest_seq, contiguous_seq) FROM velta36_device_progress"),
              "1,8,8");
    EXPECT_EQ(sql("SELECT count(*) FROM velta36_gaps"), "0");
    now += std::chrono::hours(1);
    c->poll();
    EXPECT_TRUE(replays.empty());
}

TEST_F(CollectorTest, SchemaIsVersionedCreatedOnceAndANewerOneRefused)
{
    collector(options());
    EXPECT_EQ(sql("SELECT string_agg(version::text, ',') FROM velta36_schema"), "1");
    EXPECT_EQ(std::count(log.begin(), log.end(), "created the collector's tables (version 0 to 1)"), 1);
    log.clear();
    auto again = collector(options());
    EXPECT_TRUE(again->connected());
    EXPECT_EQ(sql("SELECT count(*) FROM velta36_schema"), "1");
    EXPECT_EQ(std::count(log.begin(), log.end(), "connected to PostgreSQL"), 1);
    EXPECT_EQ(log.size(), 1u);

    sql("INSERT INTO velta36_schema (version) VALUES (99)");
    auto refused = collector(options());
    EXPECT_FALSE(refused->connected());
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().find("version 99, newer than this collector (1)"), std::string::npos) << log.back();
}

}  // namespace
}  // namespace velta36col
