// Byte layout of the frames on the controller line, both directions.
//   command: '@' address command-bytes checksum(4, nibble + '0') '/'
//            the checksum sums the command bytes only
//   event read: "@" address "q0;/", fixed, no checksum
//   acknowledgement: 'h' ... '/'
//   data reply: 'A' payload checksum(4, nibble + 0x60) '/'
//            the checksum sums everything from the 'A' up to it
#ifndef VELTA36SIM_FRAMES_H
#define VELTA36SIM_FRAMES_H

#include <cstdint>
#include <string>
#include <vector>

#include "velta36sim/event_record.h"

namespace velta36sim {

using Bytes = std::string;   // frames are ASCII; std::string keeps tests readable

uint16_t Sum16(const Bytes& bytes, std::size_t begin, std::size_t end);
// Four characters, most significant nibble first, each nibble + base.
Bytes Nibbles(uint16_t sum, char base);

inline char AddressChar(int32_t address) { return static_cast<char>('0' + address); }

// Frames a driver sends (the simulator's tests and tools build them too).
Bytes CommandFrame(char address, const Bytes& command);
Bytes EventReadFrame(char address);

// Frames the controller sends.
Bytes Acknowledgement(char address);            // "h" address "/"
Bytes Refusal(char address);                    // "n" address "/": not an 'h'
Bytes DataReply(const Bytes& payload);          // 'A' payload checksum '/'
// Bit 0 of the status digit set = door 1 closed, bit 1 = door 2 closed.
Bytes DoorStatusReply(char address, bool door1Closed, bool door2Closed);
Bytes EventReply(const std::vector<EventRecord>& records);

// True when frame is 'A' ... checksum '/' with the right reply checksum.
bool DataReplyValid(const Bytes& frame);

}  // namespace velta36sim

#endif
