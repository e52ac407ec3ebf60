// The byte line a device talks over: a serial port, a pseudo-terminal or an
// in-memory channel in tests. Kept small so the same protocol code runs over
// any of them.
#ifndef VELTA36_REFHOST_TRANSPORT_H
#define VELTA36_REFHOST_TRANSPORT_H

#include <chrono>
#include <cstddef>

namespace refhost {

class Transport {
public:
    virtual ~Transport();

    virtual void open() = 0;              // idempotent; throws on failure
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Writes one whole frame.
    virtual void send(const unsigned char* data, std::size_t len) = 0;
    // Waits up to timeout for input; returns the number of bytes stored
    // (0 when nothing arrived in time).
    virtual std::size_t receive(unsigned char* buf, std::size_t capacity,
                                std::chrono::milliseconds timeout) = 0;
    // Discards input that has arrived but not been read.
    virtual void flush() = 0;
    // Holds the line for a while before the next frame. Real lines sleep;
    // test lines record the delay instead.
    virtual void pause(std::chrono::milliseconds delay);
};

}  // namespace refhost

#endif
