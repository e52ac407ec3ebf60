// The reference host's virtual-device services.
#include "ZRMVDevice.h"

#include <cstdlib>

#include "ZRMSPDevice.h"
#include "refhost/device_host.h"

using refhost::HostEvent;

namespace {

void Report(const refhost::DeviceHost* host, HostEvent event)
{
    if (host)
        host->notify(event);
}

// Reads a number given as a JSON number or as text; false when absent.
bool ReadInteger(const Json::Value& object, const char* key, long& out)
{
    if (!object.isObject())
        return false;
    const Json::Value& value = object[key];
    if (value.isNull() || value.isArray() || value.isObject())
        return false;
    out = std::atol(value.asString().c_str());
    return true;
}

}  // namespace

ZRMVDevice::ZRMVDevice()
    : roundStatus(0), lastUpdate(), dataReady(false), ruleList(), reportFlag(false), signalNames(),
      signalValues(), signalLevels(), thresholdValues(), host_(nullptr), controller_()
{
}

int ZRMVDevice::DeviceIoControl(int /*code*/, const void* /*in*/, int /*inLen*/, void* /*out*/,
                                int /*outLen*/, int& /*outRet*/)
{
    return -2;   // the host itself offers no control codes
}

void ZRMVDevice::Reset()
{
    Report(host_, HostEvent{HostEvent::Kind::Reset, "", "", {}});
}

int ZRMVDevice::InitV(ZRMVDevice* /*parent*/, unsigned int id, const Json::Value& /*config*/)
{
    dataId = id;
    return 0;
}

int ZRMVDevice::Init(std::weak_ptr<ZRMController> controller, unsigned int id,
                     const Json::Value& /*config*/)
{
    controller_ = controller;
    dataId = id;
    return 0;
}

// The host's own keys: "data_id", and for serial devices "address" and
// "baud"; per "thresholdSetting" entry an optional "Threshold" and "Level"
// that the round's checks compare against. Keys that are absent keep their
// values; text and numbers are both accepted.
int ZRMVDevice::InitSetting(const Json::Value& config)
{
    long number = 0;
    if (ReadInteger(config, "data_id", number))
        dataId = static_cast<unsigned int>(number);
    if (ZRMSPDevice* serial = dynamic_cast<ZRMSPDevice*>(this)) {
        if (ReadInteger(config, "address", number))
            serial->deviceAddress = static_cast<unsigned char>(number);
        if (ReadInteger(config, "baud", number) && number > 0)
            serial->baudRate = static_cast<int>(number);
    }
    if (config.isObject()) {
        const Json::Value& thresholds = config["thresholdSetting"];
        if (thresholds.isObject()) {
            for (Json::Value::const_iterator it = thresholds.begin(); it != thresholds.end(); ++it) {
                const Json::Value& entry = *it;
                if (!entry.isObject())
                    continue;
                const std::string key = it.name();
                const Json::Value& limit = entry["Threshold"];
                if (limit.isNumeric() || limit.isString()) {
                    thresholdValues[key] = static_cast<float>(std::atof(limit.asString().c_str()));
                    bool known = false;
                    for (const std::string& name : signalNames)
                        known = known || name == key;
                    if (!known)
                        signalNames.push_back(key);
                }
                if (ReadInteger(entry, "Level", number))
                    signalLevels[key] = static_cast<int>(number);
            }
        }
    }
    Report(host_, HostEvent{HostEvent::Kind::HostSettings, "", "", {}});
    return 0;
}

bool ZRMVDevice::IsSupportDevice(const std::string& type) const
{
    return type == deviceType;
}

int ZRMVDevice::SendSP(int dataType, const unsigned char* data, unsigned int len, bool flag)
{
    HostEvent event{HostEvent::Kind::SendSP, "", "", std::vector<unsigned char>(data, data + len)};
    event.number = dataType;
    event.flag = flag;
    Report(host_, event);
    return static_cast<int>(len);
}

int ZRMVDevice::SendDelayData(int ms)
{
    if (host_)
        host_->requestDelay(ms);
    HostEvent event{HostEvent::Kind::Delay, "", "", {}};
    event.number = ms;
    Report(host_, event);
    return 0;
}

int ZRMVDevice::SendDoData(int /*channel*/, char /*value*/) { return -1; }
int ZRMVDevice::ReadDi(int /*channel*/) { return -1; }
float ZRMVDevice::ReadAi(int /*channel*/) { return 0.0f; }
float ZRMVDevice::Get_SP_Value(unsigned int id, const std::string& name) { return Get_Value(id, name); }

bool ZRMVDevice::CheckAOReport(const std::string& name, float value)
{
    auto limit = thresholdValues.find(name);
    const bool crossed = limit != thresholdValues.end() && value > limit->second;
    HostEvent event{HostEvent::Kind::CheckAOReport, name, "", {}};
    event.value = value;
    event.result = crossed;
    Report(host_, event);
    return crossed;
}

bool ZRMVDevice::CheckThreshold(const std::string& name, const std::string& extra, float& value, int kind)
{
    auto limit = thresholdValues.find(name);
    const bool crossed = limit != thresholdValues.end() && value > limit->second;
    HostEvent event{HostEvent::Kind::CheckThreshold, name, extra, {}};
    event.value = value;
    event.number = kind;
    event.result = crossed;
    Report(host_, event);
    return crossed;
}

bool ZRMVDevice::DoBatchCheckThreshold(std::vector<rule_value>& rules)
{
    bool crossed = false;
    for (const rule_value& rule : rules)
        crossed = crossed || rule.value > rule.threshold;
    HostEvent event{HostEvent::Kind::BatchCheck, "", "", {}};
    event.number = static_cast<int>(rules.size());
    event.result = crossed;
    Report(host_, event);
    return crossed;
}

void ZRMVDevice::SaveDeviceHistory(const unsigned char* data, int len)
{
    Report(host_, HostEvent{HostEvent::Kind::History, "", "",
                            std::vector<unsigned char>(data, data + (len > 0 ? len : 0))});
}
