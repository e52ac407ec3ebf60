// The sites' JSON as the collector reads it: the contract's own examples
// field by field, and payloads that must be refused with their reason.
#include <gtest/gtest.h>

#include "messages.h"

namespace velta36col {
namespace {

const char* const kEvent =
    R"({"site":"north","device":"front","data_id":1,"seq":42,)"
    R"("id":"6f1c2a9e0b7d4e11:1234","epoch":"6f1c2a9e0b7d4e11","row":1234,)"
    R"("time":"2024-03-05 07:08:00","channel":1,"type":14,"type_name":"break_in",)"
    R"("card":"00000000","reason":"\u975e\u6cd5\u5f00\u95e8","replayed":false})";

const char* const kState =
    R"({"site":"north","device":"front","data_id":1,"online":true,"doors":2,)"
    R"("door1":"closed","door2":"open","database_fault":false,)"
    R"("last_round":"2026-12-10T11:40:02Z","last_seq":42,"events_stored":1234})";

// The example with one field's JSON text replaced (or removed when the
// replacement is empty).
std::string With(const std::string& base, const std::string& field, const std::string& value)
{
    const std::string key = "\"" + field + "\":";
    const std::size_t at = base.find(key);
    std::size_t end = at + key.size();
    int depth = 0;
    bool quoted = false;
    for (; end < base.size(); ++end) {
        const char c = base[end];
        if (quoted) {
            if (c == '\\')
                ++end;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        } else if ((c == ',' || c == '}') && depth == 0) {
            break;
        }
    }
    if (value.empty()) {
        if (base[end] == ',')
            return base.substr(0, at) + base.substr(end + 1);
        return base.substr(0, at - 1) + base.substr(end);   // the last field: drop the comma before it
    }
    return base.substr(0, at + key.size()) + value + base.substr(end);
}

TEST(CollectorMessages, EventOfTheContractReadFieldByField)
{
    const Parsed<EventMessage> parsed = ParseEvent(kEvent);
    ASSERT_TRUE(parsed) << parsed.error;
    const EventMessage& e = *parsed.message;
    EXPECT_EQ(e.site, "north");
    EXPECT_EQ(e.device, "front");
    EXPECT_EQ(e.dataId, 1);
    EXPECT_EQ(e.seq, 42);
    EXPECT_EQ(e.identity, "6f1c2a9e0b7d4e11:1234");
    EXPECT_EQ(e.epoch, "6f1c2a9e0b7d4e11");
    EXPECT_EQ(e.row, 1234);
    EXPECT_EQ(e.time, std::optional<std::string>("2024-03-05 07:08:00"));
    EXPECT_EQ(e.channel, 1);
    EXPECT_EQ(e.type, 14);
    EXPECT_EQ(e.typeName, "break_in");
    EXPECT_EQ(e.card, "00000000");
    EXPECT_EQ(e.reason, "\xE9\x9D\x9E\xE6\xB3\x95\xE5\xBC\x80\xE9\x97\xA8");   // 非法开门
    EXPECT_FALSE(e.replayed);

    const Parsed<EventMessage> variant =
        ParseEvent(With(With(With(kEvent, "time", "null"), "replayed", "true"), "seq", "9007199254740993"));
    ASSERT_TRUE(variant) << variant.error;
    EXPECT_FALSE(variant.message->time);
    EXPECT_TRUE(variant.message->replayed);
    EXPECT_EQ(variant.message->seq, 9007199254740993LL);   // past a double's exact integers
    // Fields added later by the sites are skipped; "replayed" may be left out.
    const Parsed<EventMessage> extended = ParseEvent(With(With(kEvent, "replayed", ""), "card", R"("1","x":[1])"));
    ASSERT_TRUE(extended) << extended.error;
    EXPECT_FALSE(extended.message->replayed);
}

TEST(CollectorMessages, EventsRefusedWithTheirReason)
{
    const std::string longReason = "\"" + std::string(513, 'x') + "\"";
    const struct {
        std::string payload;
        const char* reason;
    } cases[] = {
        {"", "not JSON"},
        {"[1,2]", "not a JSON object"},
        {std::string(kEvent) + " {}", "not JSON"},
        {With(kEvent, "seq", "0"), "\"seq\" is out of range"},
        {With(kEvent, "seq", "-3"), "\"seq\" is out of range"},
        {With(kEvent, "seq", "42.0"), "\"seq\" is not an integer"},
        {With(kEvent, "seq", "1e2"), "\"seq\" is not an integer"},
        {With(kEvent, "seq", "\"42\""), "\"seq\" is not an integer"},
        {With(kEvent, "seq", "18446744073709551615"), "\"seq\" is not an integer"},
        {With(kEvent, "seq", ""), "\"seq\" is missing"},
        {With(kEvent, "site", "\"no/rth\""), "\"site\" is not an id"},
        {With(kEvent, "site", "\"\""), "\"site\" is not an id"},
        {With(kEvent, "device", "\"" + std::string(65, 'd') + "\""), "\"device\" is longer than 64"},
        {With(kEvent, "epoch", "\"6F1C2A9E0B7D4E11\""), "\"epoch\" is not 16 lower-case hex"},
        {With(kEvent, "id", "\"6f1c2a9e0b7d4e11:1235\""), "\"id\" is not \"<epoch>:<row>\""},
        {With(kEvent, "row", "0"), "\"row\" is out of range"},
        {With(kEvent, "time", "\"2024-03-05T07:08:00\""), "\"time\" is not YYYY-MM-DD hh:mm:ss"},
        {With(kEvent, "time", "7"), "\"time\" is not a string"},
        {With(kEvent, "channel", "4294967296"), "\"channel\" is out of range"},
        {With(kEvent, "card", "\"0000\\u00000\""), "\"card\" is not UTF-8 text without NUL"},
        {With(kEvent, "card", "\"\xC3\x28\""), "\"card\" is not UTF-8"},
        {With(kEvent, "reason", longReason), "\"reason\" is longer than 512"},
        {With(kEvent, "replayed", "1"), "\"replayed\" is not true or false"},
        {With(kEvent, "card", "\"a\",\"card\":\"b\""), "not JSON"},   // a key twice
        {std::string(kMaxPayload + 1, ' '), "larger than"},
        {"[[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]", "not JSON"},
    };
    for (const auto& c : cases) {
        const Parsed<EventMessage> parsed = ParseEvent(c.payload);
        EXPECT_FALSE(parsed) << c.payload.substr(0, 200);
        EXPECT_NE(parsed.error.find(c.reason), std::string::npos)
            << "payload: " << c.payload.substr(0, 200) << "\nerror: " << parsed.error;
    }
}

TEST(CollectorMessages, StatesReadAndRefused)
{
    const Parsed<StateMessage> parsed = ParseState(kState);
    ASSERT_TRUE(parsed) << parsed.error;
    const StateMessage& s = *parsed.message;
    EXPECT_EQ(s.site, "north");
    EXPECT_EQ(s.device, "front");
    EXPECT_TRUE(s.online);
    EXPECT_EQ(s.doors, 2);
    EXPECT_EQ(s.door1, DoorState::Closed);
    EXPECT_EQ(s.door2, std::optional<DoorState>(DoorState::Open));
    EXPECT_FALSE(s.databaseFault);
    EXPECT_EQ(s.lastRound, std::optional<std::string>("2026-12-10T11:40:02Z"));
    EXPECT_EQ(s.lastSeq, 42);
    EXPECT_EQ(s.eventsStored, 1234);

    const Parsed<StateMessage> oneDoor =
        ParseState(With(With(With(kState, "doors", "1"), "door2", ""), "last_round", "null"));
    ASSERT_TRUE(oneDoor) << oneDoor.error;
    EXPECT_FALSE(oneDoor.message->door2);
    EXPECT_FALSE(oneDoor.message->lastRound);

    const struct {
        std::string payload;
        const char* reason;
    } cases[] = {
        {With(kState, "doors", "3"), "\"doors\" is out of range"},
        {With(kState, "door2", ""), "\"door2\" is missing"},
        {With(kState, "door1", "\"ajar\""), "\"door1\" is not open, closed or unknown"},
        {With(kState, "online", "\"yes\""), "\"online\" is not true or false"},
        {With(kState, "last_round", "\"2026-02-30T11:40:02Z\""), "\"last_round\" is not a UTC time"},
        {With(kState, "last_round", "\"2026-12-10 11:40:02\""), "\"last_round\" is not a UTC time"},
        {With(kState, "last_seq", "-1"), "\"last_seq\" is out of range"},
    };
    for (const auto& c : cases) {
        const Parsed<StateMessage> refused = ParseState(c.payload);
        EXPECT_FALSE(refused) << c.payload;
        EXPECT_NE(refused.error.find(c.reason), std::string::npos) << c.payload << "\nerror: " << refused.error;
    }
}

TEST(CollectorMessages, StorableTextIsUtf8WithoutNul)
{
    const struct {
        std::string text;
        bool storable;
    } cases[] = {
        {"", true},
        {"plain", true},
        {"\xE9\x9D\x9E", true},                 // 非
        {"\xF0\x9F\x9A\xAA", true},             // a door, 4 bytes
        {std::string("a\0b", 3), false},
        {"\xC0\xAF", false},                    // overlong '/'
        {"\xED\xA0\x80", false},                // a UTF-16 surrogate
        {"\xF4\x90\x80\x80", false},            // past U+10FFFF
        {"\xE9\x9D", false},                    // cut short
        {"\x80", false},                        // a continuation byte alone
        {"\xFF", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsStorableText(c.text), c.storable) << testing::PrintToString(c.text);
}

}  // namespace
}  // namespace velta36col
