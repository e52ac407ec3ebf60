// The host framework's virtual device: signal tables, threshold checks,
// publication of data records and the device history. Everything here except
// the inline destructor, GetChildVDevice and GetAllChildVDevices is
// implemented by the host runtime the plug-in is loaded into.
#ifndef VELTA36_HOST_ZRMVDEVICE_H
#define VELTA36_HOST_ZRMVDEVICE_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/json.h>

#include "VDeviceInterface.h"
#include "ZRMController.h"
#include "ttime.h"

// One threshold rule the host attaches to a device for the next round.
struct rule_value {
    std::string name;      // signal the rule watches
    float value;           // current value of the signal
    float threshold;       // the rule fires when value exceeds threshold
    int level;             // alarm level the host reports with
};

enum EnumParity { PARITY_NONE = 0, PARITY_ODD = 1, PARITY_EVEN = 2, PARITY_MARK = 3, PARITY_SPACE = 4 };

// Host-side services of one device object (its line, subscribers, pending
// delay). Opaque to the plug-in; the host runtime defines it.
namespace refhost {
class DeviceHost;
}

class ZRMVDevice : public VDeviceInterface, public std::enable_shared_from_this<ZRMVDevice> {
public:
    ZRMVDevice();

    int DeviceIoControl(int code, const void* in, int inLen, void* out, int outLen,
                        int& outRet) override;

    virtual ~ZRMVDevice() {}

    virtual void Reset();
    virtual int InitV(ZRMVDevice* parent, unsigned int id, const Json::Value& config);
    virtual int Init(std::weak_ptr<ZRMController> controller, unsigned int id,
                     const Json::Value& config);
    virtual int InitSetting(const Json::Value& config);
    virtual bool IsSupportDevice(const std::string& type) const;
    virtual std::shared_ptr<ZRMVDevice> GetChildVDevice(unsigned int /*id*/)
    {
        return std::shared_ptr<ZRMVDevice>();
    }
    virtual std::vector<std::shared_ptr<ZRMVDevice>> GetAllChildVDevices()
    {
        return std::vector<std::shared_ptr<ZRMVDevice>>();
    }
    virtual int SendSP(int dataType, const unsigned char* data, unsigned int len, bool flag);
    virtual int SendDelayData(int ms);
    virtual int SendDoData(int channel, char value);
    virtual int ReadDi(int channel);
    virtual float ReadAi(int channel);
    virtual float Get_SP_Value(unsigned int id, const std::string& name);

    // Non-virtual host services used at the end of a round.
    bool CheckAOReport(const std::string& name, float value);
    bool CheckThreshold(const std::string& name, const std::string& extra, float& value, int kind);
    bool DoBatchCheckThreshold(std::vector<rule_value>& rules);
    void SaveDeviceHistory(const unsigned char* data, int len);

    // Reference host: binds this device object to its host-side services.
    void AttachHost(refhost::DeviceHost* host) { host_ = host; }
    refhost::DeviceHost* Host() const { return host_; }

    uint16_t roundStatus;
    boost::posix_time::ptime lastUpdate;
    bool dataReady;
    std::vector<rule_value> ruleList;
    bool reportFlag;
    std::vector<std::string> signalNames;
    std::map<std::string, float> signalValues;
    std::map<std::string, int> signalLevels;
    std::map<std::string, float> thresholdValues;

protected:
    refhost::DeviceHost* host_;
    std::weak_ptr<ZRMController> controller_;
};

#endif
