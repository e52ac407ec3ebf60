// Frames as the controller and the plug-in put them on the line, built
// independently of the plug-in's own framing code so that tests compare
// against a second implementation:
//
//   CommandFrame("{")        -> "@0{007;/"   (what the plug-in sends)
//   DataFrame("03")          -> "A03``jd/"   (a controller data reply)
//   Ack()                    -> "h/"         (a controller acknowledgement)
//   EventRecord({...})       -> one 23-byte stored-event record; an event
//                               reply is DataFrame(record1 + record2 + ...)
#ifndef VELTA36_TESTS_SUPPORT_FRAMES_H
#define VELTA36_TESTS_SUPPORT_FRAMES_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velta36test {

namespace detail {

inline std::string Nibbles(uint16_t sum, char base)
{
    std::string out;
    for (int shift = 12; shift >= 0; shift -= 4)
        out += static_cast<char>(((sum >> shift) & 0xF) + base);
    return out;
}

inline uint16_t Sum(const std::string& bytes)
{
    uint16_t sum = 0;
    for (unsigned char byte : bytes)
        sum = static_cast<uint16_t>(sum + byte);
    return sum;
}

inline std::string TwoDigits(int value, const char* field)
{
    if (value < 0 || value > 99)
        throw std::invalid_argument(std::string("EventRecord: ") + field + " needs two digits");
    return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

}  // namespace detail

// A controller data frame: "A", payload, the 16-bit sum of "A" and payload
// as four nibble characters from '`' (0x60), "/".
inline std::string DataFrame(const std::string& payload)
{
    const std::string body = "A" + payload;
    return body + detail::Nibbles(detail::Sum(body), 0x60) + "/";
}

// A controller acknowledgement: "h", anything, "/".
inline std::string Ack(const std::string& body = "")
{
    return "h" + body + "/";
}

// A command frame as the plug-in sends it: "@", address character, command,
// the 16-bit sum of the command bytes as four nibble characters from '0',
// "/".
inline std::string CommandFrame(const std::string& command, char address = '0')
{
    return std::string("@") + address + command + detail::Nibbles(detail::Sum(command), 0x30) + "/";
}

// Fields of one 23-byte event record, with the defaults of a granted entry
// swipe of card 1234 on reader 1 at 14:07 on 5 March 2024. For kind '3'
// (door, button, controller) the channel digit is the second direction
// byte: direction "01" is door 1, "03" exit button 3, "00" the controller,
// and flag2 is the state character ('1' opened/active, '0' closed/ended).
struct EventRecordFields {
    char kind = '2';               // '0' flags, '1' unknown card, '2' granted, '3' door
    char reader = '0';             // '0' reader 1, anything else reader 2
    std::string direction = "0:";  // "0:" entry, "0;" exit (2 bytes)
    std::string card = "1234";     // card digits (4 bytes)
    char flag1 = '0';              // first flag byte, bits tested on the raw byte
    char flag2 = '0';              // second flag byte / state character
    int hour = 14;
    int minute = 7;
    int day = 5;
    char spare = '0';              // the unused byte 16
    int month = 3;
    int year = 2024;               // written as year - 2000
    char tail = '8';
    char end = '\n';
};

// The 23 bytes of a record. Throws std::invalid_argument when a field does
// not fit its width (so a malformed record is always deliberate).
inline std::string EventRecord(const EventRecordFields& f)
{
    if (f.direction.size() != 2)
        throw std::invalid_argument("EventRecord: direction needs 2 bytes");
    if (f.card.size() != 4)
        throw std::invalid_argument("EventRecord: card needs 4 bytes");
    std::string record;
    record += f.kind;
    record += f.reader;
    record += f.direction;
    record += f.card;
    record += f.flag1;
    record += f.flag2;
    record += detail::TwoDigits(f.hour, "hour");
    record += detail::TwoDigits(f.minute, "minute");
    record += detail::TwoDigits(f.day, "day");
    record += f.spare;
    record += detail::TwoDigits(f.month, "month");
    record += detail::TwoDigits(f.year - 2000, "year - 2000");
    record += f.tail;
    record += f.end;
    return record;
}

// The bytes of a string, and back (frames travel as unsigned char vectors).
inline std::vector<unsigned char> Bytes(const std::string& text)
{
    return std::vector<unsigned char>(text.begin(), text.end());
}
inline std::string Text(const std::vector<unsigned char>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace velta36test

#endif
