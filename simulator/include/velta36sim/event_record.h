// One stored access event of the controller, its 23-byte wire form and the
// row a correct driver stores for it.
#ifndef VELTA36SIM_EVENT_RECORD_H
#define VELTA36SIM_EVENT_RECORD_H

#include <cstdint>
#include <string>

#include "velta36sim/civil_time.h"

namespace velta36sim {

const int32_t kRecordSize = 23;

enum class RecordKind : char {
    RefusedCard = '0',   // card event with restriction flags
    UnknownCard = '1',
    GrantedSwipe = '2',
    DoorOrController = '3'
};

// Channels of kind-3 records.
const int32_t kChannelController = 0;
const int32_t kChannelDoor1 = 1;
const int32_t kChannelDoor2 = 2;
const int32_t kChannelExitButton1 = 3;
const int32_t kChannelExitButton2 = 4;

// Flag bits as they are set on the raw flag characters ('0' + bits).
const uint8_t kFlag1AntiPassback = 0x1;
const uint8_t kFlag1InvalidAtReader = 0x2;
const uint8_t kFlag1SiteCode = 0x4;
const uint8_t kFlag1NotAllowed = 0x8;      // validity period, credit
const uint8_t kFlag1PowerOff = 0x4;        // kind 3, controller channel
const uint8_t kFlag1PowerOn = 0x8;         // kind 3, controller channel
const uint8_t kFlag2Tailgating = 0x1;
const uint8_t kFlag2WrongPin = 0x2;
const uint8_t kFlag2DoorNoAnswer = 0x4;
const uint8_t kFlag2TimeZone = 0x8;

struct EventRecord {
    RecordKind kind = RecordKind::GrantedSwipe;
    int32_t reader = 1;       // kinds 0..2: 1 or 2
    bool entry = true;        // kinds 0 and 2 (kind 1 carries it too)
    int32_t channel = 0;      // kind 3 only
    uint16_t card = 0;        // four card digits, 0..9999
    uint8_t flags1 = 0;       // low four bits
    uint8_t flags2 = 0;       // low four bits; kind 3 uses `active`
    bool active = true;       // kind 3: opened / pressed / started
    CivilTime time;           // seconds are not carried

    static EventRecord GrantedSwipe(int32_t reader, bool entry, uint16_t card, const CivilTime& t);
    static EventRecord RefusedCard(int32_t reader, bool entry, uint16_t card,
                                   uint8_t flags1, uint8_t flags2, const CivilTime& t);
    static EventRecord UnknownCard(int32_t reader, bool entry, uint16_t card, const CivilTime& t);
    static EventRecord ExitButton(int32_t button, const CivilTime& t);   // button 1 or 2
    static EventRecord DoorOpened(int32_t door, const CivilTime& t);     // forced open
    static EventRecord DoorClosed(int32_t door, const CivilTime& t);
    static EventRecord PowerOff(const CivilTime& t);
    static EventRecord PowerOn(const CivilTime& t);

    // The 23 ASCII bytes, ending in '8' and a line feed.
    std::string Encode() const;

    // Door openings (kind 3, door channel, active) are decoded against what
    // the driver stored before; everything else decodes on its own.
    bool TrackingIndependent() const;
};

// The row a correct driver stores for a tracking-independent record.
struct ExpectedRow {
    int32_t readerChannel = 0;
    int32_t eventType = 0;
    std::string cardNo;
    std::string reason;       // UTF-8
    CivilTime eventTime;      // the record's date and time, seconds 0

    bool operator==(const ExpectedRow& other) const;
};

// Valid only when record.TrackingIndependent().
ExpectedRow ExpectedRowFor(const EventRecord& record);

}  // namespace velta36sim

#endif
