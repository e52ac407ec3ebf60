// One connection to the broker through libmosquitto, driven from the
// caller's loop: the caller polls socket() (for writing too while
// wantWrite()), then calls read(), write() and misc(). libmosquitto's own
// thread and reconnecting are not used; a lost connection ends the
// session, and the caller starts a new one when its back-off says so.
// Callbacks arrive on the caller's thread, inside read() and write().
#ifndef VELTA36_UPSTREAM_MQTT_SESSION_H
#define VELTA36_UPSTREAM_MQTT_SESSION_H

#include <cstdint>
#include <optional>
#include <string>

#include "settings.h"

struct mosquitto;

namespace velta36up {

struct SessionConfig {
    BrokerUrl broker;
    std::string clientId;
    std::optional<std::string> username;
    std::optional<std::string> password;
    std::optional<std::string> caFile;
    std::optional<std::string> certFile;
    std::optional<std::string> keyFile;
    std::string willTopic;    // "offline", retained, QoS 1; empty: no last will
    int keepaliveSeconds = 30;
    // A session the broker keeps while the client is away (MQTT 5 Clean
    // Start off, with this Session Expiry Interval); none: a clean session
    // that ends with the connection.
    std::optional<uint32_t> sessionExpirySeconds;
    // MQTT 5 Receive Maximum: QoS 1 messages the broker may have in flight
    // to us at once (libmosquitto's default 20 when none).
    std::optional<int> receiveMaximum;
};

struct IncomingMessage {
    std::string topic;
    std::string payload;
    bool retained = false;
    std::optional<uint32_t> expirySeconds;   // MQTT 5 message expiry left
};

class SessionEvents {
public:
    virtual ~SessionEvents() = default;
    // reason 0: accepted; otherwise the CONNACK's reason code.
    virtual void connected(int reason) = 0;
    virtual void published(int mid, int reason) = 0;
    virtual void received(const IncomingMessage& message) = 0;
};

class MqttSession {
public:
    // Starts connecting (non-blocking). Throws std::runtime_error with the
    // reason when it cannot even start (bad TLS files, refused at once).
    MqttSession(const SessionConfig& config, SessionEvents& events);
    ~MqttSession();
    MqttSession(const MqttSession&) = delete;
    MqttSession& operator=(const MqttSession&) = delete;

    int socket() const;
    bool wantWrite() const;
    // Each returns false once the connection is gone; error() says why.
    bool read();
    bool write();
    bool misc();
    const std::string& error() const { return error_; }

    // QoS 1. Returns the message id, or nothing when the library refused
    // (the connection is going).
    std::optional<int> publish(const std::string& topic, const std::string& payload, bool retain);
    // QoS 1, MQTT 5 options: never retained messages at subscribe time,
    // retain flag as published, not our own messages.
    bool subscribe(const std::string& filter);
    // QoS 1 with the options given (MQTT_SUB_OPT_* of mqtt_protocol.h).
    bool subscribe(const std::string& filter, int options);
    void disconnect();

    // libmosquitto's log lines of this session (the last OpenSSL error).
    void noteLog(int level, const char* text);

private:
    bool check(int rc, const char* what);

    mosquitto* mosq_ = nullptr;
    SessionEvents& events_;
    std::string error_;
    std::string tlsError_;
};

}  // namespace velta36up

#endif
