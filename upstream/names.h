// Names on the wire: site and device ids made topic-safe, and the topics
// of one site under its prefix.
#ifndef VELTA36_UPSTREAM_NAMES_H
#define VELTA36_UPSTREAM_NAMES_H

#include <string>

namespace velta36up {

// [A-Za-z0-9_-]{1,64}.
bool IsTopicSafe(const std::string& text);

// A device's id from its configured name: lower case, every character
// other than a letter, digit, '_' or '-' becomes '_', cut to 64. Empty
// when the name is empty.
std::string DeviceIdFromName(const std::string& name);

// The default site id: the host name made topic-safe (case kept), or
// "site" when there is none.
std::string DefaultSiteId();

// The request kinds, as they appear in topics and in the settings.
const char* const kKindOpenDoor = "open-door";
const char* const kKindConfigure = "configure";
const char* const kKindAddCard = "add-card";
const char* const kKindDeleteCard = "delete-card";
const char* const kKindReplay = "replay";
bool IsRequestKind(const std::string& kind);

// The topics of one site, P = prefix/site.
class Topics {
public:
    Topics(const std::string& prefix, const std::string& site) : base_(prefix + "/" + site) {}

    const std::string& base() const { return base_; }
    std::string status() const { return base_ + "/status"; }
    std::string state(const std::string& device) const { return base_ + "/" + device + "/state"; }
    std::string event(const std::string& device) const { return base_ + "/" + device + "/event"; }
    std::string requests() const { return base_ + "/request/+"; }
    std::string requestPrefix() const { return base_ + "/request/"; }
    std::string response(const std::string& kind) const { return base_ + "/response/" + kind; }
    // Home Assistant's buttons press here (payload PRESS): P/D/open-door/N.
    std::string presses() const { return base_ + "/+/open-door/+"; }
    std::string press(const std::string& device, int door) const
    {
        return base_ + "/" + device + "/open-door/" + std::to_string(door);
    }

private:
    std::string base_;
};

}  // namespace velta36up

#endif
