// Checksums of the controller's ASCII protocol. Commands carry the 16-bit
// sum of their command bytes (not '@' nor the address) as four nibble
// characters from '0'; data replies carry the sum of everything from the
// 'A' up to the checksum as four nibble characters from '`'.
#ifndef VELTA36_PROTOCOL_FRAME_CHECK_H
#define VELTA36_PROTOCOL_FRAME_CHECK_H

#include <cstdint>

namespace velta36 {

// Sum of the bytes, wrapping at 16 bits.
uint16_t Sum16(const unsigned char* bytes, int count);

// Writes the four checksum characters of sum at out, each nibble + base,
// most significant first.
void WriteNibbles(uint16_t sum, unsigned char base, unsigned char* out);

// True when frame (length bytes, 'A' ... checksum '/') carries the right
// reply checksum. Frames shorter than six bytes cannot and fail.
bool ReplyChecksumValid(const unsigned char* frame, int length);

const unsigned char kCommandNibbleBase = 0x30;
// A command frame's bytes besides its command bytes: '@', the address
// character, four checksum characters, '/'.
const int kCommandFrameOverhead = 7;
const unsigned char kReplyNibbleBase = 0x60;

}  // namespace velta36

#endif
