// Cuts the byte stream of the line into command frames: from an '@' to the
// next '/', checked for the wanted address and the command checksum.
// Bytes outside frames are skipped; a frame for another address or with a
// bad checksum is dropped without a word, so several controllers can
// listen on one line.
#ifndef VELTA36SIM_COMMAND_ASSEMBLER_H
#define VELTA36SIM_COMMAND_ASSEMBLER_H

#include <cstdint>
#include <string>
#include <vector>

#include "velta36sim/controller.h"

namespace velta36sim {

// The longest command frame: 57 command bytes plus 7.
const std::size_t kMaxCommandFrame = 64;

class CommandAssembler {
public:
    explicit CommandAssembler(char address) : address_(address) {}

    // Returns the commands for this address completed by the bytes.
    std::vector<Command> Feed(const char* data, std::size_t length);

    // Frames for this address that failed the checksum (or were no frame).
    uint64_t Rejected() const { return rejected_; }

private:
    void Complete(std::vector<Command>& out);

    char address_;
    std::string pending_;   // from the '@' on; empty outside a frame
    uint64_t rejected_ = 0;
};

}  // namespace velta36sim

#endif
