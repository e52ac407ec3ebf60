// Requests against a real mosquitto: what is carried out (once, with its
// transaction id, also across a restart) and everything that must not be,
// Home Assistant's button presses, wrong credentials and CAs, and the
// discovery of a device that left the configuration.
#include "upstream_broker_fixture.h"

using namespace uptest;
using velta36test::ReceivedMessage;

namespace {

std::string Now(int secondsAgo = 0)
{
    return velta36up::IsoUtc(velta36up::WallClock::now() - std::chrono::seconds(secondsAgo));
}

// The responses on P/response/# by transaction id (the last one of each).
std::map<std::string, Json::Value> Responses(const velta36test::TestMqttClient& client)
{
    std::map<std::string, Json::Value> byTransaction;
    for (const ReceivedMessage& m : client.messages()) {
        if (m.topic.find("/response/") == std::string::npos)
            continue;
        const Json::Value response = ParseJson(m.payload);
        byTransaction[response["transaction"].isNull() ? "(none)" : response["transaction"].asString()] = response;
    }
    return byTransaction;
}

}  // namespace

TEST_F(UpstreamBrokerTest, an_allowed_open_door_is_carried_out_once_for_its_transaction)
{
    startBroker();
    auto& requester = central();
    requester.subscribe("velta36/north/response/#");
    velta36up::Upstream& engine = startUpstream();
    ASSERT_TRUE(eventually([&] { return engine.stats().connected; }));
    const std::string request =
        R"({"transaction":"op-1","device":"front","door":2,"sent":")" + Now() + R"("})";
    EXPECT_EQ(requester.publish("velta36/north/request/open-door", request), 0);
    ASSERT_TRUE(eventually([&] { return Responses(requester).count("op-1") > 0; }));
    Json::Value response = Responses(requester)["op-1"];
    EXPECT_EQ(response["status"].asString(), "ok");
    EXPECT_EQ(response["device"].asString(), "front");
    EXPECT_EQ(response["kind"].asString(), "open-door");
    EXPECT_EQ(response["control_result"].asInt(), 1);
    EXPECT_TRUE(response["error"].isNull());
    ASSERT_EQ(executor.calls().size(), 1u);
    EXPECT_EQ(executor.calls()[0].device, "front");
    EXPECT_EQ(executor.calls()[0].command.kind, velta36up::CommandKind::OpenDoor);
    EXPECT_EQ(executor.calls()[0].command.door, 2);

    // The same transaction again, also after the site restarted: refused.
    upstream.reset();
    velta36up::Upstream& again = startUpstream();
    ASSERT_TRUE(eventually([&] { return again.stats().connected; }));
    requester.publish("velta36/north/request/open-door", request);
    ASSERT_TRUE(eventually([&] { return Responses(requester)["op-1"]["status"].asString() == "refused"; }));
    EXPECT_NE(Responses(requester)["op-1"]["error"].asString().find("received before"), std::string::npos);
    EXPECT_EQ(executor.calls().size(), 1u);
}

