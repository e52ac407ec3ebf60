// Command and reply framing, checked against hand-computed bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame_check.h"
#include "frames.h"
#include "temp_work_dir.h"
#include "test_host.h"

namespace {

using velta36test::Bytes;

std::string CmdBufferFrame(const VELTA36& device)
{
    return std::string(device.cmdBuffer, device.cmdBuffer + device.cmdLength);
}

class Framing : public ::testing::Test {
protected:
    void SetUp() override { rig.configure("{}"); }   // address character '0'

    // Builds a command in cmdBuffer and returns the frame CmdCrc made of it.
    std::string Command(const std::string& command)
    {
        std::copy(command.begin(), command.end(), rig.device->cmdBuffer + 2);
        rig.device->CmdCrc(static_cast<int>(command.size()));
        return CmdBufferFrame(*rig.device);
    }

    velta36test::TempWorkDir workDir;
    velta36test::TestHost rig;
};

TEST_F(Framing, WorkedCommandExamples)
{
    EXPECT_EQ(Bytes(Command("{")),
              (std::vector<unsigned char>{0x40, 0x30, 0x7B, 0x30, 0x30, 0x37, 0x3B, 0x2F}));
    EXPECT_EQ(rig.device->cmdLength, 8);
    EXPECT_EQ(Bytes(Command("v0")),
              (std::vector<unsigned char>{0x40, 0x30, 0x76, 0x30, 0x30, 0x30, 0x3A, 0x36, 0x2F}));
    EXPECT_EQ(Bytes(Command("00")),
              (std::vector<unsigned char>{0x40, 0x30, 0x30, 0x30, 0x30, 0x30, 0x36, 0x30, 0x2F}));
    EXPECT_EQ(rig.device->cmdLength, 9);
}

TEST_F(Framing, WorkedReplyExample)
{
    const std::vector<unsigned char> frame{0x41, 0x30, 0x33, 0x60, 0x60, 0x6A, 0x64, 0x2F};
    EXPECT_TRUE(velta36::ReplyChecksumValid(frame.data(), static_cast<int>(frame.size())));
    // The fixture's builder agrees with the worked example.
    EXPECT_EQ(Bytes(velta36test::DataFrame("03")), frame);
}

TEST_F(Framing, ShorterCommandAfterLongerOneSendsOnlyTheNewFrame)
{
    Command("31010000235923592359");
    EXPECT_EQ(rig.device->cmdLength, 27);
    EXPECT_EQ(Command("{"), "@0{007;/");
    // The tail of the long command stays behind the new '/' ...
    EXPECT_EQ(rig.device->cmdBuffer[8], '0');
    EXPECT_EQ(rig.device->cmdBuffer[21], '9');
    // ... and is never sent: the host sees exactly the eight new bytes.
    rig.device->SendData(rig.device->cmdBuffer, static_cast<unsigned int>(rig.device->cmdLength));
    ASSERT_EQ(rig.sentTexts().size(), 1u);
    EXPECT_EQ(rig.sentTexts()[0], "@0{007;/");
}

// Long bodies (beyond the 64-byte command buffer) go through CmdUserCrc on a
// caller buffer to reach every nibble value and the 16-bit wrap.
std::string UserFrame(VELTA36& device, const std::vector<unsigned char>& body)
{
    std::vector<unsigned char> buffer(body.size() + 7, 0);
    buffer[0] = '@';
    buffer[1] = '0';
    std::copy(body.begin(), body.end(), buffer.begin() + 2);
    device.CmdUserCrc(buffer.data(), static_cast<int>(body.size()));
    return std::string(buffer.end() - 5, buffer.end());
}

TEST_F(Framing, CommandChecksumNibblesTenToFifteenAndWrap)
{
    std::vector<unsigned char> body(172, 0xFF);   // 172 * 255 = 0xAB54
    body.push_back(0x79);                          // -> 0xABCD
    EXPECT_EQ(UserFrame(*rig.device, body), ":;<=/");

    body.assign(255, 0xFF);                        // 0xFE01
    body.push_back(0xDB);                          // -> 0xFEDC
    EXPECT_EQ(UserFrame(*rig.device, body), "?>=</");

    body.assign(258, 0xFF);                        // 65790 wraps to 0x00FE
    EXPECT_EQ(UserFrame(*rig.device, body), "00?>/");
}

bool Valid(const std::string& frame)
{
    const std::vector<unsigned char> bytes = Bytes(frame);
    return velta36::ReplyChecksumValid(bytes.data(), static_cast<int>(bytes.size()));
}

TEST(ReplyChecksum, NibblesTenToFifteenAndWrap)
{
    // 'A' + 172 * 0xFF + '8' sums to 0xABCD.
    const std::string abcd = "A" + std::string(172, '\xFF') + "8";
    EXPECT_TRUE(Valid(abcd + "jklm/"));
    EXPECT_FALSE(Valid(abcd + "jklo/"));
    EXPECT_FALSE(Valid(abcd + ":;<=/"));   // the command alphabet is wrong here

    // 'A' + 255 * 0xFF + 0x9A sums to 0xFEDC.
    EXPECT_TRUE(Valid("A" + std::string(255, '\xFF') + "\x9A" + "onml/"));

    // 'A' + 257 * 0xFF = 65600, compared on its low 16 bits: 0x0040.
    EXPECT_TRUE(Valid("A" + std::string(257, '\xFF') + "``d`/"));
}

TEST(ReplyChecksum, FramesShorterThanSixBytesFail)
{
    // "````/" would pass a naive check (an empty sum over no bytes).
    EXPECT_FALSE(Valid("````/"));
    EXPECT_FALSE(Valid("A/"));
    EXPECT_FALSE(Valid(""));
    const unsigned char nothing = 0;
    EXPECT_FALSE(velta36::ReplyChecksumValid(&nothing, -1));
    // The shortest real frame, an empty event batch: 'A', checksum, '/'.
    EXPECT_TRUE(Valid("A``da/"));
}

TEST(ReplyChecksum, EveryChecksumCharacterCounts)
{
    const std::string good = velta36test::DataFrame("0123456789");
    ASSERT_TRUE(Valid(good));
    for (std::size_t i = good.size() - 5; i < good.size() - 1; ++i) {
        std::string bad = good;
        bad[i] = static_cast<char>(bad[i] ^ 1);
        EXPECT_FALSE(Valid(bad)) << "checksum byte " << i;
    }
}

}  // namespace
