#include "settings.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "names.h"

namespace velta36up {

namespace {

const char* const kKeys[] = {"url",      "site",          "client_id", "topic_prefix", "discovery_prefix",
                             "discovery", "username",     "password_file", "ca_file",  "cert_file",
                             "key_file",  "allow",        "max_request_age"};

std::optional<std::string> OptionalText(const Json::Value& object, const char* key)
{
    if (!object.isMember(key))
        return std::nullopt;
    const Json::Value& value = object[key];
    if (!value.isString() || value.asString().empty())
        throw SettingsError(std::string("mqtt: \"") + key + "\" must be a non-empty text");
    return value.asString();
}

// Topic levels separated by '/', none empty, no wildcards.
void CheckPrefix(const std::string& prefix, const char* key)
{
    bool ok = !prefix.empty() && prefix.front() != '/' && prefix.back() != '/' &&
              prefix.find("//") == std::string::npos && prefix.size() <= 128;
    for (char c : prefix)
        ok = ok && c != '+' && c != '#' && c != '\0' && static_cast<unsigned char>(c) >= 0x20;
    if (!ok)
        throw SettingsError(std::string("mqtt: \"") + key + "\" \"" + prefix +
                            "\" is not a topic prefix (levels separated by '/', none empty, no '+' or '#')");
}

bool ParsePort(const std::string& text, int& port)
{
    if (text.empty() || text.size() > 5)
        return false;
    port = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= 65535;
}

}  // namespace

BrokerUrl ParseBrokerUrl(const std::string& url)
{
    BrokerUrl broker;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
        broker.port = 1883;
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        broker.tls = true;
        broker.port = 8883;
    } else {
        throw SettingsError("mqtt: URL \"" + url + "\" must begin with mqtt:// or mqtts://");
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (rest.find('@') != std::string::npos)
        throw SettingsError("mqtt: URL \"" + url +
                            "\" holds a user name; give \"username\" and a \"password_file\" instead");
    if (rest.find('/') != std::string::npos || rest.find('?') != std::string::npos)
        throw SettingsError("mqtt: URL \"" + url + "\" must name a host and a port only");
    std::string portText;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos)
            throw SettingsError("mqtt: URL \"" + url + "\" has an unclosed '['");
        broker.host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                throw SettingsError("mqtt: URL \"" + url + "\" has text after the host");
            portText = after.substr(1);
            if (portText.empty())
                throw SettingsError("mqtt: URL \"" + url + "\" has an empty port");
        }
    } else {
        const std::size_t colon = rest.find(':');
        broker.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            portText = rest.substr(colon + 1);
            if (portText.empty())
                throw SettingsError("mqtt: URL \"" + url + "\" has an empty port");
        }
    }
    if (broker.host.empty())
        throw SettingsError("mqtt: URL \"" + url + "\" names no host");
    if (!portText.empty() && !ParsePort(portText, broker.port))
        throw SettingsError("mqtt: URL \"" + url + "\": port \"" + portText + "\" is not 1 to 65535");
    return broker;
}

