#include "pcapng_blocks.h"

namespace velta36site {

namespace {

const uint32_t kSectionHeaderType = 0x0A0D0D0A;
const uint32_t kInterfaceDescriptionType = 0x00000001;
const uint32_t kEnhancedPacketType = 0x00000006;
const uint32_t kByteOrderMagic = 0x1A2B3C4D;

const uint16_t kOptEndOfOptions = 0;
const uint16_t kOptComment = 1;
const uint16_t kShbUserApplication = 4;
const uint16_t kIfName = 2;
const uint16_t kIfDescription = 3;
const uint16_t kEpbFlags = 2;

void Put16(Block& block, uint16_t value)
{
    block.push_back(static_cast<unsigned char>(value));
    block.push_back(static_cast<unsigned char>(value >> 8));
}

void Put32(Block& block, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        block.push_back(static_cast<unsigned char>(value >> shift));
}

void PadTo32Bits(Block& block)
{
    while (block.size() % 4 != 0)
        block.push_back(0);
}

void PutOption(Block& block, uint16_t code, const unsigned char* value, std::size_t length)
{
    Put16(block, code);
    Put16(block, static_cast<uint16_t>(length));
    block.insert(block.end(), value, value + length);
    PadTo32Bits(block);
}

// Text options longer than an option can hold are cut; they are names and
// comments, never data.
void PutText(Block& block, uint16_t code, const std::string& text)
{
    if (text.empty())
        return;
    const std::size_t length = text.size() < 0xFFFC ? text.size() : 0xFFFC;
    PutOption(block, code, reinterpret_cast<const unsigned char*>(text.data()), length);
}

// Type and a placeholder for the total length, which is known at the end.
Block Begin(uint32_t type)
{
    Block block;
    Put32(block, type);
    Put32(block, 0);
    return block;
}

Block Finish(Block block, bool withOptions)
{
    if (withOptions) {
        Put16(block, kOptEndOfOptions);
        Put16(block, 0);
    }
    const uint32_t total = static_cast<uint32_t>(block.size() + 4);
    for (int i = 0; i < 4; ++i)
        block[4 + i] = static_cast<unsigned char>(total >> (8 * i));
    Put32(block, total);
    return block;
}

}  // namespace

Block SectionHeaderBlock(const std::string& application)
{
    Block block = Begin(kSectionHeaderType);
    Put32(block, kByteOrderMagic);
    Put16(block, 1);   // version 1.0
    Put16(block, 0);
    Put32(block, 0xFFFFFFFF);   // section length not given
    Put32(block, 0xFFFFFFFF);
    PutText(block, kShbUserApplication, application);
    return Finish(std::move(block), !application.empty());
}

Block InterfaceDescriptionBlock(uint16_t linkType, const std::string& name, const std::string& description)
{
    Block block = Begin(kInterfaceDescriptionType);
    Put16(block, linkType);
    Put16(block, 0);
    Put32(block, 0);   // no snap length limit
    PutText(block, kIfName, name);
    PutText(block, kIfDescription, description);
    return Finish(std::move(block), !name.empty() || !description.empty());
}

Block EnhancedPacketBlock(uint32_t interface, uint64_t microsecondsSinceEpoch, CaptureDirection direction,
                          const unsigned char* data, std::size_t length, const std::string& comment)
{
    Block block = Begin(kEnhancedPacketType);
    Put32(block, interface);
    Put32(block, static_cast<uint32_t>(microsecondsSinceEpoch >> 32));
    Put32(block, static_cast<uint32_t>(microsecondsSinceEpoch));
    Put32(block, static_cast<uint32_t>(length));
    Put32(block, static_cast<uint32_t>(length));
    block.insert(block.end(), data, data + length);
    PadTo32Bits(block);
    Block flags;
    Put32(flags, static_cast<uint32_t>(direction));
    PutOption(block, kEpbFlags, flags.data(), flags.size());
    PutText(block, kOptComment, comment);
    return Finish(std::move(block), true);
}

}  // namespace velta36site
