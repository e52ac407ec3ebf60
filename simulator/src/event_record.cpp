#include "velta36sim/event_record.h"

namespace velta36sim {

namespace {

void PutTwoDigits(std::string& out, std::size_t at, int32_t value)
{
    out[at] = static_cast<char>('0' + value / 10 % 10);
    out[at + 1] = static_cast<char>('0' + value % 10);
}

std::string FourDigits(uint16_t value)
{
    std::string digits(4, '0');
    digits[0] = static_cast<char>('0' + value / 1000 % 10);
    digits[1] = static_cast<char>('0' + value / 100 % 10);
    digits[2] = static_cast<char>('0' + value / 10 % 10);
    digits[3] = static_cast<char>('0' + value % 10);
    return digits;
}

const char* const kFlag1Reasons[4] = {
    "防反潜限制", "卡在读卡器上无效", "site code not ok", "控制器不允许（有效期、信用度）"};

EventRecord CardRecord(RecordKind kind, int32_t reader, bool entry, uint16_t card, const CivilTime& t)
{
    EventRecord r;
    r.kind = kind;
    r.reader = reader;
    r.entry = entry;
    r.card = card;
    r.time = t;
    return r;
}

EventRecord ChannelRecord(int32_t channel, bool active, uint8_t flags1, const CivilTime& t)
{
    EventRecord r;
    r.kind = RecordKind::DoorOrController;
    r.channel = channel;
    r.active = active;
    r.flags1 = flags1;
    r.time = t;
    return r;
}

}  // namespace

EventRecord EventRecord::GrantedSwipe(int32_t reader, bool entry, uint16_t card, const CivilTime& t)
{
    return CardRecord(RecordKind::GrantedSwipe, reader, entry, card, t);
}

EventRecord EventRecord::RefusedCard(int32_t reader, bool entry, uint16_t card,
                                     uint8_t flags1, uint8_t flags2, const CivilTime& t)
{
    EventRecord r = CardRecord(RecordKind::RefusedCard, reader, entry, card, t);
    r.flags1 = flags1 & 0xF;
    r.flags2 = flags2 & 0xF;
    return r;
}

EventRecord EventRecord::UnknownCard(int32_t reader, bool entry, uint16_t card, const CivilTime& t)
{
    return CardRecord(RecordKind::UnknownCard, reader, entry, card, t);
}

EventRecord EventRecord::ExitButton(int32_t button, const CivilTime& t)
{
    return ChannelRecord(button == 2 ? kChannelExitButton2 : kChannelExitButton1, true, 0, t);
}

EventRecord EventRecord::DoorOpened(int32_t door, const CivilTime& t)
{
    return ChannelRecord(door == 2 ? kChannelDoor2 : kChannelDoor1, true, 0, t);
}

EventRecord EventRecord::DoorClosed(int32_t door, const CivilTime& t)
{
    return ChannelRecord(door == 2 ? kChannelDoor2 : kChannelDoor1, false, 0, t);
}

EventRecord EventRecord::PowerOff(const CivilTime& t)
{
    return ChannelRecord(kChannelController, true, kFlag1PowerOff, t);
}

EventRecord EventRecord::PowerOn(const CivilTime& t)
{
    return ChannelRecord(kChannelController, true, kFlag1PowerOn, t);
}

std::string EventRecord::Encode() const
{
    std::string r(kRecordSize, '0');
    r[0] = static_cast<char>(kind);
    if (kind == RecordKind::DoorOrController) {
        r[3] = static_cast<char>('0' + channel);
        r[8] = static_cast<char>('0' + (flags1 & 0xF));
        r[9] = active ? '1' : '0';
    } else {
        r[1] = reader == 1 ? '0' : '1';
        r[3] = entry ? ':' : ';';
        r.replace(4, 4, FourDigits(card));
        r[8] = static_cast<char>('0' + (flags1 & 0xF));
        r[9] = static_cast<char>('0' + (flags2 & 0xF));
    }
    PutTwoDigits(r, 10, time.hour);
    PutTwoDigits(r, 12, time.minute);
    PutTwoDigits(r, 14, time.day);
    PutTwoDigits(r, 17, time.month);
    PutTwoDigits(r, 19, time.year - 2000);
    r[21] = '8';
    r[22] = '\n';
    return r;
}

bool EventRecord::TrackingIndependent() const
{
    if (kind != RecordKind::DoorOrController)
        return true;
    switch (channel) {
    case kChannelController:
        return (flags1 & (kFlag1PowerOff | kFlag1PowerOn)) != 0;
    case kChannelDoor1:
    case kChannelDoor2:
        return !active;   // closings only; openings depend on earlier events
    case kChannelExitButton1:
    case kChannelExitButton2:
        return active;    // a released button is not stored at all
    default:
        return false;
    }
}

bool ExpectedRow::operator==(const ExpectedRow& other) const
{
    return readerChannel == other.readerChannel && eventType == other.eventType &&
           cardNo == other.cardNo && reason == other.reason && eventTime == other.eventTime;
}

ExpectedRow ExpectedRowFor(const EventRecord& record)
{
    const std::string bytes = record.Encode();
    ExpectedRow row;
    row.eventTime = record.time;
    row.eventTime.second = 0;

    switch (record.kind) {
    case RecordKind::GrantedSwipe:
        row.readerChannel = record.reader == 1 ? 1 : 2;
        row.eventType = record.entry ? 1 : 2;
        row.reason = record.entry ? "刷卡进门成功" : "刷卡出门成功";
        row.cardNo = "0000" + bytes.substr(4, 4);
        break;
    case RecordKind::RefusedCard:
        row.readerChannel = record.reader == 1 ? 1 : 2;
        row.eventType = record.entry ? 10 : 11;
        row.reason = record.entry ? "刷卡进门成功" : "刷卡出门成功";
        for (int32_t bit = 0; bit < 4; ++bit) {
            if (record.flags1 & (1U << bit)) {
                row.reason = kFlag1Reasons[bit];
                break;
            }
        }
        if (record.flags2 & kFlag2Tailgating) {
            row.eventType = 0;
            row.reason = "防尾随限制";
        } else if (record.flags2 & kFlag2WrongPin) {
            row.reason = "错误的密码";
        } else if (record.flags2 & kFlag2DoorNoAnswer) {
            row.reason = "门无应答";
        } else if (record.flags2 & kFlag2TimeZone) {
            row.eventType = 15;
            row.reason = "通行时区限制";
        }
        row.cardNo = bytes.substr(2, 8);
        break;
    case RecordKind::UnknownCard:
        row.readerChannel = record.reader == 1 ? 1 : 2;
        row.eventType = 12;
        row.reason = "未知卡";
        row.cardNo = bytes.substr(2, 8);
        break;
    case RecordKind::DoorOrController:
        row.readerChannel = record.channel;
        row.cardNo = "00000000";
        if (record.channel == kChannelController) {
            row.eventType = 0;
            row.reason = (record.flags1 & kFlag1PowerOff) ? "控制器断电" : "控制器上电";
        } else if (record.channel == kChannelDoor1 || record.channel == kChannelDoor2) {
            row.eventType = 9;
            row.reason = "告警结束";
        } else {
            row.eventType = 3;
            row.reason = "按钮出门";
        }
        break;
    }
    return row;
}

}  // namespace velta36sim
