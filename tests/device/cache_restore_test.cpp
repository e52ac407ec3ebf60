// Restoring the record from the host's cache: only a whole 13-byte record is
// taken, and a taken record is republished with a fresh stamp.
#include <cstring>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "recording_device.h"

using testing::ElementsAre;

namespace {

// id 0x11223344 (little-endian), door 1 open, door 2 closed, stale stamp.
const unsigned char kCached[13] = {0x44, 0x33, 0x22, 0x11, 1, 0, 0xE0, 0x07, 12, 31, 23, 59, 58};

}  // namespace

TEST(LoadFromCache, RefusesAnyOtherSizeWithoutChangingAnything)
{
    for (int size : {0, 12, 14}) {
        RecordingDevice rig;
        rig.device.record.id = 7;
        const std::vector<unsigned char> before = rig.recordBytes();
        unsigned char longer[14] = {0};
        std::memcpy(longer, kCached, sizeof(kCached));

        EXPECT_EQ(0, rig.device.LoadFromCache(longer, size)) << size;
        EXPECT_EQ(before, rig.recordBytes()) << size;
        EXPECT_FALSE(rig.device.dataReady) << size;
        EXPECT_TRUE(rig.events.empty()) << size;
    }
}

TEST(LoadFromCache, KeepsTheCachedFieldsAndRepublishesWithAFreshStamp)
{
    RecordingDevice rig;
    testing::internal::CaptureStdout();
    const int taken = rig.device.LoadFromCache(kCached, 13);
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(1, taken);
    EXPECT_TRUE(rig.device.dataReady);
    EXPECT_EQ(0x11223344u, static_cast<unsigned int>(rig.device.record.id));
    EXPECT_EQ(1, rig.device.record.door1Open);
    EXPECT_EQ(0, rig.device.record.door2Open);

    const std::vector<unsigned char> record = rig.recordBytes();
    const ttime now = get_ttime(rig.device.lastUpdate);
    EXPECT_EQ(0, std::memcmp(&now, record.data() + 6, 7));
    EXPECT_NE(0, std::memcmp(kCached + 6, record.data() + 6, 7));

    EXPECT_THAT(rig.kinds(), ElementsAre("SendSP", "Reset", "BatchCheck", "History"));
    EXPECT_EQ(5045, rig.events[0].number);
    EXPECT_EQ(record, rig.events[0].bytes);
    EXPECT_EQ("rvSize is 0\n", out);
}

TEST(LoadFromCache, TheHostsStringFormForwardsBytesAndLength)
{
    RecordingDevice rig;
    // The host holds the device by its interface, where both forms are seen.
    VDeviceInterface& asHost = rig.device;
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, asHost.LoadFromCache(std::string(reinterpret_cast<const char*>(kCached), 12)));
    EXPECT_EQ(1, asHost.LoadFromCache(std::string(reinterpret_cast<const char*>(kCached), 13)));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(0x11223344u, static_cast<unsigned int>(rig.device.record.id));
}
