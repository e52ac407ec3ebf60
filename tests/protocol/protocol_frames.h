// Event records and replies for the protocol tests. Commands, data frames
// and acknowledgements come from the shared support builders; records are
// written here as raw text so that tests can put any byte into any field
// (letters in the time digits, a carriage return in the tail).
#ifndef VELTA36_TESTS_PROTOCOL_PROTOCOL_FRAMES_H
#define VELTA36_TESTS_PROTOCOL_PROTOCOL_FRAMES_H

#include <string>
#include <vector>

#include "frames.h"

namespace frames {

inline std::string Command(const std::string& command) { return velta36test::CommandFrame(command); }
inline std::string DataFrame(const std::string& payload) { return velta36test::DataFrame(payload); }
inline std::string Ack() { return velta36test::Ack(); }

// One 23-byte event record: head is bytes 0..9 (kind, reader, direction or
// channel, card digits, two flag bytes); the time fields and the tail follow.
std::string Record(const std::string& head, const std::string& hour = "12", const std::string& minute = "07",
                   const std::string& day = "05", const std::string& month = "03",
                   const std::string& year = "24", const std::string& tail = "8\n");

std::string EventReply(const std::vector<std::string>& records);

// n granted entry swipes on reader 1, card digits 1000 + i.
std::vector<std::string> Swipes(int n);

}  // namespace frames

#endif
