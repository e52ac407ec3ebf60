// TempWorkDir: a fresh temporary directory that is the working directory
// for the lifetime of the object. Devices open "ZRMDevice.db" relative to
// the working directory, so every test that touches the database runs in
// one of these. On destruction the previous working directory is restored
// and the directory is removed with everything in it.
//
// Not thread-safe (the working directory is process-wide); one at a time.
#ifndef VELTA36_TESTS_SUPPORT_TEMP_WORK_DIR_H
#define VELTA36_TESTS_SUPPORT_TEMP_WORK_DIR_H

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace velta36test {

// /dev/shm where there is one: tests that store many events (every event is
// its own commit) measure the protocol there, not the disk's syncs.
inline std::filesystem::path RamBackedTempBase()
{
    return std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                     : std::filesystem::temp_directory_path();
}

class TempWorkDir {
public:
    explicit TempWorkDir(const std::filesystem::path& base = std::filesystem::temp_directory_path())
    {
        previous_ = std::filesystem::current_path().string();
        std::string pattern = (base / "velta36-test-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr)
            throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
        path_ = name.data();
        std::error_code changed;
        std::filesystem::current_path(path_, changed);
        if (changed) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
            throw std::runtime_error("chdir " + path_ + ": " + changed.message());
        }
    }

    ~TempWorkDir()
    {
        // Errors are ignored: a destructor must not throw, and a left-over
        // directory under /tmp harms nobody.
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
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
