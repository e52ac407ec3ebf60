#include "names.h"

#include <unistd.h>

#include <cctype>

namespace velta36up {

namespace {

const std::size_t kMaxId = 64;

bool IsIdChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
}

}  // namespace

bool IsTopicSafe(const std::string& text)
{
    if (text.empty() || text.size() > kMaxId)
        return false;
    for (char c : text) {
        if (!IsIdChar(c))
            return false;
    }
    return true;
}

std::string DeviceIdFromName(const std::string& name)
{
    std::string id;
    for (char c : name.substr(0, kMaxId))
        id += IsIdChar(c) ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : '_';
    return id;
}

std::string DefaultSiteId()
{
    char host[256] = {};
    if (::gethostname(host, sizeof(host) - 1) != 0 || host[0] == '\0')
        return "site";
    std::string id;
    for (const char* p = host; *p != '\0' && id.size() < kMaxId; ++p)
        id += IsIdChar(*p) ? *p : '_';
    return id;
}

bool IsRequestKind(const std::string& kind)
{
    return kind == kKindOpenDoor || kind == kKindConfigure || kind == kKindAddCard || kind == kKindDeleteCard ||
           kind == kKindReplay;
}

}  // namespace velta36up
