#include "refhost/serial_transport.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace refhost {

namespace {

struct BaudEntry {
    int32_t baud;
    speed_t speed;
};

const BaudEntry kBauds[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
    {4000000, B4000000},
};

bool LookUpSpeed(int32_t baud, speed_t& speed)
{
    for (const BaudEntry& entry : kBauds) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

std::string Describe(const std::string& path, int error)
{
    return path + ": " + std::strerror(error);
}

SerialError OpenFailure(const std::string& path, int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return SerialError(SerialError::Reason::Missing, path + ": no such serial device");
    case EACCES:
    case EPERM:
        return SerialError(SerialError::Reason::Permission,
                           path + ": permission denied (is the user in the dialout group?)");
    case EBUSY:
        return SerialError(SerialError::Reason::Busy, path + ": busy (another program has it open)");
    default:
        return SerialError(SerialError::Reason::Io, Describe(path, error));
    }
}

}  // namespace

bool IsStandardBaud(int32_t baud)
{
    speed_t speed;
    return LookUpSpeed(baud, speed);
}

SerialTransport::SerialTransport(std::string path, int32_t baud, Rs485Settings rs485)
    : path_(std::move(path)), baud_(baud), rs485_(rs485)
{
}

SerialTransport::~SerialTransport()
{
    close();
}

void SerialTransport::open()
{
    if (fd_ >= 0)
        return;
    speed_t speed;
    if (!LookUpSpeed(baud_, speed))
        throw SerialError(SerialError::Reason::BadBaud,
                          path_ + ": unsupported baud rate " + std::to_string(baud_));
    const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw OpenFailure(path_, errno);
    if (!isatty(fd)) {
        ::close(fd);
        throw SerialError(SerialError::Reason::Io, path_ + ": not a serial device");
    }
    // Two programs on one line would each read half of the other's replies:
    // an advisory lock catches cooperating hosts, TIOCEXCL everybody else
    // (except root, whom the kernel lets through).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        throw OpenFailure(path_, error == EWOULDBLOCK ? EBUSY : error);
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        ::close(fd);
        throw OpenFailure(path_, error);
    }
    fd_ = fd;
    try {
        configure();
        if (rs485_.enabled)
            enableRs485();
    } catch (...) {
        close();
        throw;
    }
}

void SerialTransport::configure()
{
    termios tio;
    if (tcgetattr(fd_, &tio) != 0)
        throw SerialError(SerialError::Reason::Io, Describe(path_, errno));
    cfmakeraw(&tio);
    speed_t speed = B9600;
    LookUpSpeed(baud_, speed);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd_, TCSANOW, &tio) != 0)
        throw SerialError(SerialError::Reason::Io, Describe(path_, errno));
    tcflush(fd_, TCIOFLUSH);
}

void SerialTransport::enableRs485()
{
    // Read first, so that what the board set up (bus termination and the
    // like) stays as it was.
    serial_rs485 mode{};
    int rc = ioctl(fd_, TIOCGRS485, &mode);
    if (rc == 0) {
        mode.flags |= SER_RS485_ENABLED;
        mode.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND);
        mode.flags |= rs485_.rtsHighWhileSending ? SER_RS485_RTS_ON_SEND : SER_RS485_RTS_AFTER_SEND;
        mode.delay_rts_before_send = rs485_.delayBeforeSendMs;
        mode.delay_rts_after_send = rs485_.delayAfterSendMs;
        rc = ioctl(fd_, TIOCSRS485, &mode);
    }
    if (rc != 0) {
        // A pseudo-terminal or an adapter without the mode. A transceiver
        // that waits for driver-enable would never send, so going on
        // without it would fail silently: this is an error, not a note.
        throw SerialError(SerialError::Reason::NoRs485,
                          path_ + ": no RS-485 mode on this port (" + std::strerror(errno) +
                              "); leave out --rs485 for adapters that switch their driver themselves");
    }
}

void SerialTransport::close()
{
    if (fd_ < 0)
        return;
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);   // releases the flock too
    fd_ = -1;
}

bool SerialTransport::isOpen() const
{
    return fd_ >= 0;
}

void SerialTransport::send(const unsigned char* data, std::size_t len)
{
    if (fd_ < 0)
        open();
    std::size_t done = 0;
    while (done < len) {
        const ssize_t n = ::write(fd_, data + done, len - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Output queue full: wait until the line takes more, but not
            // forever, since a wedged adapter must not hang the host.
            pollfd pfd = {fd_, POLLOUT, 0};
            const int ready = ::poll(&pfd, 1, 2000);
            if (ready == 0)
                throw SerialError(SerialError::Reason::Io, path_ + ": write timed out");
            if (ready < 0 && errno != EINTR)
                throw SerialError(SerialError::Reason::Io, Describe(path_, errno));
            continue;
        }
        throw SerialError(SerialError::Reason::Io, Describe(path_, n < 0 ? errno : EIO));
    }
}

std::size_t SerialTransport::receive(unsigned char* buf, std::size_t capacity,
                                     std::chrono::milliseconds timeout)
{
    if (fd_ < 0)
        open();
    if (capacity == 0)
        return 0;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd pfd = {fd_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            throw SerialError(SerialError::Reason::Io, Describe(path_, errno));
        }
        if (ready == 0)
            return 0;
        const ssize_t n = ::read(fd_, buf, capacity);
        if (n > 0)
            return static_cast<std::size_t>(n);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        // A hang-up (adapter unplugged, the far end of a pseudo-terminal
        // gone) reads as EOF or EIO: the line is dead, say so.
        throw SerialError(SerialError::Reason::Io,
                          path_ + ": line closed" + (n < 0 ? std::string(" (") + std::strerror(errno) + ")" : ""));
    }
}

void SerialTransport::flush()
{
    if (fd_ < 0)
        return;
    tcflush(fd_, TCIFLUSH);
    // Bytes the driver had not yet moved into the queue arrive a moment
    // later on some adapters; read away whatever is there now.
    unsigned char scratch[256];
    while (::read(fd_, scratch, sizeof(scratch)) > 0) {
    }
}

}  // namespace refhost
