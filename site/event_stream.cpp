#include "event_stream.h"

#include <sys/stat.h>

namespace velta36site {

namespace {

// Short waits for a writer's lock: the stream's thread tells listeners of
// everything else too.
const int kReadWaitMs = 100;

}  // namespace

EventStream::EventStream(std::string file) : file_(std::move(file))
{
    open();
    if (!reader_)
        return;
    try {
        last_ = reader_->row(reader_->maxId());
    } catch (const std::exception&) {
        reader_.reset();
    }
}

std::vector<StoredEvent> EventStream::read()
{
    if (reader_ && fileReplaced())
        reader_.reset();
    if (!reader_)
        open();
    if (!reader_)
        return {};
    try {
        // Nothing committed since the last look: nothing to read.
        const int64_t version = reader_->dataVersion();
        if (version_ && *version_ == version)
            return {};
        if (last_ && reader_->row(last_->id) != last_)
            last_.reset();
        std::vector<StoredEvent> rows = reader_->after(last_ ? last_->id : 0);
        version_ = version;
        if (!rows.empty())
            last_ = rows.back();
        return rows;
    } catch (const std::exception&) {
        reader_.reset();   // opened afresh next time
        return {};
    }
}

void EventStream::open()
{
    version_.reset();
    // Which file it is, before it is opened: one put in its place meanwhile
    // shows as replaced at the next read.
    struct stat info;
    if (::stat(file_.c_str(), &info) != 0)
        return;
    inode_ = info.st_ino;
    device_ = info.st_dev;
    try {
        reader_.reset(new EventReader(file_, kReadWaitMs));
    } catch (const std::exception&) {
        reader_.reset();
    }
}

// The file was removed, or another put in its place: the open reader would
// go on reading the old one.
bool EventStream::fileReplaced() const
{
    struct stat info;
    return ::stat(file_.c_str(), &info) != 0 || info.st_ino != inode_ || info.st_dev != device_;
}

}  // namespace velta36site
