// The velta36 program run in the background, as a user starts it, with its
// output in files, for the tests that change things under it while it runs
// (the mipsel job leaves them out, as they start a program).
#ifndef VELTA36_TESTS_E2E_TOOL_PROCESS_H
#define VELTA36_TESTS_E2E_TOOL_PROCESS_H

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tool_support.h"

namespace e2e {

inline std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// The velta36 program running in the background, its output in files.
class ToolProcess {
public:
    // Runs as the given user (the test's own by default).
    ToolProcess(const std::vector<std::string>& args, const std::string& out, const std::string& err,
                uid_t uid = ::geteuid(), gid_t gid = ::getegid())
    {
        std::vector<std::string> all = {VELTA36_TOOL_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all)
            argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const bool switchUser = uid != ::geteuid();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only what is safe between fork and exec.
            ::dup2(nullFd, 0);
            ::dup2(outFd, 1);
            ::dup2(errFd, 2);
            if (switchUser && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
                ::_exit(126);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(outFd);
        ::close(errFd);
        ::close(nullFd);
        if (pid_ < 0)
            throw std::runtime_error("fork failed");
    }

    ~ToolProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool running()
    {
        return pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == 0;
    }

    // Interrupts it once (the exchange in progress is finished) and waits;
    // returns the exit status, -1 when it had to be killed.
    int interrupt()
    {
        ::kill(pid_, SIGINT);
        for (int i = 0; i < 300; ++i) {
            if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int status_ = 0;
};

}  // namespace e2e

#endif
