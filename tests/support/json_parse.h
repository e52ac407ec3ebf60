// Parses JSON text in a test; throws std::invalid_argument on a syntax
// error (the test then fails with the reason).
#ifndef VELTA36_TESTS_SUPPORT_JSON_PARSE_H
#define VELTA36_TESTS_SUPPORT_JSON_PARSE_H

#include <memory>
#include <stdexcept>
#include <string>

#include <json/json.h>

namespace velta36test {

inline Json::Value ParseJson(const std::string& text)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors))
        throw std::invalid_argument("bad JSON: " + errors);
    return value;
}

}  // namespace velta36test

#endif
