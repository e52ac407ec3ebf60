// Capture files: the pcapng blocks byte for byte, a capture file as written
// and read back, and what is left behind when a command fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "input_error.h"
#include "line_capture.h"
#include "pcapng_blocks.h"
#include "temp_work_dir.h"

namespace {

using velta36site::Block;

const Block kSectionHeader = {
    0x0a, 0x0d, 0x0d, 0x0a, 0x2c, 0x00, 0x00, 0x00,   // type, total length 44
    0x4d, 0x3c, 0x2b, 0x1a,                           // byte-order magic, little-endian
    0x01, 0x00, 0x00, 0x00,                           // version 1.0
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,   // section length not given
    0x04, 0x00, 0x07, 0x00, 'v', 'e', 'l', 't', 'a', '3', '6', 0x00,   // shb_userappl, padded
    0x00, 0x00, 0x00, 0x00,                           // end of options
    0x2c, 0x00, 0x00, 0x00,
};

const Block kInterface = {
    0x01, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00,   // type, total length 48
    0x96, 0x00, 0x00, 0x00,                           // link type 150 (USER3), reserved
    0x00, 0x00, 0x00, 0x00,                           // no snap length
    0x02, 0x00, 0x0a, 0x00, '/', 'd', 'e', 'v', '/', 't', 't', 'y', 'S', '1', 0x00, 0x00,   // if_name
    0x03, 0x00, 0x04, 0x00, 'l', 'i', 'n', 'e',       // if_description
    0x00, 0x00, 0x00, 0x00,
    0x30, 0x00, 0x00, 0x00,
};

// 2024-03-05 14:07:05.123456 UTC = 1709647625123456 microseconds.
const uint64_t kStamp = 1709647625123456ULL;

const Block kPacket = {
    0x06, 0x00, 0x00, 0x00, 0x44, 0x00, 0x00, 0x00,   // type, total length 68
    0x01, 0x00, 0x00, 0x00,                           // interface 1
    0xea, 0x12, 0x06, 0x00, 0x80, 0xf6, 0x62, 0x5b,   // time stamp, high word then low word
    0x09, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00,   // captured and original length
    '@', '0', 'v', '0', '0', '0', ':', '6', '/', 0x00, 0x00, 0x00,   // "v0" to address 0, padded
    0x02, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0x00,   // epb_flags: outbound
    0x01, 0x00, 0x05, 0x00, 'f', 'r', 'o', 'n', 't', 0x00, 0x00, 0x00,   // opt_comment
    0x00, 0x00, 0x00, 0x00,
    0x44, 0x00, 0x00, 0x00,
};

const std::string kFrame = "@0v000:6/";

const unsigned char* Bytes(const std::string& text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

Block ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Block(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Block Concatenated(std::initializer_list<Block> blocks)
{
    Block all;
    for (const Block& block : blocks)
        all.insert(all.end(), block.begin(), block.end());
    return all;
}

TEST(PcapngBlocks, GoldenBytes)
{
    EXPECT_EQ(velta36site::SectionHeaderBlock("velta36"), kSectionHeader);
    EXPECT_EQ(velta36site::InterfaceDescriptionBlock(velta36site::kCaptureLinkType, "/dev/ttyS1", "line"), kInterface);
    EXPECT_EQ(velta36site::EnhancedPacketBlock(1, kStamp, velta36site::CaptureDirection::Outbound, Bytes(kFrame),
                                              kFrame.size(), "front"),
              kPacket);
}

TEST(PcapngBlocks, InboundChunkWithoutCommentAndEmptyChunk)
{
    // "h0/" received: three bytes padded to four, epb_flags 1, no comment;
    // 48 bytes in all.
    const Block ack = velta36site::EnhancedPacketBlock(0, 0, velta36site::CaptureDirection::Inbound,
                                                      Bytes("h0/"), 3, "");
    const Block expected = {
        0x06, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x03, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
        'h',  '0',  '/',  0x00,
        0x02, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00,
    };
    EXPECT_EQ(ack, expected);
    // Every block is a whole number of 32-bit words, its length at both ends.
    const Block empty = velta36site::EnhancedPacketBlock(0, 0, velta36site::CaptureDirection::Inbound,
                                                        nullptr, 0, "");
    ASSERT_EQ(empty.size() % 4, 0u);
    EXPECT_TRUE(std::equal(empty.begin() + 4, empty.begin() + 8, empty.end() - 4));
}

class CaptureFile : public ::testing::Test {
protected:
    velta36test::TempWorkDir dir_;
};

TEST_F(CaptureFile, HoldsTheBlocksInTheOrderWritten)
{
    {
        velta36site::LineCapture capture("line.pcapng");
        EXPECT_EQ(capture.addInterface("/dev/ttyS0", ""), 0u);
        EXPECT_EQ(capture.addInterface("/dev/ttyS1", "line"), 1u);
        capture.record(1, velta36site::CaptureDirection::Outbound,
                       std::chrono::system_clock::time_point(std::chrono::microseconds(kStamp)), Bytes(kFrame),
                       kFrame.size(), "front");
        EXPECT_FALSE(capture.failed());
    }
    const Block noDescription =
        velta36site::InterfaceDescriptionBlock(velta36site::kCaptureLinkType, "/dev/ttyS0", "");
    EXPECT_EQ(ReadAll("line.pcapng"), Concatenated({kSectionHeader, noDescription, kInterface, kPacket}));
}

TEST_F(CaptureFile, PathThatCannotBeWrittenIsBadInput)
{
    try {
        velta36site::LineCapture capture("no-such-folder/line.pcapng");
        FAIL() << "a capture in a missing folder was opened";
    } catch (const velta36site::InputError& error) {
        EXPECT_NE(std::string(error.what()).find("no-such-folder/line.pcapng"), std::string::npos) << error.what();
    }
    std::filesystem::create_directory("folder");
    EXPECT_THROW(velta36site::LineCapture("folder"), velta36site::InputError);
}

TEST_F(CaptureFile, CommandThatFailsBeforeTheLineLeavesNoFile)
{
    try {
        velta36site::LineCapture capture("failed.pcapng");
        capture.addInterface("/dev/ttyS0", "");
        throw std::runtime_error("the port is busy");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(std::filesystem::exists("failed.pcapng"));

    // Once a chunk is in it the capture is evidence, failure or not.
    try {
        velta36site::LineCapture capture("kept.pcapng");
        capture.addInterface("/dev/ttyS0", "");
        capture.record(0, velta36site::CaptureDirection::Outbound, std::chrono::system_clock::now(),
                       Bytes(kFrame), kFrame.size(), "");
        throw std::runtime_error("line closed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(std::filesystem::exists("kept.pcapng"));

    // A command that ends normally keeps its capture even when nothing
    // crossed the line.
    { velta36site::LineCapture capture("quiet.pcapng"); }
    EXPECT_EQ(ReadAll("quiet.pcapng"), kSectionHeader);
}

}  // namespace