UpstreamSettings ParseSettings(const Json::Value& object, const SettingsOverrides& overrides)
{
    if (!object.isNull() && !object.isObject())
        throw SettingsError("mqtt: the \"mqtt\" setting must be an object");
    const Json::Value& o = object.isNull() ? Json::Value::nullSingleton() : object;
    if (o.isObject()) {
        for (const std::string& key : o.getMemberNames()) {
            bool known = false;
            for (const char* k : kKeys)
                known = known || key == k;
            if (!known)
                throw SettingsError("mqtt: unknown key \"" + key + "\"");
        }
    }
    UpstreamSettings settings;
    const Json::Value empty(Json::objectValue);
    const Json::Value& in = o.isObject() ? o : empty;

    std::optional<std::string> url = overrides.url ? overrides.url : OptionalText(in, "url");
    if (!url)
        throw SettingsError("mqtt: no broker URL (--mqtt or \"url\")");
    settings.url = *url;
    settings.broker = ParseBrokerUrl(*url);

    const std::optional<std::string> site = overrides.site ? overrides.site : OptionalText(in, "site");
    settings.site = site ? *site : DefaultSiteId();
    if (!IsTopicSafe(settings.site))
        throw SettingsError("mqtt: site \"" + settings.site + "\" must be 1 to 64 of A-Z a-z 0-9 _ -");

    const std::optional<std::string> clientId = OptionalText(in, "client_id");
    settings.clientId = clientId ? *clientId : "velta36-" + settings.site;
    if (settings.clientId.size() > 64)
        throw SettingsError("mqtt: \"client_id\" is longer than 64 characters");

    if (const auto prefix = OptionalText(in, "topic_prefix"))
        settings.topicPrefix = *prefix;
    CheckPrefix(settings.topicPrefix, "topic_prefix");
    if (const auto prefix = OptionalText(in, "discovery_prefix"))
        settings.discoveryPrefix = *prefix;
    CheckPrefix(settings.discoveryPrefix, "discovery_prefix");
    if (in.isMember("discovery")) {
        if (!in["discovery"].isBool())
            throw SettingsError("mqtt: \"discovery\" must be true or false");
        settings.discovery = in["discovery"].asBool();
    }

    settings.username = OptionalText(in, "username");
    settings.passwordFile = OptionalText(in, "password_file");
    if (settings.passwordFile && !settings.username)
        throw SettingsError("mqtt: \"password_file\" needs a \"username\"");
    settings.caFile = OptionalText(in, "ca_file");
    settings.certFile = OptionalText(in, "cert_file");
    settings.keyFile = OptionalText(in, "key_file");
    if (settings.certFile.has_value() != settings.keyFile.has_value())
        throw SettingsError("mqtt: \"cert_file\" and \"key_file\" go together");
    if (!settings.broker.tls && (settings.caFile || settings.certFile))
        throw SettingsError("mqtt: \"ca_file\", \"cert_file\" and \"key_file\" need an mqtts:// URL");

    if (in.isMember("allow")) {
        const Json::Value& allow = in["allow"];
        if (!allow.isArray())
            throw SettingsError("mqtt: \"allow\" must be a list of request kinds");
        for (const Json::Value& kind : allow) {
            if (!kind.isString() || !IsRequestKind(kind.asString()))
                throw SettingsError("mqtt: \"allow\": " +
                                    (kind.isString() ? "\"" + kind.asString().substr(0, 40) + "\"" : std::string("a value")) +
                                    " is not one of open-door, configure, add-card, delete-card, replay");
            settings.allowed.insert(kind.asString());
        }
    }
    if (in.isMember("max_request_age")) {
        const Json::Value& age = in["max_request_age"];
        if (!age.isIntegral() || age.asInt64() < 1 || age.asInt64() > 3600)
            throw SettingsError("mqtt: \"max_request_age\" must be 1 to 3600 seconds");
        settings.maxRequestAgeSeconds = age.asInt();
    }
    return settings;
}

void CheckPrivateFile(const std::string& path, const std::string& what)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        throw SettingsError("mqtt: cannot read the " + what + " " + path + ": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        throw SettingsError("mqtt: the " + what + " " + path + " is not a file");
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(info.st_mode & 07777));
        throw SettingsError("mqtt: the " + what + " " + path + " is open to group or others (mode " + mode +
                            "); make it readable by its owner only (chmod 600)");
    }
}

std::string ReadPasswordFile(const std::string& path)
{
    CheckPrivateFile(path, "password file");
    std::ifstream in(path);
    std::string password;
    if (!in || !std::getline(in, password))
        throw SettingsError("mqtt: cannot read the password file " + path);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty())
        throw SettingsError("mqtt: the password file " + path + " holds no password on its first line");
    return password;
}

}  // namespace velta36up
