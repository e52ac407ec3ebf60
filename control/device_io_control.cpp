// Control commands from the host. The four command codes open the port,
// build the first frame of their sequence, note the awaited acknowledgement
// in protocolState and send; process() sends every further frame, one per
// 'h' reply, and records the outcome in controlResult. Any other code asks
// for that outcome.
//
// Arguments are checked in full before any buffer is written, so a refused
// command sends nothing and leaves protocolState, cmdBuffer and the card
// frames of a sequence still running as they were. The check comes after
// controlResult is set to -1: a refused command has not succeeded.
#include <cstring>

#include "card_frames.h"
#include "control_arguments.h"
#include "control_codes.h"
#include "protocol_states.h"
#include "velta36.h"

using velta36::control::CardArgument;
using velta36::control::CardParse;

namespace {

const int kRefused = -1;
const int kAccepted = 0;

// The four decimal digits of a card slot (0..9999), thousands first.
void PutSlot(unsigned char* out, int slot)
{
    out[0] = static_cast<unsigned char>('0' + slot / 1000 % 10);
    out[1] = static_cast<unsigned char>('0' + slot / 100 % 10);
    out[2] = static_cast<unsigned char>('0' + slot / 10 % 10);
    out[3] = static_cast<unsigned char>('0' + slot % 10);
}

// Writes "<two-character op><slot><tail>" as the command bytes of a card
// frame and returns the command length.
int PutCardCommand(unsigned char* frame, const char* op, int slot, const char* tail, std::size_t tailLen)
{
    unsigned char* command = frame + 2;
    command[0] = static_cast<unsigned char>(op[0]);
    command[1] = static_cast<unsigned char>(op[1]);
    PutSlot(command + 2, slot);
    std::memcpy(command + 6, tail, tailLen);
    return static_cast<int>(6 + tailLen);
}

// Builds card frame number (1 to 5) whole: command bytes, checksum, '/',
// and the length the step that sends it reads.
void PutCardFrame(VELTA36& device, int number, const char* op, int slot, const char* tail, std::size_t tailLen)
{
    velta36::SealCardFrame(device, number,
                           PutCardCommand(velta36::CardFrame(device, number), op, slot, tail, tailLen));
}

int StartDoorCommand(VELTA36& device, const void* in, int inLen)
{
    Json::Value root;
    if (!velta36::control::ParseArgument(in, inLen, root) || !root.isObject())
        return kRefused;
    const Json::Value& signal = root["signal_id"];
    const Json::Value& setValue = root["SetValue"];
    std::string signalText;
    int setTo = 0;
    if (!velta36::control::ScalarText(signal, signalText) || !velta36::control::ScalarInteger(setValue, setTo))
        return kRefused;
    if (signal.isNull() || signalText != VELTA36_DOOR_SIGNAL_ID || setValue.isNull())
        return kAccepted;

    // The door travels as a 16-bit value: 65537 still names door 1.
    const int door = setTo & 0xFFFF;
    if (door != 1 && door != 2)
        return kAccepted;

    device.protocolState = PS_DOOR_OPEN;
    unsigned char* command = device.cmdBuffer + 2;
    command[0] = '2';
    command[1] = '2';
    command[2] = '0';
    command[3] = static_cast<unsigned char>('0' + door);
    device.CmdCrc(4);
    device.SendData(device.cmdBuffer, static_cast<unsigned int>(device.cmdLength));
    return kAccepted;
}

int StartConfiguration(VELTA36& device)
{
    device.protocolState = PS_CFG_1;
    device.cmdBuffer[2] = '0';
    device.cmdBuffer[3] = '0';
    device.CmdCrc(2);
    device.SendData(device.cmdBuffer, static_cast<unsigned int>(device.cmdLength));
    return kAccepted;
}

// The "16"/"17" frames grant (add) or withdraw (delete) the card on the
// doors; "17" goes out only for door number 0.
void PutDoorGrants(VELTA36& device, const CardArgument& card, const char* grant)
{
    device.cardDoorNo = card.doorNo;
    PutCardFrame(device, 2, "16", card.slot, grant, 1);
    if (device.cardDoorNo == 0)
        PutCardFrame(device, 3, "17", card.slot, grant, 1);
}

int StartCardAdd(VELTA36& device, const void* in, int inLen)
{
    Json::Value root;
    if (!velta36::control::ParseArgument(in, inLen, root))
        return kRefused;
    CardArgument card;
    switch (velta36::control::ReadCardArgument(root, true, card)) {
    case CardParse::Empty: return kAccepted;
    case CardParse::Refused: return kRefused;
    case CardParse::Ready: break;
    }

    device.CmdCrc(PutCardCommand(device.cmdBuffer, "09", card.slot, card.code.data(), 8));

    // The end date goes out as DD MM YY.
    const std::string& date = card.endDate;
    const char expiry[6] = {date[8], date[9], date[5], date[6], date[2], date[3]};
    PutCardFrame(device, 1, "35", card.slot, expiry, 6);
    PutCardFrame(device, 4, "33", card.slot, "01", 2);
    PutCardFrame(device, 5, "36", card.slot, "00", 2);
    PutDoorGrants(device, card, "1");

    device.protocolState = PS_CARD_ADD_1;
    device.SendData(device.cmdBuffer, static_cast<unsigned int>(device.cmdLength));
    return kAccepted;
}

int StartCardDelete(VELTA36& device, const void* in, int inLen)
{
    Json::Value root;
    if (!velta36::control::ParseArgument(in, inLen, root))
        return kRefused;
    CardArgument card;
    switch (velta36::control::ReadCardArgument(root, false, card)) {
    case CardParse::Empty: return kAccepted;
    case CardParse::Refused: return kRefused;
    case CardParse::Ready: break;
    }

    device.CmdCrc(PutCardCommand(device.cmdBuffer, "09", card.slot, "00000000", 8));
    PutCardFrame(device, 1, "35", card.slot, "010000", 6);
    PutDoorGrants(device, card, "0");

    device.protocolState = PS_CARD_DEL_1;
    device.SendData(device.cmdBuffer, static_cast<unsigned int>(device.cmdLength));
    return kAccepted;
}

// Reports controlResult as a 32-bit integer without touching it: the
// outcome stays readable until the next command starts.
int QueryResult(VELTA36& device, void* out, int outLen, int& outRet)
{
    device.ZRMSPDevice::OpenPort();
    if (static_cast<unsigned int>(outLen) < sizeof(int32_t) || out == nullptr) {
        outRet = 0;
        return kAccepted;
    }
    const int32_t result = device.controlResult;
    std::memcpy(out, &result, sizeof(result));
    outRet = static_cast<int>(sizeof(result));
    return kAccepted;
}

}  // namespace

int VELTA36::DeviceIoControl(int code, const void* in, int inLen, void* out, int outLen, int& outRet)
{
    switch (code) {
    case CTL_SET_VALUE:
    case CTL_CONFIGURE:
    case CTL_CARD_ADD:
    case CTL_CARD_DELETE:
        break;
    default:
        return QueryResult(*this, out, outLen, outRet);
    }

    controlResult = -1;   // pending until the sequence's last acknowledgement
    // InitSetting found no address a frame can carry: whatever the command,
    // there is no controller to send it to.
    if (addressRefused)
        return kRefused;
    ZRMSPDevice::OpenPort();
    switch (code) {
    case CTL_SET_VALUE: return StartDoorCommand(*this, in, inLen);
    case CTL_CONFIGURE: return StartConfiguration(*this);
    case CTL_CARD_ADD: return StartCardAdd(*this, in, inLen);
    default: return StartCardDelete(*this, in, inLen);
    }
}
