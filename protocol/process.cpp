// Reassembly and dispatch of the controller's replies. The host hands over
// the bytes as they arrive; they collect in rxBuffer until a chunk ends with
// '/'. In the acknowledged states (12..45) the reply must be 'h' ... '/';
// everywhere else a data frame 'A' ... checksum '/' is expected, and only the
// status read (11) and the event read (10) act on one.
#include <cstring>

#include "acknowledged_steps.h"
#include "batch_delivery.h"
#include "frame_check.h"
#include "protocol_states.h"
#include "velta36.h"

namespace {

const unsigned char kAckStart = 'h';
const unsigned char kDataStart = 'A';
const unsigned char kFrameEnd = '/';
const unsigned int kEventRecordSize = 23;
// 'A' before the records, four checksum characters and '/' after them.
const int kEventFrameOverhead = 6;

}  // namespace

int VELTA36::process(unsigned char* data, unsigned int len)
{
    // More than the buffer can hold: the exchange is beyond saving. A
    // negative fill count is as untrustworthy and must not index the buffer.
    if (rxLength < 0 || static_cast<unsigned long long>(rxLength) + len > RX_BUFFER_SIZE) {
        Reset();
        return 0;
    }
    // A frame ends only with a chunk that ends in '/'; an empty chunk ends
    // nothing (and has no last byte to look at).
    if (len == 0)
        return 1;
    // Without an address nothing was asked: no reply is awaited, and none
    // may make the device send.
    if (addressRefused) {
        rxLength = 0;
        return 0;
    }

    if (protocolState >= PS_ACK_FIRST && protocolState <= PS_ACK_LAST) {
        // No start byte is searched for: leading noise makes it a refusal.
        std::memcpy(rxBuffer + rxLength, data, len);
        rxLength += static_cast<int>(len);
        if (rxBuffer[rxLength - 1] != kFrameEnd)
            return 1;
        const bool acknowledged = rxBuffer[0] == kAckStart;
        rxLength = 0;
        if (!acknowledged)
            return velta36::RunRefusedStep(*this);
        return velta36::RunAcknowledgedStep(*this);
    }

    if (rxLength != 0) {
        std::memcpy(rxBuffer + rxLength, data, len);
        rxLength += static_cast<int>(len);
    } else {
        // A new frame starts at its 'A'; anything before it is line noise.
        const void* found = std::memchr(data, kDataStart, len);
        if (found == nullptr)
            return 1;
        const unsigned char* start = static_cast<const unsigned char*>(found);
        const unsigned int kept = len - static_cast<unsigned int>(start - data);
        std::memcpy(rxBuffer, start, kept);
        rxLength = static_cast<int>(kept);
    }
    if (rxBuffer[rxLength - 1] != kFrameEnd)
        return 1;

    if (!velta36::ReplyChecksumValid(rxBuffer, rxLength)) {
        rxLength = 0;
        return 0;
    }

    if (protocolState == PS_STATUS_READ) {
        DecodeDoorStatus(rxBuffer, rxLength);
        rxLength = 0;
        protocolState = PS_EVENT_READ;
        SendData(pollFrame, sizeof(pollFrame));
        return 1;
    }

    if (protocolState == PS_EVENT_READ) {
        // Bytes after the last whole record and before the checksum are
        // ignored. A valid frame holds at least the six bytes of overhead.
        lastBatchCount = static_cast<int32_t>(
            static_cast<unsigned int>(rxLength - kEventFrameOverhead) / kEventRecordSize);
        const bool stored = velta36::DeliverBatch(*this, rxBuffer + 1, lastBatchCount);
        rxLength = 0;
        // An empty batch ends the round. So does one that could not be
        // stored whole: it is not acknowledged, the controller keeps it for
        // the next round, and the round is still published with the doors
        // as they are.
        if (lastBatchCount == 0 || !stored) {
            Reset();
            RoundDone();
            return 0;
        }
        protocolState = PS_EVENT_ACK;
        cmdBuffer[2] = 'v';
        cmdBuffer[3] = '0';
        CmdCrc(2);
        SendData(cmdBuffer, static_cast<unsigned int>(cmdLength));
        return 1;
    }

    // No other state acts on a data frame. It stays buffered, and whatever
    // arrives next is appended and judged together with it.
    return 1;
}
