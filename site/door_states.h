// A device's doors as its last round published them.
#ifndef VELTA36_SITE_DOOR_STATES_H
#define VELTA36_SITE_DOOR_STATES_H

#include <cstdint>
#include <optional>
#include <vector>

namespace velta36site {

struct DoorStates {
    bool door1Open = false;
    bool door2Open = false;   // read only on a device with two doors

    bool operator==(const DoorStates& other) const
    {
        return door1Open == other.door1Open && door2Open == other.door2Open;
    }
    bool operator!=(const DoorStates& other) const { return !(*this == other); }
};

// The door flags of a published data record (VELTA36_Data_t); none when
// the bytes are too few to be one.
std::optional<DoorStates> DoorStatesOfRecord(const std::vector<unsigned char>& record);

}  // namespace velta36site

#endif
