#include "control_request.h"

#include <cctype>

#include <json/json.h>

namespace velta36cli {

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

bool IsLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

bool IsCalendarDate(const std::string& text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    const int year = std::stoi(text.substr(0, 4));
    const int month = std::stoi(text.substr(5, 2));
    const int day = std::stoi(text.substr(8, 2));
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 2000 || year > 2099 || month < 1 || month > 12 || day < 1)
        return false;
    const int last = kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
    return day <= last;
}

ControlRequest OpenDoorRequest(int32_t door)
{
    if (door != 1 && door != 2)
        throw InputError("door " + std::to_string(door) + " does not exist (1 or 2)");
    Json::Value argument(Json::objectValue);
    argument["signal_id"] = kDoorSignalId;
    argument["SetValue"] = std::to_string(door);
    return ControlRequest{kCodeOpenDoor, Compact(argument), "open door " + std::to_string(door)};
}

ControlRequest ConfigureRequest()
{
    return ControlRequest{kCodeConfigure, "", "download the configuration"};
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
    return ControlRequest{kCodeAddCard, Compact(argument), "add card " + code + " in slot " + std::to_string(slot)};
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
    return ControlRequest{kCodeDeleteCard, Compact(argument), "delete the card in slot " + std::to_string(slot)};
}

}  // namespace velta36cli
