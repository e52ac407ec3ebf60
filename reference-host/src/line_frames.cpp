#include "refhost/line_frames.h"

namespace refhost {

namespace {

uint16_t Sum(const std::string& bytes, std::size_t begin, std::size_t end)
{
    uint16_t sum = 0;
    for (std::size_t i = begin; i < end; ++i)
        sum = static_cast<uint16_t>(sum + static_cast<unsigned char>(bytes[i]));
    return sum;
}

// Most significant nibble first, each nibble + base.
std::string Nibbles(uint16_t sum, char base)
{
    std::string text;
    for (int shift = 12; shift >= 0; shift -= 4)
        text += static_cast<char>(base + ((sum >> shift) & 0xF));
    return text;
}

}  // namespace

std::string CommandFrame(int32_t address, const std::string& command)
{
    return std::string("@") + AddressCharacter(address) + command + Nibbles(Sum(command, 0, command.size()), '0') +
           "/";
}

bool DataReplyValid(const std::string& frame)
{
    if (frame.size() < 6 || frame[0] != 'A' || frame.back() != '/')
        return false;
    const std::size_t checksumAt = frame.size() - 5;
    return frame.compare(checksumAt, 4, Nibbles(Sum(frame, 0, checksumAt), 0x60)) == 0;
}

}  // namespace refhost
