// velta36 collect: every site's events and states from the broker into one
// PostgreSQL database, until interrupted. The broker settings are those of
// `run` (a --config file's "mqtt" object, or --mqtt), read with the same
// parser; every setting is checked before anything connects.
#include <fstream>

#include "collector_session.h"
#include "commands.h"
#include "settings.h"
#include "stop_signals.h"

namespace velta36cli {

namespace {

const char* const kDefaultClientId = "velta36-collect";
// How long the broker keeps our session. Alone, a week: it queues what
// comes while we are away. In a shared group mosquitto goes on giving a
// member that is gone its turn of the messages (queued for it, never
// delivered elsewhere) until its session expires, so there it is short:
// the gap tracker asks for what was lost, and the rest of the group gets
// every message again half a minute after a member died.
const uint32_t kAloneExpiry = 7 * 24 * 3600;
const uint32_t kSharedExpiry = 30;

Json::Value MqttObject(const std::optional<std::string>& configPath)
{
    if (!configPath)
        return Json::Value();
    std::ifstream in(*configPath);
    if (!in)
        throw InputError("--config " + *configPath + " cannot be read");
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::string errors;
    if (!Json::parseFromStream(builder, in, &root, &errors))
        throw InputError("--config " + *configPath + " is not JSON: " + errors);
    if (!root.isObject() || !root.isMember("mqtt"))
        throw InputError("--config " + *configPath + " has no \"mqtt\" object");
    return root["mqtt"];
}

velta36col::CollectSettings BrokerSettings(const CollectOptions& options)
{
    Json::Value object = MqttObject(options.config);
    // The site's own keys mean nothing to a collector; its site id is not
    // needed, so the host name default is never consulted for topics.
    if (object.isObject()) {
        object.removeMember("allow");
        object.removeMember("max_request_age");
        object.removeMember("discovery");
        object.removeMember("discovery_prefix");
    }
    velta36up::SettingsOverrides overrides;
    overrides.url = options.mqtt;
    overrides.site = "collector";
    velta36up::UpstreamSettings parsed;
    try {
        parsed = velta36up::ParseSettings(object, overrides);
    } catch (const velta36up::SettingsError& error) {
        throw InputError(error.what());
    }
    velta36col::CollectSettings settings;
    settings.topicPrefix = parsed.topicPrefix;
    settings.shareGroup = options.share;
    if (settings.shareGroup && !velta36col::IsTopicId(*settings.shareGroup))
        throw InputError("--share \"" + *settings.shareGroup + "\" must be 1 to 64 of A-Z a-z 0-9 _ -");
    velta36up::SessionConfig& session = settings.session;
    session.broker = parsed.broker;
    if (options.clientId)
        session.clientId = *options.clientId;
    else if (object.isObject() && object.isMember("client_id"))
        session.clientId = parsed.clientId;
    else
        session.clientId = kDefaultClientId;
    if (session.clientId.empty() || session.clientId.size() > 64)
        throw InputError("--client-id must be 1 to 64 characters");
    session.username = parsed.username;
    if (parsed.passwordFile) {
        try {
            session.password = velta36up::ReadPasswordFile(*parsed.passwordFile);
        } catch (const std::exception& error) {
            throw InputError(error.what());
        }
    }
    session.caFile = parsed.caFile;
    session.certFile = parsed.certFile;
    session.keyFile = parsed.keyFile;
    const uint32_t expiry = options.sessionExpirySeconds.value_or(options.share ? kSharedExpiry : kAloneExpiry);
    if (expiry < 1)
        throw InputError("--session-expiry must be at least 1 second");
    settings.sessionExpirySeconds = expiry;
    return settings;
}

}  // namespace

int CollectCommand(const CollectOptions& options, Console& console)
{
    velta36col::CollectSettings broker = BrokerSettings(options);
    velta36col::ConnectionSettings database{options.db, options.dbPasswordFile};
    velta36col::CollectorOptions collector;
    if (options.gapGraceMs < 0 || options.replayRetryMs < 1)
        throw InputError("--gap-grace must be 0 or more and --replay-retry at least 1 ms");
    collector.gaps.grace = std::chrono::milliseconds(options.gapGraceMs);
    collector.gaps.retryFirst = std::chrono::milliseconds(options.replayRetryMs);
    collector.log = [&console](const std::string& line) { console.line(line); };

    std::unique_ptr<velta36col::CollectorSession> session;
    try {
        session = std::make_unique<velta36col::CollectorSession>(broker, database, collector);
    } catch (const velta36col::SettingsError& error) {
        throw InputError(error.what());
    }
    InstallStopSignals();
    session->run([] { return StopRequests() > 0; });
    return kExitOk;
}

}  // namespace velta36cli
