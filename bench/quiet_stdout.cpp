#include "quiet_stdout.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <system_error>

namespace velta36bench {

namespace {

// An unbuffered output stream buffer on a file descriptor: reports are few
// and short, so every write goes straight out.
class FdStreambuf : public std::streambuf {
public:
    explicit FdStreambuf(int fd) : fd_(fd) {}

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return WriteAll(&byte, 1) ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        return WriteAll(s, static_cast<std::size_t>(n)) ? n : 0;
    }

private:
    bool WriteAll(const char* s, std::size_t n)
    {
        while (n > 0) {
            const ssize_t wrote = ::write(fd_, s, n);
            if (wrote < 0)
                return false;
            s += wrote;
            n -= static_cast<std::size_t>(wrote);
        }
        return true;
    }
    int fd_;
};

}  // namespace

std::ostream& QuietStdout()
{
    std::cout.flush();
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY);
    if (saved < 0 || null < 0 || ::dup2(null, 1) < 0)
        throw std::system_error(errno, std::generic_category(), "redirecting standard output");
    ::close(null);
    static FdStreambuf buffer(saved);
    static std::ostream out(&buffer);
    return out;
}

}  // namespace velta36bench
