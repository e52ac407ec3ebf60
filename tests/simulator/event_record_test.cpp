// The 23-byte records of every kind, and the row a correct driver stores
// for each.
#include <gtest/gtest.h>

#include "velta36sim/event_record.h"

using namespace velta36sim;

namespace {

const CivilTime kAt{2024, 3, 5, 14, 7, 0};

ExpectedRow Row(int32_t channel, int32_t type, const std::string& card, const std::string& reason)
{
    ExpectedRow row;
    row.readerChannel = channel;
    row.eventType = type;
    row.cardNo = card;
    row.reason = reason;
    row.eventTime = kAt;
    return row;
}

}  // namespace

TEST(EventRecord, EncodesEveryKind)
{
    const std::string tail = "1407" "05" "0" "03" "24" "8\n";
    EXPECT_EQ(EventRecord::GrantedSwipe(1, true, 1234, kAt).Encode(), "200:1234" "00" + tail);
    EXPECT_EQ(EventRecord::GrantedSwipe(2, false, 7, kAt).Encode(), "210;0007" "00" + tail);
    EXPECT_EQ(EventRecord::RefusedCard(1, true, 42, kFlag1AntiPassback, kFlag2TimeZone, kAt).Encode(),
              "000:0042" "18" + tail);
    EXPECT_EQ(EventRecord::UnknownCard(2, true, 9999, kAt).Encode(), "110:9999" "00" + tail);
    EXPECT_EQ(EventRecord::ExitButton(1, kAt).Encode(), "3003000001" + tail);
    EXPECT_EQ(EventRecord::ExitButton(2, kAt).Encode(), "3004000001" + tail);
    EXPECT_EQ(EventRecord::DoorOpened(2, kAt).Encode(), "3002000001" + tail);
    EXPECT_EQ(EventRecord::DoorClosed(1, kAt).Encode(), "3001000000" + tail);
    EXPECT_EQ(EventRecord::PowerOff(kAt).Encode(), "3000000041" + tail);
    EXPECT_EQ(EventRecord::PowerOn(kAt).Encode(), "3000000081" + tail);
    EXPECT_EQ(EventRecord::PowerOn(kAt).Encode().size(), static_cast<std::size_t>(kRecordSize));
}

TEST(EventRecord, ExpectedRowsOfGrantedUnknownAndChannelEvents)
{
    EXPECT_EQ(ExpectedRowFor(EventRecord::GrantedSwipe(1, true, 1234, kAt)), Row(1, 1, "00001234", "刷卡进门成功"));
    EXPECT_EQ(ExpectedRowFor(EventRecord::GrantedSwipe(2, false, 55, kAt)), Row(2, 2, "00000055", "刷卡出门成功"));
    EXPECT_EQ(ExpectedRowFor(EventRecord::UnknownCard(1, true, 4321, kAt)), Row(1, 12, "0:432100", "未知卡"));
    EXPECT_EQ(ExpectedRowFor(EventRecord::ExitButton(2, kAt)), Row(4, 3, "00000000", "按钮出门"));
    EXPECT_EQ(ExpectedRowFor(EventRecord::DoorClosed(2, kAt)), Row(2, 9, "00000000", "告警结束"));
    EXPECT_EQ(ExpectedRowFor(EventRecord::PowerOff(kAt)), Row(0, 0, "00000000", "控制器断电"));
    EXPECT_EQ(ExpectedRowFor(EventRecord::PowerOn(kAt)), Row(0, 0, "00000000", "控制器上电"));
}

TEST(EventRecord, RefusalFlagsPickTheReasonAndSomeTheType)
{
    auto refused = [](bool entry, uint8_t f1, uint8_t f2) {
        return ExpectedRowFor(EventRecord::RefusedCard(1, entry, 1234, f1, f2, kAt));
    };
    EXPECT_EQ(refused(true, 0, 0), Row(1, 10, "0:123400", "刷卡进门成功"));
    EXPECT_EQ(refused(false, 0, 0), Row(1, 11, "0;123400", "刷卡出门成功"));
    EXPECT_EQ(refused(true, kFlag1AntiPassback, 0), Row(1, 10, "0:123410", "防反潜限制"));
    EXPECT_EQ(refused(true, kFlag1InvalidAtReader, 0), Row(1, 10, "0:123420", "卡在读卡器上无效"));
    EXPECT_EQ(refused(false, kFlag1SiteCode, 0), Row(1, 11, "0;123440", "site code not ok"));
    EXPECT_EQ(refused(true, kFlag1NotAllowed, 0), Row(1, 10, "0:123480", "控制器不允许（有效期、信用度）"));
    // The lowest set bit of a byte decides.
    EXPECT_EQ(refused(true, kFlag1InvalidAtReader | kFlag1NotAllowed, 0).reason, "卡在读卡器上无效");
    EXPECT_EQ(refused(false, 0, kFlag2Tailgating), Row(1, 0, "0;123401", "防尾随限制"));
    EXPECT_EQ(refused(true, 0, kFlag2WrongPin), Row(1, 10, "0:123402", "错误的密码"));
    EXPECT_EQ(refused(true, 0, kFlag2DoorNoAnswer), Row(1, 10, "0:123404", "门无应答"));
    EXPECT_EQ(refused(true, 0, kFlag2TimeZone), Row(1, 15, "0:123408", "通行时区限制"));
    // The second flag byte overrides the first.
    EXPECT_EQ(refused(true, kFlag1AntiPassback, kFlag2TimeZone), Row(1, 15, "0:123418", "通行时区限制"));
}

TEST(EventRecord, OnlyDoorOpeningsDependOnEarlierEvents)
{
    EXPECT_FALSE(EventRecord::DoorOpened(1, kAt).TrackingIndependent());
    EXPECT_FALSE(EventRecord::DoorOpened(2, kAt).TrackingIndependent());
    EXPECT_TRUE(EventRecord::DoorClosed(1, kAt).TrackingIndependent());
    EXPECT_TRUE(EventRecord::ExitButton(1, kAt).TrackingIndependent());
    EXPECT_TRUE(EventRecord::PowerOff(kAt).TrackingIndependent());
    EXPECT_TRUE(EventRecord::RefusedCard(2, false, 1, 0, 0, kAt).TrackingIndependent());
}

TEST(EventRecord, ExpectedTimeDropsTheSeconds)
{
    const CivilTime withSeconds{2024, 3, 5, 14, 7, 42};
    EXPECT_EQ(ExpectedRowFor(EventRecord::ExitButton(1, withSeconds)).eventTime, kAt);
}
