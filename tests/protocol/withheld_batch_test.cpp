// A batch is acknowledged ("v0") only when every event of it is stored. The
// store is made to refuse chosen events with a trigger on the table; the
// transcript shows the round ending without "v0", and when the controller
// sends the batch again the rows come out exactly once each, and exactly
// as a store that never failed gives them: a record is judged once, at its
// first decoding.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <stdexcept>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "protocol_frames.h"
#include "protocol_rig.h"
#include "protocol_states.h"
#include "waiting_events.h"

namespace {

using Calls = std::vector<std::string>;

const std::string kStatusRequest = "@0{007;/";
const std::string kEventRead = "@0q0;/";
const std::string kBatchAck = "@0v000:6/";
const Calls kWithheldEnd = {"Reset", "SendSP 5045", "Reset", "BatchCheck", "History"};

void Exec(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    char* error = nullptr;
    const bool opened = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    const bool ran = opened && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK;
    const std::string why = error ? error : (db ? sqlite3_errmsg(db) : "no memory");
    sqlite3_free(error);
    sqlite3_close(db);
    if (!ran)
        throw std::runtime_error(sql + ": " + why);
}

// Every insert of a row with this card number fails.
void RefuseCard(ProtocolRig& rig, const std::string& card)
{
    Exec(rig.db_.path(), "CREATE TRIGGER refuse BEFORE INSERT ON velta36_event WHEN NEW.CardNo = '" + card +
                             "' BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
}

// Every insert of a row for which the SQL condition holds fails.
void RefuseWhere(ProtocolRig& rig, const std::string& condition)
{
    Exec(rig.db_.path(), "CREATE TRIGGER refuse BEFORE INSERT ON velta36_event WHEN " + condition +
                             " BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
}

void AcceptAll(ProtocolRig& rig)
{
    Exec(rig.db_.path(), "DROP TRIGGER refuse");
}

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Records decoded: each prints one line with its time fields.
std::size_t DecodedRecords(const std::string& log)
{
    return Count(log, "tm_year:");
}

std::vector<std::string> Cards(const std::vector<EventRow>& rows)
{
    std::vector<std::string> cards;
    for (const EventRow& row : rows)
        cards.push_back(row.card);
    return cards;
}

// Channel, code and reason of each row, in the order stored: "1:14 非法开门".
std::vector<std::string> Events(const std::vector<EventRow>& rows)
{
    std::vector<std::string> events;
    for (const EventRow& row : rows)
        events.push_back(std::to_string(row.channel) + ":" + std::to_string(row.type) + " " + row.reason);
    return events;
}

const std::string kBreakIn = "1:14 非法开门";
const std::string kAlarmEndRecord = "1:9 告警结束";
const std::string kAlarmEndFromStatus = "1:9 ";
const std::string kDoor1Opened = frames::Record("3001000001");
const std::string kDoor1Closed = frames::Record("3001000000");

// The controller's side of whole rounds: the records it holds, deleted only
// when the device acknowledges them with "v0", and its door status. What it
// sends next depends on what the device did, as on a real line.
struct Controller {
    std::vector<std::string> records;
    std::string status = "1";   // door 1 closed ('0': open)
};

class WithheldBatch : public ::testing::Test {
protected:
    // A later round up to the event read, doors closed.
    void startRound()
    {
        rig.clear();
        rig.device->clockSet = 1;
        rig.device->RefreshStatus();
        ASSERT_EQ(rig.feed(frames::DataFrame("01")), 1);
        ASSERT_EQ(rig.sentFrames(), (std::vector<std::string>{kStatusRequest, kEventRead}));
        rig.clear();
    }

    // Feeds the event reply; returns what process returned and the log.
    int feedBatch(const std::vector<std::string>& records, std::string& log)
    {
        testing::internal::CaptureStdout();
        const int result = rig.feed(frames::EventReply(records));
        log = testing::internal::GetCapturedStdout();
        return result;
    }

    // One whole round against the controller (at most 10 records held):
    // status, event read, and "v0" and "v3" when the device sends them.
    // True when the batch was acknowledged.
    bool round(Controller& controller)
    {
        rig.clear();
        rig.device->clockSet = 1;
        rig.device->RefreshStatus();
        testing::internal::CaptureStdout();
        rig.feed(frames::DataFrame("0" + controller.status));
        rig.feed(frames::EventReply(controller.records));
        const bool acknowledged = !rig.sentFrames().empty() && rig.sentFrames().back() == kBatchAck;
        if (acknowledged) {
            controller.records.clear();
            rig.feed(frames::Ack());
            rig.feed(frames::Ack());
        }
        testing::internal::GetCapturedStdout();
        return acknowledged;
    }

    ProtocolRig rig;
};

TEST_F(WithheldBatch, failed_save_withholds_v0_and_batch_is_stored_once_later)
{
    const std::vector<std::string> batch = frames::Swipes(10);
    RefuseCard(rig, "00001003");
    startRound();
    std::string log;
    // A full batch: without the failure the device would acknowledge it and
    // read on. Instead the round ends as after an empty batch.
    EXPECT_EQ(feedBatch(batch, log), 0);
    EXPECT_EQ(rig.calls(), kWithheldEnd);
    EXPECT_EQ(rig.published().size(), 1u);
    EXPECT_EQ(Cards(rig.rows()), (std::vector<std::string>{"00001000", "00001001", "00001002"}));
    // Every record judged; four attempts for the fourth event, the ones
    // after it are not tried.
    const std::string failure = "SaveDoorEvent odb::exception:19 (1811): refused by the test\n";
    EXPECT_NE(log.find(failure + failure + failure + failure), std::string::npos) << log;
    EXPECT_EQ(log.find(failure + failure + failure + failure + failure), std::string::npos) << log;
    EXPECT_EQ(DecodedRecords(log), 10u);
    EXPECT_EQ(rig.device->withheldCount, 10);

    // Still refused next round: the same records, neither judged nor stored
    // twice.
    startRound();
    EXPECT_EQ(feedBatch(batch, log), 0);
    EXPECT_EQ(rig.calls(), kWithheldEnd);
    EXPECT_EQ(rig.rows().size(), 3u);
    EXPECT_EQ(DecodedRecords(log), 0u);

    // The store takes it again. The controller sends the batch from its
    // oldest record, with two more events behind it (11 records is more than
    // it ever sends; the device reads them all).
    AcceptAll(rig);
    std::vector<std::string> again = batch;
    again.push_back(frames::Record("200:555500"));
    startRound();
    EXPECT_EQ(feedBatch(again, log), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send " + kBatchAck}));
    EXPECT_EQ(log.find("SaveDoorEvent"), std::string::npos);
    // Only the record not judged before was decoded.
    EXPECT_EQ(DecodedRecords(log), 1u);
    std::vector<std::string> expected;
    for (int card = 1000; card < 1010; ++card)
        expected.push_back("0000" + std::to_string(card));
    expected.push_back("00005555");
    EXPECT_EQ(Cards(rig.rows()), expected);
    EXPECT_EQ(rig.device->withheldCount, 0);
}

TEST_F(WithheldBatch, stored_records_are_not_fed_to_door_tracking_twice)
{
    // Door 1 forced open, then closed (alarm end), then a record the store
    // refuses. Were the opening decoded again after the closing, it would be
    // a second forced opening.
    const std::vector<std::string> batch = {kDoor1Opened, kDoor1Closed, frames::Record("200:777700")};
    RefuseCard(rig, "00007777");
    startRound();
    std::string log;
    EXPECT_EQ(feedBatch(batch, log), 0);
    ASSERT_EQ(rig.rows().size(), 2u);
    // The refused swipe was judged all the same: the door may open now.
    const boost::posix_time::ptime access = rig.device->lastAccessTime[0];
    EXPECT_FALSE(access.is_not_a_date_time());
    EXPECT_EQ(rig.device->lastEventType[0], 1);
    AcceptAll(rig);
    startRound();
    EXPECT_EQ(feedBatch(batch, log), 1);
    const std::vector<EventRow> rows = rig.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].type, 14);
    EXPECT_EQ(rows[1].type, 9);
    EXPECT_EQ(rows[2].type, 1);
    EXPECT_EQ(rows[2].card, "00007777");
    EXPECT_EQ(rig.device->lastAccessTime[0], access) << "the access time is that of the first decoding";
}

// A break-in held back for longer than the minute after the door was first
// seen open is still a break-in: judged when first decoded, not again when
// the controller sends it again.
TEST_F(WithheldBatch, held_break_in_stays_a_break_in_after_the_minute)
{
    Controller controller;
    controller.status = "0";   // door 1 open
    controller.records = {kDoor1Opened};
    RefuseWhere(rig, "NEW.EventType = 14");
    EXPECT_FALSE(round(controller));
    // 70 seconds later, as far as the door tracking can tell.
    rig.device->lastAccessTime[0] -= boost::posix_time::seconds(70);
    EXPECT_FALSE(round(controller));
    AcceptAll(rig);
    EXPECT_TRUE(round(controller));
    EXPECT_FALSE(round(controller));   // an empty batch: nothing more
    EXPECT_EQ(Events(rig.rows()), (std::vector<std::string>{kBreakIn}));
}

// The closing record's alarm end refused: the door is closed after the
// batch, as the record says, so the next status reply makes no second one.
TEST_F(WithheldBatch, held_alarm_end_record_is_not_made_again_by_the_status_reply)
{
    Controller controller;
    controller.records = {kDoor1Opened, kDoor1Closed};
    RefuseWhere(rig, "NEW.Reason = '告警结束'");
    EXPECT_FALSE(round(controller));
    EXPECT_EQ(rig.device->lastEventType[0], 9);
    EXPECT_EQ(rig.device->doorOpenSeen[0], 0);
    EXPECT_FALSE(round(controller));
    AcceptAll(rig);
    EXPECT_TRUE(round(controller));
    EXPECT_FALSE(round(controller));
    EXPECT_EQ(Events(rig.rows()), (std::vector<std::string>{kBreakIn, kAlarmEndRecord}));
}

// The status reply's alarm end refused: the door counts as closed all the
// same, so the next opening is a break-in; the alarm end waits and is
// stored before it, with the time it was made.
TEST_F(WithheldBatch, break_in_after_a_refused_alarm_end_is_raised)
{
    Controller controller;
    controller.records = {kDoor1Opened};
    EXPECT_TRUE(round(controller));
    RefuseWhere(rig, "NEW.EventType = 9");
    controller.records = {frames::Record("3001000001", "12", "30")};
    EXPECT_FALSE(round(controller));
    ASSERT_EQ(velta36::WaitingCount(*rig.device), 2u);
    std::string madeAt = boost::posix_time::to_iso_extended_string(
        rig.device->waitingEvents->events.front().event.EventTime);
    AcceptAll(rig);
    EXPECT_TRUE(round(controller));
    EXPECT_FALSE(round(controller));
    const std::vector<EventRow> rows = rig.rows();
    EXPECT_EQ(Events(rows), (std::vector<std::string>{kBreakIn, kAlarmEndFromStatus, kBreakIn,
                                                      kAlarmEndFromStatus}));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1].time, madeAt.replace(10, 1, " "));
    EXPECT_EQ(rows[2].time, "2024-03-05 12:30:00");
}

