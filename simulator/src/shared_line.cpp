#include "velta36sim/shared_line.h"

#include <stdexcept>

namespace velta36sim {

SimulatedController& SharedLine::Add(const ControllerOptions& options)
{
    if (options.doors != 1 && options.doors != 2)
        throw std::invalid_argument("a controller has 1 or 2 doors");
    // The address travels as the character '0' + address, in 8 bits.
    if (options.address < 0 || options.address > 0xFF - '0')
        throw std::invalid_argument("address " + std::to_string(options.address) + " is out of range (0 to 207)");
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : controllers_) {
        if (entry.first == options.address)
            throw std::invalid_argument("two controllers with address " + std::to_string(options.address));
    }
    controllers_.emplace_back(options.address, std::make_unique<SimulatedController>(options, clock_));
    return *controllers_.back().second;
}

std::vector<Bytes> SharedLine::Feed(const char* data, std::size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Bytes> out;
    // Every frame ends with '/': handing the bytes over one frame end at a
    // time keeps the replies in the order of the frames they answer.
    std::size_t begin = 0;
    while (begin < length) {
        std::size_t end = begin;
        while (end < length && data[end] != '/')
            ++end;
        end = end < length ? end + 1 : length;
        for (auto& entry : controllers_) {
            for (Bytes& chunk : entry.second->Feed(data + begin, end - begin))
                out.push_back(std::move(chunk));
        }
        begin = end;
    }
    return out;
}

bool SharedLine::With(int32_t address, const std::function<void(SimulatedController&)>& fn)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : controllers_) {
        if (entry.first == address) {
            fn(*entry.second);
            return true;
        }
    }
    return false;
}

std::vector<int32_t> SharedLine::Addresses() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int32_t> addresses;
    for (const auto& entry : controllers_)
        addresses.push_back(entry.first);
    return addresses;
}

Statistics SharedLine::Stats(int32_t address) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : controllers_) {
        if (entry.first == address)
            return entry.second->Stats();
    }
    return Statistics();
}

Statistics SharedLine::TotalStats() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statistics total;
    for (const auto& entry : controllers_)
        total = total + entry.second->Stats();
    return total;
}

Statistics operator+(const Statistics& a, const Statistics& b)
{
    Statistics s;
    s.framesHeard = a.framesHeard + b.framesHeard;
    s.framesRejected = a.framesRejected + b.framesRejected;
    s.events.stored = a.events.stored + b.events.stored;
    s.events.handedOut = a.events.handedOut + b.events.handedOut;
    s.events.acknowledged = a.events.acknowledged + b.events.acknowledged;
    s.events.resent = a.events.resent + b.events.resent;
    s.events.resentAfterLostAck = a.events.resentAfterLostAck + b.events.resentAfterLostAck;
    s.faults.splitReplies = a.faults.splitReplies + b.faults.splitReplies;
    s.faults.noiseBursts = a.faults.noiseBursts + b.faults.noiseBursts;
    s.faults.corruptedChecksums = a.faults.corruptedChecksums + b.faults.corruptedChecksums;
    s.faults.refusedCommands = a.faults.refusedCommands + b.faults.refusedCommands;
    s.faults.droppedReplies = a.faults.droppedReplies + b.faults.droppedReplies;
    s.faults.lostCommands = a.faults.lostCommands + b.faults.lostCommands;
    return s;
}

}  // namespace velta36sim
