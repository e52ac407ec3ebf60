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
    enum class Reason { Missing, Busy, Permission, BadBaud, Io, NoRs485 };
    SerialError(Reason reason, const std::string& message)
        : std::runtime_error(message), reason_(reason) {}
    Reason reason() const { return reason_; }

private:
    Reason reason_;
};

// True when the rate is one termios can set (1200 ... 4000000).
bool IsStandardBaud(int32_t baud);

// The kernel's RS-485 mode (TIOCSRS485), for on-board UARTs whose
// transceiver needs its driver enabled while sending: the UART drives RTS
// to one level for the length of each send and back afterwards, with the
// delays given around it. USB adapters switch their driver themselves.
struct Rs485Settings {
    bool enabled = false;
    bool rtsHighWhileSending = true;
    uint32_t delayBeforeSendMs = 0;
    uint32_t delayAfterSendMs = 0;
};
// The kernel caps both delays at this.
const uint32_t kMaxRs485DelayMs = 100;

class SerialTransport : public Transport {
public:
    SerialTransport(std::string path, int32_t baud, Rs485Settings rs485 = Rs485Settings());
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
    void enableRs485();

    std::string path_;
    int32_t baud_;
    Rs485Settings rs485_;
    int fd_ = -1;
};

}  // namespace refhost

#endif
