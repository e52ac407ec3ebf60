#include "frame_check.h"

namespace velta36 {

uint16_t Sum16(const unsigned char* bytes, int count)
{
    uint16_t sum = 0;
    for (int i = 0; i < count; ++i)
        sum = static_cast<uint16_t>(sum + bytes[i]);
    return sum;
}

void WriteNibbles(uint16_t sum, unsigned char base, unsigned char* out)
{
    out[0] = static_cast<unsigned char>(((sum >> 12) & 0xF) + base);
    out[1] = static_cast<unsigned char>(((sum >> 8) & 0xF) + base);
    out[2] = static_cast<unsigned char>(((sum >> 4) & 0xF) + base);
    out[3] = static_cast<unsigned char>((sum & 0xF) + base);
}

bool ReplyChecksumValid(const unsigned char* frame, int length)
{
    if (length < 6)
        return false;
    unsigned char expected[4];
    WriteNibbles(Sum16(frame, length - 5), kReplyNibbleBase, expected);
    for (int i = 0; i < 4; ++i) {
        if (frame[length - 5 + i] != expected[i])
            return false;
    }
    return true;
}

}  // namespace velta36
