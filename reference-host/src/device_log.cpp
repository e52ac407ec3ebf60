#include "refhost/device_log.h"

#include <iostream>
#include <mutex>
#include <streambuf>

namespace refhost {

namespace {

thread_local DeviceLogSink* t_sink = nullptr;

// std::cout's buffer while a capture is installed. It keeps no put area,
// so every character reaches overflow or xsputn, on the writing thread.
class CaptureBuffer : public std::streambuf {
public:
    // Guards `next` and the writes to it.
    std::mutex mutex;
    std::streambuf* next = nullptr;
    int users = 0;

    void passOn(const char* text, std::size_t length, bool flush)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (next == nullptr)
            return;
        next->sputn(text, static_cast<std::streamsize>(length));
        if (flush)
            next->pubsync();
    }

protected:
    int overflow(int c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        write(&ch, 1);
        return c;
    }

    std::streamsize xsputn(const char* text, std::streamsize length) override
    {
        write(text, static_cast<std::size_t>(length));
        return length;
    }

    int sync() override
    {
        // A sink's lines are passed on (and flushed) whole as they end.
        if (t_sink != nullptr)
            return 0;
        std::lock_guard<std::mutex> lock(mutex);
        return next != nullptr ? next->pubsync() : 0;
    }

private:
    void write(const char* text, std::size_t length)
    {
        if (t_sink != nullptr)
            t_sink->take(text, length);
        else
            passOn(text, length, false);
    }
};

CaptureBuffer& Buffer()
{
    // Never destroyed: std::cout may point at it until the very end.
    static CaptureBuffer* buffer = new CaptureBuffer;
    return *buffer;
}

std::mutex g_installMutex;

}  // namespace

DeviceLogCapture::DeviceLogCapture()
{
    std::lock_guard<std::mutex> install(g_installMutex);
    CaptureBuffer& buffer = Buffer();
    ++buffer.users;
    if (std::cout.rdbuf() != &buffer) {
        std::lock_guard<std::mutex> lock(buffer.mutex);
        buffer.next = std::cout.rdbuf(&buffer);
    }
}

DeviceLogCapture::~DeviceLogCapture()
{
    std::lock_guard<std::mutex> install(g_installMutex);
    CaptureBuffer& buffer = Buffer();
    if (--buffer.users > 0)
        return;
    // Someone else may have swapped the buffer meanwhile; theirs stays.
    if (std::cout.rdbuf() == &buffer) {
        std::lock_guard<std::mutex> lock(buffer.mutex);
        std::cout.rdbuf(buffer.next);
        buffer.next = nullptr;
    }
}

DeviceLogSink::DeviceLogSink(OnLine onLine) : onLine_(std::move(onLine)), outer_(t_sink)
{
    t_sink = this;
}

DeviceLogSink::~DeviceLogSink()
{
    finish();
    t_sink = outer_;
}

void DeviceLogSink::take(const char* text, std::size_t length)
{
    pending_.append(text, length);
    std::size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
        const std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (onLine_)
            onLine_(line);
        const std::string whole = line + "\n";
        Buffer().passOn(whole.data(), whole.size(), true);
    }
}

void DeviceLogSink::finish()
{
    if (!pending_.empty())
        take("\n", 1);
}

}  // namespace refhost
