// What every fuzz target shares: a private working directory holding a
// "ZRMDevice.db" made through the schema catalog (the device saves its events
// there), standard output silenced (the decoder logs every record), and the
// invariants a device must keep whatever bytes it was handed.
#ifndef VELTA36_FUZZ_FUZZ_RIG_H
#define VELTA36_FUZZ_FUZZ_RIG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "test_host.h"

namespace velta36fuzz {

// Once per process: work directory, database, quiet stdout. Safe to call
// more than once.
void Setup();

// Called after every input: now and then empties the event table so the
// database file stays small over millions of inputs.
void AfterInput();

// Aborts (a finding) with a message when the device broke an invariant:
// receive buffer fill outside 0..4096 or command length beyond its buffer.
void CheckDevice(const velta36test::TestHost& rig, const char* where);
// The same for every frame sent so far: none longer than a frame buffer.
void CheckSent(const velta36test::TestHost& rig, const char* where);

// Aborts with the message when the condition does not hold.
void Require(bool condition, const char* what, const char* where);

// Reads input bytes front to back; past the end it yields zeros.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    size_t remaining() const { return size_ - pos_; }
    // Up to n bytes (fewer at the end).
    std::vector<unsigned char> take(size_t n)
    {
        if (n > remaining())
            n = remaining();
        std::vector<unsigned char> out(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return out;
    }
    std::vector<unsigned char> rest() { return take(remaining()); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace velta36fuzz

#endif
