#include "mqtt_test_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <stdexcept>

namespace velta36test {

namespace {

TestMqttClient& Self(void* object)
{
    return *static_cast<TestMqttClient*>(object);
}

}  // namespace

TestMqttClient::TestMqttClient(ClientOptions options) : options_(std::move(options))
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    mosq_ = mosquitto_new(options_.clientId.c_str(), !options_.keepSession, this);
    if (!mosq_)
        throw std::runtime_error("mosquitto_new failed");
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, options_.keepSession ? MQTT_PROTOCOL_V311 : MQTT_PROTOCOL_V5);
    if (options_.username)
        mosquitto_username_pw_set(mosq_, options_.username->c_str(),
                                  options_.password ? options_.password->c_str() : nullptr);
    int port = options_.port;
    if (options_.caFile) {
        mosquitto_tls_set(mosq_, options_.caFile->c_str(), nullptr, nullptr, nullptr, nullptr);
        port = options_.tlsPort.value_or(port);
    }
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    mosquitto_connect_v5_callback_set(mosq_, [](mosquitto*, void* o, int rc, int flags, const mosquitto_property*) {
        Self(o).onConnect(rc, (flags & 1) != 0);
    });
    mosquitto_disconnect_v5_callback_set(mosq_, [](mosquitto*, void* o, int, const mosquitto_property*) {
        Self(o).onDisconnect();
    });
    mosquitto_message_v5_callback_set(
        mosq_, [](mosquitto*, void* o, const mosquitto_message* m, const mosquitto_property*) {
            ReceivedMessage message;
            message.topic = m->topic;
            if (m->payloadlen > 0)
                message.payload.assign(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen));
            message.retained = m->retain;
            Self(o).onMessage(message);
        });
    mosquitto_publish_v5_callback_set(mosq_, [](mosquitto*, void* o, int mid, int reason, const mosquitto_property*) {
        Self(o).onPublish(mid, reason);
    });
    mosquitto_subscribe_v5_callback_set(mosq_, [](mosquitto*, void* o, int mid, int, const int*,
                                                  const mosquitto_property*) { Self(o).onSubscribe(mid); });
    if (mosquitto_connect(mosq_, "127.0.0.1", port, 10) != MOSQ_ERR_SUCCESS || mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(mosq_);
        throw std::runtime_error("cannot connect the test client to port " + std::to_string(port));
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(10), [this] { return connectReason_.has_value(); }) ||
        *connectReason_ != 0) {
        lock.unlock();
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, true);
        mosquitto_destroy(mosq_);
        throw std::runtime_error("the test client " + options_.clientId + " was not accepted");
    }
}

TestMqttClient::~TestMqttClient()
{
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
}

void TestMqttClient::onConnect(int reason, bool sessionPresent)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (reason == 0 && !sessionPresent) {
        for (const std::string& filter : filters_)
            mosquitto_subscribe(mosq_, nullptr, filter.c_str(), 1);
    }
    connectReason_ = reason;
    connected_ = reason == 0;
    changed_.notify_all();
}

void TestMqttClient::onDisconnect()
{
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = false;
    changed_.notify_all();
}

void TestMqttClient::onMessage(const ReceivedMessage& message)
{
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(message);
    changed_.notify_all();
}

void TestMqttClient::onPublish(int mid, int reason)
{
    std::lock_guard<std::mutex> lock(mutex_);
    acks_.emplace_back(mid, reason);
    changed_.notify_all();
}

void TestMqttClient::onSubscribe(int mid)
{
    std::lock_guard<std::mutex> lock(mutex_);
    subscribed_.insert(mid);
    changed_.notify_all();
}

bool TestMqttClient::connected() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return connected_;
}

void TestMqttClient::subscribe(const std::string& filter)
{
    int mid = 0;
    if (mosquitto_subscribe(mosq_, &mid, filter.c_str(), 1) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("cannot subscribe to " + filter);
    std::unique_lock<std::mutex> lock(mutex_);
    filters_.push_back(filter);
    if (!changed_.wait_for(lock, std::chrono::seconds(5), [&] { return subscribed_.count(mid) > 0; }))
        throw std::runtime_error("no SUBACK for " + filter);
}

int TestMqttClient::publish(const std::string& topic, const std::string& payload, bool retain,
                            std::optional<uint32_t> expirySeconds)
{
    mosquitto_property* properties = nullptr;
    if (expirySeconds)
        mosquitto_property_add_int32(&properties, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, *expirySeconds);
    int mid = 0;
    const int rc = mosquitto_publish_v5(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                                        retain, properties);
    mosquitto_property_free_all(&properties);
    if (rc != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("cannot publish to " + topic + ": " + mosquitto_strerror(rc));
    std::unique_lock<std::mutex> lock(mutex_);
    int reason = -1;
    changed_.wait_for(lock, std::chrono::seconds(5), [&] {
        for (const auto& [id, code] : acks_) {
            if (id == mid) {
                reason = code;
                return true;
            }
        }
        return false;
    });
    return reason;
}

std::vector<ReceivedMessage> TestMqttClient::messages() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::vector<ReceivedMessage> TestMqttClient::messagesOn(const std::string& topic) const
{
    std::vector<ReceivedMessage> on;
    for (const ReceivedMessage& message : messages()) {
        if (message.topic == topic)
            on.push_back(message);
    }
    return on;
}

bool TestMqttClient::waitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& done,
                             std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return done(messages_); });
}

}  // namespace velta36test