TEST_F(UpstreamBrokerTest, requests_that_must_not_be_carried_out_change_nothing)
{
    startBroker();
    auto& requester = central();
    requester.subscribe("velta36/+/response/#");
    velta36up::Upstream& engine = startUpstream(options(mqttSettings(R"(["open-door"])")));
    ASSERT_TRUE(eventually([&] { return engine.stats().connected; }));
    const struct {
        const char* topic;
        std::string payload;
        bool retain;
        const char* transaction;   // the response's, "" when none is due
        const char* status;
        const char* says;
    } cases[] = {
        {"open-door", R"({"transaction":"r-retained","device":"front","door":1})", true, "r-retained", "refused",
         "retained"},
        {"open-door", R"({"transaction":"r-old","device":"front","door":1,"sent":")" + Now(45) + "\"}", false,
         "r-old", "refused", "expired"},
        {"open-door", R"({"transaction":"r-future","device":"front","door":1,"sent":")" + Now(-300) + "\"}", false,
         "r-future", "refused", "ahead"},
        {"add-card", R"({"transaction":"r-kind","device":"front","code":"AB12CD34","slot":1,"end":"2030-01-01","door":0})",
         false, "r-kind", "refused", "not allowed"},
        {"open-door", R"({"transaction":"r-bad","device":"front","door":"1"})", false, "r-bad", "invalid",
         "whole number"},
        {"open-door", "{\"transaction\":", false, "(none)", "invalid", "not JSON"},
        {"open-door", R"({"transaction":"r-nodevice","device":"garage","door":1})", false, "r-nodevice", "invalid",
         "no device garage"},
        {"open-door", R"({"transaction":"r-door2","device":"back","door":2})", false, "r-door2", "invalid",
         "has no door 2"},
        {"explode", R"({"transaction":"r-unknown","device":"front"})", false, "r-unknown", "invalid",
         "unknown request kind"},
    };
    for (const auto& c : cases)
        requester.publish(std::string("velta36/north/request/") + c.topic, c.payload, c.retain);
    // Another site's request topic: this site never even sees it.
    requester.publish("velta36/south/request/open-door", R"({"transaction":"r-south","device":"front","door":1})");
    ASSERT_TRUE(eventually([&] { return Responses(requester).size() >= std::size(cases); }));
    const std::map<std::string, Json::Value> responses = Responses(requester);
    for (const auto& c : cases) {
        ASSERT_EQ(responses.count(c.transaction), 1u) << c.payload;
        const Json::Value& r = responses.at(c.transaction);
        EXPECT_EQ(r["status"].asString(), c.status) << c.payload;
        EXPECT_NE(r["error"].asString().find(c.says), std::string::npos) << c.payload << ": " << r["error"];
    }
    EXPECT_EQ(responses.count("r-south"), 0u);
    EXPECT_EQ(requester.messagesOn("velta36/north/response/open-door").size(), 7u);
    EXPECT_TRUE(executor.calls().empty());
    EXPECT_EQ(engine.stats().commandsRefused, std::size(cases));

    // A restarted site never gets the retained request at all.
    upstream.reset();
    velta36up::Upstream& again = startUpstream(options(mqttSettings(R"(["open-door"])")));
    ASSERT_TRUE(eventually([&] { return again.stats().connected; }));
    requester.publish("velta36/north/request/open-door", R"({"transaction":"r-after","device":"front","door":1})");
    ASSERT_TRUE(eventually([&] { return Responses(requester).count("r-after") > 0; }));
    EXPECT_EQ(again.stats().commandsRefused, 0u);
    EXPECT_EQ(executor.calls().size(), 1u);   // r-after only
}

TEST_F(UpstreamBrokerTest, a_home_assistant_button_press_opens_the_door_with_a_transaction_of_its_own)
{
    startBroker();
    auto& requester = central();
    requester.subscribe("velta36/north/response/open-door");
    auto& ha = client("homeassistant", "ha-pw");
    velta36up::Upstream& engine = startUpstream();
    ASSERT_TRUE(eventually([&] { return engine.stats().connected; }));
    ha.publish("velta36/north/front/open-door/1", "PRESS");
    ASSERT_TRUE(eventually([&] { return !requester.messages().empty(); }));
    const Json::Value response = ParseJson(requester.messages().back().payload);
    EXPECT_EQ(response["status"].asString(), "ok");
    EXPECT_EQ(response["transaction"].asString().rfind("ha-", 0), 0u);
    ASSERT_EQ(executor.calls().size(), 1u);
    EXPECT_EQ(executor.calls()[0].command.door, 1);

    ha.publish("velta36/north/front/open-door/2", "PRESS", true);   // retained
    ha.publish("velta36/north/back/open-door/2", "PRESS");          // a door it has not
    ASSERT_TRUE(eventually([&] { return requester.messages().size() >= 3; }));
    EXPECT_EQ(ParseJson(requester.messages()[1].payload)["status"].asString(), "refused");
    EXPECT_EQ(ParseJson(requester.messages()[2].payload)["status"].asString(), "invalid");
    EXPECT_EQ(executor.calls().size(), 1u);
}

TEST_F(UpstreamBrokerTest, the_state_follows_what_the_site_reports)
{
    startBroker();
    auto& watcher = central();
    watcher.subscribe("velta36/north/+/state");
    velta36up::Upstream& engine = startUpstream();
    ASSERT_TRUE(eventually([&] { return engine.stats().connected; }));
    using velta36up::DoorState;
    auto stateHas = [&watcher](const std::string& device, const std::string& part) {
        return watcher.waitFor(
            [&](const std::vector<ReceivedMessage>& m) {
                return !m.empty() && m.back().topic == "velta36/north/" + device + "/state" &&
                       m.back().payload.find(part) != std::string::npos;
            },
            std::chrono::seconds(30));
    };
    engine.roundCompleted("front", *velta36up::ParseIsoTime("2026-12-10T11:40:02Z"));
    EXPECT_TRUE(stateHas("front", R"("online":true,"doors":2,"door1":"unknown","door2":"unknown")"));
    engine.doorsChanged("front", DoorState::Closed, DoorState::Open);
    EXPECT_TRUE(stateHas("front", R"("door1":"closed","door2":"open","database_fault":false,)"
                                  R"("last_round":"2026-12-10T11:40:02Z")"));
    engine.databaseFault("back", true);
    EXPECT_TRUE(stateHas("back", R"("doors":1,"door1":"unknown","database_fault":true)"));
    engine.roundTimedOut("front");
    EXPECT_TRUE(stateHas("front", R"("online":false)"));
    engine.doorsChanged("garage", DoorState::Open, DoorState::Open);   // no such device: ignored
    engine.databaseFault("back", false);
    EXPECT_TRUE(stateHas("back", R"("database_fault":false)"));
    for (const ReceivedMessage& m : watcher.messages())
        EXPECT_EQ(m.topic.find("garage"), std::string::npos);
}

