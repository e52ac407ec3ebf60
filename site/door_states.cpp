#include "door_states.h"

#include <cstring>

#include "velta36_data.h"

namespace velta36site {

std::optional<DoorStates> DoorStatesOfRecord(const std::vector<unsigned char>& record)
{
    VELTA36_Data_t data;
    if (record.size() < sizeof(data))
        return std::nullopt;
    std::memcpy(&data, record.data(), sizeof(data));
    DoorStates doors;
    doors.door1Open = data.door1Open != 0;
    doors.door2Open = data.door2Open != 0;
    return doors;
}

}  // namespace velta36site
