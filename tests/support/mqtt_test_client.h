// TestMqttClient: a plain libmosquitto client for tests, on a thread of its
// own (libmosquitto's), reconnecting by itself. It records every message it
// receives and can publish with the retain flag and an MQTT 5 message
// expiry.
//
// A kept session (keepSession) speaks MQTT 3.1.1 with clean session off:
// libmosquitto's automatic reconnect sends no CONNECT properties, so an
// MQTT 5 session would get a session expiry of 0 and end with every loss
// of the connection; a 3.1.1 session lasts (mosquitto keeps it for ever by
// default), which is what a consumer that must see every event does.
#ifndef VELTA36_TESTS_SUPPORT_MQTT_TEST_CLIENT_H
#define VELTA36_TESTS_SUPPORT_MQTT_TEST_CLIENT_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct mosquitto;

namespace velta36test {

struct ClientOptions {
    int port = 0;
    std::string clientId;
    std::optional<std::string> username;
    std::optional<std::string> password;
    bool keepSession = false;
    std::optional<std::string> caFile;   // TLS when given
    std::optional<int> tlsPort;
};

struct ReceivedMessage {
    std::string topic;
    std::string payload;
    bool retained = false;
};

class TestMqttClient {
public:
    // Connects and waits for the broker's answer (10 s); throws when refused.
    explicit TestMqttClient(ClientOptions options);
    ~TestMqttClient();
    TestMqttClient(const TestMqttClient&) = delete;
    TestMqttClient& operator=(const TestMqttClient&) = delete;

    // QoS 1; waits for the SUBACK. Subscribed again after a reconnect that
    // found no session (the broker lost it).
    void subscribe(const std::string& filter);
    // QoS 1; waits for the PUBACK (5 s) and returns its reason code.
    int publish(const std::string& topic, const std::string& payload, bool retain = false,
                std::optional<uint32_t> expirySeconds = std::nullopt);

    std::vector<ReceivedMessage> messages() const;
    std::vector<ReceivedMessage> messagesOn(const std::string& topic) const;
    // Waits until the predicate holds for what was received (checked on
    // every message), or the time runs out; returns the last verdict.
    bool waitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& done,
                 std::chrono::milliseconds limit);
    bool connected() const;

    // libmosquitto's callbacks.
    void onConnect(int reason, bool sessionPresent);
    void onDisconnect();
    void onMessage(const ReceivedMessage& message);
    void onPublish(int mid, int reason);
    void onSubscribe(int mid);

private:
    ClientOptions options_;
    mosquitto* mosq_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ReceivedMessage> messages_;
    std::optional<int> connectReason_;
    bool connected_ = false;
    std::set<int> subscribed_;
    std::vector<std::string> filters_;   // subscribed again when a session was lost
    std::vector<std::pair<int, int>> acks_;
};

}  // namespace velta36test

#endif
