#include "messages.h"

#include <json/json.h>

#include <cctype>
#include <memory>

namespace velta36col {

namespace {

// Limits on the free texts: far above what a controller stores, low enough
// that a hostile payload cannot fill the table with large values.
const std::size_t kMaxCard = 64;
const std::size_t kMaxReason = 512;
const std::size_t kMaxTypeName = 32;

struct Refusal {
    std::string why;
};

bool ReadDocument(std::string_view payload, Json::Value& root, std::string& error)
{
    if (payload.size() > kMaxPayload) {
        error = "payload of " + std::to_string(payload.size()) + " bytes is larger than " +
                std::to_string(kMaxPayload);
        return false;
    }
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder.settings_["stackLimit"] = 8;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string why;
    bool read = false;
    try {
        read = reader->parse(payload.data(), payload.data() + payload.size(), &root, &why);
    } catch (const Json::Exception& exception) {
        why = exception.what();   // nested deeper than the stack limit
    }
    if (!read) {
        error = "not JSON: " + why;
        return false;
    }
    if (!root.isObject()) {
        error = "not a JSON object";
        return false;
    }
    return true;
}

const Json::Value& Field(const Json::Value& root, const char* key)
{
    const Json::Value* value = root.find(key, key + std::char_traits<char>::length(key));
    if (value == nullptr)
        throw Refusal{std::string("\"") + key + "\" is missing"};
    return *value;
}

int64_t Integer(const Json::Value& root, const char* key, int64_t low, int64_t high)
{
    const Json::Value& value = Field(root, key);
    // Integers only: 42.0 or 4.2e1 is not a sequence number.
    if ((value.type() != Json::intValue && value.type() != Json::uintValue) || !value.isInt64())
        throw Refusal{std::string("\"") + key + "\" is not an integer"};
    const int64_t number = value.asInt64();
    if (number < low || number > high)
        throw Refusal{std::string("\"") + key + "\" is out of range (" + std::to_string(number) + ")"};
    return number;
}

bool Boolean(const Json::Value& root, const char* key)
{
    const Json::Value& value = Field(root, key);
    if (!value.isBool())
        throw Refusal{std::string("\"") + key + "\" is not true or false"};
    return value.asBool();
}

std::string TextValue(const Json::Value& value, const char* key, std::size_t maxBytes)
{
    if (!value.isString())
        throw Refusal{std::string("\"") + key + "\" is not a string"};
    std::string text = value.asString();
    if (text.size() > maxBytes)
        throw Refusal{std::string("\"") + key + "\" is longer than " + std::to_string(maxBytes) + " bytes"};
    if (!IsStorableText(text))
        throw Refusal{std::string("\"") + key + "\" is not UTF-8 text without NUL"};
    return text;
}

std::string Text(const Json::Value& root, const char* key, std::size_t maxBytes)
{
    return TextValue(Field(root, key), key, maxBytes);
}

std::string TopicId(const Json::Value& root, const char* key)
{
    std::string id = Text(root, key, 64);
    if (!IsTopicId(id))
        throw Refusal{std::string("\"") + key + "\" is not an id of 1 to 64 of [A-Za-z0-9_-]"};
    return id;
}

// Digits where the pattern has 'D', the pattern's own character elsewhere.
bool MatchesPattern(std::string_view text, std::string_view pattern)
{
    if (text.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (pattern[i] == 'D' ? !digit : text[i] != pattern[i])
            return false;
    }
    return true;
}

int Number(std::string_view text, std::size_t at, std::size_t length)
{
    int n = 0;
    for (std::size_t i = at; i < at + length; ++i)
        n = n * 10 + (text[i] - '0');
    return n;
}

// A real calendar time: PostgreSQL refuses "2024-02-30" as a timestamp.
bool IsCalendarTime(std::string_view text)
{
    const int year = Number(text, 0, 4), month = Number(text, 5, 2), day = Number(text, 8, 2);
    const int hour = Number(text, 11, 2), minute = Number(text, 14, 2), second = Number(text, 17, 2);
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

DoorState Door(const Json::Value& root, const char* key)
{
    const std::string text = Text(root, key, 16);
    if (text == "open")
        return DoorState::Open;
    if (text == "closed")
        return DoorState::Closed;
    if (text == "unknown")
        return DoorState::Unknown;
    throw Refusal{std::string("\"") + key + "\" is not open, closed or unknown"};
}

bool IsEpoch(std::string_view text)
{
    if (text.size() != 16)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

}  // namespace

bool IsTopicId(std::string_view text)
{
    if (text.empty() || text.size() > 64)
        return false;
    for (char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'))
            return false;
    return true;
}

bool IsStorableText(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0)
            return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        uint32_t code;
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, UTF-16 surrogates and code points past Unicode.
        static const uint32_t kLowest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kLowest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

const char* DoorStateName(DoorState state)
{
    switch (state) {
    case DoorState::Open:
        return "open";
    case DoorState::Closed:
        return "closed";
    case DoorState::Unknown:
        break;
    }
    return "unknown";
}

Parsed<EventMessage> ParseEvent(std::string_view payload)
{
    Parsed<EventMessage> parsed;
    Json::Value root;
    if (!ReadDocument(payload, root, parsed.error))
        return parsed;
    try {
        EventMessage event;
        event.site = TopicId(root, "site");
        event.device = TopicId(root, "device");
        event.dataId = Integer(root, "data_id", INT64_MIN, INT64_MAX);
        event.seq = Integer(root, "seq", 1, INT64_MAX);
        event.epoch = Text(root, "epoch", 16);
        if (!IsEpoch(event.epoch))
            throw Refusal{"\"epoch\" is not 16 lower-case hex digits"};
        event.row = Integer(root, "row", 1, INT64_MAX);
        event.identity = Text(root, "id", 64);
        if (event.identity != event.epoch + ":" + std::to_string(event.row))
            throw Refusal{"\"id\" is not \"<epoch>:<row>\" of this event"};
        const Json::Value& time = Field(root, "time");
        if (!time.isNull()) {
            event.time = TextValue(time, "time", 19);
            if (!MatchesPattern(*event.time, "DDDD-DD-DD DD:DD:DD"))
                throw Refusal{"\"time\" is not YYYY-MM-DD hh:mm:ss"};
        }
        event.channel = static_cast<int32_t>(Integer(root, "channel", INT32_MIN, INT32_MAX));
        event.type = static_cast<int32_t>(Integer(root, "type", INT32_MIN, INT32_MAX));
        event.typeName = Text(root, "type_name", kMaxTypeName);
        event.card = Text(root, "card", kMaxCard);
        event.reason = Text(root, "reason", kMaxReason);
        event.replayed = root.isMember("replayed") ? Boolean(root, "replayed") : false;
        parsed.message = std::move(event);
    } catch (const Refusal& refusal) {
        parsed.error = refusal.why;
    }
    return parsed;
}

Parsed<StateMessage> ParseState(std::string_view payload)
{
    Parsed<StateMessage> parsed;
    Json::Value root;
    if (!ReadDocument(payload, root, parsed.error))
        return parsed;
    try {
        StateMessage state;
        state.site = TopicId(root, "site");
        state.device = TopicId(root, "device");
        state.dataId = Integer(root, "data_id", INT64_MIN, INT64_MAX);
        state.online = Boolean(root, "online");
        state.doors = static_cast<int32_t>(Integer(root, "doors", 1, 2));
        state.door1 = Door(root, "door1");
        if (state.doors == 2)
            state.door2 = Door(root, "door2");
        state.databaseFault = Boolean(root, "database_fault");
        const Json::Value& round = Field(root, "last_round");
        if (!round.isNull()) {
            state.lastRound = TextValue(round, "last_round", 20);
            if (!MatchesPattern(*state.lastRound, "DDDD-DD-DDTDD:DD:DDZ") || !IsCalendarTime(*state.lastRound))
                throw Refusal{"\"last_round\" is not a UTC time YYYY-MM-DDThh:mm:ssZ"};
        }
        state.lastSeq = Integer(root, "last_seq", 0, INT64_MAX);
        state.eventsStored = Integer(root, "events_stored", 0, INT64_MAX);
        parsed.message = std::move(state);
    } catch (const Refusal& refusal) {
        parsed.error = refusal.why;
    }
    return parsed;
}

}  // namespace velta36col
