// Providers are the factories a plug-in hands to the host through
// get_providers. Their destructors are defined in the host framework, so the
// type information the host converts with lives there.
#ifndef VELTA36_HOST_PROVIDER_H
#define VELTA36_HOST_PROVIDER_H

class ZRMSPDevice;

class Provider {
public:
    virtual ~Provider();
};

class ZRMSPDeviceProvider : public Provider {
public:
    ~ZRMSPDeviceProvider() override;
    // The caller owns the new device and destroys it through its virtual
    // destructor.
    virtual ZRMSPDevice* create() const = 0;
};

#endif
