// The upstream's pieces without a broker: settings, the request parser,
// the messages' exact bytes, event type names and Home Assistant's keys.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "discovery.h"
#include "iso_time.h"
#include "json_text.h"
#include "messages.h"
#include "request.h"
#include "settings.h"
#include "temp_work_dir.h"
#include "upstream_rig.h"

using namespace velta36up;

namespace {

Json::Value Object(const std::string& text)
{
    return uptest::ParseJson(text);
}

std::string ErrorOf(const std::string& json, const SettingsOverrides& overrides = {})
{
    try {
        ParseSettings(json.empty() ? Json::Value() : Object(json), overrides);
    } catch (const velta36up::SettingsError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(UpstreamSettings, defaults_overrides_and_every_key)
{
    UpstreamSettings s = ParseSettings(Object(R"({"url":"mqtt://broker.example","site":"north"})"));
    EXPECT_EQ(s.broker.host, "broker.example");
    EXPECT_EQ(s.broker.port, 1883);
    EXPECT_FALSE(s.broker.tls);
    EXPECT_EQ(s.clientId, "velta36-north");
    EXPECT_EQ(s.topicPrefix, "velta36");
    EXPECT_EQ(s.discoveryPrefix, "homeassistant");
    EXPECT_TRUE(s.discovery);
    EXPECT_TRUE(s.allowed.empty());
    EXPECT_EQ(s.maxRequestAgeSeconds, 30);

    s = ParseSettings(Object(R"({"url":"mqtt://a","site":"north","username":"north","password_file":"/p",
        "allow":["replay","open-door"],"topic_prefix":"acme/doors","discovery_prefix":"ha","discovery":false,
        "max_request_age":5,"client_id":"n1"})"),
                      SettingsOverrides{std::string("mqtts://[::1]:8884"), std::string("south")});
    EXPECT_TRUE(s.broker.tls);
    EXPECT_EQ(s.broker.host, "::1");
    EXPECT_EQ(s.broker.port, 8884);
    EXPECT_EQ(s.site, "south");
    EXPECT_EQ(s.clientId, "n1");
    EXPECT_EQ(s.topicPrefix, "acme/doors");
    EXPECT_EQ(s.allowed, (std::set<std::string>{"replay", "open-door"}));
    EXPECT_FALSE(s.discovery);
    EXPECT_EQ(s.maxRequestAgeSeconds, 5);
    EXPECT_EQ(ParseSettings(Json::Value(), SettingsOverrides{std::string("mqtts://h"), {}}).broker.port, 8883);
    EXPECT_TRUE(IsTopicSafe(ParseSettings(Json::Value(), SettingsOverrides{std::string("mqtt://h"), {}}).site));
}

TEST(UpstreamSettings, bad_values_are_one_line_naming_what)
{
    const struct {
        const char* json;
        const char* says;
    } cases[] = {
        {R"({"site":"n"})", "no broker URL"},
        {R"({"url":"http://h"})", "must begin with mqtt://"},
        {R"({"url":"mqtt://user:pw@h"})", "password_file"},
        {R"({"url":"mqtt://h:0"})", "is not 1 to 65535"},
        {R"({"url":"mqtt://h:99999"})", "is not 1 to 65535"},
        {R"({"url":"mqtt://h:"})", "empty port"},
        {R"({"url":"mqtt://h/x"})", "host and a port only"},
        {R"({"url":"mqtt://"})", "names no host"},
        {R"({"url":"mqtt://h","site":"a/b"})", "site \"a/b\""},
        {R"({"url":"mqtt://h","site":"n","colour":1})", "unknown key \"colour\""},
        {R"({"url":"mqtt://h","site":"n","allow":["open-door","format-disk"]})", "format-disk"},
        {R"({"url":"mqtt://h","site":"n","allow":"open-door"})", "list of request kinds"},
        {R"({"url":"mqtt://h","site":"n","topic_prefix":"a/#"})", "topic_prefix"},
        {R"({"url":"mqtt://h","site":"n","topic_prefix":"/a"})", "topic_prefix"},
        {R"({"url":"mqtt://h","site":"n","password_file":"/p"})", "needs a \"username\""},
        {R"({"url":"mqtts://h","site":"n","cert_file":"/c"})", "go together"},
        {R"({"url":"mqtt://h","site":"n","ca_file":"/c"})", "need an mqtts:// URL"},
        {R"({"url":"mqtt://h","site":"n","discovery":"yes"})", "true or false"},
        {R"({"url":"mqtt://h","site":"n","max_request_age":0})", "1 to 3600"},
        {R"([1])", "must be an object"},
    };
    for (const auto& c : cases) {
        const std::string error = ErrorOf(c.json);
        EXPECT_NE(error.find(c.says), std::string::npos) << c.json << " gave: " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(UpstreamSettings, a_password_file_open_to_others_is_refused)
{
    velta36test::TempWorkDir dir;
    const std::string file = dir.file("password");
    std::ofstream(file) << "s3cret\nignored\n";
    ::chmod(file.c_str(), 0640);
    try {
        ReadPasswordFile(file);
        ADD_FAILURE() << "a group-readable password file was read";
    } catch (const velta36up::SettingsError& e) {
        EXPECT_NE(std::string(e.what()).find("mode 0640"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("chmod 600"), std::string::npos) << e.what();
    }
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(ReadPasswordFile(file), "s3cret");
    EXPECT_THROW(ReadPasswordFile(dir.file("missing")), velta36up::SettingsError);
}

TEST(UpstreamRequest, parsed_requests_of_every_kind)
{
    ParsedRequest p = ParseRequest("open-door", R"({"transaction":"t-1.a:b_c","device":"front","door":2})");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.request.transaction, "t-1.a:b_c");
    EXPECT_EQ(p.request.device, "front");
    EXPECT_EQ(p.request.command->kind, CommandKind::OpenDoor);
    EXPECT_EQ(p.request.command->door, 2);
    EXPECT_FALSE(p.request.sent);

    p = ParseRequest("add-card", R"({"transaction":"t","device":"d","code":"AB12cd34","slot":9999,"end":"2028-02-29",
        "door":0,"sent":"2026-12-10T11:40:02.250+01:00"})");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.request.command->code, "AB12cd34");
    EXPECT_EQ(p.request.command->slot, 9999);
    EXPECT_EQ(p.request.command->endDate, "2028-02-29");
    EXPECT_EQ(p.request.command->cardDoor, 0);
    EXPECT_EQ(IsoUtc(*p.request.sent), "2026-12-10T10:40:02Z");

    p = ParseRequest("delete-card", R"({"transaction":"t","device":"d","slot":0,"door":2})");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.request.command->kind, CommandKind::DeleteCard);
    EXPECT_EQ(p.request.command->cardDoor, 2);
    EXPECT_TRUE(ParseRequest("configure", R"({"transaction":"t","device":"d"})").ok);
    p = ParseRequest("replay", R"({"transaction":"t","device":"d","from":5,"to":10004})");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_FALSE(p.request.command);
    EXPECT_EQ(p.request.from, 5);
    EXPECT_EQ(p.request.to, 10004);
}

TEST(UpstreamRequest, malformed_requests_say_why_and_echo_what_they_can)
{
    const struct {
        const char* kind;
        const char* payload;
        const char* says;
        const char* transaction;   // echoed, or "" when none could be read
    } cases[] = {
        {"open-door", "", "not JSON", ""},
        {"open-door", "{", "not JSON", ""},
        {"open-door", R"({"transaction":"t","device":"d","door":1} x)", "not JSON", ""},
        {"open-door", R"({"transaction":"t","transaction":"u","device":"d","door":1})", "not JSON", ""},
        {"open-door", "[1]", "not a JSON object", ""},
        {"open-door", R"({"device":"d","door":1})", "\"transaction\" is missing", ""},
        {"open-door", R"({"transaction":"a b","device":"d","door":1})", "\"transaction\" must be", ""},
        {"open-door", R"({"transaction":"t","door":1})", "\"device\" is missing", "t"},
        {"open-door", R"({"transaction":"t","device":"a/b","door":1})", "not a device id", "t"},
        {"open-door", R"({"transaction":"t","device":"d"})", "\"door\" is missing", "t"},
        {"open-door", R"({"transaction":"t","device":"d","door":3})", "from 1 to 2", "t"},
        {"open-door", R"({"transaction":"t","device":"d","door":1.0})", "whole number", "t"},
        {"open-door", R"({"transaction":"t","device":"d","door":"1"})", "whole number", "t"},
        {"open-door", R"({"transaction":"t","device":"d","door":true})", "whole number", "t"},
        {"open-door", R"({"transaction":"t","device":"d","door":1,"doors":2})", "unknown key \"doors\"", "t"},
        {"open-door", R"({"transaction":"t","device":"d","door":1,"sent":"yesterday"})", "\"sent\"", "t"},
        {"open-door", R"({"transaction":"t","device":"d","door":1,"sent":"2026-02-30T00:00:00Z"})", "\"sent\"", "t"},
        {"add-card", R"({"transaction":"t","device":"d","code":"AB12/d34","slot":1,"end":"2030-01-01","door":1})",
         "8 letters or digits", "t"},
        {"add-card", R"({"transaction":"t","device":"d","code":"AB12cd34","slot":10000,"end":"2030-01-01","door":1})",
         "\"slot\"", "t"},
        {"add-card", R"({"transaction":"t","device":"d","code":"AB12cd34","slot":1,"end":"2100-01-01","door":1})",
         "\"end\"", "t"},
        {"add-card", R"({"transaction":"t","device":"d","code":"AB12cd34","slot":1,"end":"2029-02-29","door":1})",
         "\"end\"", "t"},
        {"delete-card", R"({"transaction":"t","device":"d","slot":1,"door":3})", "\"door\"", "t"},
        {"replay", R"({"transaction":"t","device":"d","from":10,"to":9})", "below", "t"},
        {"replay", R"({"transaction":"t","device":"d","from":1,"to":10001})", "at most 10000", "t"},
        {"replay", R"({"transaction":"t","device":"d","from":0,"to":5})", "\"from\"", "t"},
        {"explode", R"({"transaction":"t","device":"d"})", "unknown request kind", "t"},
    };
    for (const auto& c : cases) {
        const ParsedRequest p = ParseRequest(c.kind, c.payload);
        EXPECT_FALSE(p.ok) << c.payload;
        EXPECT_NE(p.error.find(c.says), std::string::npos) << c.payload << " gave: " << p.error;
        EXPECT_EQ(p.request.transaction, c.transaction) << c.payload;
    }
    EXPECT_FALSE(ParseRequest("configure", "{\"transaction\":\"t\",\"device\":\"d\",\"pad\":\"" +
                                               std::string(kMaxRequestBytes, 'x') + "\"}")
                     .ok);
    EXPECT_FALSE(ParseRequest("configure", std::string(100, '[') + std::string(100, ']')).ok);
}

TEST(UpstreamMessages, event_state_and_response_bytes)
{
    SourceRow row;
    row.id = 1234;
    row.dataId = 1;
    row.eventTime = "2024-03-05 07:08:00";
    row.channel = 1;
    row.type = 14;
    row.card = "00000000";
    row.reason = "非法开门";
    const std::string event = EventPayload(EventIdentity{"north", "front", 42, "6f1c2a9e0b7d4e11"}, row);
    EXPECT_EQ(event,
              R"({"site":"north","device":"front","data_id":1,"seq":42,"id":"6f1c2a9e0b7d4e11:1234",)"
              R"("epoch":"6f1c2a9e0b7d4e11","row":1234,"time":"2024-03-05 07:08:00","channel":1,"type":14,)"
              R"("type_name":"break_in","card":"00000000","reason":"非法开门","replayed":false})");
    EXPECT_EQ(ReplayedPayload(event), event.substr(0, event.size() - 6) + "true}");

    row.eventTime.reset();
    row.card = std::string("\"\\\x01\xff", 4);   // what line noise could leave in a column
    const Json::Value parsed = uptest::ParseJson(EventPayload(EventIdentity{"n", "d", 1, "0000000000000000"}, row));
    EXPECT_TRUE(parsed["time"].isNull());
    EXPECT_EQ(parsed["card"].asString(), "\"\\\x01\xef\xbf\xbd");

    DeviceState state;
    state.online = true;
    state.doors = 2;
    state.door1 = DoorState::Closed;
    state.door2 = DoorState::Open;
    state.lastRound = *ParseIsoTime("2026-12-10T11:40:02Z");
    state.lastSeq = 42;
    state.eventsStored = 1234;
    EXPECT_EQ(StatePayload("north", "front", 1, state),
              R"({"site":"north","device":"front","data_id":1,"online":true,"doors":2,"door1":"closed",)"
              R"("door2":"open","database_fault":false,"last_round":"2026-12-10T11:40:02Z","last_seq":42,)"
              R"("events_stored":1234})");
    EXPECT_EQ(StatePayload("n", "d", 3, DeviceState{}),
              R"({"site":"n","device":"d","data_id":3,"online":false,"doors":1,"door1":"unknown",)"
              R"("database_fault":false,"last_round":null,"last_seq":0,"events_stored":0})");

    Response response;
    response.transaction = "t1";
    response.device = "front";
    response.kind = "open-door";
    response.status = "ok";
    response.controlResult = 1;
    EXPECT_EQ(ResponsePayload(response),
              R"({"transaction":"t1","device":"front","kind":"open-door","status":"ok","control_result":1,"error":null})");
    Response replay;
    replay.kind = "replay";
    replay.status = "invalid";
    replay.error = "not JSON";
    replay.count = 0;
    EXPECT_EQ(ResponsePayload(replay),
              R"({"transaction":null,"device":null,"kind":"replay","status":"invalid","control_result":null,)"
              R"("error":"not JSON","count":0,"first":null,"last":null})");
}

TEST(UpstreamMessages, event_type_names)
{
    const struct {
        int64_t type;
        const char* reason;
        const char* name;
    } cases[] = {
        {1, "刷卡进门成功", "granted_entry"}, {2, "刷卡出门成功", "granted_exit"}, {12, "未知卡", "unknown_card"},
        {10, "刷卡进门成功", "refused_card"}, {11, "防反潜限制", "refused_card"}, {15, "通行时区限制", "refused_card"},
        {0, "防尾随限制", "refused_card"},    {3, "按钮出门", "exit_button"},     {14, "非法开门", "break_in"},
        {9, "告警结束", "alarm_end"},         {9, "", "alarm_end"},               {0, "控制器断电", "power_off"},
        {0, "控制器上电", "power_on"},        {0, "", "other"},                   {5, "", "other"},
        {6, "", "other"},                     {99, "x", "other"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(EventTypeName(c.type, c.reason), c.name) << c.type << " " << c.reason;
    for (const auto& c : cases) {
        const std::string name = c.name;
        EXPECT_NE(std::find(EventTypeNames().begin(), EventTypeNames().end(), name), EventTypeNames().end()) << name;
    }
}

TEST(UpstreamDiscovery, every_component_carries_what_home_assistant_requires)
{
    const Topics topics("velta36", "north");
    const std::vector<DiscoveryMessage> withOpen = DiscoveryFor("homeassistant", topics, "north",
                                                                DeviceInfo{"front", "Front door", 1, 2}, true);
    const std::vector<DiscoveryMessage> without = DiscoveryFor("homeassistant", topics, "north",
                                                               DeviceInfo{"front", "Front door", 1, 2}, false);
    // Two door sensors, two buttons, the event, three diagnostics.
    EXPECT_EQ(withOpen.size(), 8u);
    EXPECT_EQ(without.size(), 6u);
    std::set<std::string> uniqueIds;
    for (const DiscoveryMessage& message : withOpen) {
        const Json::Value config = uptest::ParseJson(message.payload);
        const std::string component = message.topic.substr(14, message.topic.find('/', 14) - 14);
        EXPECT_EQ(message.topic.rfind("homeassistant/" + component + "/north/front_", 0), 0u) << message.topic;
        EXPECT_TRUE(uniqueIds.insert(config["unique_id"].asString()).second) << message.topic;
        EXPECT_EQ(config["device"]["identifiers"][0].asString(), "velta36_north_front");
        EXPECT_EQ(config["device"]["name"].asString(), "Front door");
        EXPECT_EQ(config["origin"]["name"].asString(), "velta36");
        EXPECT_EQ(config["availability"][0]["topic"].asString(), "velta36/north/status");
        EXPECT_EQ(config["availability"][1]["topic"].asString(), "velta36/north/front/state");
        EXPECT_EQ(config["availability_mode"].asString(), "all");
        if (component == "binary_sensor" || component == "sensor") {
            EXPECT_EQ(config["state_topic"].asString(), "velta36/north/front/state") << message.topic;
        }
        if (component == "event") {
            EXPECT_EQ(config["state_topic"].asString(), "velta36/north/front/event");
            EXPECT_EQ(config["event_types"].size(), EventTypeNames().size());
        }
        if (component == "button") {
            EXPECT_EQ(config["command_topic"].asString().rfind("velta36/north/front/open-door/", 0), 0u);
            EXPECT_EQ(config["payload_press"].asString(), "PRESS");
            EXPECT_FALSE(config["retain"].asBool());
        }
        if (message.topic.find("_door") != std::string::npos && component == "binary_sensor") {
            EXPECT_EQ(config["device_class"].asString(), "door");
            EXPECT_EQ(config["payload_on"].asString(), "open");
            EXPECT_EQ(config["payload_off"].asString(), "closed");
        }
        if (message.topic.find("database_fault") != std::string::npos ||
            message.topic.find("last_round") != std::string::npos ||
            message.topic.find("events_stored") != std::string::npos) {
            EXPECT_EQ(config["entity_category"].asString(), "diagnostic") << message.topic;
        }
    }
}

TEST(UpstreamTime, iso_times_read_and_written)
{
    EXPECT_EQ(IsoUtc(*ParseIsoTime("2026-12-10T11:40:02Z")), "2026-12-10T11:40:02Z");
    EXPECT_EQ(IsoUtc(*ParseIsoTime("2024-02-29 23:30:00-01:00")), "2024-03-01T00:30:00Z");
    EXPECT_EQ(IsoUtc(*ParseIsoTime("1970-01-01T00:00:00.999Z")), "1970-01-01T00:00:00Z");
    for (const char* bad : {"2026-12-10T11:40:02", "2026-12-10T11:40:02ZZ", "2026-13-10T11:40:02Z",
                            "2025-02-29T00:00:00Z", "2026-12-10T24:00:00Z", "2026-12-10T11:40:02.Z",
                            "2026-12-10T11:40:02+0100", "20261210T114002Z", "4052-12-10T11:40:02Z"})
        EXPECT_FALSE(ParseIsoTime(bad)) << bad;
}
