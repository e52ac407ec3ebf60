#include "velta36sim/command_assembler.h"

#include "velta36sim/frames.h"

namespace velta36sim {

namespace {

enum class Check { Valid, Invalid };

// Checks the frame that starts at `at` and runs to the end of `frame`.
Check CheckFrame(const std::string& frame, std::size_t at, Command& command)
{
    const std::size_t length = frame.size() - at;
    if (length < 6)
        return Check::Invalid;
    command.address = frame[at + 1];
    if (length == 6 && frame.compare(at + 2, 4, "q0;/") == 0) {
        command.eventRead = true;
        command.body = "q0;";
        return Check::Valid;
    }
    if (length < 7)
        return Check::Invalid;
    const std::size_t bodyBegin = at + 2;
    const std::size_t bodyEnd = frame.size() - 5;
    const Bytes expected = Nibbles(Sum16(frame, bodyBegin, bodyEnd), '0');
    if (frame.compare(bodyEnd, 4, expected) != 0)
        return Check::Invalid;
    command.eventRead = false;
    command.body = frame.substr(bodyBegin, bodyEnd - bodyBegin);
    return Check::Valid;
}

}  // namespace

std::vector<Command> CommandAssembler::Feed(const char* data, std::size_t length)
{
    std::vector<Command> out;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (pending_.empty()) {
            if (c == '@')
                pending_ = c;
            continue;   // garbage between frames
        }
        pending_ += c;
        if (c == '/') {
            Complete(out);
            pending_.clear();
        } else if (pending_.size() > kMaxCommandFrame) {
            // Too long for any command: start again at the next '@', if any.
            const std::size_t next = pending_.find('@', 1);
            pending_ = next == std::string::npos ? std::string() : pending_.substr(next);
        }
    }
    return out;
}

void CommandAssembler::Complete(std::vector<Command>& out)
{
    // An '@' inside garbage may have opened the frame too early: try each
    // '@' in turn until one starts a valid frame.
    for (std::size_t at = 0; at != std::string::npos; at = pending_.find('@', at + 1)) {
        Command command;
        if (CheckFrame(pending_, at, command) == Check::Valid) {
            if (command.address == address_)
                out.push_back(command);
            return;   // a good frame, ours or another controller's
        }
    }
    if (pending_.size() > 1 && pending_[1] == address_)
        ++rejected_;
}

}  // namespace velta36sim
