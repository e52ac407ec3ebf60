// The 13-byte data record a velta36 device publishes each round (type 5045).
#ifndef VELTA36_DEVICE_VELTA36_DATA_H
#define VELTA36_DEVICE_VELTA36_DATA_H

#include <cstdint>

#include "ttime.h"

// Packed: the host and its cache take the record as exactly these 13 bytes.
// Never take the address of a member (id is unaligned; a pointer to it
// faults on MIPS); assign and read the fields directly.
#pragma pack(push, 1)
struct VELTA36_Data_t {
    uint32_t id;                // DataId(), native byte order
    unsigned char door1Open;    // 1 = door 1 open
    unsigned char door2Open;    // 1 = door 2 open (only refreshed with two doors)
    ttime stamp;                // completion time of the round
};
#pragma pack(pop)

static_assert(sizeof(VELTA36_Data_t) == 13, "the published record is exactly 13 bytes");

#endif
