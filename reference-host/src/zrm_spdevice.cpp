// The reference host's serial-device services: frames go to the device's
// transport, after any delay the device asked for.
#include "ZRMSPDevice.h"

#include <chrono>
#include <cstring>

#include "refhost/device_host.h"

using refhost::HostEvent;

ZRMSPDevice::ZRMSPDevice()
    : protocolState(0), deviceAddress(0), rxLength(0), baudRate(9600), processing_(false)
{
    std::memset(rxBuffer, 0, sizeof(rxBuffer));
}

void ZRMSPDevice::Reset()
{
    rxLength = 0;
    processing_ = false;
    ZRMVDevice::Reset();
}

int ZRMSPDevice::Init(std::weak_ptr<ZRMController> controller, unsigned int id,
                      const Json::Value& config)
{
    return ZRMVDevice::Init(controller, id, config);
}

int ZRMSPDevice::RefreshStatus()
{
    processing_ = true;
    if (host_)
        host_->notify(HostEvent{HostEvent::Kind::RefreshStatus, "", "", {}});
    return 0;
}

int ZRMSPDevice::process(unsigned char* /*data*/, unsigned int /*len*/)
{
    return 0;
}

bool ZRMSPDevice::IsProcessing() { return processing_; }

bool ZRMSPDevice::IsStalled() { return false; }

int ZRMSPDevice::SendData(const unsigned char* data, unsigned int len)
{
    refhost::Transport* transport = host_ ? host_->transport() : nullptr;
    if (host_) {
        HostEvent event{HostEvent::Kind::Send, "", "", std::vector<unsigned char>(data, data + len)};
        host_->notify(event);
    }
    if (!transport)
        return -1;
    const int delay = host_->takeDelay();
    if (delay > 0)
        transport->pause(std::chrono::milliseconds(delay));
    transport->send(data, len);
    return static_cast<int>(len);
}

int ZRMSPDevice::SendParityData(const unsigned char* data, unsigned int len, EnumParity /*parity*/)
{
    return SendData(data, len);
}

int ZRMSPDevice::OpenPort()
{
    if (!host_)
        return -1;
    host_->notify(HostEvent{HostEvent::Kind::OpenPort, "", "", {}});
    if (refhost::Transport* transport = host_->transport()) {
        transport->open();
        return 0;
    }
    return -1;
}

int ZRMSPDevice::ClosePort()
{
    if (!host_)
        return -1;
    host_->notify(HostEvent{HostEvent::Kind::ClosePort, "", "", {}});
    if (refhost::Transport* transport = host_->transport())
        transport->close();
    return 0;
}
