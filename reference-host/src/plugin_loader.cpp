#include "refhost/plugin_loader.h"

#include <dlfcn.h>

namespace refhost {

namespace {

using GetProviders = std::vector<std::shared_ptr<Provider>> (*)();

std::string LoaderMessage()
{
    const char* text = dlerror();
    return text ? text : "unknown loader error";
}

}  // namespace

std::shared_ptr<PluginLibrary> PluginLibrary::Load(const std::string& path)
{
    dlerror();
    // RTLD_NOW: a plug-in built against another host version fails here,
    // with the missing symbol named, instead of at its first call.
    // RTLD_LOCAL: the host's symbols reach the plug-in because the host's
    // libraries are already in the global scope; nothing of the plug-in's
    // needs to be visible to anyone else.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        throw PluginError("cannot load plug-in " + path + ": " + LoaderMessage());
    std::shared_ptr<PluginLibrary> library(new PluginLibrary(path, handle));

    dlerror();
    void* symbol = dlsym(handle, "get_providers");
    if (!symbol)
        throw PluginError(path + " has no get_providers entry point: " + LoaderMessage());
    GetProviders getProviders = reinterpret_cast<GetProviders>(symbol);
    std::vector<std::shared_ptr<Provider>> providers = getProviders();
    for (const std::shared_ptr<Provider>& provider : providers) {
        ZRMSPDeviceProvider* serial = dynamic_cast<ZRMSPDeviceProvider*>(provider.get());
        if (serial) {
            library->keepAlive_.push_back(provider);
            library->providers_.push_back(serial);
        }
    }
    if (library->providers_.empty())
        throw PluginError(path + " offers no serial-device provider");
    return library;
}

PluginLibrary::PluginLibrary(std::string path, void* handle) : path_(std::move(path)), handle_(handle) {}

PluginLibrary::~PluginLibrary()
{
    providers_.clear();
    keepAlive_.clear();
    dlclose(handle_);
}

DeviceHandle PluginLibrary::createDevice(std::size_t provider)
{
    if (provider >= providers_.size())
        throw PluginError(path_ + ": no provider number " + std::to_string(provider));
    ZRMSPDevice* device = providers_[provider]->create();
    if (!device)
        throw PluginError(path_ + ": the provider made no device");
    return DeviceHandle(device, DeviceDeleter{shared_from_this()});
}

}  // namespace refhost
