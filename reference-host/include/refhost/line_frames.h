// The controllers' frames as the host side builds and checks them, for
// tools that talk to a line without a device object (finding which
// addresses answer).
//   command:     '@' address command-bytes checksum '/'; the checksum sums
//                the command bytes only, four nibbles + '0'
//   data reply:  'A' payload checksum '/'; the checksum sums every byte
//                from the 'A' up to it, four nibbles + 0x60
#ifndef VELTA36_REFHOST_LINE_FRAMES_H
#define VELTA36_REFHOST_LINE_FRAMES_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace refhost {

// Frames carry the address as one character, '0' + address: 0 to 207.
const int32_t kMaxAddress = 207;

// 'A', address, status character, four checksum characters, '/'.
const std::size_t kDoorStatusReplyBytes = 8;

inline char AddressCharacter(int32_t address)
{
    return static_cast<char>('0' + address);
}

std::string CommandFrame(int32_t address, const std::string& command);

// True when frame is 'A' ... checksum '/' with the right reply checksum.
bool DataReplyValid(const std::string& frame);

}  // namespace refhost

#endif
