#include "refhost/device_host.h"

#include "ZRMVDevice.h"

namespace refhost {

const char* KindName(HostEvent::Kind kind)
{
    switch (kind) {
    case HostEvent::Kind::Send: return "Send";
    case HostEvent::Kind::Delay: return "Delay";
    case HostEvent::Kind::Reset: return "Reset";
    case HostEvent::Kind::RefreshStatus: return "RefreshStatus";
    case HostEvent::Kind::OpenPort: return "OpenPort";
    case HostEvent::Kind::ClosePort: return "ClosePort";
    case HostEvent::Kind::SendSP: return "SendSP";
    case HostEvent::Kind::History: return "History";
    case HostEvent::Kind::CheckAOReport: return "CheckAOReport";
    case HostEvent::Kind::CheckThreshold: return "CheckThreshold";
    case HostEvent::Kind::BatchCheck: return "BatchCheck";
    case HostEvent::Kind::HostSettings: return "HostSettings";
    case HostEvent::Kind::Log: return "Log";
    }
    return "?";
}

void DeviceHost::attach(ZRMVDevice& device)
{
    device.AttachHost(this);
}

void DeviceHost::notify(const HostEvent& event) const
{
    if (observer_)
        observer_(event);
}

}  // namespace refhost
