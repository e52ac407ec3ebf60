// One configured VELTA36 on a host whose line goes nowhere, fed the replies
// of a steady drain: a door-status reply, a full event reply (10 records,
// every one of which becomes a row) and the acknowledgement of "v0". Each
// call puts the device in the state that awaits the reply, hands the reply
// to process in one chunk and checks what the device did, so that a
// benchmark cannot time a path that silently went wrong.
//
// The device opens "ZRMDevice.db" in the working directory: create it first.
#ifndef VELTA36_BENCH_DECODE_RIG_H
#define VELTA36_BENCH_DECODE_RIG_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "refhost/device_host.h"
#include "refhost/transport.h"
#include "velta36.h"

namespace velta36bench {

// A line that takes every frame and answers nothing; it keeps only the last
// frame, so a long run does not grow.
class NullTransport : public refhost::Transport {
public:
    void open() override { open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void send(const unsigned char* data, std::size_t len) override;
    std::size_t receive(unsigned char*, std::size_t, std::chrono::milliseconds) override { return 0; }
    void flush() override {}

    const std::string& lastFrame() const { return last_; }
    uint64_t frames() const { return frames_; }

private:
    bool open_ = false;
    std::string last_;
    uint64_t frames_ = 0;
};

class DecodeRig {
public:
    static const int kRecordsPerReply = 10;

    DecodeRig();
    DecodeRig(const DecodeRig&) = delete;
    DecodeRig& operator=(const DecodeRig&) = delete;

    // Each returns an empty string when the device answered as it should,
    // otherwise what went wrong.
    std::string EventReply();    // 10 records stored, "v0" sent
    std::string StatusReply();   // door flags set, event read sent
    std::string Acknowledgement();   // ack of a full batch: event read sent
    // A full event reply that cannot be stored: no "v0", the round ends.
    std::string WithheldReply();

    std::size_t eventReplyBytes() const { return eventReply_.size(); }

private:
    std::string Feed(std::vector<unsigned char>& frame, int state, int expectedResult,
                     int expectedState, const char* expectedPrefix);

    NullTransport transport_;
    refhost::DeviceHost host_;
    std::unique_ptr<VELTA36> device_;
    std::vector<unsigned char> eventReply_;
    std::vector<unsigned char> statusReply_;
    std::vector<unsigned char> ack_;
};

// Rows of velta36_event in "ZRMDevice.db" of the working directory; -1 when
// they cannot be counted.
long long CountEventRows();

}  // namespace velta36bench

#endif
