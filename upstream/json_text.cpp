#include "json_text.h"

#include <cstdio>

namespace velta36up {

namespace {

// Length of the well-formed UTF-8 sequence at text[i], 0 when there is none
// (a stored column may hold any bytes the line delivered).
std::size_t Utf8Length(const std::string& text, std::size_t i)
{
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t length;
    uint32_t point;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        point = (point << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
    return overlong || surrogate || point > 0x10FFFF ? 0 : length;
}

}  // namespace

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x80) {
            const std::size_t length = Utf8Length(text, i);
            if (length == 0) {
                out += "\\ufffd";   // not UTF-8: the replacement character
            } else {
                out.append(text, i, length);
                i += length - 1;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof(escaped), "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

void JsonObjectText::key(const char* name)
{
    if (body_.size() > 1)
        body_ += ',';
    body_ += Quoted(name);
    body_ += ':';
}

JsonObjectText& JsonObjectText::text(const char* name, const std::string& value)
{
    key(name);
    body_ += Quoted(value);
    return *this;
}

JsonObjectText& JsonObjectText::text(const char* name, const std::optional<std::string>& value)
{
    return value ? text(name, *value) : null(name);
}

JsonObjectText& JsonObjectText::number(const char* name, int64_t value)
{
    key(name);
    body_ += std::to_string(value);
    return *this;
}

JsonObjectText& JsonObjectText::boolean(const char* name, bool value)
{
    key(name);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObjectText& JsonObjectText::null(const char* name)
{
    key(name);
    body_ += "null";
    return *this;
}

JsonObjectText& JsonObjectText::raw(const char* name, const std::string& json)
{
    key(name);
    body_ += json;
    return *this;
}

}  // namespace velta36up
