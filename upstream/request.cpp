#include "request.h"

#include <cctype>
#include <memory>
#include <set>

#include <json/json.h>

#include "names.h"

namespace velta36up {

namespace {

bool IsTransactionChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == ':' || c == '-';
}

bool IsTransaction(const std::string& text)
{
    if (text.empty() || text.size() > 64)
        return false;
    for (char c : text) {
        if (!IsTransactionChar(c))
            return false;
    }
    return true;
}

// A JSON integer (not 1.0, not "1") within [low, high].
bool Integer(const Json::Value& value, int64_t low, int64_t high, int64_t& out)
{
    if (value.type() != Json::intValue && value.type() != Json::uintValue)
        return false;
    if (value.isUInt64() && value.asUInt64() > static_cast<uint64_t>(INT64_MAX))
        return false;
    out = value.asInt64();
    return out >= low && out <= high;
}

class Checker {
public:
    Checker(const Json::Value& root, ParsedRequest& result) : root_(root), result_(result) {}

    bool allowOnly(std::set<std::string> keys)
    {
        keys.insert({"transaction", "device", "sent"});
        for (const std::string& key : root_.getMemberNames()) {
            if (keys.count(key) == 0)
                return fail("unknown key \"" + key.substr(0, 64) + "\" for " + result_.request.kind);
        }
        return true;
    }

    bool integer(const char* key, int64_t low, int64_t high, int64_t& out)
    {
        if (!root_.isMember(key))
            return fail(std::string("\"") + key + "\" is missing");
        if (!Integer(root_[key], low, high, out))
            return fail(std::string("\"") + key + "\" must be a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high));
        return true;
    }

    bool text(const char* key, std::string& out)
    {
        if (!root_.isMember(key))
            return fail(std::string("\"") + key + "\" is missing");
        if (!root_[key].isString())
            return fail(std::string("\"") + key + "\" must be a text");
        out = root_[key].asString();
        return true;
    }

    bool fail(const std::string& error)
    {
        result_.error = error;
        return false;
    }

private:
    const Json::Value& root_;
    ParsedRequest& result_;
};

bool IsCardCode(const std::string& code)
{
    if (code.size() != 8)
        return false;
    for (char c : code) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// A real day in 2000..2099, the controller's range.
bool IsEndDate(const std::string& text)
{
    return text.size() == 10 && text.compare(0, 2, "20") == 0 && ParseIsoTime(text + "T00:00:00Z").has_value();
}

bool ParseCommand(Checker& check, const Json::Value& root, Request& request)
{
    int64_t number = 0;
    Command command;
    const std::string& kind = request.kind;
    if (kind == kKindOpenDoor) {
        if (!check.allowOnly({"door"}) || !check.integer("door", 1, 2, number))
            return false;
        command.kind = CommandKind::OpenDoor;
        command.door = static_cast<int>(number);
    } else if (kind == kKindConfigure) {
        if (!check.allowOnly({}))
            return false;
        command.kind = CommandKind::Configure;
    } else if (kind == kKindAddCard) {
        if (!check.allowOnly({"code", "slot", "end", "door"}) || !check.text("code", command.code))
            return false;
        if (!IsCardCode(command.code))
            return check.fail("\"code\" must be 8 letters or digits");
        if (!check.integer("slot", 0, 9999, number))
            return false;
        command.slot = static_cast<int>(number);
        if (!check.text("end", command.endDate))
            return false;
        if (!IsEndDate(command.endDate))
            return check.fail("\"end\" must be a date YYYY-MM-DD from 2000 to 2099");
        if (!check.integer("door", 0, 2, number))
            return false;
        command.kind = CommandKind::AddCard;
        command.cardDoor = static_cast<int>(number);
    } else if (kind == kKindDeleteCard) {
        if (!check.allowOnly({"slot", "door"}) || !check.integer("slot", 0, 9999, number))
            return false;
        command.slot = static_cast<int>(number);
        if (!check.integer("door", 0, 2, number))
            return false;
        command.kind = CommandKind::DeleteCard;
        command.cardDoor = static_cast<int>(number);
    } else {
        (void)root;
        return check.fail("unknown request kind");
    }
    request.command = command;
    return true;
}

}  // namespace

const char* KindName(CommandKind kind)
{
    switch (kind) {
    case CommandKind::OpenDoor: return kKindOpenDoor;
    case CommandKind::Configure: return kKindConfigure;
    case CommandKind::AddCard: return kKindAddCard;
    case CommandKind::DeleteCard: return kKindDeleteCard;
    }
    return "?";
}

ParsedRequest ParseRequest(const std::string& kind, const std::string& payload)
{
    ParsedRequest result;
    result.request.kind = kind;
    if (payload.size() > kMaxRequestBytes) {
        result.error = "request longer than " + std::to_string(kMaxRequestBytes) + " bytes";
        return result;
    }
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["stackLimit"] = 16;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    bool parsed = false;
    try {
        parsed = !payload.empty() && reader->parse(payload.data(), payload.data() + payload.size(), &root, &errors);
    } catch (const std::exception&) {
        parsed = false;   // JsonCpp throws past its nesting limit
    }
    if (!parsed) {
        result.error = "not JSON";
        return result;
    }
    if (!root.isObject()) {
        result.error = "not a JSON object";
        return result;
    }
    Request& request = result.request;
    Checker check(root, result);
    // What can be read of the transaction and device is echoed in the response.
    const Json::Value& object = root;   // const: a lookup must not add the member
    const Json::Value& transaction = object["transaction"];
    if (transaction.isString() && IsTransaction(transaction.asString()))
        request.transaction = transaction.asString();
    const Json::Value& device = object["device"];
    if (device.isString() && IsTopicSafe(device.asString()))
        request.device = device.asString();
    if (request.transaction.empty()) {
        result.error = root.isMember("transaction") ? "\"transaction\" must be 1 to 64 of A-Z a-z 0-9 _ . : -"
                                                    : "\"transaction\" is missing";
        return result;
    }
    if (request.device.empty()) {
        result.error = root.isMember("device") ? "\"device\" is not a device id" : "\"device\" is missing";
        return result;
    }
    if (!IsRequestKind(kind)) {
        result.error = "unknown request kind";
        return result;
    }
    if (root.isMember("sent")) {
        const Json::Value& sent = object["sent"];
        if (sent.isString())
            request.sent = ParseIsoTime(sent.asString());
        if (!request.sent) {
            result.error = "\"sent\" must be an ISO 8601 time such as 2026-12-10T11:40:02Z";
            return result;
        }
    }
    if (kind == kKindReplay) {
        if (!check.allowOnly({"from", "to"}) || !check.integer("from", 1, INT64_MAX, request.from) ||
            !check.integer("to", 1, INT64_MAX, request.to))
            return result;
        if (request.to < request.from)
            return result.error = "\"to\" is below \"from\"", result;
        if (request.to - request.from >= kMaxReplaySpan)
            return result.error = "at most 10000 events per replay request", result;
    } else if (!ParseCommand(check, root, request)) {
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace velta36up
