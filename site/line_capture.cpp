#include "line_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "input_error.h"

namespace velta36site {

LineCapture::LineCapture(const std::string& path, const std::string& shownAs)
    : path_(path), shownAs_(shownAs.empty() ? path : shownAs), unwindingAtStart_(std::uncaught_exceptions())
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw InputError("cannot write the capture " + shownAs_ + ": " + std::strerror(errno));
    write(SectionHeaderBlock("velta36"));
    if (failed_) {
        ::close(fd_);
        ::unlink(path.c_str());
        throw InputError("cannot write the capture " + shownAs_);
    }
}

LineCapture::~LineCapture()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (packets_ == 0 && std::uncaught_exceptions() > unwindingAtStart_)
        ::unlink(path_.c_str());
}

uint32_t LineCapture::addInterface(const std::string& name, const std::string& description)
{
    std::lock_guard<std::mutex> lock(mutex_);
    write(InterfaceDescriptionBlock(kCaptureLinkType, name, description));
    return interfaces_++;
}

void LineCapture::record(uint32_t interface, CaptureDirection direction, std::chrono::system_clock::time_point when,
                         const unsigned char* data, std::size_t length, const std::string& comment)
{
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    const Block block = EnhancedPacketBlock(interface, static_cast<uint64_t>(micros), direction, data, length,
                                            comment);
    std::lock_guard<std::mutex> lock(mutex_);
    write(block);
    ++packets_;
}

void LineCapture::onFailure(std::function<void(const std::string&)> report)
{
    std::lock_guard<std::mutex> lock(mutex_);
    report_ = std::move(report);
}

bool LineCapture::failed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

// One write per block: a capture cut short by a kill ends on a whole block.
void LineCapture::write(const Block& block)
{
    if (failed_)
        return;
    std::size_t done = 0;
    while (done < block.size()) {
        const ssize_t n = ::write(fd_, block.data() + done, block.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        failed_ = true;
        const std::string why = n < 0 ? std::strerror(errno) : "nothing written";
        if (report_)
            report_("capture " + shownAs_ + " stopped: " + why);
        return;
    }
}

}  // namespace velta36site
