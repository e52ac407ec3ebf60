// A site and a fleet broker for the upstream's tests against mosquitto: the
// broker configured as docs/mqtt.md shows (a user per site fenced into its
// own topics, a central user that writes requests, Home Assistant's user),
// the engine's options for site "north", and clients of each user.
#ifndef VELTA36_TESTS_UPSTREAM_BROKER_FIXTURE_H
#define VELTA36_TESTS_UPSTREAM_BROKER_FIXTURE_H

#include <sys/stat.h>

#include <fstream>
#include <memory>

#include "mosquitto_broker.h"
#include "upstream_rig.h"

namespace uptest {

inline std::string FleetAcl()
{
    return "pattern read velta36/%u/#\n"
           "pattern write velta36/%u/status\n"
           "pattern write velta36/%u/+/state\n"
           "pattern write velta36/%u/+/event\n"
           "pattern write velta36/%u/response/+\n"
           "pattern write homeassistant/+/%u/#\n"
           "pattern read homeassistant/status\n"
           "user central\n"
           "topic read velta36/#\n"
           "topic write velta36/+/request/#\n"
           "user homeassistant\n"
           "topic read velta36/#\n"
           "topic write velta36/+/+/open-door/+\n"
           "topic readwrite homeassistant/#\n";
}

inline velta36test::BrokerOptions Fleet(bool persistence = false, bool tls = false)
{
    velta36test::BrokerOptions options;
    options.users = {{"north", "north-pw"}, {"south", "south-pw"}, {"central", "central-pw"},
                     {"homeassistant", "ha-pw"}};
    options.acl = FleetAcl();
    options.persistence = persistence;
    options.tls = tls;
    options.maxQueuedMessages = 100000;
    return options;
}

class UpstreamBrokerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        site = std::make_unique<SiteEvents>(dir.file("ZRMDevice.db"));
        passwordFile = writeSecret("north.pw", "north-pw");
    }

    void TearDown() override
    {
        upstream.reset();
        clients.clear();
        broker.reset();
    }

    std::string writeSecret(const std::string& name, const std::string& text)
    {
        const std::string file = dir.file(name);
        std::ofstream(file) << text << "\n";
        ::chmod(file.c_str(), 0600);
        return file;
    }

    void startBroker(velta36test::BrokerOptions options = Fleet()) { broker.reset(new velta36test::MosquittoBroker(options)); }

    // The "mqtt" object a site would be configured with.
    Json::Value mqttSettings(const std::string& allow = R"(["open-door","replay"])")
    {
        Json::Value settings = ParseJson(R"({"site":"north","username":"north","allow":)" + allow + "}");
        settings["url"] = broker->url();
        settings["password_file"] = passwordFile;
        return settings;
    }

    velta36up::UpstreamOptions options(const Json::Value& settings)
    {
        velta36up::UpstreamOptions o;
        o.settings = velta36up::ParseSettings(settings);
        o.devices = {Device("front", 1, 2), Device("back", 2, 1)};
        o.eventDatabase = site->path();
        o.stateFolder = dir.file("upstream");
        o.execute = executor.executor();
        o.log = lines.sink();
        o.retryFirst = std::chrono::milliseconds(100);
        o.retryMax = std::chrono::milliseconds(400);
        o.sourcePoll = std::chrono::milliseconds(100);
        o.discoveryDelayMax = std::chrono::milliseconds(100);
        o.refusedRetry = std::chrono::milliseconds(300);
        o.stateInterval = std::chrono::milliseconds(200);
        return o;
    }

    velta36up::Upstream& startUpstream(velta36up::UpstreamOptions o)
    {
        upstream.reset(new velta36up::Upstream(std::move(o)));
        upstream->start();
        return *upstream;
    }
    velta36up::Upstream& startUpstream() { return startUpstream(options(mqttSettings())); }

    velta36test::TestMqttClient& client(const std::string& user, const std::string& password, bool keepSession = false,
                                        const std::string& id = "")
    {
        velta36test::ClientOptions o;
        o.port = broker->port();
        o.clientId = id.empty() ? user + "-test-" + std::to_string(clients.size()) : id;
        o.username = user;
        o.password = password;
        o.keepSession = keepSession;
        clients.emplace_back(new velta36test::TestMqttClient(o));
        return *clients.back();
    }
    velta36test::TestMqttClient& central(bool keepSession = false, const std::string& id = "")
    {
        return client("central", "central-pw", keepSession, id);
    }

    // Waits until the condition holds (generous: CI machines are shared).
    static bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(60))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Waits until the subscriber holds every one of `stored` rows of a device.
    static bool allArrived(velta36test::TestMqttClient& subscriber, const std::string& topic, uint64_t stored,
                           std::chrono::seconds limit = std::chrono::seconds(90))
    {
        std::set<std::string> ids;
        std::size_t seen = 0;   // messages already counted: each is looked at once
        return subscriber.waitFor(
            [&](const std::vector<velta36test::ReceivedMessage>& messages) {
                for (; seen < messages.size(); ++seen) {
                    const velta36test::ReceivedMessage& m = messages[seen];
                    if (m.topic == topic)
                        ids.insert(ParseJson(m.payload)["id"].asString());
                }
                return ids.size() >= stored;
            },
            limit);
    }

    velta36test::TempWorkDir dir{velta36test::RamBackedTempBase()};
    std::unique_ptr<SiteEvents> site;
    std::string passwordFile;
    std::unique_ptr<velta36test::MosquittoBroker> broker;
    FakeExecutor executor;
    LogLines lines;
    std::unique_ptr<velta36up::Upstream> upstream;
    std::vector<std::unique_ptr<velta36test::TestMqttClient>> clients;
};

}  // namespace uptest

#endif
