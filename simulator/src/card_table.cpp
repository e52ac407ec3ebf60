#include "velta36sim/card_table.h"

namespace velta36sim {

bool CardSlot::operator==(const CardSlot& other) const
{
    return code == other.code && endDate == other.endDate && setting33 == other.setting33 &&
           setting36 == other.setting36 && door1 == other.door1 && door2 == other.door2;
}

}  // namespace velta36sim
