// What every fuzz target shares: a private working directory holding a
// "ZRMDevice.db" made through the schema catalog, an event database in
// memory for targets that store many events, standard output silenced (the
// decoder logs every record), and the invariants a device must keep
// whatever bytes it was handed.
#ifndef VELTA36_FUZZ_FUZZ_RIG_H
#define VELTA36_FUZZ_FUZZ_RIG_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <odb/database.hxx>

#include "test_host.h"

namespace velta36fuzz {

// Once per process: work directory, database, quiet stdout. Safe to call
// more than once.
void Setup();

// Called after every input.
void AfterInput();

// A new handle on the event database in memory (shared by every handle of
// the process; the rig keeps it alive). The device's own store code runs on
// it unchanged, without a journal file per save: put it in place of the
// device's db before the first save. With the file on disk or tmpfs every
// save is a journaled commit, and inputs ran at a few thousand a second.
std::shared_ptr<odb::database> EventDatabase();

// Starts an input on the in-memory event table and plans which save gives
// up: with bit k of `refusals` (k = 0..7) set, the save of the event that
// follows the k-th one the input stored fails in all its attempts (the
// lowest such k that is reached); after that one save the store takes
// everything again.
void PlanRefusals(uint8_t refusals);

// Aborts (a finding) with a message when the device broke an invariant:
// receive buffer fill outside 0..4096, command length beyond its buffer,
// more records remembered of a withheld batch than it holds, more events
// waiting to be stored than the device lets wait.
void CheckDevice(const velta36test::TestHost& rig, const char* where);
// The same for every frame sent so far: none longer than a frame buffer,
// none without an address character.
void CheckSent(const velta36test::TestHost& rig, const char* where);

// Whether a frame among the host events collected is the batch
// acknowledgement "v0".
bool SentBatchAcknowledgement(const velta36test::TestHost& rig);

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
