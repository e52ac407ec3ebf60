#include "messages.h"

#include "json_text.h"

namespace velta36up {

namespace {

const char* const kReplayedFalse = "\"replayed\":false}";

const char* DoorText(DoorState state)
{
    switch (state) {
    case DoorState::Open: return "open";
    case DoorState::Closed: return "closed";
    case DoorState::Unknown: break;
    }
    return "unknown";
}

}  // namespace

const char* EventTypeName(int64_t type, const std::string& reason)
{
    switch (type) {
    case 1: return "granted_entry";
    case 2: return "granted_exit";
    case 3: return "exit_button";
    case 9: return "alarm_end";
    case 10:   // a card record with restriction flags is no access
    case 11:
    case 15: return "refused_card";
    case 12: return "unknown_card";
    case 14: return "break_in";
    case 0:
        if (reason == "控制器断电")
            return "power_off";
        if (reason == "控制器上电")
            return "power_on";
        // The restriction flags' texts, which a type-0 card record carries.
        if (reason == "防尾随限制" || reason == "防反潜限制" || reason == "卡在读卡器上无效" ||
            reason == "site code not ok" || reason == "控制器不允许（有效期、信用度）" || reason == "错误的密码" ||
            reason == "门无应答" || reason == "通行时区限制")
            return "refused_card";
        return "other";
    default: return "other";
    }
}

std::string EventPayload(const EventIdentity& identity, const SourceRow& row)
{
    return JsonObjectText()
        .text("site", identity.site)
        .text("device", identity.device)
        .number("data_id", row.dataId)
        .number("seq", identity.seq)
        .text("id", identity.epoch + ":" + std::to_string(row.id))
        .text("epoch", identity.epoch)
        .number("row", row.id)
        .text("time", row.eventTime)
        .number("channel", row.channel)
        .number("type", row.type)
        .text("type_name", std::string(EventTypeName(row.type, row.reason)))
        .text("card", row.card)
        .text("reason", row.reason)
        .boolean("replayed", false)
        .str();
}

std::string ReplayedPayload(const std::string& eventPayload)
{
    const std::string suffix = kReplayedFalse;
    if (eventPayload.size() < suffix.size() ||
        eventPayload.compare(eventPayload.size() - suffix.size(), suffix.size(), suffix) != 0)
        return eventPayload;
    return eventPayload.substr(0, eventPayload.size() - suffix.size()) + "\"replayed\":true}";
}

std::string StatePayload(const std::string& site, const std::string& device, int64_t dataId,
                         const DeviceState& state)
{
    JsonObjectText json;
    json.text("site", site)
        .text("device", device)
        .number("data_id", dataId)
        .boolean("online", state.online)
        .number("doors", state.doors)
        .text("door1", std::string(DoorText(state.door1)));
    if (state.doors == 2)
        json.text("door2", std::string(DoorText(state.door2)));
    json.boolean("database_fault", state.databaseFault);
    if (state.lastRound)
        json.text("last_round", IsoUtc(*state.lastRound));
    else
        json.null("last_round");
    return json.number("last_seq", state.lastSeq).number("events_stored", state.eventsStored).str();
}

std::string ResponsePayload(const Response& response)
{
    JsonObjectText json;
    json.text("transaction", response.transaction)
        .text("device", response.device)
        .text("kind", response.kind)
        .text("status", response.status);
    if (response.controlResult)
        json.number("control_result", *response.controlResult);
    else
        json.null("control_result");
    json.text("error", response.error);
    if (response.count) {
        json.number("count", *response.count);
        if (response.first)
            json.number("first", *response.first);
        else
            json.null("first");
        if (response.last)
            json.number("last", *response.last);
        else
            json.null("last");
    }
    return json.str();
}

}  // namespace velta36up
