// The binary layout of the host framework classes in host/, as the host
// program that loads velta36.so compiled them: it calls the plug-in through
// their virtual tables and reads and writes their data members at fixed
// offsets. A reordered virtual or a moved member still compiles and passes
// every other test, then breaks in the field, so both are pinned here.
//
// The expected values are worked out from the declared order, not read
// back from the compiler: the virtual slots in the host framework's slot
// order, and member offsets by the Itanium C++ ABI's layout rules for the
// two targets, amd64 (LP64) and 32-bit MIPS little-endian (ILP32, o32:
// 64-bit integers aligned to 8), with libstdc++'s sizes of std::string,
// std::vector, std::map, std::weak_ptr and Boost's ptime. Member offsets are
// checked at compile time; slot positions at run time, from the member
// function pointers (the tests run on both architectures, mipsel under
// qemu).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "Provider.h"
#include "VDeviceInterface.h"
#include "ZRMSPDevice.h"
#include "ZRMVDevice.h"
#include "ttime.h"
#include "uni_data_device.h"
#include "velta36.h"

namespace {

// offsetof on classes with virtual functions is conditionally supported;
// g++ and clang compute it for classes without virtual bases, which is all
// the ABI's layout rules need here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

// The host's members, the protected ones too, reached through a class that
// adds none.
struct HostMembers : ZRMSPDevice {
    int LoadFromCache(const unsigned char*, int) override { return 0; }
    using ZRMSPDevice::LoadFromCache;

