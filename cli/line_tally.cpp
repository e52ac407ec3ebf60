#include "line_tally.h"

#include "refhost/line_frames.h"

namespace velta36cli {

namespace {

const std::size_t kRecordBytes = 23;
const std::size_t kFrameBytes = 6;   // 'A', four checksum characters, '/'
const int64_t kDoorOpenedAfterAccess = 5;
const int64_t kDoorForced = 14;

// A record of kind 3 for door 1 or 2 whose state is "opened", well ended.
bool IsDoorOpened(const std::string& r)
{
    return r[0] == '3' && (r[3] == '1' || r[3] == '2') && r[9] == '1' && r[21] == '8' && r[22] == '\n';
}

uint64_t Openings(const std::vector<std::string>& records, std::size_t from, std::size_t to)
{
    uint64_t openings = 0;
    for (std::size_t i = from; i < to; ++i)
        openings += IsDoorOpened(records[i]);
    return openings;
}

}  // namespace

void LineTally::onTraffic(const refhost::TraceRecord& record)
{
    Device& device = devices_[record.device];
    const std::string bytes(record.bytes.begin(), record.bytes.end());
    if (record.direction == refhost::TraceRecord::Direction::Sent) {
        device.received.clear();
        // '@', the address, then the command.
        if (bytes.size() >= 4 && bytes.compare(2, 2, "v0") == 0)
            device.ack = Ack::Awaited;
        return;
    }
    for (char c : bytes) {
        device.received += c;
        if (c != '/')
            continue;
        const std::size_t start = device.received.find_first_of("Ah");
        if (start != std::string::npos)
            onReply(device, device.received.substr(start));
        device.received.clear();
    }
}

void LineTally::onReply(Device& device, const std::string& frame)
{
    if (frame[0] == 'h') {
        if (device.ack == Ack::Awaited)
            device.ack = Ack::Heard;
        return;
    }
    // Event replies: whole records between 'A' and the checksum; the door
    // status reply (8 bytes) is none, nor is a reply the plug-in rejects.
    if (frame.size() < kFrameBytes || (frame.size() - kFrameBytes) % kRecordBytes != 0 ||
        frame.size() == refhost::kDoorStatusReplyBytes || !refhost::DataReplyValid(frame))
        return;
    std::vector<std::string> records;
    for (std::size_t at = 1; at + kRecordBytes + kFrameBytes - 1 <= frame.size(); at += kRecordBytes)
        records.push_back(frame.substr(at, kRecordBytes));
    // The records the last batch began with, come again.
    std::size_t again = 0;
    if (device.ack != Ack::Heard) {
        while (again < records.size() && again < device.lastBatch.size() && records[again] == device.lastBatch[again])
            ++again;
    }
    if (device.ack == Ack::Awaited) {
        // Acknowledged, stored, and sent again: judged and stored again.
        device.storedAgain += again;
        device.openingsDecoded += Openings(records, 0, again);
    }
    // Without a "v0" the batch was held back: its records are not judged
    // again; the rest are new.
    device.openingsDecoded += Openings(records, again, records.size());
    device.lastBatch = records;
    device.ack = Ack::NotSent;
}

void LineTally::onEventStored(const velta36site::DeviceIdentity& device, const velta36site::StoredEvent& row)
{
    if (device.ofThisSite() && (row.readerChannel == 1 || row.readerChannel == 2) &&
        (row.eventType == kDoorOpenedAfterAccess || row.eventType == kDoorForced))
        ++devices_[device.name].openingsStored;
}

LineTally::Counts LineTally::counts(const std::string& name) const
{
    Counts counts;
    const auto found = devices_.find(name);
    if (found == devices_.end())
        return counts;
    const Device& device = found->second;
    counts.storedAgain = device.storedAgain;
    if (device.openingsDecoded > device.openingsStored)
        counts.openingsLeftOut = device.openingsDecoded - device.openingsStored;
    return counts;
}

}  // namespace velta36cli
