// `velta36 run --mqtt` as a user runs it, against a real mosquitto: what the
// wiring between the site and the upstream can break. Every stored row
// reaches a subscriber with its identity and seq, the retained state
// follows the doors and counts, discovery is there; a tool killed in the
// middle of a backlog loses nothing; a request from the broker reaches the
// line; a wrong password costs one line and no events. (The engine's own
// rules are proved in tests/upstream.)
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "e2e_support.h"
#include "event_db.h"
#include "json_parse.h"
#include "mosquitto_broker.h"
#include "mqtt_test_client.h"
#include "tool_process.h"
#include "tool_support.h"

namespace {

using e2e::Count;
using e2e::ReadFile;
using e2e::ToolProcess;
using velta36test::ParseJson;
using velta36test::ReceivedMessage;

std::unique_ptr<velta36test::TestMqttClient> Subscriber(const velta36test::MosquittoBroker& broker,
                                                        const std::string& id)
{
    velta36test::ClientOptions options;
    options.port = broker.port();
    options.clientId = id;
    options.keepSession = true;
    std::unique_ptr<velta36test::TestMqttClient> client(new velta36test::TestMqttClient(options));
    client->subscribe("velta36/#");
    client->subscribe("homeassistant/#");
    return client;
}

// The rows of ZRMDevice.db against the events a subscriber got for them,
// counted as a consumer counts: duplicates dropped by id.
struct Delivery {
    std::size_t stored = 0, delivered = 0, duplicates = 0, replayed = 0, lost = 0;
    std::vector<std::string> wrong;   // events whose content is not their row's

    static Delivery Of(const std::vector<velta36test::EventRow>& rows, const std::vector<ReceivedMessage>& messages,
                       const std::string& topic)
    {
        std::map<long long, const velta36test::EventRow*> byId;
        for (const velta36test::EventRow& row : rows)
            byId[*row.id] = &row;
        Delivery d;
        d.stored = rows.size();
        std::set<std::string> ids;
        std::set<long long> arrived;
        for (const ReceivedMessage& message : messages) {
            if (message.topic != topic)
                continue;
            const Json::Value event = ParseJson(message.payload);
            ++d.delivered;
            d.replayed += event["replayed"].asBool() ? 1 : 0;
            if (!ids.insert(event["id"].asString()).second) {
                ++d.duplicates;
                continue;
            }
            const auto it = byId.find(event["row"].asInt64());
            // seq counts the device's rows from 1, in the file's order.
            const long long seq = it == byId.end() ? 0 : std::distance(byId.begin(), it) + 1;
            if (it == byId.end() || event["seq"].asInt64() != seq || event["card"].asString() != *it->second->CardNo ||
                event["type"].asInt64() != *it->second->EventType || event["time"].asString() != *it->second->EventTime ||
                event["reason"].asString() != *it->second->Reason)
                d.wrong.push_back(message.payload);
            else
                arrived.insert(it->first);
        }
        d.lost = d.stored - arrived.size();
        return d;
    }