    static constexpr std::size_t HostOffset() { return offsetof(HostMembers, host_); }
    static constexpr std::size_t ControllerOffset() { return offsetof(HostMembers, controller_); }
    static constexpr std::size_t ProcessingOffset() { return offsetof(HostMembers, processing_); }
};

// Where each member lies, worked out for one architecture.
struct Layout {
    // VDeviceInterface
    std::size_t dataId, deviceType, useControllerDb;
    // ZRMVDevice, after its second base std::enable_shared_from_this
    std::size_t sharedFromThis, roundStatus, lastUpdate, dataReady, ruleList, reportFlag, signalNames,
        signalValues, signalLevels, thresholdValues, host, controller, vdeviceSize;
    // ZRMSPDevice
    std::size_t protocolState, deviceAddress, rxBuffer, rxLength, baudRate, processing, spdeviceSize;
    // rule_value
    std::size_t ruleValue, ruleThreshold, ruleLevel, ruleSize;
};

#if defined(__x86_64__) && defined(__LP64__)
#define VELTA36_HOST_LAYOUT_KNOWN 1
// amd64: pointers 8, std::string 32, std::vector 24, std::map 48,
// std::weak_ptr 16, ptime 8 (8-aligned). VDeviceInterface ends at 49; the
// weak pointer of enable_shared_from_this needs 8-byte alignment (56).
// ZRMVDevice's members end at 320, a multiple of its alignment, where
// ZRMSPDevice's start.
constexpr Layout kLayout = {8,   16,  48,                                                   //
                            56,  72,  80,  88,  96,  120, 128, 152, 200, 248, 296, 304, 320,  //
                            320, 324, 325, 4424, 4428, 4432, 4440,                          //
                            32,  36,  40,  48};
#elif defined(__mips__) && defined(__MIPSEL__) && defined(_ABIO32) && _MIPS_SIM == _ABIO32
#define VELTA36_HOST_LAYOUT_KNOWN 1
// mipsel o32: pointers 4, std::string 24, std::vector 12, std::map 24,
// std::weak_ptr 8; ptime holds a 64-bit integer, 8-aligned under o32, so
// lastUpdate moves from 46 to 48 and ZRMVDevice is 176 bytes with its
// members ending at 172, where ZRMSPDevice's start (tail padding reused).
constexpr Layout kLayout = {4,   8,   32,                                                  //
                            36,  44,  48,  56,  60,  72,  76,  88,  112, 136, 160, 164, 176, //
                            172, 176, 177, 4276, 4280, 4284, 4288,                         //
                            24,  28,  32,  36};
#endif

#ifdef VELTA36_HOST_LAYOUT_KNOWN
static_assert(offsetof(HostMembers, dataId) == kLayout.dataId, "VDeviceInterface::dataId");
static_assert(offsetof(HostMembers, deviceType) == kLayout.deviceType, "VDeviceInterface::deviceType");
static_assert(offsetof(HostMembers, useControllerDb) == kLayout.useControllerDb, "VDeviceInterface::useControllerDb");
static_assert(offsetof(HostMembers, roundStatus) == kLayout.roundStatus, "ZRMVDevice::roundStatus");
static_assert(offsetof(HostMembers, lastUpdate) == kLayout.lastUpdate, "ZRMVDevice::lastUpdate");
static_assert(offsetof(HostMembers, dataReady) == kLayout.dataReady, "ZRMVDevice::dataReady");
static_assert(offsetof(HostMembers, ruleList) == kLayout.ruleList, "ZRMVDevice::ruleList");
static_assert(offsetof(HostMembers, reportFlag) == kLayout.reportFlag, "ZRMVDevice::reportFlag");
static_assert(offsetof(HostMembers, signalNames) == kLayout.signalNames, "ZRMVDevice::signalNames");
static_assert(offsetof(HostMembers, signalValues) == kLayout.signalValues, "ZRMVDevice::signalValues");
static_assert(offsetof(HostMembers, signalLevels) == kLayout.signalLevels, "ZRMVDevice::signalLevels");
static_assert(offsetof(HostMembers, thresholdValues) == kLayout.thresholdValues, "ZRMVDevice::thresholdValues");
static_assert(HostMembers::HostOffset() == kLayout.host, "ZRMVDevice::host_");
static_assert(HostMembers::ControllerOffset() == kLayout.controller, "ZRMVDevice::controller_");
static_assert(sizeof(ZRMVDevice) == kLayout.vdeviceSize && alignof(ZRMVDevice) == 8, "ZRMVDevice size");
static_assert(offsetof(HostMembers, protocolState) == kLayout.protocolState, "ZRMSPDevice::protocolState");
static_assert(offsetof(HostMembers, deviceAddress) == kLayout.deviceAddress, "ZRMSPDevice::deviceAddress");
static_assert(offsetof(HostMembers, rxBuffer) == kLayout.rxBuffer, "ZRMSPDevice::rxBuffer");
static_assert(offsetof(HostMembers, rxLength) == kLayout.rxLength, "ZRMSPDevice::rxLength");
static_assert(offsetof(HostMembers, baudRate) == kLayout.baudRate, "ZRMSPDevice::baudRate");
static_assert(HostMembers::ProcessingOffset() == kLayout.processing, "ZRMSPDevice::processing_");
static_assert(sizeof(ZRMSPDevice) == kLayout.spdeviceSize, "ZRMSPDevice size");
static_assert(offsetof(rule_value, value) == kLayout.ruleValue && offsetof(rule_value, threshold) == kLayout.ruleThreshold &&
                  offsetof(rule_value, level) == kLayout.ruleLevel && sizeof(rule_value) == kLayout.ruleSize,
              "rule_value");
#endif

#pragma GCC diagnostic pop

// Sizes that do not depend on the architecture.
static_assert(sizeof(HostMembers::rxBuffer) == 4096, "rxBuffer holds 4096 bytes");
static_assert(sizeof(ttime) == 7, "ttime is 7 bytes");
static_assert(sizeof(unsigned int) == 4 && sizeof(int) == 4 && sizeof(uint16_t) == 2, "member widths");

// Slot of a virtual member function in its class's primary virtual table,
// from the Itanium C++ ABI's member function pointer: { ptr, adj }, where
// a virtual function has ptr = 1 + its byte offset in the table; on targets
// whose functions may start at odd addresses (ARM's Thumb, MIPS16, so on
// every ARM and MIPS) the flag is in adj instead: ptr = the offset,
// adj = 2 * adjustment + 1. -1 for a non-virtual function.
template <typename F>
long VirtualSlot(F function)
{
    struct Representation {
        std::uintptr_t ptr;
        std::ptrdiff_t adj;
    };
    static_assert(sizeof(F) == sizeof(Representation), "Itanium member function pointer");
    Representation r;
    std::memcpy(&r, &function, sizeof r);
#if defined(__arm__) || defined(__aarch64__) || defined(__mips__)
    if ((r.adj & 1) == 0)
        return -1;
    return static_cast<long>(r.ptr / sizeof(void*));
#else
    if ((r.ptr & 1) == 0)
        return -1;
    return static_cast<long>((r.ptr - 1) / sizeof(void*));
#endif
}

// The slot order of the device classes, one slot per row; the destructor
// takes two (complete object, deleting) after UseControllerDb. The host
// compiled its calls with these positions.
TEST(HostLayout, DeviceVirtualSlotsInTheHostsOrder)
{
    using VDI = VDeviceInterface;
    EXPECT_EQ(VirtualSlot(&VDI::Get_Value), 0);
    EXPECT_EQ(VirtualSlot(static_cast<int (VDI::*)(const std::string&)>(&VDI::LoadFromCache)), 1);
    EXPECT_EQ(VirtualSlot(static_cast<int (VDI::*)(const unsigned char*, int)>(&VDI::LoadFromCache)), 2);
    EXPECT_EQ(VirtualSlot(&VDI::DataId), 3);
    EXPECT_EQ(VirtualSlot(&VDI::DeviceType), 4);
    EXPECT_EQ(VirtualSlot(&VDI::DeviceIoControl), 5);
    EXPECT_EQ(VirtualSlot(&VDI::RoundDone), 6);
    EXPECT_EQ(VirtualSlot(&VDI::UseControllerDb), 7);
    // 8 and 9: ~ZRMVDevice (checked below by calling them).
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::Reset), 10);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::InitV), 11);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::Init), 12);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::InitSetting), 13);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::IsSupportDevice), 14);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::GetChildVDevice), 15);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::GetAllChildVDevices), 16);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::SendSP), 17);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::SendDelayData), 18);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::SendDoData), 19);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::ReadDi), 20);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::ReadAi), 21);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::Get_SP_Value), 22);
    EXPECT_EQ(VirtualSlot(&ZRMSPDevice::RefreshStatus), 23);
    EXPECT_EQ(VirtualSlot(&ZRMSPDevice::process), 24);
    EXPECT_EQ(VirtualSlot(&ZRMSPDevice::IsProcessing), 25);
    EXPECT_EQ(VirtualSlot(&ZRMSPDevice::IsStalled), 26);
    EXPECT_EQ(VirtualSlot(&ZRMSPDevice::SendData), 27);
    EXPECT_EQ(VirtualSlot(&ZRMSPDevice::SendParityData), 28);
    EXPECT_EQ(VirtualSlot(&ZRMSPDevice::OpenPort), 29);
    EXPECT_EQ(VirtualSlot(&ZRMSPDevice::ClosePort), 30);
    using Uni = UniDataDevice<VELTA36_Data_t, ZRMSPDevice, 5045>;
    EXPECT_EQ(VirtualSlot(&Uni::RunCheckThreshold), 31);

    // Overrides stay in their base's slot, and the host services that are
    // not virtual stay so.
    EXPECT_EQ(VirtualSlot(&ZRMSPDevice::Reset), 10);
    EXPECT_EQ(VirtualSlot(&VELTA36::process), 24);
    EXPECT_EQ(VirtualSlot(&VELTA36::InitSetting), 13);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::CheckAOReport), -1);
    EXPECT_EQ(VirtualSlot(&ZRMVDevice::SaveDeviceHistory), -1);
}

