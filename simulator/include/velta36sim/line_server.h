// Serves a shared line over a file descriptor (a serial port, one end of a
// socket pair) or a pseudo-terminal it opens itself, in a thread of its own
// until stopped. Replies can be paced at a baud rate (10 bits per byte).
#ifndef VELTA36SIM_LINE_SERVER_H
#define VELTA36SIM_LINE_SERVER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "velta36sim/shared_line.h"

namespace velta36sim {

// How long `bytes` take on a line of `baud` (10 bits per byte); 0 when
// baud is 0 (no pacing).
int64_t TransmitMicroseconds(std::size_t bytes, int32_t baud);

// Which way a chunk crossed the line, seen from the controllers.
enum class TapDirection { ToControllers, FromControllers };

struct ServerOptions {
    int32_t baud = 0;   // 0: write as fast as the line takes it
    // Pause between the chunks of a split reply so that a reader sees them
    // as separate reads even without pacing.
    int32_t chunkGapMicroseconds = 2000;
    // Injected for tests; defaults to std::this_thread::sleep_for.
    std::function<void(int64_t microseconds)> sleep;
    // Sees every chunk read from the line and every reply chunk before it
    // is written (for captures); called on the server's thread.
    std::function<void(TapDirection, const char* data, std::size_t length)> tap;
};

class LineServer {
public:
    LineServer(SharedLine& line, const ServerOptions& options);
    ~LineServer();   // stops the thread and closes what it opened
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    // Opens a pseudo-terminal (raw, no echo) and serves its master side;
    // returns the path of the slave side for the driver to open. Throws
    // std::system_error on failure.
    std::string StartPty();
    // Serves fd (not closed by the server).
    void StartFd(int fd);
    void Stop();
    bool Running() const { return running_.load(); }
    const std::string& PtyPath() const { return ptyPath_; }

private:
    void Serve();
    void WriteAll(const Bytes& bytes);

    SharedLine& line_;
    ServerOptions options_;
    int fd_ = -1;
    int ownedMaster_ = -1;
    int ownedSlave_ = -1;   // held open so the master sees no hang-up between clients
    std::string ptyPath_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace velta36sim

#endif