// The controller lost or changed the batch held back: what was judged of it
// is stored all the same (it was read, and nothing else holds it), then the
// batch it sends now, whole.
TEST_F(WithheldBatch, a_different_batch_after_withholding_is_stored_whole)
{
    RefuseCard(rig, "00001002");
    startRound();
    std::string log;
    EXPECT_EQ(feedBatch(frames::Swipes(3), log), 0);
    EXPECT_EQ(rig.rows().size(), 2u);
    AcceptAll(rig);
    // Not the batch withheld (its first record differs): nothing is skipped.
    const std::vector<std::string> other = {frames::Record("200:900000"), frames::Record("200:100100")};
    startRound();
    EXPECT_EQ(feedBatch(other, log), 1);
    EXPECT_EQ(DecodedRecords(log), 2u);
    EXPECT_EQ(Cards(rig.rows()),
              (std::vector<std::string>{"00001000", "00001001", "00001002", "00009000", "00001001"}));
}

// The device cannot tell a "v0" lost on the line from one that arrived: a
// batch sent again after it was acknowledged is stored again.
TEST_F(WithheldBatch, batch_sent_again_after_its_v0_is_stored_again)
{
    const std::vector<std::string> batch = frames::Swipes(2);
    startRound();
    std::string log;
    EXPECT_EQ(feedBatch(batch, log), 1);
    startRound();
    EXPECT_EQ(feedBatch(batch, log), 1);
    EXPECT_EQ(Cards(rig.rows()), (std::vector<std::string>{"00001000", "00001001", "00001000", "00001001"}));
}