TEST(HostLayout, ProviderVirtualSlots)
{
    // Provider: the destructor pair only; create follows it.
    EXPECT_EQ(VirtualSlot(&ZRMSPDeviceProvider::create), 2);
    EXPECT_EQ(sizeof(Provider), sizeof(void*));
    EXPECT_EQ(sizeof(ZRMSPDeviceProvider), sizeof(void*));
}

// A device whose destruction is seen, called through slots 8 and 9 of its
// virtual table as a host's delete would.
int g_destroyed = 0;
struct CountedDevice : HostMembers {
    ~CountedDevice() override { ++g_destroyed; }
};

using Destructor = void (*)(ZRMVDevice*);
Destructor Slot(ZRMVDevice* device, int slot)
{
    void* const* table;
    std::memcpy(&table, static_cast<const void*>(device), sizeof table);   // the vptr, first in the object
    Destructor d;
    std::memcpy(&d, &table[slot], sizeof d);
    return d;
}

// The destructors are called through a plain function pointer, as the
// table holds them; clang's check of indirect call types cannot know that.
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
void DestroyThroughSlots()
{
    g_destroyed = 0;
    alignas(CountedDevice) unsigned char storage[sizeof(CountedDevice)];
    ZRMVDevice* inPlace = new (storage) CountedDevice;
    Slot(inPlace, 8)(inPlace);   // destroys, frees nothing
    EXPECT_EQ(g_destroyed, 1);

    ZRMVDevice* onHeap = new CountedDevice;
    Slot(onHeap, 9)(onHeap);     // destroys and frees (a leak or a bad free shows under the sanitizers)
    EXPECT_EQ(g_destroyed, 2);
}

TEST(HostLayout, SlotsEightAndNineAreTheCompleteAndDeletingDestructor)
{
    DestroyThroughSlots();
}

TEST(HostLayout, BaseSubobjectsWhereTheHostExpectsThem)
{
    VELTA36 device;
    const char* const start = reinterpret_cast<const char*>(&device);
    // Each class of the chain is the first base of the next.
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<VDeviceInterface*>(&device)), start);
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<ZRMVDevice*>(&device)), start);
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<ZRMSPDevice*>(&device)), start);
#ifdef VELTA36_HOST_LAYOUT_KNOWN
    // The second base of ZRMVDevice, right after VDeviceInterface.
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<std::enable_shared_from_this<ZRMVDevice>*>(&device)) - start,
              static_cast<std::ptrdiff_t>(kLayout.sharedFromThis));
#else
    GTEST_SKIP() << "no member layout worked out for this architecture";
#endif
}

}  // namespace
