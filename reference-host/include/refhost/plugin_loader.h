// Loads a device-driver plug-in, asks it for its providers and makes device
// objects. Every device made here holds the library, so the library stays
// mapped until its last device is gone.
#ifndef VELTA36_REFHOST_PLUGIN_LOADER_H
#define VELTA36_REFHOST_PLUGIN_LOADER_H

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Provider.h"
#include "ZRMSPDevice.h"

namespace refhost {

class PluginError : public std::runtime_error {
public:
    explicit PluginError(const std::string& message) : std::runtime_error(message) {}
};

class PluginLibrary;

// Destroys a device through its virtual destructor (code that lives in the
// plug-in), then lets go of the library.
struct DeviceDeleter {
    std::shared_ptr<PluginLibrary> library;
    void operator()(ZRMSPDevice* device) const { delete device; }
};

using DeviceHandle = std::unique_ptr<ZRMSPDevice, DeviceDeleter>;

class PluginLibrary : public std::enable_shared_from_this<PluginLibrary> {
public:
    // Maps the library and fetches its serial-device providers; throws
    // PluginError with the loader's message when any step fails.
    static std::shared_ptr<PluginLibrary> Load(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& path() const { return path_; }
    std::size_t providerCount() const { return providers_.size(); }

    // A new, unconfigured device from the first provider (or the given one).
    DeviceHandle createDevice(std::size_t provider = 0);

private:
    PluginLibrary(std::string path, void* handle);

    std::string path_;
    void* handle_;
    // Providers are destroyed by code in the library: they go first.
    std::vector<std::shared_ptr<Provider>> keepAlive_;
    std::vector<ZRMSPDeviceProvider*> providers_;
};

}  // namespace refhost

#endif
