// `velta36 events --format csv|json`: rows other systems read. Quoting,
// rows without a time, card numbers holding bytes that are not text, and
// the end of a --until range.
#include <gtest/gtest.h>

#include <json/json.h>

#include "event_database.h"
#include "event_names.h"
#include "output_format.h"

namespace {

velta36site::StoredEvent Row()
{
    velta36site::StoredEvent row;
    row.id = 7;
    row.dataId = 101;
    row.eventTime = "2024-03-05 08:01:00";
    row.readerChannel = 1;
    row.eventType = 1;
    row.cardNo = "00001234";
    row.reason = "刷卡进门成功";
    return row;
}

TEST(EventExport, CsvQuotesOnlyWhatNeedsIt)
{
    EXPECT_EQ(velta36cli::EventCsvHeader(), "id,data_id,EventTime,ReaderChannel,EventType,CardNo,Reason,Device,TypeName");
    EXPECT_EQ(velta36cli::EventCsvLine(Row(), "front, east"),
              "7,101,2024-03-05 08:01:00,1,1,00001234,刷卡进门成功,\"front, east\",granted in");

    velta36site::StoredEvent odd = Row();
    odd.eventTime.reset();
    odd.cardNo = "0:\"1,23";
    odd.reason = "two\nlines";
    EXPECT_EQ(velta36cli::EventCsvLine(odd), "7,101,,1,1,\"0:\"\"1,23\",\"two\nlines\",,granted in");
}

// One code stands for several events; the reason tells them apart.
TEST(EventExport, TypeNamesInEnglish)
{
    const struct {
        int64_t type;
        std::string reason, name;
    } cases[] = {
        {0, "控制器断电", "power off"},      {0, "控制器上电", "power on"},
        {0, "防尾随限制", "card refused: tailgating"},
        {5, "", "door opened"},              {9, "告警结束", "alarm end"},
        {10, "刷卡进门成功", "card in"},     {10, "防反潜限制", "card in refused: anti-passback"},
        {11, "错误的密码", "card out refused: wrong password"},
        {12, "未知卡", "unknown card"},      {13, "", "code 13"},
        {14, "非法开门", "door forced"},     {15, "通行时区限制", "card refused: time zone"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(velta36cli::EventTypeName(c.type, c.reason), c.name) << c.type << " " << c.reason;
}

TEST(EventExport, JsonLineIsPlainAsciiAndReadsBack)
{
    velta36site::StoredEvent odd = Row();
    odd.eventTime.reset();
    odd.cardNo = std::string("0:\x01\xff\"12\\", 8);   // a control byte and a byte that is not UTF-8
    const std::string line = velta36cli::EventJsonLine(odd);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    for (char c : line)
        EXPECT_TRUE(c >= 0x20 && c < 0x7f) << line;

    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    ASSERT_TRUE(reader->parse(line.data(), line.data() + line.size(), &value, &errors)) << errors << line;
    EXPECT_EQ(value["id"].asInt64(), 7);
    EXPECT_EQ(value["data_id"].asInt64(), 101);
    EXPECT_TRUE(value["EventTime"].isNull());
    EXPECT_EQ(value["ReaderChannel"].asInt64(), 1);
    EXPECT_EQ(value["EventType"].asInt64(), 1);
    EXPECT_EQ(value["Reason"].asString(), "刷卡进门成功");
    // The byte that is no text arrives as U+FFFD; the others as they were.
    EXPECT_EQ(value["CardNo"].asString(), std::string("0:\x01\xef\xbf\xbd\"12\\"));
}

TEST(EventExport, UntilTakesInTheWholeDayOrMinute)
{
    EXPECT_EQ(velta36site::NormaliseUntil("2024-03-05"), "2024-03-05 23:59:59");
    EXPECT_EQ(velta36site::NormaliseUntil("2024-03-05 08:00"), "2024-03-05 08:00:59");
    EXPECT_EQ(velta36site::NormaliseUntil("2024-03-05T08:00:30"), "2024-03-05 08:00:30");
    EXPECT_EQ(velta36site::NormaliseUntil("2024-02-30"), std::nullopt);
    EXPECT_EQ(velta36site::NormaliseUntil("yesterday"), std::nullopt);
}

}  // namespace
