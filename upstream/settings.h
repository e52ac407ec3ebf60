// The upstream's settings: the configuration's "mqtt" object with the
// command line's overrides, checked whole before anything connects. Every
// error is one line naming the key and what is wrong with it.
#ifndef VELTA36_UPSTREAM_SETTINGS_H
#define VELTA36_UPSTREAM_SETTINGS_H

#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include <json/json.h>

namespace velta36up {

class SettingsError : public std::runtime_error {
public:
    explicit SettingsError(const std::string& message) : std::runtime_error(message) {}
};

// mqtt://host[:port] (1883) or mqtts://host[:port] (8883); an IPv6 host in
// brackets. No user name or password in it, no path.
struct BrokerUrl {
    bool tls = false;
    std::string host;
    int port = 0;
};
BrokerUrl ParseBrokerUrl(const std::string& url);

struct UpstreamSettings {
    std::string url;
    BrokerUrl broker;
    std::string site;                       // topic-safe
    std::string clientId;                   // "velta36-<site>" unless given
    std::string topicPrefix = "velta36";
    std::string discoveryPrefix = "homeassistant";
    bool discovery = true;
    std::optional<std::string> username;
    std::optional<std::string> passwordFile;
    std::optional<std::string> caFile;      // mqtts:// without one: the system's CAs
    std::optional<std::string> certFile;    // the client certificate and its key,
    std::optional<std::string> keyFile;     // both or neither
    std::set<std::string> allowed;          // request kinds; none unless listed
    int maxRequestAgeSeconds = 30;          // for requests with "sent" and no expiry
};

// What the command line says, which wins over the object.
struct SettingsOverrides {
    std::optional<std::string> url;
    std::optional<std::string> site;
};

// `object` is the "mqtt" object (null: none); keys:
//   url, site, client_id, topic_prefix, discovery_prefix, discovery (bool),
//   username, password_file, ca_file, cert_file, key_file,
//   allow (list of request kinds), max_request_age (seconds, 1..3600).
// An unknown key is an error, as is a URL from neither place.
UpstreamSettings ParseSettings(const Json::Value& object, const SettingsOverrides& overrides = {});

// A password kept in a file of its own: its first line. The file must not
// be readable or writable by group or others (a line says so otherwise).
std::string ReadPasswordFile(const std::string& path);
// A private key likewise; throws SettingsError.
void CheckPrivateFile(const std::string& path, const std::string& what);

}  // namespace velta36up

#endif
