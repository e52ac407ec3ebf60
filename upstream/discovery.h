// Home Assistant MQTT discovery for the devices of one site: one HA device
// per controller with its door sensors, an event entity for access events,
// an open button per door (only when open-door is allowed) and diagnostic
// sensors. Node id is the site, so a broker ACL can fence each site's
// user into <prefix>/+/<site>/#.
#ifndef VELTA36_UPSTREAM_DISCOVERY_H
#define VELTA36_UPSTREAM_DISCOVERY_H

#include <cstdint>
#include <string>
#include <vector>

#include "names.h"

namespace velta36up {

struct DeviceInfo {
    std::string id;       // topic-safe, unique within the site
    std::string name;     // as configured
    int64_t dataId = 0;   // the rows of velta36_event that are this device's
    int doors = 1;
};

struct DiscoveryMessage {
    std::string topic;     // <prefix>/<component>/<site>/<device>_<object>/config
    std::string payload;   // JSON; empty removes the entity
};

// The names of the event entity's event types, in the order HA lists them.
const std::vector<std::string>& EventTypeNames();

std::vector<DiscoveryMessage> DiscoveryFor(const std::string& discoveryPrefix, const Topics& topics,
                                           const std::string& site, const DeviceInfo& device, bool openAllowed);

}  // namespace velta36up

#endif
