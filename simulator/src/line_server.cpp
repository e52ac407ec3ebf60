#include "velta36sim/line_server.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace velta36sim {

namespace {

const int kPollMs = 20;   // how soon Stop() is noticed

[[noreturn]] void ThrowErrno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// No echo, no line editing, no translation: the line carries bytes.
void MakeRaw(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        ThrowErrno("tcgetattr");
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    tio.c_cflag |= CS8;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        ThrowErrno("tcsetattr");
}

}  // namespace

int64_t TransmitMicroseconds(std::size_t bytes, int32_t baud)
{
    if (baud <= 0)
        return 0;
    return static_cast<int64_t>(bytes) * 10 * 1000000 / baud;
}

LineServer::LineServer(SharedLine& line, const ServerOptions& options)
    : line_(line), options_(options)
{
    if (!options_.sleep) {
        options_.sleep = [](int64_t microseconds) {
            std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
        };
    }
}

LineServer::~LineServer()
{
    Stop();
}

std::string LineServer::StartPty()
{
    if (running_)
        throw std::logic_error("line server already running");
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        ThrowErrno("posix_openpt");
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        const int saved = errno;
        ::close(master);
        errno = saved;
        ThrowErrno("grantpt/unlockpt");
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        const int saved = errno;
        ::close(master);
        errno = saved;
        ThrowErrno("ptsname_r");
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) {
        const int saved = errno;
        ::close(master);
        errno = saved;
        ThrowErrno("open pty slave");
    }
    try {
        MakeRaw(slave);
    } catch (...) {
        ::close(slave);
        ::close(master);
        throw;
    }
    ownedMaster_ = master;
    ownedSlave_ = slave;
    ptyPath_ = name;
    StartFd(master);
    return ptyPath_;
}

void LineServer::StartFd(int fd)
{
    if (running_)
        throw std::logic_error("line server already running");
    fd_ = fd;
    stop_ = false;
    running_ = true;
    thread_ = std::thread([this] { Serve(); });
}

void LineServer::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    running_ = false;
    if (ownedSlave_ >= 0)
        ::close(ownedSlave_);
    if (ownedMaster_ >= 0)
        ::close(ownedMaster_);
    ownedSlave_ = -1;
    ownedMaster_ = -1;
}

void LineServer::Serve()
{
    char buffer[256];
    while (!stop_) {
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, kPollMs);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (!(pfd.revents & POLLIN)) {
            // Hang-up or error without data: the other side is gone for now.
            if (pfd.revents & POLLNVAL)
                break;
            // A real wait, whatever sleep was injected for pacing: this is
            // no time on the line, only a pause before looking again.
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EIO))
            continue;
        if (got <= 0)
            break;
        if (options_.tap)
            options_.tap(TapDirection::ToControllers, buffer, static_cast<std::size_t>(got));
        const std::vector<Bytes> chunks = line_.Feed(buffer, static_cast<std::size_t>(got));
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            if (i > 0 && options_.baud <= 0)
                options_.sleep(options_.chunkGapMicroseconds);
            if (options_.tap)
                options_.tap(TapDirection::FromControllers, chunks[i].data(), chunks[i].size());
            WriteAll(chunks[i]);
        }
    }
    running_ = false;
}

void LineServer::WriteAll(const Bytes& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size() && !stop_) {
        // Paced: one byte at a time, each after its time on the line.
        const std::size_t step = options_.baud > 0 ? 1 : bytes.size() - done;
        const ssize_t wrote = ::write(fd_, bytes.data() + done, step);
        if (wrote < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                options_.sleep(1000);
                continue;
            }
            return;   // the reader is gone; the reply is lost like on a cut line
        }
        const std::size_t before = done;
        done += static_cast<std::size_t>(wrote);
        // Differences of the running total, so that rounding does not add up.
        if (options_.baud > 0)
            options_.sleep(TransmitMicroseconds(done, options_.baud) -
                           TransmitMicroseconds(before, options_.baud));
    }
}

}  // namespace velta36sim
