#include "refhost/memory_transport.h"

#include <algorithm>
#include <cstring>

namespace refhost {

void MemoryTransport::open()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_)
        ++openCount_;
    open_ = true;
}

void MemoryTransport::close()
{
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
}

bool MemoryTransport::isOpen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

void MemoryTransport::send(const unsigned char* data, std::size_t len)
{
    std::vector<unsigned char> frame(data, data + len);
    Responder responder;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_.push_back(SentFrame{frame, pendingDelayMs_});
        pendingDelayMs_ = 0;
        responder = responder_;
    }
    // Outside the lock: the responder queues replies through pushReply.
    if (responder)
        responder(frame);
}

std::size_t MemoryTransport::receive(unsigned char* buf, std::size_t capacity,
                                     std::chrono::milliseconds /*timeout*/)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (replies_.empty())
        return 0;
    std::vector<unsigned char>& chunk = replies_.front();
    const std::size_t n = std::min(capacity, chunk.size());
    if (n > 0)
        std::memcpy(buf, chunk.data(), n);
    if (n == chunk.size())
        replies_.pop_front();
    else
        chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

void MemoryTransport::flush()
{
    std::lock_guard<std::mutex> lock(mutex_);
    replies_.clear();
}

void MemoryTransport::pause(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> lock(mutex_);
    pendingDelayMs_ += static_cast<int>(delay.count());
}

void MemoryTransport::setResponder(Responder responder)
{
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(responder);
}

void MemoryTransport::pushReply(const std::vector<unsigned char>& chunk)
{
    std::lock_guard<std::mutex> lock(mutex_);
    replies_.push_back(chunk);
}

void MemoryTransport::pushReply(const std::string& chunk)
{
    pushReply(std::vector<unsigned char>(chunk.begin(), chunk.end()));
}

std::vector<SentFrame> MemoryTransport::sent() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
}

std::vector<std::string> MemoryTransport::sentTexts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> texts;
    for (const SentFrame& frame : sent_)
        texts.push_back(frame.text());
    return texts;
}

void MemoryTransport::clearSent()
{
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.clear();
}

std::size_t MemoryTransport::pendingReplies() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return replies_.size();
}

int MemoryTransport::openCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return openCount_;
}

}  // namespace refhost
