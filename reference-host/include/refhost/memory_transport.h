// An in-memory line for tests: records every frame sent (with the delay the
// device asked for before it) and hands out scripted or generated replies.
#ifndef VELTA36_REFHOST_MEMORY_TRANSPORT_H
#define VELTA36_REFHOST_MEMORY_TRANSPORT_H

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "refhost/transport.h"

namespace refhost {

struct SentFrame {
    std::vector<unsigned char> bytes;
    int delayBeforeMs;   // pause requested before this frame (0 if none)

    std::string text() const { return std::string(bytes.begin(), bytes.end()); }
};

class MemoryTransport : public Transport {
public:
    // Called with each frame sent; may queue replies with pushReply.
    using Responder = std::function<void(const std::vector<unsigned char>& frame)>;

    void open() override;
    void close() override;
    bool isOpen() const override;
    void send(const unsigned char* data, std::size_t len) override;
    std::size_t receive(unsigned char* buf, std::size_t capacity,
                        std::chrono::milliseconds timeout) override;
    void flush() override;
    void pause(std::chrono::milliseconds delay) override;

    void setResponder(Responder responder);
    // Queues one chunk the next receive returns (chunks are not merged).
    void pushReply(const std::vector<unsigned char>& chunk);
    void pushReply(const std::string& chunk);

    std::vector<SentFrame> sent() const;
    std::vector<std::string> sentTexts() const;
    void clearSent();
    std::size_t pendingReplies() const;
    int openCount() const;

private:
    mutable std::mutex mutex_;
    bool open_ = false;
    int openCount_ = 0;
    int pendingDelayMs_ = 0;
    std::vector<SentFrame> sent_;
    std::deque<std::vector<unsigned char>> replies_;
    Responder responder_;
};

}  // namespace refhost

#endif
