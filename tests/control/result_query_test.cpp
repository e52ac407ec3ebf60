// The result query reports the outcome of the last command sequence without
// changing it.
#include "control_test.h"

class ResultQuery : public ControlTest {
protected:
    int Query(unsigned char* out, int outLen, int& outRet)
    {
        return rig.device->DeviceIoControl(1, nullptr, 0, out, outLen, outRet);
    }
};

TEST_F(ResultQuery, ReportsSuccessAndKeepsIt)
{
    ASSERT_EQ(0, Control(CTL_SET_VALUE, R"({"signal_id": "141600010010", "SetValue": "1"})"));
    rig.receive(velta36test::Ack());
    rig.receive(velta36test::Ack());
    rig.clear();

    unsigned char out[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    int outRet = -5;
    EXPECT_EQ(0, Query(out, sizeof(out), outRet));
    EXPECT_EQ(4, outRet);
    const unsigned char one[8] = {1, 0, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA};   // little-endian int32, nothing beyond
    EXPECT_EQ(0, std::memcmp(one, out, sizeof(out)));
    EXPECT_EQ(1, QueryResult()) << "asking again gives the same answer";
    EXPECT_EQ(1, rig.device->controlResult);
    EXPECT_TRUE(rig.sentTexts().empty());
    ASSERT_EQ(2u, rig.events.size());
    EXPECT_EQ(velta36test::TestHost::Kind::OpenPort, rig.events[0].kind);
}

TEST_F(ResultQuery, ReportsARefusal)
{
    ASSERT_EQ(0, Control(CTL_CONFIGURE, ""));
    rig.receive("x/");
    EXPECT_EQ(-1, QueryResult());

    rig.device->controlResult = 1;
    EXPECT_EQ(-1, Control(CTL_CARD_ADD, R"({"1A2B3C4": {}})"));
    EXPECT_EQ(-1, QueryResult()) << "a refused argument is a failed command";
}

TEST_F(ResultQuery, ReportsAPendingCommand)
{
    ASSERT_EQ(0, Control(CTL_CARD_DELETE, R"({"x": {"CardNumber": 1}})"));
    EXPECT_EQ(-1, QueryResult());
}

TEST_F(ResultQuery, ABufferTooSmallGetsNothing)
{
    rig.device->controlResult = 1;
    unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    int outRet = -5;
    EXPECT_EQ(0, Query(out, 2, outRet));
    EXPECT_EQ(0, outRet);
    EXPECT_EQ(0, Query(out, 0, outRet));
    EXPECT_EQ(0, outRet);
    EXPECT_EQ(0, Query(nullptr, 4, outRet)) << "no buffer to write to";
    EXPECT_EQ(0, outRet);
    const unsigned char untouched[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(0, std::memcmp(untouched, out, sizeof(out)));

    EXPECT_EQ(0, Query(out, 4, outRet));
    EXPECT_EQ(4, outRet);
    EXPECT_EQ(1, out[0]);
}

TEST_F(ResultQuery, WritesThroughAnUnalignedPointer)
{
    rig.device->controlResult = -1;
    unsigned char out[5] = {0, 0, 0, 0, 0};
    int outRet = 0;
    EXPECT_EQ(0, Query(out + 1, 4, outRet));
    const unsigned char minusOne[5] = {0, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(minusOne, out, sizeof(out)));
}
