// velta36.so as a host sees it: loaded with dlopen into a process that
// links the host runtime, the ODB runtime and the JSON library but none of
// the plug-in's own objects. The plug-in's classes are reached only through
// the host interfaces and the type information the library exports.
#include <dlfcn.h>

#include <cxxabi.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include <json/json.h>
#include <odb/schema-catalog.hxx>
#include <odb/sqlite/database.hxx>

#include "Provider.h"
#include "ZRMSPDevice.h"
#include "elf_image.h"
#include "refhost/device_host.h"
#include "refhost/memory_transport.h"
#include "plugin_under_test.h"
#include "temp_work_dir.h"

namespace {

using GetProviders = std::vector<std::shared_ptr<Provider>> (*)();

struct LoadedPlugin {
    void* handle = nullptr;
    GetProviders getProviders = nullptr;
    const std::type_info* providerType = nullptr;
    bool schemaBeforeLoad = false;
    bool schemaAfterLoad = false;
    std::string outputDuringLoad;
    bool fileCreatedDuringLoad = false;
};

// Loads the library once per process (it is never unloaded), recording what
// the load itself did.
const LoadedPlugin& Plugin()
{
    static const LoadedPlugin plugin = [] {
        LoadedPlugin loaded;
        velta36test::TempWorkDir dir;
        loaded.schemaBeforeLoad = odb::schema_catalog::exists(odb::id_sqlite, "");
        ::testing::internal::CaptureStdout();
        loaded.handle = dlopen(velta36test::PluginUnderTest(), RTLD_NOW | RTLD_LOCAL);
        loaded.outputDuringLoad = ::testing::internal::GetCapturedStdout();
        if (loaded.handle == nullptr) {
            ADD_FAILURE() << "dlopen: " << dlerror();
            return loaded;
        }
        loaded.schemaAfterLoad = odb::schema_catalog::exists(odb::id_sqlite, "");
        loaded.fileCreatedDuringLoad = std::ifstream("ZRMDevice.db").good();
        loaded.getProviders = reinterpret_cast<GetProviders>(dlsym(loaded.handle, "get_providers"));
        loaded.providerType = static_cast<const std::type_info*>(dlsym(loaded.handle, "_ZTI15VELTA36Provider"));
        return loaded;
    }();
    return plugin;
}

// Converts at run time, the way dynamic_cast does, to a type known only by
// its type information.
const void* DynamicCastTo(const Provider* provider, const std::type_info& target)
{
    const auto* from = dynamic_cast<const abi::__class_type_info*>(&typeid(Provider));
    const auto* to = dynamic_cast<const abi::__class_type_info*>(&target);
    if (from == nullptr || to == nullptr)
        return nullptr;
    return abi::__dynamic_cast(provider, from, to, -1);
}

class PluginLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(Plugin().handle, nullptr);
        ASSERT_NE(Plugin().getProviders, nullptr) << "get_providers is not exported under its plain name";
        ASSERT_NE(Plugin().providerType, nullptr) << "the provider's type information is not exported";
    }

    static ZRMSPDevice* Create(const std::shared_ptr<Provider>& provider)
    {
        const auto* factory = dynamic_cast<const ZRMSPDeviceProvider*>(provider.get());
        return factory ? factory->create() : nullptr;
    }

    velta36test::TempWorkDir workDir;
};

TEST_F(PluginLoad, OnlyTheSchemaRegistrationRunsAtLoad)
{
    EXPECT_FALSE(Plugin().schemaBeforeLoad);
    EXPECT_TRUE(Plugin().schemaAfterLoad);
    EXPECT_EQ(Plugin().outputDuringLoad, "");
    EXPECT_FALSE(Plugin().fileCreatedDuringLoad);
}

TEST_F(PluginLoad, EachCallGivesOneNewProviderOfTheRightType)
{
    const std::vector<std::shared_ptr<Provider>> first = Plugin().getProviders();
    const std::vector<std::shared_ptr<Provider>> second = Plugin().getProviders();
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    ASSERT_NE(first[0], nullptr);
    EXPECT_NE(first[0].get(), second[0].get());
    EXPECT_EQ(first[0].use_count(), 1);   // the library keeps no reference

    for (const std::shared_ptr<Provider>& provider : {first[0], second[0]}) {
        EXPECT_NE(dynamic_cast<const ZRMSPDeviceProvider*>(provider.get()), nullptr);
        const Provider& object = *provider;
        EXPECT_EQ(typeid(object), *Plugin().providerType);
        EXPECT_EQ(DynamicCastTo(provider.get(), *Plugin().providerType), provider.get());
    }
}

