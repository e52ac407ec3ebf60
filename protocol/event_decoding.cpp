// One 23-byte record of the event reply becomes at most one door event,
// judged here and stored by the batch (batch_delivery.h). Records are
// decoded in reply order, so a record sees the door memory that the records
// before it left.
//
// Codes for events the record itself gives no type (the channel remembers
// the same code):
//   EVT_CODE_6 (6)    granted card (kind 2) with a direction other than
//                     "0:" or "0;";
//   0                 card with restriction flags (kind 0) with such a
//                     direction and no type-setting flag: a refused card
//                     is no access, so it must not excuse the opening of
//                     the door that follows, whatever its direction says;
//   EVT_CODE_5 (5)    door opened after a granted access (last code 1, 2, 3,
//                     5 or 6); it stays an access, so a further opening is
//                     judged the same way;
//   EVT_POWER_OFF (0) controller record with neither power bit: code 0 is
//                     what every controller event carries.
#include <iostream>
#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "door_tracking.h"
#include "event_record.h"
#include "velta36.h"
#include "velta36_event.hxx"

namespace {

using velta36::REC_CARD;
using velta36::REC_CHANNEL;
using velta36::REC_DIRECTION;
using velta36::REC_FLAGS_1;
using velta36::REC_FLAGS_2;
using velta36::REC_KIND;
using velta36::REC_READER;

const char* const kReasonEntry = "刷卡进门成功";
const char* const kReasonExit = "刷卡出门成功";
const char* const kReasonUnknownCard = "未知卡";
const char* const kReasonButtonExit = "按钮出门";
const char* const kReasonIllegalOpen = "非法开门";
const char* const kReasonAlarmEnd = "告警结束";
const char* const kReasonPowerOff = "控制器断电";
const char* const kReasonPowerOn = "控制器上电";

// First flag byte, bits 0 to 3: the first one set names the restriction.
const char* const kFirstFlagReasons[4] = {
    "防反潜限制", "卡在读卡器上无效", "site code not ok", "控制器不允许（有效期、信用度）"};
// Second flag byte, bits 0 to 3; bits 0 and 3 also decide the type.
const char* const kSecondFlagReasons[4] = {"防尾随限制", "错误的密码", "门无应答", "通行时区限制"};

const int kAccessWindowSeconds = 60;

// Index of the lowest of bits 0..3 set in flags, or -1.
int FirstFlagBit(unsigned char flags)
{
    for (int bit = 0; bit < 4; ++bit) {
        if (flags & (1u << bit))
            return bit;
    }
    return -1;
}

int ReaderChannel(const unsigned char* r)
{
    return r[REC_READER] == '0' ? 1 : 2;
}

enum Direction { DIR_ENTRY, DIR_EXIT, DIR_OTHER };

Direction ReadDirection(const unsigned char* r)
{
    if (r[REC_DIRECTION] != '0')
        return DIR_OTHER;
    if (r[REC_DIRECTION + 1] == ':')
        return DIR_ENTRY;
    if (r[REC_DIRECTION + 1] == ';')
        return DIR_EXIT;
    return DIR_OTHER;
}

std::string Chars(const unsigned char* from, int count)
{
    return std::string(reinterpret_cast<const char*>(from), static_cast<std::size_t>(count));
}

// Both kinds of card record name the direction the same way and give it the
// same reason; only their codes differ. A direction that is neither entry
// nor exit leaves the reason empty and gets otherCode, so no event is ever
// stored without a defined code.
void ApplyDirection(const unsigned char* r, int32_t entryCode, int32_t exitCode, int32_t otherCode,
                    velta36_event& event)
{
    switch (ReadDirection(r)) {
    case DIR_ENTRY:
        event.EventType = entryCode;
        event.Reason = kReasonEntry;
        break;
    case DIR_EXIT:
        event.EventType = exitCode;
        event.Reason = kReasonExit;
        break;
    case DIR_OTHER:
        event.EventType = otherCode;
        break;
    }
}

void DecodeRestrictedCard(VELTA36& device, const unsigned char* r, velta36_event& event)
{
    event.ReaderChannel = ReaderChannel(r);
    // Code 0 (shared by the power and tailgating events) is neither an
    // access nor an alarm.
    ApplyDirection(r, device.EVT_CARD_IN, device.EVT_CARD_OUT, device.EVT_TAILGATING, event);
    const int first = FirstFlagBit(r[REC_FLAGS_1]);
    if (first >= 0)
        event.Reason = kFirstFlagReasons[first];
    const int second = FirstFlagBit(r[REC_FLAGS_2]);
    if (second >= 0)
        event.Reason = kSecondFlagReasons[second];
    if (second == 0)
        event.EventType = device.EVT_TAILGATING;
    else if (second == 3)
        event.EventType = device.EVT_TIME_ZONE;
    // Direction, card digits and both flag bytes, as the controller sent them.
    event.CardNo = Chars(r + REC_DIRECTION, 8);
    velta36::JudgeEvent(device, event);
}

void DecodeUnknownCard(VELTA36& device, const unsigned char* r, velta36_event& event)
{
    event.ReaderChannel = ReaderChannel(r);
    event.EventType = device.EVT_UNKNOWN_CARD;
    event.Reason = kReasonUnknownCard;
    event.CardNo = Chars(r + REC_DIRECTION, 8);
    velta36::JudgeEvent(device, event);
}

void DecodeGrantedSwipe(VELTA36& device, const unsigned char* r, velta36_event& event)
{
    event.ReaderChannel = ReaderChannel(r);
    ApplyDirection(r, device.EVT_SWIPE_IN, device.EVT_SWIPE_OUT, device.EVT_CODE_6, event);
    event.CardNo = "0000" + Chars(r + REC_CARD, 4);
    // The door may now open legitimately; the time is that of decoding.
    velta36::JudgeEvent(device, event);
    device.lastAccessTime[event.ReaderChannel - 1] = velta36::LocalNow();
}

bool IsAccessCode(const VELTA36& device, int code)
{
    return code == device.EVT_SWIPE_IN || code == device.EVT_SWIPE_OUT || code == device.EVT_BUTTON_EXIT ||
           code == device.EVT_CODE_5 || code == device.EVT_CODE_6;
}

bool IsAlarmCode(const VELTA36& device, int code)
{
    return code == device.EVT_CODE_4 || code == device.EVT_CODE_13 || code == device.EVT_ILLEGAL_OPEN;
}

// A door reported open: an alarm unless an access came just before it.
void DecodeDoorOpened(VELTA36& device, int door, velta36_event& event)
{
    const int index = door - 1;
    const boost::posix_time::ptime& access = device.lastAccessTime[index];
    // No access recorded counts as long ago.
    const bool longAgo = access.is_special() ||
                         (velta36::LocalNow() - access).total_seconds() >= kAccessWindowSeconds;
    // A door that stands open since long is no new opening.
    if (longAgo && device.doorOpenSeen[index] == 1)
        return;
    const int last = device.lastEventType[index];
    if (IsAlarmCode(device, last))
        return;
    if (IsAccessCode(device, last)) {
        event.EventType = device.EVT_CODE_5;
    } else {
        event.EventType = device.EVT_ILLEGAL_OPEN;
        event.Reason = kReasonIllegalOpen;
    }
    velta36::JudgeEvent(device, event);
}

void DecodeDoorOrController(VELTA36& device, const unsigned char* r, velta36_event& event)
{
    const unsigned char channel = static_cast<unsigned char>(r[REC_CHANNEL] - '0');
    const unsigned char flags = r[REC_FLAGS_1];
    const unsigned char state = r[REC_FLAGS_2];
    event.CardNo = velta36::kNoCard;
    event.ReaderChannel = channel;

    if (channel == 1 || channel == 2) {
        if (state == '1') {
            DecodeDoorOpened(device, channel, event);
        } else if (state == '0') {
            event.EventType = device.EVT_ALARM_END;
            event.Reason = kReasonAlarmEnd;
            // Closed: the next opening is a new one, not a door standing open.
            velta36::JudgeEvent(device, event);
            device.doorOpenSeen[channel - 1] = 0;
        }
        return;
    }
    if (channel == 0) {
        event.EventType = device.EVT_POWER_OFF;   // code 0 also when neither bit is set
        if (flags & 0x04) {
            event.Reason = kReasonPowerOff;
        } else if (flags & 0x08) {
            event.EventType = device.EVT_POWER_ON;
            event.Reason = kReasonPowerOn;
            // The controller's clock may have started again from its
            // default: the next round sets it.
            device.clockSet = 0;
        }
        velta36::JudgeEvent(device, event);
        return;
    }
    if ((channel == 3 || channel == 4) && state == '1') {
        event.EventType = device.EVT_BUTTON_EXIT;
        event.Reason = kReasonButtonExit;
        velta36::JudgeEvent(device, event);
    }
    // Anything else (a button released, channel 5 or above, an unknown state)
    // is not an event.
}

}  // namespace

void VELTA36::DecodeEventRecord(const unsigned char* record)
{
    velta36_event event = velta36::NewDoorEvent(*this);

    const velta36::RecordClock clock = velta36::ReadRecordClock(record);
    std::cout << "tm_year:" << clock.year - 1900 << " tm_mon" << clock.month - 1 << " tm_mday:" << clock.day
              << " tm_min:" << clock.minute << " tm_hour:" << clock.hour << std::endl;
    // A record whose digits name no valid time is still kept, without a time.
    event.EventTime = velta36::ToEventTime(clock);

    if (!velta36::HasRecordTail(record))
        return;

    switch (record[REC_KIND]) {
    case '0':
        DecodeRestrictedCard(*this, record, event);
        break;
    case '1':
        DecodeUnknownCard(*this, record, event);
        break;
    case '2':
        DecodeGrantedSwipe(*this, record, event);
        break;
    case '3':
        DecodeDoorOrController(*this, record, event);
        break;
    default:
        break;   // not a kind this controller reports
    }
}
