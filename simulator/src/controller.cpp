#include "velta36sim/controller.h"

#include <algorithm>

namespace velta36sim {

namespace {

bool AllDigits(const std::string& text, std::size_t begin, std::size_t count)
{
    if (begin + count > text.size())
        return false;
    for (std::size_t i = begin; i < begin + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    return true;
}

int32_t TwoDigits(const std::string& text, std::size_t at)
{
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

Controller::Controller(int32_t address, int32_t doors, const Clock& clock, const CivilTime& initialTime)
    : address_(AddressChar(address)),
      doors_(doors),
      clock_(clock),
      clockBaseSeconds_(ToSeconds(initialTime)),
      clockBaseMs_(clock.NowMs())
{
}

bool Controller::IsAcknowledged(const Command& command)
{
    return !command.eventRead && command.body != "{";
}

Reply Controller::Ack() const
{
    return Reply{ReplyKind::Acknowledgement, Acknowledgement(address_)};
}

Reply Controller::Refuse() const
{
    return Reply{ReplyKind::Refusal, Refusal(address_)};
}

Reply Controller::Handle(const Command& command)
{
    if (command.eventRead)
        return HandleEventRead();
    const std::string& body = command.body;
    if (body == "{")
        return Reply{ReplyKind::Data, DoorStatusReply(address_, !doorOpen_[0], !doorOpen_[1])};
    if (body == "v0") {
        // Only now is the batch handed out last deleted.
        queue_.erase(queue_.begin(), queue_.begin() + outstanding_);
        counts_.acknowledged += static_cast<uint64_t>(outstanding_);
        outstanding_ = 0;
        delivered_ = 0;
        ackMissed_ = false;
        return Ack();
    }
    if (body == "v3")
        return Ack();
    if (StartsWith(body, "01"))
        return HandleClockSet(body);
    if (body.size() == 4 && (StartsWith(body, "220") || StartsWith(body, "230")))
        return HandleDoorCommand(body);
    bool handled = false;
    Reply reply = HandleCardCommand(body, handled);
    if (handled)
        return reply;
    configuration_.push_back(body);
    return Ack();
}

Reply Controller::HandleEventRead()
{
    const int32_t count = static_cast<int32_t>(std::min<std::size_t>(queue_.size(), kBatchSize));
    // Records of a batch that was never acknowledged lead the new one again.
    counts_.resent += static_cast<uint64_t>(std::min(outstanding_, count));
    lastRepeated_ = std::min(delivered_, count);
    lastRepeatedAfterAck_ = ackMissed_;
    (ackMissed_ ? counts_.resentAfterLostAck : counts_.resentWithheld) += static_cast<uint64_t>(lastRepeated_);
    ackMissedBefore_ = ackMissed_;
    ackMissed_ = false;
    deliveredBefore_ = delivered_;
    delivered_ = count;
    std::vector<EventRecord> batch(queue_.begin(), queue_.begin() + count);
    outstanding_ = count;
    counts_.handedOut += static_cast<uint64_t>(count);
    return Reply{ReplyKind::Data, EventReply(batch)};
}

void Controller::NoteLastBatchLost()
{
    (lastRepeatedAfterAck_ ? counts_.resentAfterLostAck : counts_.resentWithheld) -=
        static_cast<uint64_t>(lastRepeated_);
    lastRepeated_ = 0;
    delivered_ = std::min(deliveredBefore_, outstanding_);
    // The driver's view is as before the lost hand-out.
    ackMissed_ = ackMissedBefore_;
}

void Controller::NoteAcknowledgementMissed()
{
    if (outstanding_ > 0)
        ackMissed_ = true;
}

Reply Controller::HandleClockSet(const std::string& body)
{
    // "01" hh mm DD MM YY w
    if (body.size() != 13 || !AllDigits(body, 2, 11))
        return Refuse();
    CivilTime t;
    t.hour = TwoDigits(body, 2);
    t.minute = TwoDigits(body, 4);
    t.day = TwoDigits(body, 6);
    t.month = TwoDigits(body, 8);
    t.year = 2000 + TwoDigits(body, 10);
    t.second = 0;
    const int32_t weekday = body[12] - '0';
    if (!IsValid(t) || weekday < 1 || weekday > 7)
        return Refuse();
    clockBaseSeconds_ = ToSeconds(t);
    clockBaseMs_ = clock_.NowMs();
    clockSet_ = true;
    return Ack();
}

Reply Controller::HandleDoorCommand(const std::string& body)
{
    const int32_t door = body[3] - '0';
    if (door < 1 || door > doors_)
        return Refuse();
    doorOpen_[door - 1] = body[1] == '2';   // "220d" opens, "230d" closes
    return Ack();
}

Reply Controller::HandleCardCommand(const std::string& body, bool& handled)
{
    // Card commands: code, then a four-digit slot, then the value.
    struct Shape {
        const char* code;
        std::size_t length;
    };
    static const Shape kShapes[] = {{"09", 14}, {"35", 12}, {"33", 8}, {"36", 8}, {"16", 7}, {"17", 7}};
    const Shape* shape = nullptr;
    for (const Shape& candidate : kShapes) {
        if (StartsWith(body, candidate.code))
            shape = &candidate;
    }
    // "16..." and "17..." of other lengths are not card commands.
    if (shape == nullptr || (body.size() != shape->length && shape->length == 7)) {
        handled = false;
        return Reply();
    }
    handled = true;
    if (body.size() != shape->length || !AllDigits(body, 2, 4))
        return Refuse();
    const int32_t slot = std::stoi(body.substr(2, 4));
    const std::string value = body.substr(6);
    const std::string code = shape->code;
    if ((code == "35" && !AllDigits(value, 0, 6)) ||
        ((code == "16" || code == "17") && value != "0" && value != "1"))
        return Refuse();

    CardSlot& entry = cards_[slot];
    if (code == "09")
        entry.code = value;
    else if (code == "35")
        entry.endDate = value;
    else if (code == "33")
        entry.setting33 = value;
    else if (code == "36")
        entry.setting36 = value;
    else if (code == "16")
        entry.door1 = value == "1";
    else
        entry.door2 = value == "1";
    return Ack();
}

void Controller::StoreEvent(const EventRecord& record)
{
    queue_.push_back(record);
    ++counts_.stored;
}

void Controller::StoreEvents(const std::vector<EventRecord>& records)
{
    for (const EventRecord& record : records)
        StoreEvent(record);
}

bool Controller::DoorOpen(int32_t door) const
{
    return door >= 1 && door <= 2 && doorOpen_[door - 1];
}

void Controller::SetDoorOpen(int32_t door, bool open)
{
    if (door >= 1 && door <= doors_)
        doorOpen_[door - 1] = open;
}

CivilTime Controller::Now() const
{
    const int64_t elapsedMs = clock_.NowMs() - clockBaseMs_;
    return FromSeconds(clockBaseSeconds_ + elapsedMs / 1000);
}

}  // namespace velta36sim
