// The acknowledged command chains. Every step sends its frame only after the
// controller acknowledged the previous one:
//   polling        13 -> 11 (data), 15 -> 10 or 16, 16 ends the round;
//   door           17 -> 18, end;
//   configuration  19, 12, 21 .. 35, end (seventeen commands with the "00"
//                  the control code sends first);
//   card add       36 .. 40, and 41 only for door number 0, end;
//   card delete    42 .. 44, and 45 only for door number 0, end.
// A finished sequence keeps its last state, so a stray acknowledgement runs
// the same final row again.
#include "acknowledged_steps.h"

#include <cstring>
#include <string>

#include "card_frames.h"
#include "protocol_states.h"
#include "velta36.h"

namespace velta36 {
namespace {

const int kFullBatch = 10;
const int kDoorFollowupDelayMs = 3000;

// Settings travel as one character: '0' plus the low byte of the value.
char Digit(int value)
{
    return static_cast<char>(static_cast<unsigned char>(value) + '0');
}

// Writes command into cmdBuffer after '@' and the address, closes it with
// its checksum and sends it; the reply is awaited in state next.
int SendCommand(VELTA36& device, const std::string& command, int next)
{
    std::memcpy(device.cmdBuffer + 2, command.data(), command.size());
    device.CmdCrc(static_cast<int>(command.size()));
    device.protocolState = next;
    device.SendData(device.cmdBuffer, static_cast<unsigned int>(device.cmdLength));
    return 1;
}

// The last acknowledgement of a control sequence.
int FinishControl(VELTA36& device)
{
    device.controlResult = 1;
    device.Reset();
    return 0;
}

// Card frame number goes out with the length it was built with. One never
// built (a state no card command set) has nothing to send: the sequence
// ends unfinished.
int SendCardFrame(VELTA36& device, int number, int next)
{
    const int length = CardFrameLength(device, number);
    if (length <= 0) {
        device.controlResult = -1;
        device.Reset();
        return 0;
    }
    device.protocolState = next;
    device.SendData(CardFrame(device, number), static_cast<unsigned int>(length));
    return 1;
}

// The door follow-up reuses the door command still in cmdBuffer ("2", "0",
// door digit around byte 3) and only turns "22" into "23"; the controller
// needs the pause before it.
int SendDoorFollowup(VELTA36& device)
{
    device.SendDelayData(kDoorFollowupDelayMs);
    device.cmdBuffer[3] = '3';
    device.CmdCrc(4);
    device.protocolState = PS_DOOR_FOLLOWUP;
    device.SendData(device.cmdBuffer, static_cast<unsigned int>(device.cmdLength));
    return 1;
}

int ConfigurationStep(VELTA36& device)
{
    switch (device.protocolState) {
    case PS_CFG_1:
        return SendCommand(device, std::string("02") + Digit(device.doors), PS_CFG_2);
    case PS_CFG_2:
        return SendCommand(device, "791", PS_CFG_3);
    case PS_CFG_3:
        return SendCommand(device, "190", PS_CFG_4);
    case PS_CFG_4:
        return SendCommand(device, std::string("1210") + Digit(device.door1_delay), PS_CFG_5);
    case PS_CFG_5:
        return SendCommand(device, std::string("1220") + Digit(device.door2_delay), PS_CFG_6);
    case PS_CFG_6:
        return SendCommand(device, "1410000", PS_CFG_7);
    case PS_CFG_7:
        return SendCommand(device, "1420000", PS_CFG_8);
    case PS_CFG_8:
        return SendCommand(device, "451000", PS_CFG_9);
    case PS_CFG_9:
        return SendCommand(device, "452000", PS_CFG_10);
    case PS_CFG_10:
        return SendCommand(device, "43011", PS_CFG_11);
    case PS_CFG_11:
        return SendCommand(device, "43021", PS_CFG_12);
    case PS_CFG_12:
        return SendCommand(device, "43030", PS_CFG_13);
    case PS_CFG_13:
        return SendCommand(device, "43040", PS_CFG_14);
    case PS_CFG_14:
        return SendCommand(device, std::string("0400000") + Digit(device.card_type) + "08" + "00000000",
                           PS_CFG_15);
    case PS_CFG_15:
        return SendCommand(device, "31010000235923592359", PS_CFG_16);
    case PS_CFG_16:
        return SendCommand(device, "32010101010101010101", PS_CFG_17);
    default:   // PS_CFG_17: the whole configuration was taken
        device.Reset();
        device.controlResult = 1;
        return 0;
    }
}

int CardStep(VELTA36& device)
{
    switch (device.protocolState) {
    case PS_CARD_ADD_1:
        return SendCardFrame(device, 1, PS_CARD_ADD_2);
    case PS_CARD_ADD_2:
        return SendCardFrame(device, 4, PS_CARD_ADD_3);
    case PS_CARD_ADD_3:
        return SendCardFrame(device, 5, PS_CARD_ADD_4);
    case PS_CARD_ADD_4:
        return SendCardFrame(device, 2, PS_CARD_ADD_5);
    case PS_CARD_ADD_5:
        // Door number 0 means both doors: the second door's frame follows.
        if (device.cardDoorNo == 0)
            return SendCardFrame(device, 3, PS_CARD_ADD_6);
        return FinishControl(device);
    case PS_CARD_DEL_1:
        return SendCardFrame(device, 1, PS_CARD_DEL_2);
    case PS_CARD_DEL_2:
        return SendCardFrame(device, 2, PS_CARD_DEL_3);
    case PS_CARD_DEL_3:
        if (device.cardDoorNo == 0)
            return SendCardFrame(device, 3, PS_CARD_DEL_4);
        return FinishControl(device);
    default:   // PS_CARD_ADD_6, PS_CARD_DEL_4
        return FinishControl(device);
    }
}

}  // namespace

int RunAcknowledgedStep(VELTA36& device)
{
    const int state = device.protocolState;
    switch (state) {
    case PS_TIME_SET:
        // Only now is the controller's clock known to be set.
        device.clockSet = 1;
        return SendCommand(device, "{", PS_STATUS_READ);
    case PS_EVENT_ACK:
        if (device.lastBatchCount == kFullBatch) {
            // The controller may hold more: read the next batch.
            device.protocolState = PS_EVENT_READ;
            device.SendData(device.pollFrame, sizeof(device.pollFrame));
            return 1;
        }
        return SendCommand(device, "v3", PS_EVENT_ACK_END);
    case PS_EVENT_ACK_END:
        device.RoundDone();
        return 0;
    case PS_DOOR_OPEN:
        return SendDoorFollowup(device);
    case PS_DOOR_FOLLOWUP:
        return FinishControl(device);
    default:
        break;
    }
    if (state == PS_CFG_1 || state == PS_CFG_2 || (state >= PS_CFG_3 && state <= PS_CFG_17))
        return ConfigurationStep(device);
    if (state >= PS_CARD_ADD_1 && state <= PS_CARD_DEL_4)
        return CardStep(device);
    // 14 and 20 are never set; an acknowledgement there changes nothing.
    return 1;
}

int RunRefusedStep(VELTA36& device)
{
    const int state = device.protocolState;
    if (state == PS_TIME_SET)
        return SendCommand(device, "{", PS_STATUS_READ);
    // The polling frames ("v0", "v3") and the unused states 14 and 20 are
    // no control sequence: their refusal says nothing about one.
    const bool control = state == PS_CFG_2 || (state >= PS_DOOR_OPEN && state <= PS_CFG_1) ||
                         (state >= PS_CFG_3 && state <= PS_ACK_LAST);
    if (control)
        device.controlResult = -1;
    return 1;
}

}  // namespace velta36
