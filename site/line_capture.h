// A capture file of what crossed the serial lines (--capture FILE.pcapng),
// written as it happens so that a run that is killed or loses power leaves
// a file Wireshark opens up to the last chunk. Safe to record from the
// threads of several lines at once.
#ifndef VELTA36_SITE_LINE_CAPTURE_H
#define VELTA36_SITE_LINE_CAPTURE_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "pcapng_blocks.h"

namespace velta36site {

class LineCapture {
public:
    // Creates (or empties) the file and writes the section header. Throws
    // InputError with one line when the file cannot be written. Messages
    // name the file as shownAs when it is given (the path as the user
    // wrote it).
    explicit LineCapture(const std::string& path, const std::string& shownAs = "");
    // A command that fails before anything crossed the line leaves no
    // capture behind; any other ending keeps the file.
    ~LineCapture();
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;

    // One interface per line, before the first chunk on it. Returns its
    // number for record().
    uint32_t addInterface(const std::string& name, const std::string& description);

    // One chunk as it was written or read. comment names the device whose
    // exchange it belongs to, when that is known.
    void record(uint32_t interface, CaptureDirection direction, std::chrono::system_clock::time_point when,
                const unsigned char* data, std::size_t length, const std::string& comment);

    // Called once, from the recording thread, when a write fails; nothing
    // more is written after that.
    void onFailure(std::function<void(const std::string&)> report);
    bool failed() const;
    const std::string& path() const { return path_; }

private:
    void write(const Block& block);

    std::string path_;
    std::string shownAs_;
    int fd_ = -1;
    int unwindingAtStart_ = 0;
    mutable std::mutex mutex_;
    uint32_t interfaces_ = 0;
    uint64_t packets_ = 0;
    bool failed_ = false;
    std::function<void(const std::string&)> report_;
};

}  // namespace velta36site

#endif
