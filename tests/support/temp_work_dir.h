// TempWorkDir: a fresh temporary directory that is the working directory
// for the lifetime of the object. Devices open "ZRMDevice.db" relative to
// the working directory, so every test that touches the database runs in
// one of these. On destruction the previous working directory is restored
// and the directory is removed with everything in it.
//
// Plain POSIX and C++14: the tests that include ODB's headers use it too,
// and those compile as C++14 against the installed runtime.
//
// Not thread-safe (the working directory is process-wide); one at a time.
#ifndef VELTA36_TESTS_SUPPORT_TEMP_WORK_DIR_H
#define VELTA36_TESTS_SUPPORT_TEMP_WORK_DIR_H

#include <ftw.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace velta36test {

// $TMPDIR, or /tmp.
inline std::string SystemTempBase()
{
    const char* dir = ::getenv("TMPDIR");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

// /dev/shm where there is one: tests that store many events (every event is
// its own commit) measure the protocol there, not the disk's syncs.
inline std::string RamBackedTempBase()
{
    struct stat info;
    if (::stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode))
        return "/dev/shm";
    return SystemTempBase();
}

namespace detail {

inline int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    ::remove(path);
    return 0;
}

// Removes path and everything below it; errors are ignored.
inline void RemoveTree(const std::string& path)
{
    ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

inline std::string CurrentDirectory()
{
    std::vector<char> buffer(PATH_MAX);
    if (::getcwd(buffer.data(), buffer.size()) == nullptr)
        throw std::runtime_error(std::string("getcwd: ") + std::strerror(errno));
    return buffer.data();
}

}  // namespace detail

class TempWorkDir {
public:
    explicit TempWorkDir(const std::string& base = SystemTempBase())
    {
        previous_ = detail::CurrentDirectory();
        std::string pattern = base + "/velta36-test-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr)
            throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
        path_ = name.data();
        if (::chdir(path_.c_str()) != 0) {
            const std::string message = std::strerror(errno);
            detail::RemoveTree(path_);
            throw std::runtime_error("chdir " + path_ + ": " + message);
        }
    }

    ~TempWorkDir()
    {
        // Errors are ignored: a destructor must not throw, and a left-over
        // directory under /tmp harms nobody.
        const int ignored = ::chdir(previous_.c_str());
        (void)ignored;
        detail::RemoveTree(path_);
    }

    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;

    // Absolute path of the directory.
    const std::string& path() const { return path_; }
    // Absolute path of a file inside it.
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string previous_;
    std::string path_;
};

}  // namespace velta36test

#endif
