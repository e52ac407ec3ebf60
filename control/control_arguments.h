// Reading the JSON arguments of control commands. Everything here refuses
// what the wire fields cannot carry instead of letting the JSON library
// throw or a short text be read past its end.
#ifndef VELTA36_CONTROL_CONTROL_ARGUMENTS_H
#define VELTA36_CONTROL_CONTROL_ARGUMENTS_H

#include <string>

#include <json/json.h>

namespace velta36 {
namespace control {

// Parses exactly len bytes at text. False for invalid JSON, for a null text
// with a length, for a negative length and for anything the parser throws.
bool ParseArgument(const void* text, int len, Json::Value& root);

// The text of a scalar the way the settings are read: a string gives itself,
// a number its decimal text, null (absent) an empty text. False for an array
// or object, which have no text.
bool ScalarText(const Json::Value& value, std::string& text);

// The leading decimal integer of text, as atoi reads it, but pinned to the
// int range instead of overflowing (a 32-bit long saturates the same way).
int LeadingInteger(const std::string& text);

// The integer of a scalar: LeadingInteger of its text, except that a
// floating-point number too large for an int (whose text is "1e+20") is
// pinned like an over-long digit string rather than read as its first
// digit. False for an array or object.
bool ScalarInteger(const Json::Value& value, int& number);

// True for a text whose first ten characters are a real day written
// YYYY-MM-DD (digits but for '-' at offsets 4 and 7; month 01..12, a day
// the month has). What follows them, such as a time of day, is not read:
// the frames carry only the day.
bool StartsWithCalendarDate(const std::string& text);

// One card argument: the first member (in byte order of the names) of the
// root object and the fields of its entry.
struct CardArgument {
    std::string code;      // the member's name
    int slot;              // "CardNumber", 0..9999
    std::string endDate;   // "EndDate", only read for a card add
    int doorNo;            // "DoorNo"
};

enum class CardParse {
    Empty,     // the object has no member: nothing to do
    Refused,   // not an object, or a field the frames cannot carry
    Ready
};

// Reads the card argument of a card add (withCodeAndDate: the name must be
// exactly 8 bytes and "EndDate" a calendar date) or of a card delete.
CardParse ReadCardArgument(const Json::Value& root, bool withCodeAndDate, CardArgument& card);

}  // namespace control
}  // namespace velta36

#endif
