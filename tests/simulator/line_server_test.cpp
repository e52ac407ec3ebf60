// The simulator behind real descriptors: a pseudo-terminal, a socket pair
// with paced output, several controllers sharing one line, and the
// in-memory transport of the reference host.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <mutex>

#include "refhost/memory_transport.h"
#include "velta36sim/frames.h"
#include "velta36sim/line_server.h"
#include "velta36sim/memory_line.h"

using namespace velta36sim;

namespace {

// Reads until `expected` bytes arrived or the line stays quiet for 2 s.
std::string ReadBytes(int fd, std::size_t expected)
{
    std::string got;
    char buffer[256];
    while (got.size() < expected) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 2000) <= 0)
            break;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

void WriteBytes(int fd, const std::string& bytes)
{
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

ControllerOptions At(int32_t address)
{
    ControllerOptions options;
    options.address = address;
    return options;
}

}  // namespace

TEST(LineServer, PtyAnswersAFrameWrittenToIt)
{
    SteadyClock clock;
    SharedLine line(clock);
    line.Add(At(0)).controller().StoreEvent(EventRecord::PowerOn(CivilTime{2024, 3, 5, 6, 0, 0}));
    LineServer server(line, ServerOptions());
    const std::string path = server.StartPty();
    ASSERT_FALSE(path.empty());

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    cfmakeraw(&tio);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);

    WriteBytes(fd, CommandFrame('0', "{"));
    EXPECT_EQ(ReadBytes(fd, 8), "A03``jd/");
    WriteBytes(fd, EventReadFrame('0'));
    EXPECT_EQ(ReadBytes(fd, 29), EventReply({EventRecord::PowerOn(CivilTime{2024, 3, 5, 6, 0, 0})}));
    ::close(fd);

    // A second client after the first one left is served as well.
    const int again = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(again, 0);
    ASSERT_EQ(tcgetattr(again, &tio), 0);
    cfmakeraw(&tio);
    ASSERT_EQ(tcsetattr(again, TCSANOW, &tio), 0);
    WriteBytes(again, CommandFrame('0', "v0"));
    EXPECT_EQ(ReadBytes(again, 3), "h0/");
    ::close(again);

    server.Stop();
    EXPECT_FALSE(server.Running());
    EXPECT_EQ(line.Stats(0).events.acknowledged, 1u);
}

TEST(LineServer, ControllersShareOneLineAndPacingFollowsTheBaudRate)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ManualClock clock;
    SharedLine line(clock);
    line.Add(At(1));
    line.Add(At(2)).controller().SetDoorOpen(1, true);

    std::mutex mutex;
    int64_t slept = 0;
    ServerOptions options;
    options.baud = 9600;
    options.sleep = [&](int64_t us) {
        std::lock_guard<std::mutex> lock(mutex);
        slept += us;
    };
    LineServer server(line, options);
    server.StartFd(pair[0]);

    // Three frames in one write: each controller answers its own, in the
    // order of the frames; nobody answers address 3.
    WriteBytes(pair[1], CommandFrame('2', "{") + CommandFrame('1', "{") + CommandFrame('3', "{"));
    const std::string replies = ReadBytes(pair[1], 16);
    server.Stop();
    EXPECT_EQ(replies, "A22``je/" "A13``je/");
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(slept, TransmitMicroseconds(16, 9600));
    }
    EXPECT_EQ(TransmitMicroseconds(16, 9600), 16666);
    EXPECT_EQ(TransmitMicroseconds(960, 9600), 1000000);
    EXPECT_EQ(TransmitMicroseconds(100, 0), 0);
    EXPECT_EQ(line.Stats(1).framesHeard, 1u);
    EXPECT_EQ(line.Stats(2).framesHeard, 1u);
    EXPECT_EQ(line.TotalStats().framesHeard, 2u);
    ::close(pair[0]);
    ::close(pair[1]);
}

TEST(SharedLine, RefusesDuplicateAddressesAndBadDoorCounts)
{
    ManualClock clock;
    SharedLine line(clock);
    line.Add(At(4));
    EXPECT_THROW(line.Add(At(4)), std::invalid_argument);
    ControllerOptions threeDoors = At(5);
    threeDoors.doors = 3;
    EXPECT_THROW(line.Add(threeDoors), std::invalid_argument);
    EXPECT_EQ(line.Addresses(), std::vector<int32_t>{4});
    EXPECT_FALSE(line.With(5, [](SimulatedController&) {}));
}

TEST(MemoryLine, RepliesAreQueuedAsReceivedChunks)
{
    ManualClock clock;
    SharedLine line(clock);
    ControllerOptions options = At(0);
    options.faults.splitReply = 1;
    line.Add(options);
    refhost::MemoryTransport transport;
    ServeOnMemoryTransport(transport, line);
    transport.open();

    const Bytes frame = CommandFrame('0', "{");
    transport.send(reinterpret_cast<const unsigned char*>(frame.data()), frame.size());
    EXPECT_GE(transport.pendingReplies(), 2u);
    std::string got;
    unsigned char buffer[64];
    while (std::size_t n = transport.receive(buffer, sizeof buffer, std::chrono::milliseconds(0)))
        got.append(reinterpret_cast<const char*>(buffer), n);
    EXPECT_EQ(got, "A03``jd/");

    const Bytes other = CommandFrame('1', "{");
    transport.send(reinterpret_cast<const unsigned char*>(other.data()), other.size());
    EXPECT_EQ(transport.pendingReplies(), 0u);
}
