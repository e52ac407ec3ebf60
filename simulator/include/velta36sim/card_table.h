// The controller's card table: slot -> card code, end date and doors.
#ifndef VELTA36SIM_CARD_TABLE_H
#define VELTA36SIM_CARD_TABLE_H

#include <cstdint>
#include <map>
#include <string>

namespace velta36sim {

struct CardSlot {
    std::string code = "00000000";   // 8 characters; all '0' = no card
    std::string endDate = "010000";  // DDMMYY as sent
    std::string setting33;           // the two characters of "33"+slot+xx
    std::string setting36;           // the two characters of "36"+slot+xx
    bool door1 = false;
    bool door2 = false;

    bool HoldsCard() const { return code != "00000000"; }
    bool operator==(const CardSlot& other) const;
};

// Slots that were ever written, by slot number.
using CardTable = std::map<int32_t, CardSlot>;

}  // namespace velta36sim

#endif
