// Golden bytes of every frame the controller sends, and of the command
// frames the tests send to it.
#include <gtest/gtest.h>

#include "frame_check.h"
#include "velta36sim/frames.h"

using namespace velta36sim;

namespace {

bool DriverAcceptsReply(const Bytes& frame)
{
    return velta36::ReplyChecksumValid(reinterpret_cast<const unsigned char*>(frame.data()),
                                       static_cast<int>(frame.size()));
}

}  // namespace

TEST(Frames, CommandFramesCarryTheSumOfTheCommandBytes)
{
    EXPECT_EQ(CommandFrame('0', "{"), "@0{007;/");
    EXPECT_EQ(CommandFrame('0', "v0"), "@0v000:6/");
    EXPECT_EQ(CommandFrame('0', "00"), "@0000060/");
    EXPECT_EQ(CommandFrame('1', "220" "2"), "@1220200<6/");
    EXPECT_EQ(CommandFrame('1', "00"), "@1000060/");
    EXPECT_EQ(EventReadFrame('0'), "@0q0;/");
    EXPECT_EQ(EventReadFrame('5'), "@5q0;/");
}

TEST(Frames, AcknowledgementAndRefusal)
{
    EXPECT_EQ(Acknowledgement('0'), "h0/");
    EXPECT_EQ(Acknowledgement('3'), "h3/");
    EXPECT_EQ(Refusal('3'), "n3/");
    EXPECT_NE(Refusal('3')[0], 'h');
}

TEST(Frames, DoorStatusReplyForEveryDoorState)
{
    EXPECT_EQ(DoorStatusReply('0', true, true), "A03``jd/");
    EXPECT_EQ(DoorStatusReply('0', false, false), "A00``ja/");
    EXPECT_EQ(DoorStatusReply('0', true, false), "A01``jb/");
    EXPECT_EQ(DoorStatusReply('0', false, true), "A02``jc/");
    EXPECT_EQ(DoorStatusReply('2', true, true), "A23``jf/");
}

TEST(Frames, EventRepliesEmptyAndWithOneRecord)
{
    EXPECT_EQ(EventReply({}), "A``da/");
    const CivilTime t{2024, 3, 5, 14, 7, 0};
    const Bytes reply = EventReply({EventRecord::GrantedSwipe(1, true, 1234, t)});
    ASSERT_EQ(reply.size(), 1u + 23u + 5u);
    EXPECT_EQ(reply.substr(0, 24), "A" "200:1234" "00" "1407" "05" "0" "03" "24" "8\n");
    EXPECT_EQ(reply.substr(24), Nibbles(Sum16(reply, 0, 24), '`') + "/");
    EXPECT_TRUE(DriverAcceptsReply(reply));
}

TEST(Frames, ReplyChecksumsAgreeWithTheDriversCheck)
{
    std::vector<EventRecord> ten;
    for (int i = 0; i < 10; ++i)
        ten.push_back(EventRecord::ExitButton(1 + i % 2, CivilTime{2099, 12, 31, 23, 59, 0}));
    const Bytes full = EventReply(ten);
    EXPECT_EQ(full.size(), 236u);
    EXPECT_TRUE(DataReplyValid(full));
    EXPECT_TRUE(DriverAcceptsReply(full));
    EXPECT_TRUE(DriverAcceptsReply(DoorStatusReply('9', false, true)));

    Bytes broken = full;
    broken[full.size() - 3] = broken[full.size() - 3] == 'o' ? 'n' : 'o';
    EXPECT_FALSE(DataReplyValid(broken));
    EXPECT_FALSE(DriverAcceptsReply(broken));
    EXPECT_FALSE(DataReplyValid("A``d/"));
}

TEST(Frames, NibblesAboveNineUseTheCharactersAfterTheDigits)
{
    EXPECT_EQ(Nibbles(0xABCD, '0'), ":;<=");
    EXPECT_EQ(Nibbles(0xEF01, '0'), ">?01");
    EXPECT_EQ(Nibbles(0xABCD, '`'), "jklm");
    EXPECT_EQ(Nibbles(0xFFFF, '`'), "oooo");
    // Sums wrap at 16 bits.
    EXPECT_EQ(Sum16(Bytes(300, '\xff'), 0, 300), static_cast<uint16_t>(300 * 255));
}
