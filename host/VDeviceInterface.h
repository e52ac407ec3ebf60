// Root of every device object the host drives. The host framework defines
// this class with these inline defaults; the destructor is deliberately not
// virtual (ZRMVDevice adds the virtual one).
#ifndef VELTA36_HOST_VDEVICEINTERFACE_H
#define VELTA36_HOST_VDEVICEINTERFACE_H

#include <stdexcept>
#include <string>

class VDeviceInterface {
public:
    unsigned int dataId;
    std::string deviceType;
    bool useControllerDb;

    VDeviceInterface() : dataId(0), deviceType(), useControllerDb(false) {}

    // Value query; devices report readiness by throwing.
    virtual float Get_Value(unsigned int /*id*/, const std::string& /*name*/) const
    {
        throw std::out_of_range("数据未就绪");
    }
    virtual int LoadFromCache(const std::string& cached)
    {
        return LoadFromCache(reinterpret_cast<const unsigned char*>(cached.data()),
                             static_cast<int>(cached.size()));
    }
    virtual int LoadFromCache(const unsigned char* data, int size) = 0;
    virtual unsigned int DataId() const { return dataId; }
    virtual const std::string& DeviceType() const { return deviceType; }
    virtual int DeviceIoControl(int /*code*/, const void* /*in*/, int /*inLen*/, void* /*out*/,
                                int /*outLen*/, int& /*outRet*/)
    {
        return -2;
    }
    virtual void RoundDone() {}
    virtual bool UseControllerDb() { return useControllerDb; }

protected:
    ~VDeviceInterface() {}
};

#endif
