#include "mqtt_session.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace velta36up {

namespace {

const char* const kSystemCaPath = "/etc/ssl/certs";

void LibraryInit()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}


}  // namespace

MqttSession::MqttSession(const SessionConfig& config, SessionEvents& events) : events_(events)
{
    LibraryInit();
    mosq_ = mosquitto_new(config.clientId.c_str(), !config.sessionExpirySeconds.has_value(), this);
    if (!mosq_)
        throw std::runtime_error("cannot make an MQTT client (out of memory)");
    try {
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
        if (config.username &&
            mosquitto_username_pw_set(mosq_, config.username->c_str(),
                                      config.password ? config.password->c_str() : nullptr) != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("cannot set the user name");
        if (config.receiveMaximum)
            mosquitto_int_option(mosq_, MOSQ_OPT_RECEIVE_MAXIMUM, *config.receiveMaximum);
        const char offline[] = "offline";
        if (!config.willTopic.empty() && mosquitto_will_set_v5(mosq_, config.willTopic.c_str(), static_cast<int>(sizeof(offline) - 1), offline, 1,
                                  true, nullptr) != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("cannot set the last will");
        if (config.broker.tls) {
            // The broker's certificate is always verified, its name too
            // (libmosquitto's default; nothing here turns either off).
            const int rc = mosquitto_tls_set(mosq_, config.caFile ? config.caFile->c_str() : nullptr,
                                             config.caFile ? nullptr : kSystemCaPath,
                                             config.certFile ? config.certFile->c_str() : nullptr,
                                             config.keyFile ? config.keyFile->c_str() : nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS)
                throw std::runtime_error(std::string("TLS set-up: ") + mosquitto_strerror(rc));
            mosquitto_tls_opts_set(mosq_, 1, nullptr, nullptr);
        }
        mosquitto_log_callback_set(mosq_, [](mosquitto*, void* object, int level, const char* text) {
            static_cast<MqttSession*>(object)->noteLog(level, text);
        });
        mosquitto_connect_v5_callback_set(
            mosq_, [](mosquitto*, void* object, int reason, int, const mosquitto_property*) {
                static_cast<MqttSession*>(object)->events_.connected(reason);
            });
        mosquitto_publish_v5_callback_set(
            mosq_, [](mosquitto*, void* object, int mid, int reason, const mosquitto_property*) {
                static_cast<MqttSession*>(object)->events_.published(mid, reason);
            });
        mosquitto_message_v5_callback_set(
            mosq_, [](mosquitto*, void* object, const mosquitto_message* message, const mosquitto_property* props) {
                IncomingMessage in;
                in.topic = message->topic ? message->topic : "";
                if (message->payload && message->payloadlen > 0)
                    in.payload.assign(static_cast<const char*>(message->payload),
                                      static_cast<std::size_t>(message->payloadlen));
                in.retained = message->retain;
                uint32_t expiry = 0;
                if (mosquitto_property_read_int32(props, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, &expiry, false))
                    in.expirySeconds = expiry;
                static_cast<MqttSession*>(object)->events_.received(in);
            });
        int rc = MOSQ_ERR_SUCCESS;
        if (config.sessionExpirySeconds) {
            // The expiry travels as a CONNECT property, which only the
            // blocking connect takes; its wait is the TCP connect's.
            mosquitto_property* properties = nullptr;
            mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL, *config.sessionExpirySeconds);
            rc = mosquitto_connect_bind_v5(mosq_, config.broker.host.c_str(), config.broker.port,
                                           config.keepaliveSeconds, nullptr, properties);
            mosquitto_property_free_all(&properties);
        } else {
            rc = mosquitto_connect_bind_async(mosq_, config.broker.host.c_str(), config.broker.port,
                                              config.keepaliveSeconds, nullptr);
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            std::string why = rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(rc);
            if (!tlsError_.empty())
                why = tlsError_;
            throw std::runtime_error(why);
        }
    } catch (...) {
        mosquitto_destroy(mosq_);
        throw;
    }
}

MqttSession::~MqttSession()
{
    mosquitto_destroy(mosq_);
}

void MqttSession::noteLog(int level, const char* text)
{
    if (level == MOSQ_LOG_ERR && text && std::string(text).find("OpenSSL Error") != std::string::npos)
        tlsError_ = text;
}

int MqttSession::socket() const
{
    return mosquitto_socket(mosq_);
}

bool MqttSession::wantWrite() const
{
    return mosquitto_want_write(mosq_);
}

bool MqttSession::check(int rc, const char* what)
{
    if (rc == MOSQ_ERR_SUCCESS)
        return true;
    if (!tlsError_.empty())
        error_ = tlsError_;
    else if (rc == MOSQ_ERR_ERRNO)
        error_ = std::string(what) + ": " + std::strerror(errno);
    else
        error_ = mosquitto_strerror(rc);
    return false;
}

bool MqttSession::read()
{
    return check(mosquitto_loop_read(mosq_, 1000), "reading");
}

bool MqttSession::write()
{
    return check(mosquitto_loop_write(mosq_, 1000), "writing");
}

bool MqttSession::misc()
{
    return check(mosquitto_loop_misc(mosq_), "keeping alive");
}

std::optional<int> MqttSession::publish(const std::string& topic, const std::string& payload, bool retain)
{
    int mid = 0;
    const int rc = mosquitto_publish_v5(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                        payload.empty() ? nullptr : payload.data(), 1, retain, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
        return std::nullopt;
    return mid;
}

bool MqttSession::subscribe(const std::string& filter)
{
    return subscribe(filter, MQTT_SUB_OPT_NO_LOCAL | MQTT_SUB_OPT_RETAIN_AS_PUBLISHED | MQTT_SUB_OPT_SEND_RETAIN_NEVER);
}

bool MqttSession::subscribe(const std::string& filter, int options)
{
    return mosquitto_subscribe_v5(mosq_, nullptr, filter.c_str(), 1, options, nullptr) == MOSQ_ERR_SUCCESS;
}

void MqttSession::disconnect()
{
    mosquitto_disconnect_v5(mosq_, 0, nullptr);
}

}  // namespace velta36up