    void report(const std::string& scenario) const
    {
        std::cout << "delivery " << scenario << ": stored " << stored << ", delivered " << delivered
                  << ", duplicates " << duplicates << ", replayed " << replayed << ", lost " << lost << std::endl;
    }
};

std::optional<ReceivedMessage> Last(const std::vector<ReceivedMessage>& messages, const std::string& topic)
{
    std::optional<ReceivedMessage> last;
    for (const ReceivedMessage& message : messages)
        if (message.topic == topic)
            last = message;
    return last;
}

class ToolMqtt : public e2e::Tool {
protected:
    velta36test::MosquittoBroker broker_;
};

TEST_F(ToolMqtt, EveryStoredRowArrivesWithItsStateAndDiscovery)
{
    // Without --mqtt nothing of the upstream appears.
    const e2e::ToolResult plain = e2e::RunTool({"run", "--dir", "plain"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    struct stat info;
    EXPECT_NE(::stat("plain/upstream", &info), 0);
    EXPECT_EQ(Count(plain.out, "upstream"), 0u) << plain.out;

    auto live = Subscriber(broker_, "live");
    const e2e::ToolResult run =
        e2e::RunTool({"run", "--mqtt", broker_.url(), "--site", "north", "--metrics", "run.prom"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(Count(run.out, "upstream: stopped; every stored event was acknowledged by the broker"), 1u) << run.out;
    EXPECT_EQ(::stat("upstream/upstream.db", &info), 0);

    const std::vector<velta36test::EventRow> rows = velta36test::ReadEventRows();
    ASSERT_GT(rows.size(), 20u);
    const std::string events = "velta36/north/device_1/event";
    // The clean stop waited for the acknowledgements: everything is at the
    // broker before the tool exits.
    ASSERT_TRUE(live->waitFor([&](const std::vector<ReceivedMessage>& m) {
        return Last(m, "velta36/north/status") && Last(m, "velta36/north/status")->payload == "offline";
    }, std::chrono::seconds(10)));
    const Delivery delivery = Delivery::Of(rows, live->messages(), events);
    delivery.report("tool run against the built-in simulator");
    EXPECT_EQ(delivery.lost, 0u);
    EXPECT_EQ(delivery.duplicates, 0u);
    EXPECT_TRUE(delivery.wrong.empty()) << delivery.wrong.front();

    // A newcomer finds the retained state with the last counts and doors,
    // the site offline, and the device's discovery.
    auto late = Subscriber(broker_, "late");
    ASSERT_TRUE(late->waitFor([](const std::vector<ReceivedMessage>& m) {
        return Last(m, "velta36/north/device_1/state") && Last(m, "homeassistant/binary_sensor/north/device_1_door1/config");
    }, std::chrono::seconds(5)));
    const auto state = Last(late->messages(), "velta36/north/device_1/state");
    ASSERT_TRUE(state && state->retained);
    const Json::Value s = ParseJson(state->payload);
    EXPECT_EQ(s["events_stored"].asUInt64(), rows.size()) << state->payload;
    EXPECT_EQ(s["last_seq"].asUInt64(), rows.size());
    EXPECT_EQ(s["door1"].asString(), "closed");
    EXPECT_TRUE(s["online"].asBool());
    const auto door = Last(late->messages(), "homeassistant/binary_sensor/north/device_1_door1/config");
    ASSERT_TRUE(door && door->retained);
    EXPECT_EQ(ParseJson(door->payload)["device_class"].asString(), "door");
    EXPECT_FALSE(Last(late->messages(), "homeassistant/button/north/device_1_open_door1/config"))
        << "open-door is not allowed";

    const std::string metrics = ReadFile("run.prom");
    EXPECT_EQ(Count(metrics, "velta36_upstream_acknowledged_total " + std::to_string(rows.size()) + "\n"), 1u)
        << metrics;
    EXPECT_EQ(Count(metrics, "velta36_upstream_backlog 0\n"), 1u);
    EXPECT_EQ(Count(metrics, "\nvelta36_upstream_last_ack_age_seconds "), 1u);
}

TEST_F(ToolMqtt, KilledDuringABacklogLosesNothing)
{
    const int total = 4000;
    e2e::ControllerSetup setup;
    setup.address = 1;
    setup.events = e2e::IndependentEvents(19, total);
    e2e::SimLine sim({setup});
    std::ofstream("device.json") << "{\"name\": \"front\", \"port\": \"" << sim.path()
                                 << "\", \"address\": 1, \"data_id\": 31, \"baud\": 115200,"
                                    " \"appSetting\": {\"doors\": 2}}";
    const std::vector<std::string> args = {"run", "--config", "device.json", "--site", "north",
                                           "--interval", "0.05", "--mqtt"};
    auto stored = [] { return velta36test::ReadEventRows().size(); };

    // The broker down: the site polls and stores all the same, and the
    // upstream says so once.
    broker_.stop();
    {
        std::vector<std::string> down = args;
        down.push_back(broker_.url());
        ToolProcess tool(down, "down.out", "down.err");
        ASSERT_TRUE(e2e::WaitFor([&] { return sim.drained(); }, std::chrono::seconds(120))) << ReadFile("down.out");
        ASSERT_TRUE(e2e::WaitFor([&] { return stored() == static_cast<std::size_t>(total); }));
        EXPECT_EQ(tool.interrupt(), 0);
        const std::string out = ReadFile("down.out");
        EXPECT_EQ(Count(out, "upstream: cannot connect to " + broker_.url()), 1u) << out;
        EXPECT_EQ(Count(out, "upstream: stopped with " + std::to_string(total) + " events not acknowledged"), 1u)
            << out;
    }

    broker_.start();
    auto consumer = Subscriber(broker_, "consumer");
    std::vector<std::string> up = args;
    up.push_back(broker_.url());
    auto events = [&] { return consumer->messagesOn("velta36/north/front/event").size(); };
    std::unique_ptr<ToolProcess> tool(new ToolProcess(up, "kill.out", "kill.err"));
    ASSERT_TRUE(e2e::WaitFor([&] { return events() >= 300; })) << ReadFile("kill.out");
    tool.reset();   // SIGKILL
    const std::size_t atKill = events();
    EXPECT_LT(atKill, static_cast<std::size_t>(total)) << "the backlog was gone before the kill";

    tool.reset(new ToolProcess(up, "again.out", "again.err"));
    const std::vector<velta36test::EventRow> rows = velta36test::ReadEventRows();
    ASSERT_TRUE(e2e::WaitFor([&] {
        return Delivery::Of(rows, consumer->messages(), "velta36/north/front/event").lost == 0;
    }, std::chrono::seconds(60))) << ReadFile("again.out");
    EXPECT_EQ(tool->interrupt(), 0);
    const Delivery delivery = Delivery::Of(rows, consumer->messages(), "velta36/north/front/event");
    delivery.report("tool killed (SIGKILL) with " + std::to_string(atKill) + " of a " + std::to_string(total) +
                    "-event backlog delivered, started again");
    EXPECT_EQ(delivery.lost, 0u);
    EXPECT_TRUE(delivery.wrong.empty()) << delivery.wrong.front();
    EXPECT_EQ(Count(ReadFile("again.out"), "upstream: stopped; every stored event was acknowledged by the broker"), 1u);
}

TEST_F(ToolMqtt, AnAllowedOpenDoorRequestReachesTheLine)
{
    e2e::ControllerSetup setup;
    setup.address = 1;
    e2e::SimLine sim({setup});
    std::ofstream("site.json") << "{\"devices\": [{\"name\": \"front\", \"port\": \"" << sim.path()
                               << "\", \"address\": 1, \"data_id\": 31, \"baud\": "
                                  "115200, \"appSetting\": {\"doors\": 2}}], \"mqtt\": {\"url\": \""
                               << broker_.url() << "\", \"site\": \"north\", \"allow\": [\"open-door\"]}}";
    auto central = Subscriber(broker_, "central");
    ToolProcess tool({"run", "--config", "site.json", "--interval", "0.05", "--trace"},
                     "tool.out", "tool.err");
    ASSERT_TRUE(central->waitFor([](const std::vector<ReceivedMessage>& m) {
        return Last(m, "homeassistant/button/north/front_open_door2/config").has_value();
    }, std::chrono::seconds(20))) << ReadFile("tool.out");
    EXPECT_EQ(Count(ReadFile("tool.out"), " -> @12202"), 0u);

    EXPECT_EQ(central->publish("velta36/north/request/open-door", "{\"transaction\":\"op-7\",\"device\":\"front\",\"door\":2}"), 0);
    ASSERT_TRUE(central->waitFor([](const std::vector<ReceivedMessage>& m) {
        return Last(m, "velta36/north/response/open-door").has_value();
    }, std::chrono::seconds(20))) << ReadFile("tool.out");
    const Json::Value response = ParseJson(Last(central->messages(), "velta36/north/response/open-door")->payload);
    EXPECT_EQ(response["transaction"].asString(), "op-7");
    EXPECT_EQ(response["status"].asString(), "ok") << response.toStyledString();
    EXPECT_EQ(response["control_result"].asInt(), 1);
    EXPECT_EQ(tool.interrupt(), 0);
    // The door frame for door 2 of address 1 went out on the line, once.
    const std::string out = ReadFile("tool.out");
    EXPECT_EQ(Count(out, " -> @12202"), 1u) << out;
}

TEST_F(ToolMqtt, AWrongPasswordCostsOneLineAndNoEvents)
{
    velta36test::BrokerOptions options;
    options.users = {{"north", "secret"}};
    velta36test::MosquittoBroker guarded(options);
    std::ofstream("password") << "not the secret\n";
    ASSERT_EQ(::chmod("password", 0600), 0);
    std::ofstream("site.json") << "{\"devices\": [{\"name\": \"front\", \"port\": \"simulator\"}], \"mqtt\": {\"url\": \"" << guarded.url()
                               << "\", \"site\": \"north\", \"username\": \"north\", \"password_file\": \"password\"}}";
    // Long enough for the upstream to try again (after 1 s, then 2 s).
    const e2e::ToolResult run = e2e::RunTool({"run", "--config", "site.json", "--rounds", "5", "--interval", "1"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Count(run.out, "refused the connection"), 1u) << run.out;
    EXPECT_EQ(Count(run.out, "check username and password_file"), 1u) << run.out;
    const std::size_t held = run.out.find(" holding ");
    ASSERT_NE(held, std::string::npos) << run.out;
    EXPECT_EQ(velta36test::ReadEventRows().size(), std::stoul(run.out.substr(held + 9))) << run.out;
}

}  // namespace
