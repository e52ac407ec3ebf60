// A batch is acknowledged ("v0") only when every event of it is stored. The
// store is made to refuse chosen events with a trigger on the table; the
// transcript shows the round ending without "v0", and when the controller
// sends the batch again the rows come out exactly once each.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <stdexcept>

#include "protocol_frames.h"
#include "protocol_rig.h"
#include "protocol_states.h"

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

void AcceptAll(ProtocolRig& rig)
{
    Exec(rig.db_.path(), "DROP TRIGGER refuse");
}

// Records decoded: each prints one line with its time fields.
std::size_t DecodedRecords(const std::string& log)
{
    std::size_t lines = 0;
    for (std::size_t at = log.find("tm_year:"); at != std::string::npos; at = log.find("tm_year:", at + 1))
        ++lines;
    return lines;
}

std::vector<std::string> Cards(const std::vector<EventRow>& rows)
{
    std::vector<std::string> cards;
    for (const EventRow& row : rows)
        cards.push_back(row.card);
    return cards;
}

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
    // Four attempts for the fourth record; the ones after it are not tried.
    const std::string failure = "SaveDoorEvent odb::exception:19 (1811): refused by the test\n";
    EXPECT_NE(log.find(failure + failure + failure + failure), std::string::npos) << log;
    EXPECT_EQ(DecodedRecords(log), 4u);
    EXPECT_EQ(rig.device->withheldCount, 3);

    // Still refused next round: the same records, nothing stored twice.
    startRound();
    EXPECT_EQ(feedBatch(batch, log), 0);
    EXPECT_EQ(rig.calls(), kWithheldEnd);
    EXPECT_EQ(rig.rows().size(), 3u);
    EXPECT_EQ(DecodedRecords(log), 1u);

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
    // Only the records not stored before were decoded.
    EXPECT_EQ(DecodedRecords(log), 8u);
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
    const std::vector<std::string> batch = {frames::Record("3001000001"), frames::Record("3001000000"),
                                            frames::Record("200:777700")};
    RefuseCard(rig, "00007777");
    startRound();
    std::string log;
    EXPECT_EQ(feedBatch(batch, log), 0);
    ASSERT_EQ(rig.rows().size(), 2u);
    EXPECT_TRUE(rig.device->lastAccessTime[0].is_not_a_date_time());   // the refused swipe left no trace
    AcceptAll(rig);
    startRound();
    EXPECT_EQ(feedBatch(batch, log), 1);
    const std::vector<EventRow> rows = rig.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].type, 14);
    EXPECT_EQ(rows[1].type, 9);
    EXPECT_EQ(rows[2].type, 1);
    EXPECT_EQ(rows[2].card, "00007777");
    EXPECT_FALSE(rig.device->lastAccessTime[0].is_not_a_date_time());
}

TEST_F(WithheldBatch, refused_closing_record_leaves_tracking_as_it_was)
{
    Exec(rig.db_.path(), "CREATE TRIGGER refuse BEFORE INSERT ON velta36_event "
                         "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
    startRound();
    rig.device->lastEventType[0] = 14;
    rig.device->doorOpenSeen[0] = 1;
    std::string log;
    EXPECT_EQ(feedBatch({frames::Record("3001000000")}, log), 0);
    EXPECT_EQ(rig.device->lastEventType[0], 14);
    EXPECT_EQ(rig.device->doorOpenSeen[0], 1);
    EXPECT_TRUE(rig.rows().empty());
}

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
    EXPECT_EQ(Cards(rig.rows()),
              (std::vector<std::string>{"00001000", "00001001", "00009000", "00001001"}));
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
    EXPECT_EQ(DecodedRecords(log), 1u);
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(rig.rows().empty());
}

TEST_F(WithheldBatch, alarm_end_from_status_waits_for_a_working_store)
{
    ProtocolRig two(2);
    two.device->lastEventType[0] = 14;
    two.device->lastEventType[1] = 14;
    Exec(two.db_.path(), "CREATE TRIGGER refuse BEFORE INSERT ON velta36_event WHEN NEW.ReaderChannel = 1 "
                         "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
    two.device->protocolState = PS_STATUS_READ;
    testing::internal::CaptureStdout();
    EXPECT_EQ(two.feed(frames::DataFrame("03")), 1);
    const std::string log = testing::internal::GetCapturedStdout();
    // Door 1's alarm end gave up after four attempts; door 2's waits too, so
    // that one reply never waits out more than one save.
    EXPECT_EQ(two.rows().size(), 0u);
    EXPECT_EQ(two.device->lastEventType[0], 14);
    EXPECT_EQ(two.device->lastEventType[1], 14);
    EXPECT_EQ(two.device->record.door1Open, 0);
    EXPECT_EQ(two.device->record.door2Open, 0);
    EXPECT_EQ(two.sentFrames(), (std::vector<std::string>{kEventRead}));

    Exec(two.db_.path(), "DROP TRIGGER refuse");
    two.device->protocolState = PS_STATUS_READ;
    EXPECT_EQ(two.feed(frames::DataFrame("03")), 1);
    const std::vector<EventRow> rows = two.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].channel, 1);
    EXPECT_EQ(rows[0].type, 9);
    EXPECT_EQ(rows[1].channel, 2);
    EXPECT_EQ(rows[1].type, 9);
}

}  // namespace