TEST_F(PluginLoad, ProviderTypeInformationNamesTheHostBase)
{
    const auto* single = dynamic_cast<const abi::__si_class_type_info*>(Plugin().providerType);
    ASSERT_NE(single, nullptr) << "VELTA36Provider should have exactly one public base";
    EXPECT_EQ(*single->__base_type, typeid(ZRMSPDeviceProvider));
    const auto* hostBase = dynamic_cast<const abi::__si_class_type_info*>(single->__base_type);
    ASSERT_NE(hostBase, nullptr);
    EXPECT_EQ(*hostBase->__base_type, typeid(Provider));
}

// One device on its own in-memory line.
struct HostedDevice {
    explicit HostedDevice(ZRMSPDevice* made) : device(made), host(&transport) { host.attach(*device); }
    ~HostedDevice() { delete device; }

    std::vector<std::string> refresh()
    {
        transport.clearSent();
        device->RefreshStatus();
        return transport.sentTexts();
    }

    // The controller acknowledges (the clock command, say).
    void acknowledge()
    {
        unsigned char ack[] = {'h', '/'};
        device->process(ack, sizeof(ack));
    }

    refhost::MemoryTransport transport;
    ZRMSPDevice* device;
    refhost::DeviceHost host;
};

Json::Value Address(int address)
{
    Json::Value config(Json::objectValue);
    config["address"] = address;
    return config;
}

TEST_F(PluginLoad, DevicesFromOneProviderAreIndependent)
{
    const std::shared_ptr<Provider> provider = Plugin().getProviders().at(0);
    auto a = std::make_unique<HostedDevice>(Create(provider));
    auto b = std::make_unique<HostedDevice>(Create(provider));
    ASSERT_NE(a->device, nullptr);
    ASSERT_NE(b->device, nullptr);
    EXPECT_NE(a->device, b->device);
    EXPECT_EQ(a->device->DeviceType(), "velta36");
    EXPECT_EQ(a->device->baudRate, 9600);

    a->device->InitSetting(Address(5));
    b->device->InitSetting(Address(0));
    const std::vector<std::string> fromA = a->refresh();
    const std::vector<std::string> fromB = b->refresh();
    ASSERT_EQ(fromA.size(), 1u);
    ASSERT_EQ(fromB.size(), 1u);
    EXPECT_EQ(fromA[0].substr(0, 4), "@501");   // clock set, address 5
    EXPECT_EQ(fromB[0].substr(0, 4), "@001");   // clock set, address 0

    a.reset();   // destroyed through the virtual destructor
    b->acknowledge();
    EXPECT_EQ(b->refresh(), std::vector<std::string>{"@0{007;/"});

    auto c = std::make_unique<HostedDevice>(Create(provider));   // the provider is still usable
    c->device->InitSetting(Address(1));
    ASSERT_EQ(c->refresh().size(), 1u);
    c->acknowledge();
    EXPECT_EQ(c->refresh(), std::vector<std::string>{"@1{007;/"});
}

TEST_F(PluginLoad, DevicesOutliveTheirProvider)
{
    std::vector<std::shared_ptr<Provider>> providers = Plugin().getProviders();
    const std::weak_ptr<Provider> watch = providers[0];
    auto device = std::make_unique<HostedDevice>(Create(providers[0]));
    providers.clear();
    EXPECT_TRUE(watch.expired());

    device->device->InitSetting(Address(3));
    device->refresh();
    device->acknowledge();
    EXPECT_EQ(device->refresh(), std::vector<std::string>{"@3{007;/"});
}

TEST(PluginImage, NeedsOnlyTheStandardRuntimeAndExportsOneFunction)
{
    const elfcheck::ElfImage image = elfcheck::ReadElfFile(velta36test::PluginUnderTest());
    EXPECT_FALSE(image.needed.empty());
    const std::vector<std::string> allowedObjects = {"_ZTI15VELTA36Provider", "_ZTS15VELTA36Provider",
                                                     "_ZTI7VELTA36", "_ZTS7VELTA36"};
    const std::vector<std::string> problems =
        elfcheck::PluginImageProblems(image, "get_providers", allowedObjects);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    // Loading registers a routine with the process-wide schema catalog,
    // which keeps it for good: the library must never be unmapped.
    EXPECT_NE(image.flags1 & elfcheck::kFlag1NoDelete, 0u) << "velta36.so is not linked with -z nodelete";
}

}  // namespace
