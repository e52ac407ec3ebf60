#include "control_arguments.h"

#include <climits>
#include <cstdlib>
#include <exception>

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
    if (text.size() < 10)
        return false;
    for (std::size_t i = 0; i < 10; ++i) {
        const bool dash = i == 4 || i == 7;
        const char c = text[i];
        if (dash ? c != '-' : (c < '0' || c > '9'))
            return false;
    }
    const int year = std::atoi(text.substr(0, 4).c_str());
    const int month = std::atoi(text.substr(5, 2).c_str());
    const int day = std::atoi(text.substr(8, 2).c_str());
    if (month < 1 || month > 12 || day < 1)
        return false;
    static const int kDaysIn[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDaysIn[month - 1] + (month == 2 && leap ? 1 : 0);
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