TEST_F(UpstreamBrokerTest, a_wrong_password_says_so_once_and_retries_while_events_are_kept)
{
    startBroker();
    passwordFile = writeSecret("wrong.pw", "not-the-password");
    velta36up::Upstream& engine = startUpstream();
    site->add(1, 20);
    engine.eventsMayHaveArrived();
    ASSERT_TRUE(eventually([&] { return engine.stats().connectAttempts >= 4 && engine.stats().assigned == 20; }));
    EXPECT_FALSE(engine.stats().connected);
    EXPECT_EQ(lines.count("refused the connection"), 1u);
    EXPECT_EQ(lines.count("(check username and password_file)"), 1u);
}

TEST_F(UpstreamBrokerTest, tls_verifies_the_broker_against_the_ca_file)
{
    startBroker(Fleet(false, true));
    auto settings = [this](const std::string& ca) {
        Json::Value s = mqttSettings();
        s["url"] = broker->tlsUrl();
        s["ca_file"] = ca;
        return s;
    };
    // A CA that did not sign the broker's certificate.
    velta36up::Upstream& wrong = startUpstream(options(settings(broker->pki().otherCaFile)));
    ASSERT_TRUE(eventually([&] { return wrong.stats().connectAttempts >= 3; }));
    EXPECT_FALSE(wrong.stats().connected);
    EXPECT_EQ(lines.count("TLS with mqtts://"), 1u);
    EXPECT_EQ(lines.count("certificate verify failed"), 1u);

    // The right one, and a client certificate: the events go out.
    upstream.reset();
    Json::Value right = settings(broker->pki().caFile);
    right["cert_file"] = broker->pki().clientCert;
    right["key_file"] = broker->pki().clientKey;
    auto& consumer = central();
    consumer.subscribe("velta36/north/front/event");
    site->add(1, 10);
    startUpstream(options(right));
    EXPECT_TRUE(allArrived(consumer, "velta36/north/front/event", 10));
}

TEST_F(UpstreamBrokerTest, discovery_is_retained_sent_again_for_home_assistant_and_removed_for_a_device_that_left)
{
    startBroker();
    startUpstream();
    auto& ha = client("homeassistant", "ha-pw");
    auto configs = [&ha](const std::string& part) {
        std::map<std::string, std::string> last;
        for (const ReceivedMessage& m : ha.messages()) {
            if (m.topic.find(part) != std::string::npos)
                last[m.topic] = m.payload;
        }
        return last;
    };
    // front: 2 doors, 2 buttons, event, 3 diagnostics; back: 1 + 1 + 1 + 3.
    ha.subscribe("homeassistant/+/north/#");
    ASSERT_TRUE(eventually([&] { return configs("/north/").size() == 14; }));
    EXPECT_EQ(configs("homeassistant/button/north/back_open_door1/config").size(), 1u);

    // Home Assistant restarts: everything again, after a short random delay.
    const std::size_t before = ha.messages().size();
    ha.publish("homeassistant/status", "online");
    ASSERT_TRUE(eventually([&] { return ha.messages().size() >= before + 14; }));

    // "back" left the configuration, and open-door is no longer allowed.
    upstream.reset();
    velta36up::UpstreamOptions o = options(mqttSettings(R"(["replay"])"));
    o.devices = {Device("front", 1, 2)};
    startUpstream(o);
    ASSERT_TRUE(eventually([&] {
        const auto c = configs("/north/");
        return c.at("homeassistant/sensor/north/back_events_stored/config").empty() &&
               c.at("homeassistant/button/north/front_open_door2/config").empty();
    }));
    const auto c = configs("/north/");
    std::size_t removed = 0;
    for (const auto& [topic, payload] : c)
        removed += payload.empty() ? 1 : 0;
    EXPECT_EQ(removed, 6u + 2u);   // all of back's, front's two buttons
    // A newcomer sees only what is there.
    auto& newcomer = client("homeassistant", "ha-pw");
    newcomer.subscribe("homeassistant/+/north/#");
    ASSERT_TRUE(eventually([&] { return newcomer.messages().size() >= 6; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(newcomer.messages().size(), 6u);
    for (const ReceivedMessage& m : newcomer.messages()) {
        EXPECT_TRUE(m.retained) << m.topic;
        EXPECT_EQ(m.topic.find("back_"), std::string::npos) << m.topic;
    }
}
