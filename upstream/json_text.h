// A JSON object written key by key in the order given: the messages keep
// the documented key order (JsonCpp's writer sorts keys), so their bytes
// can be checked whole.
#ifndef VELTA36_UPSTREAM_JSON_TEXT_H
#define VELTA36_UPSTREAM_JSON_TEXT_H

#include <cstdint>
#include <optional>
#include <string>

namespace velta36up {

class JsonObjectText {
public:
    JsonObjectText& text(const char* key, const std::string& value);
    JsonObjectText& text(const char* key, const std::optional<std::string>& value);   // null when empty
    JsonObjectText& number(const char* key, int64_t value);
    JsonObjectText& boolean(const char* key, bool value);
    JsonObjectText& null(const char* key);
    // Already JSON (an array or object written elsewhere).
    JsonObjectText& raw(const char* key, const std::string& json);
    std::string str() const { return body_ + "}"; }

private:
    void key(const char* name);
    std::string body_ = "{";
};

// A JSON string literal, with the quotes; UTF-8 passes through as it is,
// a byte that is not part of well-formed UTF-8 becomes U+FFFD.
std::string Quoted(const std::string& text);

}  // namespace velta36up

#endif
