// `velta36 events` handing rows to other systems: the filters, newest first,
// as CSV and JSON lines, against a database whose rows are known.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <json/json.h>

#include "tool_support.h"

namespace {

using e2e::RunTool;
using e2e::Tool;
using e2e::ToolResult;

std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class ToolEvents : public Tool {
protected:
    void SetUp() override
    {
        e2e::Plugin();   // the event table comes from its catalog registration
        std::filesystem::create_directory("site");
        std::filesystem::current_path("site");
        velta36site::EnsureEventDatabase();
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(velta36site::kDatabaseFile, &db), SQLITE_OK);
        const char* rows =
            "INSERT INTO velta36_event (data_id, EventTime, ReaderChannel, EventType, CardNo, Reason) VALUES"
            " (101, '2024-03-04 23:59:00', 1, 1, '00001234', '刷卡进门成功'),"
            " (101, '2024-03-05 08:00:00', 2, 2, '00001234', '刷卡出门成功'),"
            " (102, '2024-03-05 08:00:00', 0, 0, '00000000', '控制器上电'),"
            " (102, '2024-03-05 17:30:00', 1, 14, '00000000', '非法开门'),"
            " (101, NULL, 3, 3, '00000000', '按钮出门'),"
            " (101, '2024-03-06 00:00:00', 1, 12, '0:1,\"23', '未知卡')";
        ASSERT_EQ(sqlite3_exec(db, rows, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
        std::filesystem::current_path("..");
    }

    ToolResult Events(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"events", "--dir", "site"});
        return RunTool(args);
    }
};

TEST_F(ToolEvents, JsonLinesOfOneDayNewestFirst)
{
    const ToolResult result = Events({"--format", "json", "--since", "2024-03-05", "--until", "2024-03-05"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = LinesOf(result.out);
    ASSERT_EQ(lines.size(), 3u) << result.out;
    std::vector<int64_t> ids;
    Json::Value first;
    for (const std::string& line : lines) {
        Json::Value value;
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        ASSERT_TRUE(reader->parse(line.data(), line.data() + line.size(), &value, nullptr)) << line;
        ids.push_back(value["id"].asInt64());
        if (first.isNull())
            first = value;
    }
    // Within one minute the later row comes first.
    EXPECT_EQ(ids, (std::vector<int64_t>{4, 3, 2}));
    EXPECT_EQ(first["data_id"].asInt64(), 102);
    EXPECT_EQ(first["EventTime"].asString(), "2024-03-05 17:30:00");
    EXPECT_EQ(first["ReaderChannel"].asInt64(), 1);
    EXPECT_EQ(first["EventType"].asInt64(), 14);
    EXPECT_EQ(first["CardNo"].asString(), "00000000");
    EXPECT_EQ(first["Reason"].asString(), "非法开门");
    EXPECT_TRUE(first["Device"].isNull());
    EXPECT_EQ(first["TypeName"].asString(), "door forced");
}

// The table for people: a header, the device by data id and by the name
// the site's configuration gives, the type in English; --device narrows
// by either.
TEST_F(ToolEvents, TableNamesDevicesAndTypesAndFiltersByDevice)
{
    std::ofstream("site.json") << R"({"devices": [{"name": "front", "port": "/dev/ttyS1", "data_id": 101},
                                                 {"name": "yard", "port": "/dev/ttyS1", "address": 1, "data_id": 102}]})";
    const ToolResult table = Events({"--config", "site.json", "--device", "yard", "--device", "101", "--limit", "4"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out,
              "time                 device     ch  event         card      reason\n"
              "2024-03-06 00:00:00  101 front  1   unknown card  0:1,\"23   未知卡\n"
              "2024-03-05 17:30:00  102 yard   1   door forced   00000000  非法开门\n"
              "2024-03-05 08:00:00  102 yard   0   power on      00000000  控制器上电\n"
              "2024-03-05 08:00:00  101 front  2   granted out   00001234  刷卡出门成功\n");
    const ToolResult yard = Events({"--device", "102", "--format", "csv"});
    EXPECT_EQ(LinesOf(yard.out).size(), 3u) << yard.out;
    const ToolResult json = Events({"--config", "site.json", "--device", "yard", "--format", "json", "--limit", "1"});
    EXPECT_NE(json.out.find("\"Device\":\"yard\""), std::string::npos) << json.out;

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--device", "yard"},
                                                 std::vector<std::string>{"--config", "site.json", "--device", "gate"}}) {
        const ToolResult refused = Events(bad);
        EXPECT_EQ(refused.status, 2) << refused.out;
        EXPECT_EQ(LinesOf(refused.err).size(), 1u) << refused.err;
    }
}

TEST_F(ToolEvents, CsvOfChannelsAndTypes)
{
    const ToolResult result = Events({"--format", "csv", "--channel", "1", "--type", "1", "--type", "12"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "id,data_id,EventTime,ReaderChannel,EventType,CardNo,Reason,Device,TypeName\n"
              "6,101,2024-03-06 00:00:00,1,12,\"0:1,\"\"23\",未知卡,,unknown card\n"
              "1,101,2024-03-04 23:59:00,1,1,00001234,刷卡进门成功,,granted in\n");

    // A row without a time has an empty field, and comes last.
    const ToolResult buttons = Events({"--format", "csv", "--channel", "3"});
    EXPECT_EQ(LinesOf(buttons.out).back(), "5,101,,3,3,00000000,按钮出门,,exit button");
}

TEST_F(ToolEvents, UntilAMinuteTakesInThatMinuteAndCardNarrows)
{
    const ToolResult result = Events({"--until", "2024-03-05 08:00", "--card", "00001234"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = LinesOf(result.out);
    ASSERT_EQ(lines.size(), 3u) << result.out;
    EXPECT_EQ(lines[1].substr(0, 19), "2024-03-05 08:00:00");
    EXPECT_EQ(lines[2].substr(0, 19), "2024-03-04 23:59:00");
}

TEST_F(ToolEvents, TableStopsAtTwentyExportsGiveEveryRow)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open("site/ZRMDevice.db", &db), SQLITE_OK);
    for (int i = 0; i < 30; ++i) {
        const std::string insert =
            "INSERT INTO velta36_event (data_id, EventTime, ReaderChannel, EventType, CardNo, Reason) VALUES"
            " (103, '2024-03-07 09:" + std::to_string(10 + i) + ":00', 1, 1, '00000042', '')";
        ASSERT_EQ(sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    sqlite3_close(db);
    EXPECT_EQ(LinesOf(Events({}).out).size(), 1u + 20u);
    EXPECT_EQ(LinesOf(Events({"--format", "csv"}).out).size(), 1u + 36u);
    EXPECT_EQ(LinesOf(Events({"--format", "json"}).out).size(), 36u);
    EXPECT_EQ(LinesOf(Events({"--format", "json", "--limit", "5"}).out).size(), 5u);
}

}  // namespace
