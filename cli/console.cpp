#include "console.h"

#include <unistd.h>

#include <cstdio>

namespace velta36cli {

Console::Console() : progressTty_(isatty(STDERR_FILENO) == 1) {}

void Console::clearLocked()
{
    if (progressShown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        progressShown_ = false;
    }
}

void Console::line(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    clearLocked();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Console::error(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    clearLocked();
    std::fprintf(stderr, "velta36: %s\n", text.c_str());
    std::fflush(stderr);
}

void Console::progress(const std::string& text)
{
    if (!progressTty_)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    progressShown_ = true;
}

void Console::clearProgress()
{
    std::lock_guard<std::mutex> lock(mutex_);
    clearLocked();
}

}  // namespace velta36cli
