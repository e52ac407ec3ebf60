#include "control_request.h"

#include <cctype>

#include <json/json.h>

#include "calendar_date.h"
#include "control_codes.h"

namespace velta36site {

namespace {

const int32_t kMaxSlot = 9999;   // four digits on the wire

std::string Compact(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

void CheckSlot(int32_t slot)
{
    if (slot < 0 || slot > kMaxSlot)
        throw InputError("card slot " + std::to_string(slot) + " is out of range (0 to 9999)");
}

void CheckCardDoor(int32_t door)
{
    if (door < 0 || door > 2)
        throw InputError("door " + std::to_string(door) + " does not exist (1 or 2, or 0 for both doors)");
}

// The code goes onto the line verbatim inside a frame that '/' ends, so only
// letters and digits are let through.
void CheckCardCode(const std::string& code)
{
    if (code.size() != 8)
        throw InputError("card code \"" + code + "\" must be exactly 8 characters");
    for (char c : code) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            throw InputError("card code \"" + code + "\" may hold only letters and digits");
    }
}

}  // namespace

bool IsCalendarDate(const std::string& text)
{
    velta36::CalendarDate date;
    return text.size() == 10 && velta36::ReadCalendarDate(text, date) && date.year >= 2000 && date.year <= 2099;
}

ControlRequest OpenDoorRequest(int32_t door)
{
    if (door != 1 && door != 2)
        throw InputError("door " + std::to_string(door) + " does not exist (1 or 2)");
    Json::Value argument(Json::objectValue);
    argument["signal_id"] = VELTA36_DOOR_SIGNAL_ID;
    argument["SetValue"] = std::to_string(door);
    return ControlRequest{CTL_SET_VALUE, Compact(argument), "open door " + std::to_string(door)};
}

ControlRequest ConfigureRequest()
{
    return ControlRequest{CTL_CONFIGURE, "", "download the configuration"};
}

ControlRequest AddCardRequest(const std::string& code, int32_t slot, const std::string& endDate, int32_t door)
{
    CheckCardCode(code);
    CheckSlot(slot);
    CheckCardDoor(door);
    if (!IsCalendarDate(endDate))
        throw InputError("end date \"" + endDate + "\" is not a date YYYY-MM-DD between 2000 and 2099");
    Json::Value entry(Json::objectValue);
    entry["CardNumber"] = std::to_string(slot);
    entry["EndDate"] = endDate;
    entry["DoorNo"] = std::to_string(door);
    Json::Value argument(Json::objectValue);
    argument[code] = entry;
    return ControlRequest{CTL_CARD_ADD, Compact(argument), "add card " + code + " in slot " + std::to_string(slot)};
}

ControlRequest DeleteCardRequest(int32_t slot, int32_t door)
{
    CheckSlot(slot);
    CheckCardDoor(door);
    Json::Value entry(Json::objectValue);
    entry["CardNumber"] = std::to_string(slot);
    entry["DoorNo"] = std::to_string(door);
    Json::Value argument(Json::objectValue);
    argument["card"] = entry;
    return ControlRequest{CTL_CARD_DELETE, Compact(argument), "delete the card in slot " + std::to_string(slot)};
}

}  // namespace velta36site
