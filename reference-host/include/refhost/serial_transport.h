// A serial device or pseudo-terminal as a byte line: opened raw at 8N1 with
// no flow control, locked against a second user, read by polling.
#ifndef VELTA36_REFHOST_SERIAL_TRANSPORT_H
#define VELTA36_REFHOST_SERIAL_TRANSPORT_H

#include <cstdint>
#include <stdexcept>
#include <string>

#include "refhost/transport.h"

namespace refhost {

// Why a line could not be opened or used; what() is one line a user can act on.
class SerialError : public std::runtime_error {
public:
    enum class Reason { Missing, Busy, Permission, BadBaud, Io };
    SerialError(Reason reason, const std::string& message)
        : std::runtime_error(message), reason_(reason) {}
    Reason reason() const { return reason_; }

private:
    Reason reason_;
};

// True when the rate is one termios can set (1200 ... 4000000).
bool IsStandardBaud(int32_t baud);

class SerialTransport : public Transport {
public:
    SerialTransport(std::string path, int32_t baud);
    ~SerialTransport() override;
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    void open() override;
    void close() override;
    bool isOpen() const override;
    void send(const unsigned char* data, std::size_t len) override;
    std::size_t receive(unsigned char* buf, std::size_t capacity,
                        std::chrono::milliseconds timeout) override;
    void flush() override;

    const std::string& path() const { return path_; }
    int32_t baud() const { return baud_; }

private:
    void configure();

    std::string path_;
    int32_t baud_;
    int fd_ = -1;
};

}  // namespace refhost

#endif
