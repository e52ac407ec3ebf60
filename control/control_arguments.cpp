#include "control_arguments.h"

#include <climits>
#include <cstdlib>
#include <exception>

#include "calendar_date.h"

namespace velta36 {
namespace control {

bool ParseArgument(const void* text, int len, Json::Value& root)
{
    if (len < 0 || (text == nullptr && len > 0))
        return false;
    const std::string document =
        len > 0 ? std::string(static_cast<const char*>(text), static_cast<std::size_t>(len)) : std::string();
    try {
        Json::Reader reader;
        return reader.parse(document, root, true);
    } catch (const std::exception&) {
        // The reader throws instead of failing on very deep nesting.
        return false;
    }
}

bool ScalarText(const Json::Value& value, std::string& text)
{
    if (value.isArray() || value.isObject())
        return false;
    text = value.asString();
    return true;
}

int LeadingInteger(const std::string& text)
{
    // strtoll saturates where atoi would overflow; the int range is what a
    // 32-bit long gives on the controller host as well.
    const long long wide = std::strtoll(text.c_str(), nullptr, 10);
    if (wide > INT_MAX)
        return INT_MAX;
    if (wide < INT_MIN)
        return INT_MIN;
    return static_cast<int>(wide);
}

bool ScalarInteger(const Json::Value& value, int& number)
{
    std::string text;
    if (!ScalarText(value, text))
        return false;
    if (value.type() == Json::realValue) {
        const double real = value.asDouble();
        if (real >= 2147483648.0) {
            number = INT_MAX;
            return true;
        }
        if (real < -2147483648.0) {
            number = INT_MIN;
            return true;
        }
    }
    number = LeadingInteger(text);
    return true;
}

bool StartsWithCalendarDate(const std::string& text)
{
    CalendarDate date;
    return ReadCalendarDate(text, date);
}

CardParse ReadCardArgument(const Json::Value& root, bool withCodeAndDate, CardArgument& card)
{
    if (!root.isObject())
        return CardParse::Refused;
    if (root.empty())
        return CardParse::Empty;

    // The library keeps members sorted by the bytes of their names; the
    // first of them is the card, whatever the order in the text.
    const Json::Value::const_iterator first = root.begin();
    const Json::Value& entry = *first;
    if (!entry.isObject())
        return CardParse::Refused;

    int slot = 0;
    int doorNo = 0;
    if (!ScalarInteger(entry["CardNumber"], slot) || !ScalarInteger(entry["DoorNo"], doorNo))
        return CardParse::Refused;
    if (slot < 0 || slot > 9999)
        return CardParse::Refused;

    card.code = first.name();
    card.slot = slot;
    card.doorNo = doorNo;
    card.endDate.clear();
    if (withCodeAndDate) {
        if (card.code.size() != 8)
            return CardParse::Refused;
        if (!ScalarText(entry["EndDate"], card.endDate) || !StartsWithCalendarDate(card.endDate))
            return CardParse::Refused;
    }
    return CardParse::Ready;
}

}  // namespace control
}  // namespace velta36
