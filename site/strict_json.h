// A configuration file's JSON read strictly: no comments, no trailing
// commas, no text after the value, no key twice in one object, an object
// or a list at the root. Errors name the file and the line.
#ifndef VELTA36_SITE_STRICT_JSON_H
#define VELTA36_SITE_STRICT_JSON_H

#include <string>

#include <json/json.h>

namespace velta36site {

// Throws InputError "<origin>, line N: <what is wrong>" (one line).
Json::Value ParseStrictJson(const std::string& text, const std::string& origin);

// The line (from 1) of the member `key` of `object`, a value parsed from
// `text`: where the key's name stands, or its value's line when the name is
// not found before it. 0 when the value carries no place (not parsed).
int LineOfMember(const std::string& text, const Json::Value& object, const std::string& key);

}  // namespace velta36site

#endif
