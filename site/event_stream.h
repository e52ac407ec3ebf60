// The rows stored in the event table while a site runs, read back in id
// order, each once. Reading is best effort: while the database is locked,
// missing or being rebuilt nothing comes, and the rows come once it can be
// read again.
//
// The stream remembers the last row it handed out. When that row is gone
// or no longer the same (the table was dropped and made anew, another file
// was put in place of the database, rows were deleted), everything in the
// table is new and comes from its first row; a file replaced by a copy of
// itself goes on after the same row. One thread uses a stream.
#ifndef VELTA36_SITE_EVENT_STREAM_H
#define VELTA36_SITE_EVENT_STREAM_H

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "event_database.h"

namespace velta36site {

class EventStream {
public:
    // file: the database, absolute. The rows already in it are not
    // handed out.
    explicit EventStream(std::string file);

    // The rows stored since the last call, oldest first.
    std::vector<StoredEvent> read();

private:
    void open();
    bool fileReplaced() const;

    std::string file_;
    std::unique_ptr<EventReader> reader_;
    ino_t inode_ = 0;
    dev_t device_ = 0;
    std::optional<int64_t> version_;     // data_version when last read, on this reader
    std::optional<StoredEvent> last_;    // the last row handed out (or there at the start)
};

}  // namespace velta36site

#endif
