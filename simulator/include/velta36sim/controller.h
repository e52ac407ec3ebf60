// The controller's own behaviour, free of faults and of any line: it takes
// one command frame that passed the address and checksum checks and returns
// its reply. Keeps the clock, the doors, the stored events, the card table
// and the configuration frames received.
#ifndef VELTA36SIM_CONTROLLER_H
#define VELTA36SIM_CONTROLLER_H

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "velta36sim/card_table.h"
#include "velta36sim/civil_time.h"
#include "velta36sim/clock.h"
#include "velta36sim/event_record.h"
#include "velta36sim/frames.h"

namespace velta36sim {

const int32_t kBatchSize = 10;

struct EventCounts {
    uint64_t stored = 0;        // put into the queue
    uint64_t handedOut = 0;     // records sent in event replies, repeats included
    uint64_t acknowledged = 0;  // deleted by "v0"
    uint64_t resent = 0;        // handed out again, whatever the reason
    // Handed out again, intact, after an earlier intact hand-out whose "v0"
    // was lost or refused: a driver that stored the batch before it sent
    // "v0" stores each of these a second time.
    uint64_t resentAfterLostAck = 0;
    // Handed out again, intact, after an earlier intact hand-out for which
    // the driver sent no "v0" at all (it kept the batch back, or its
    // exchange broke off first): a driver stores none of these twice.
    uint64_t resentWithheld = 0;
};

// One command as it came off the line, after the frame checks.
struct Command {
    char address = '0';
    std::string body;         // command bytes; "q0;" for the event read
    bool eventRead = false;   // the fixed "@<addr>q0;/" frame
};

enum class ReplyKind { None, Acknowledgement, Data, Refusal };

struct Reply {
    ReplyKind kind = ReplyKind::None;
    Bytes bytes;
};

class Controller {
public:
    Controller(int32_t address, int32_t doors, const Clock& clock,
               const CivilTime& initialTime = CivilTime());

    // Whether the command is answered with an acknowledgement (as opposed
    // to a data reply); only such commands can be refused.
    static bool IsAcknowledged(const Command& command);

    // Carries the command out and returns its reply. Malformed commands
    // (bad digits, unknown door, wrong length) are refused and change nothing.
    Reply Handle(const Command& command);

    // The controller assumes that its replies arrive. The line calls this
    // when the last event reply was lost or corrupted on the way, so that
    // the statistics know the driver never stored that batch.
    void NoteLastBatchLost();

    // The line calls this when a "v0" from the driver was lost on the way
    // or refused: the driver meant to acknowledge the batch handed out last.
    void NoteAcknowledgementMissed();

    void StoreEvent(const EventRecord& record);
    void StoreEvents(const std::vector<EventRecord>& records);

    char address() const { return address_; }
    int32_t doors() const { return doors_; }
    bool DoorOpen(int32_t door) const;       // door 1 or 2
    void SetDoorOpen(int32_t door, bool open);
    CivilTime Now() const;                   // the controller's clock
    bool ClockWasSet() const { return clockSet_; }
    const std::deque<EventRecord>& StoredEvents() const { return queue_; }
    int32_t OutstandingBatch() const { return outstanding_; }
    const std::vector<std::string>& ConfigurationFrames() const { return configuration_; }
    const CardTable& Cards() const { return cards_; }
    const EventCounts& Counts() const { return counts_; }

private:
    Reply HandleEventRead();
    Reply HandleClockSet(const std::string& body);
    Reply HandleDoorCommand(const std::string& body);
    Reply HandleCardCommand(const std::string& body, bool& handled);
    Reply Ack() const;
    Reply Refuse() const;

    char address_;
    int32_t doors_;
    const Clock& clock_;
    int64_t clockBaseSeconds_;   // controller time at clockBaseMs_
    int64_t clockBaseMs_;
    bool clockSet_ = false;
    bool doorOpen_[2] = {false, false};
    std::deque<EventRecord> queue_;
    int32_t outstanding_ = 0;       // records of the last batch, not yet deleted
    int32_t delivered_ = 0;         // leading records of it that reached the driver
    int32_t deliveredBefore_ = 0;   // delivered_ before the last hand-out
    int32_t lastRepeated_ = 0;      // counted as re-sent to the driver by it
    bool ackMissed_ = false;        // a "v0" for the batch handed out last was lost or refused
    bool ackMissedBefore_ = false;  // ackMissed_ before the last hand-out
    bool lastRepeatedAfterAck_ = false;   // lastRepeated_ counted after a missed "v0"
    std::vector<std::string> configuration_;
    CardTable cards_;
    EventCounts counts_;
};

}  // namespace velta36sim

#endif
