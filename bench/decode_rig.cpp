#include "decode_rig.h"

#include <sqlite3.h>

#include "frames.h"
#include "protocol_states.h"
#include "waiting_events.h"

namespace velta36bench {

void NullTransport::send(const unsigned char* data, std::size_t len)
{
    last_.assign(reinterpret_cast<const char*>(data), len);
    ++frames_;
}

namespace {

using velta36test::EventRecord;
using velta36test::EventRecordFields;

EventRecordFields Fields(char kind, char reader, const char* direction, const char* card, char flag1,
                         char flag2, int hour, int minute)
{
    EventRecordFields f;
    f.kind = kind;
    f.reader = reader;
    f.direction = direction;
    f.card = card;
    f.flag1 = flag1;
    f.flag2 = flag2;
    f.hour = hour;
    f.minute = minute;
    return f;
}

// A batch as a busy door sees it: mostly granted swipes, some refusals and
// unknown cards, exit buttons and a door closing. Every record decodes to a
// stored row whatever the door tracking holds, so each reply is exactly ten
// saves however often it is repeated.
std::string FullBatch()
{
    std::string records;
    records += EventRecord(Fields('2', '0', "0:", "1234", '0', '0', 8, 1));
    records += EventRecord(Fields('2', '1', "0;", "2345", '0', '0', 8, 2));
    records += EventRecord(Fields('2', '0', "0:", "3456", '0', '0', 8, 3));
    records += EventRecord(Fields('0', '0', "0:", "4567", '8', '0', 8, 4));
    records += EventRecord(Fields('0', '1', "0;", "5678", '0', '8', 8, 5));
    records += EventRecord(Fields('1', '0', "0:", "6789", '0', '0', 8, 6));
    records += EventRecord(Fields('3', '0', "03", "0000", '0', '1', 8, 7));
    records += EventRecord(Fields('3', '0', "04", "0000", '0', '1', 8, 8));
    records += EventRecord(Fields('3', '0', "01", "0000", '0', '0', 8, 9));
    records += EventRecord(Fields('2', '1', "0:", "7890", '0', '0', 8, 10));
    return records;
}

}  // namespace

DecodeRig::DecodeRig() : host_(&transport_), device_(new VELTA36())
{
    host_.attach(*device_);
    Json::Value config(Json::objectValue);
    config["data_id"] = 7;
    config["appSetting"]["doors"] = 2;
    device_->InitSetting(config);
    // The device is past its first round: the clock has been set.
    device_->clockSet = 1;
    eventReply_ = velta36test::Bytes(velta36test::DataFrame(FullBatch()));
    // Status digit 3: both doors closed, the common case.
    statusReply_ = velta36test::Bytes(velta36test::DataFrame("03"));
    ack_ = velta36test::Bytes(velta36test::Ack("0"));
}

std::string DecodeRig::Feed(std::vector<unsigned char>& frame, int state, int expectedResult,
                            int expectedState, const char* expectedPrefix)
{
    device_->protocolState = state;
    device_->rxLength = 0;
    const uint64_t framesBefore = transport_.frames();
    const int result = device_->process(frame.data(), static_cast<unsigned int>(frame.size()));
    if (result != expectedResult)
        return "process returned " + std::to_string(result);
    if (device_->protocolState != expectedState)
        return "protocolState became " + std::to_string(device_->protocolState);
    if (transport_.frames() != framesBefore + 1 || transport_.lastFrame().compare(0, 4, expectedPrefix) != 0)
        return "sent \"" + transport_.lastFrame() + "\"";
    return std::string();
}

std::string DecodeRig::EventReply()
{
    // A full batch is followed by "v0" and the wait for its acknowledgement.
    device_->lastBatchCount = 0;
    std::string failure = Feed(eventReply_, PS_EVENT_READ, 1, PS_EVENT_ACK, "@0v0");
    if (failure.empty() && device_->lastBatchCount != kRecordsPerReply)
        failure = "decoded " + std::to_string(device_->lastBatchCount) + " records";
    return failure;
}

std::string DecodeRig::WithheldReply()
{
    device_->protocolState = PS_EVENT_READ;
    device_->rxLength = 0;
    const uint64_t framesBefore = transport_.frames();
    const int result = device_->process(eventReply_.data(), static_cast<unsigned int>(eventReply_.size()));
    if (result != 0)
        return "process returned " + std::to_string(result);
    if (transport_.frames() != framesBefore)
        return "sent \"" + transport_.lastFrame() + "\"";
    if (velta36::WaitingCount(*device_) != static_cast<std::size_t>(kRecordsPerReply))
        return "a record counts as stored";
    return std::string();
}

std::string DecodeRig::StatusReply()
{
    return Feed(statusReply_, PS_STATUS_READ, 1, PS_EVENT_READ, "@0q0");
}

std::string DecodeRig::Acknowledgement()
{
    device_->lastBatchCount = kRecordsPerReply;
    return Feed(ack_, PS_EVENT_ACK, 1, PS_EVENT_READ, "@0q0");
}

long long CountEventRows()
{
    sqlite3* db = nullptr;
    long long rows = -1;
    if (sqlite3_open_v2("ZRMDevice.db", &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM velta36_event", -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            rows = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
}

}  // namespace velta36bench
