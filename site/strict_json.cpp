#include "strict_json.h"

#include <algorithm>
#include <memory>
#include <regex>

#include "input_error.h"

namespace velta36site {

namespace {

int LineAt(const std::string& text, std::size_t offset)
{
    offset = std::min(offset, text.size());
    return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

// JsonCpp's "* Line 3, Column 5\n  Duplicate key: 'address'\n..." as
// "line 3: duplicate key \"address\"".
std::string FirstError(const std::string& errors)
{
    static const std::regex place(R"(Line (\d+), Column \d+\s*\n\s*([^\n]*))");
    std::smatch match;
    if (!std::regex_search(errors, match, place))
        return "not valid JSON";
    std::string what = match[2].str();
    static const std::regex duplicate(R"(Duplicate key: '(.*)')");
    std::smatch key;
    if (std::regex_match(what, key, duplicate))
        what = "duplicate key \"" + key[1].str() + "\"";
    else
        what = "not valid JSON: " + what;
    return "line " + match[1].str() + ": " + what;
}

}  // namespace

Json::Value ParseStrictJson(const std::string& text, const std::string& origin)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors))
        throw InputError(origin + ", " + FirstError(errors));
    return root;
}

int LineOfMember(const std::string& text, const Json::Value& object, const std::string& key)
{
    const Json::Value* value = object.find(key.data(), key.data() + key.size());
    if (!value || (value->getOffsetStart() == 0 && value->getOffsetLimit() == 0))
        return 0;
    const std::size_t at = static_cast<std::size_t>(value->getOffsetStart());
    // The name (quoted as written: a key with escapes is found by its value).
    const std::size_t name = text.rfind("\"" + key + "\"", at);
    const std::size_t start = static_cast<std::size_t>(object.getOffsetStart());
    return LineAt(text, name != std::string::npos && name >= start ? name : at);
}

}  // namespace velta36site
