// The host side's own frames, against the bytes the controller protocol
// gives as worked examples.
#include <gtest/gtest.h>

#include <string>

#include "refhost/line_frames.h"

namespace {

TEST(LineFrames, CommandFramesCarryTheAddressAndTheCommandChecksum)
{
    EXPECT_EQ(refhost::CommandFrame(0, "{"), std::string("\x40\x30\x7B\x30\x30\x37\x3B\x2F"));
    EXPECT_EQ(refhost::CommandFrame(0, "v0"), std::string("\x40\x30\x76\x30\x30\x30\x3A\x36\x2F"));
    EXPECT_EQ(refhost::CommandFrame(0, "00"), std::string("\x40\x30\x30\x30\x30\x30\x36\x30\x2F"));
    // Address 10 is the character after '9'; nibbles above 9 run ':' to '?'.
    EXPECT_EQ(refhost::CommandFrame(10, "{"), "@:{007;/");
    EXPECT_EQ(refhost::CommandFrame(refhost::kMaxAddress, "\xFF\xFF")[1], '\xFF');
    EXPECT_EQ(refhost::CommandFrame(1, "\xFF\xFF").substr(2), "\xFF\xFF" "01?>/");
}

TEST(LineFrames, DataRepliesAreCheckedOverEveryByteBeforeTheChecksum)
{
    const std::string status = "\x41\x30\x33\x60\x60\x6A\x64\x2F";
    EXPECT_TRUE(refhost::DataReplyValid(status));
    EXPECT_EQ(status.size(), refhost::kDoorStatusReplyBytes);
    EXPECT_TRUE(refhost::DataReplyValid("A``da/"));   // no payload: 'A' alone sums to 0x41
    // The sum keeps its low 16 bits: 'A' and 600 'o' make 66665, that is 0x0469.
    EXPECT_TRUE(refhost::DataReplyValid("A" + std::string(600, 'o') + "`dfi/"));
    for (const std::string& bad : {std::string("A03``jc/"), std::string("B03``jd/"), std::string("A03``jd"),
                                   std::string("A``da"), std::string("A`da/"), std::string("")})
        EXPECT_FALSE(refhost::DataReplyValid(bad)) << bad;
}

}  // namespace