// Another program keeps the file locked and never lets go: the round still
// ends within a few seconds (four attempts of half a second for the first
// record), so the line's other controllers are served.
TEST_F(WithheldBatch, locked_file_stalls_one_round_for_seconds_not_minutes)
{
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(rig.db_.path().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    startRound();
    std::string log;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(feedBatch(frames::Swipes(10), log), 0);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, std::chrono::seconds(6));
    EXPECT_EQ(rig.calls(), kWithheldEnd);
    EXPECT_EQ(DecodedRecords(log), 10u);
    EXPECT_EQ(Count(log, "SaveDoorEvent"), 4u) << "one save gave up, none after it was tried";

    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(rig.rows().empty());
}

// Both doors' alarm ends of one status reply under a lock held for good:
// door 2's is not tried after door 1's waited out its lock waits, so the
// reply stalls no longer than for one save.
TEST_F(WithheldBatch, locked_file_stalls_a_status_reply_for_one_save)
{
    ProtocolRig two(2);
    two.device->lastEventType[0] = 14;
    two.device->lastEventType[1] = 14;
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(two.db_.path().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    two.device->protocolState = PS_STATUS_READ;
    testing::internal::CaptureStdout();
    EXPECT_EQ(two.feed(frames::DataFrame("03")), 1);
    const std::string log = testing::internal::GetCapturedStdout();
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(Count(log, "SaveDoorEvent"), 4u) << log;
    EXPECT_EQ(velta36::WaitingCount(*two.device), 2u);
    EXPECT_EQ(two.sentFrames(), (std::vector<std::string>{kEventRead}));
}

// The two doors' alarm ends do not wait for each other: door 2's is stored
// although door 1's is refused, and door 1 counts as closed: its next
// opening is a break-in. Door 1's alarm end is stored, with the time it was
// made, at the next reply that stores, before what was judged after it.
TEST_F(WithheldBatch, alarm_ends_of_both_doors_do_not_wait_for_each_other)
{
    ProtocolRig two(2);
    two.device->lastEventType[0] = 14;
    two.device->lastEventType[1] = 14;
    Exec(two.db_.path(), "CREATE TRIGGER refuse BEFORE INSERT ON velta36_event WHEN NEW.ReaderChannel = 1 "
                         "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
    two.device->protocolState = PS_STATUS_READ;
    testing::internal::CaptureStdout();
    EXPECT_EQ(two.feed(frames::DataFrame("03")), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Events(two.rows()), (std::vector<std::string>{"2:9 "}));
    EXPECT_EQ(two.device->lastEventType[0], 9);
    EXPECT_EQ(two.device->lastEventType[1], 9);
    EXPECT_EQ(two.device->record.door1Open, 0);
    EXPECT_EQ(two.device->record.door2Open, 0);
    EXPECT_EQ(two.sentFrames(), (std::vector<std::string>{kEventRead}));
    const boost::posix_time::ptime madeAt = two.device->waitingEvents->events.front().event.EventTime;

    Exec(two.db_.path(), "DROP TRIGGER refuse");
    testing::internal::CaptureStdout();
    EXPECT_EQ(two.feed(frames::EventReply({kDoor1Opened})), 1);
    testing::internal::GetCapturedStdout();
    const std::vector<EventRow> rows = two.rows();
    EXPECT_EQ(Events(rows), (std::vector<std::string>{"2:9 ", "1:9 ", kBreakIn}));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].time, boost::posix_time::to_iso_extended_string(madeAt).replace(10, 1, " "));
}

}  // namespace
