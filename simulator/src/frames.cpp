#include "velta36sim/frames.h"

namespace velta36sim {

uint16_t Sum16(const Bytes& bytes, std::size_t begin, std::size_t end)
{
    uint16_t sum = 0;
    for (std::size_t i = begin; i < end && i < bytes.size(); ++i)
        sum = static_cast<uint16_t>(sum + static_cast<unsigned char>(bytes[i]));
    return sum;
}

Bytes Nibbles(uint16_t sum, char base)
{
    Bytes out(4, base);
    for (int32_t i = 0; i < 4; ++i)
        out[static_cast<std::size_t>(i)] = static_cast<char>(base + ((sum >> (12 - 4 * i)) & 0xF));
    return out;
}

Bytes CommandFrame(char address, const Bytes& command)
{
    Bytes frame = "@";
    frame += address;
    frame += command;
    frame += Nibbles(Sum16(command, 0, command.size()), '0');
    frame += '/';
    return frame;
}

Bytes EventReadFrame(char address)
{
    Bytes frame = "@";
    frame += address;
    frame += "q0;/";
    return frame;
}

Bytes Acknowledgement(char address)
{
    return Bytes("h") + address + "/";
}

Bytes Refusal(char address)
{
    return Bytes("n") + address + "/";
}

Bytes DataReply(const Bytes& payload)
{
    Bytes frame = "A" + payload;
    frame += Nibbles(Sum16(frame, 0, frame.size()), '`');
    frame += '/';
    return frame;
}

Bytes DoorStatusReply(char address, bool door1Closed, bool door2Closed)
{
    const int32_t status = (door1Closed ? 1 : 0) | (door2Closed ? 2 : 0);
    Bytes payload;
    payload += address;
    payload += static_cast<char>('0' + status);
    return DataReply(payload);
}

Bytes EventReply(const std::vector<EventRecord>& records)
{
    Bytes payload;
    for (const EventRecord& record : records)
        payload += record.Encode();
    return DataReply(payload);
}

bool DataReplyValid(const Bytes& frame)
{
    if (frame.size() < 6 || frame.front() != 'A' || frame.back() != '/')
        return false;
    const std::size_t sumEnd = frame.size() - 5;
    return frame.compare(sumEnd, 4, Nibbles(Sum16(frame, 0, sumEnd), '`')) == 0;
}

}  // namespace velta36sim
