// The one provider of velta36.so: it makes VELTA36 device objects.
#ifndef VELTA36_PLUGIN_VELTA36_PROVIDER_H
#define VELTA36_PLUGIN_VELTA36_PROVIDER_H

#include <memory>
#include <vector>

#include "Provider.h"

class VELTA36Provider : public ZRMSPDeviceProvider {
public:
    ~VELTA36Provider() override;
    ZRMSPDevice* create() const override;
};

// The library's single exported entry point, looked up by the host under
// this plain name.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" std::vector<std::shared_ptr<Provider>> get_providers();
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#endif
