// VELTA36::process fed arbitrary chunks in any protocol state.
//
// Input layout:
//   byte 0   the state the device waits in (index into kStates)
//   byte 1   settings: bit 0 two doors, bits 1-2 the card command's door
//            number (0, 1, 2, 0), bit 3 last batch was full, bit 4 start a
//            new polling round whenever an exchange ends, bit 5 card type 1,
//            bits 6-7 address number
//   byte 2   door tracking: bits 0-2 last code of door 1, bits 3-5 of door 2
//            (index into kCodes), bit 6 door 1 seen open, bit 7 door 2
//   byte 3   the store: with bits 6 and 7 set, bit k of bits 0-5 makes
//            the save of the event after the k-th stored one give up (all
//            its attempts refused), once per input; then the store takes
//            everything again. A refused save is the slow path (four
//            attempts, exceptions, a new connection and its statements), so
//            a quarter of the inputs take it, once.
//   then     chunks: one length byte n, then n + 1 bytes (fewer at the end)
//
// The events go to an event database in memory, through the device's own
// store code; a refused save makes the device withhold the batch's "v0",
// which must never be sent for a batch whose save gave up, nor while any
// judged event still waits to be stored.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_rig.h"
#include "protocol_states.h"
#include "waiting_events.h"

namespace {

const int kStates[] = {
    PS_EVENT_READ, PS_STATUS_READ, PS_TIME_SET, 14, PS_EVENT_ACK, PS_EVENT_ACK_END,
    PS_DOOR_OPEN, PS_DOOR_FOLLOWUP, PS_CFG_1, 20, PS_CFG_2, PS_CFG_3, PS_CFG_4, PS_CFG_5,
    PS_CFG_6, PS_CFG_7, PS_CFG_8, PS_CFG_9, PS_CFG_10, PS_CFG_11, PS_CFG_12, PS_CFG_13,
    PS_CFG_14, PS_CFG_15, PS_CFG_16, PS_CFG_17, PS_CARD_ADD_1, PS_CARD_ADD_2, PS_CARD_ADD_3,
    PS_CARD_ADD_4, PS_CARD_ADD_5, PS_CARD_ADD_6, PS_CARD_DEL_1, PS_CARD_DEL_2, PS_CARD_DEL_3,
    PS_CARD_DEL_4, 0, 9, 46, -1, 1000};
const uint8_t kCodes[] = {0, 1, 2, 3, 4, 9, 13, 14};
const int kCardDoor[] = {0, 1, 2, 0};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    velta36fuzz::Setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    velta36fuzz::Setup();
    velta36fuzz::Input in(data, size);
    const uint8_t stateByte = in.byte();
    const uint8_t settings = in.byte();
    const uint8_t tracking = in.byte();
    const uint8_t store = in.byte();
    velta36fuzz::PlanRefusals((store & 0xC0) == 0xC0 ? (store & 0x3F) : 0);

    {
        velta36test::TestHost rig;
        rig.device->db = velta36fuzz::EventDatabase();
        Json::Value config(Json::objectValue);
        config["address"] = (settings >> 6) & 3;
        config["appSetting"]["doors"] = (settings & 1) ? 2 : 1;
        config["appSetting"]["card_type"] = (settings & 0x20) ? 1 : 0;
        rig.configure(config);

        VELTA36& device = *rig.device;
        device.cardDoorNo = kCardDoor[(settings >> 1) & 3];
        device.lastBatchCount = (settings & 0x08) ? 10 : 3;
        device.lastEventType[0] = kCodes[tracking & 7];
        device.lastEventType[1] = kCodes[(tracking >> 3) & 7];
        device.doorOpenSeen[0] = (tracking >> 6) & 1;
        device.doorOpenSeen[1] = (tracking >> 7) & 1;
        device.protocolState = kStates[stateByte % (sizeof(kStates) / sizeof(kStates[0]))];
        const bool newRounds = (settings & 0x10) != 0;

        while (in.remaining() > 0) {
            const size_t n = static_cast<size_t>(in.byte()) + 1;
            std::vector<unsigned char> chunk = in.take(n);
            if (chunk.empty())
                break;
            const int stateBefore = device.protocolState;
            device.saveFailed = 0;
            rig.events.clear();   // only this call's host events are looked at
            const int result = device.process(chunk.data(), static_cast<unsigned int>(chunk.size()));
            velta36fuzz::Require(result == 0 || result == 1, "process returned neither 0 nor 1", "process");
            velta36fuzz::CheckDevice(rig, "process");
            if (stateBefore == PS_EVENT_READ && device.saveFailed)
                velta36fuzz::Require(!velta36fuzz::SentBatchAcknowledgement(rig),
                                     "a batch acknowledged although a save gave up", "process");
            if (velta36fuzz::SentBatchAcknowledgement(rig))
                velta36fuzz::Require(velta36::WaitingCount(device) == 0,
                                     "a batch acknowledged although events of it wait", "process");
            if (result == 0 && newRounds) {
                device.RefreshStatus();
                velta36fuzz::CheckDevice(rig, "RefreshStatus");
            }
        }
        velta36fuzz::CheckSent(rig, "process");
    }
    velta36fuzz::AfterInput();
    return 0;
}
