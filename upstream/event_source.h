// The site's event file as the upstream reads it: ZRMDevice.db opened
// read-only, opened afresh when the file is replaced, and read in pages.
// Any read may fail (locked, missing, table dropped): the caller tries
// again later.
#ifndef VELTA36_UPSTREAM_EVENT_SOURCE_H
#define VELTA36_UPSTREAM_EVENT_SOURCE_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "messages.h"

struct sqlite3;

namespace velta36up {

class EventSource {
public:
    // busyWaitMs: how long a read waits for the site's writer.
    explicit EventSource(std::string path, int busyWaitMs = 100);
    ~EventSource();
    EventSource(const EventSource&) = delete;
    EventSource& operator=(const EventSource&) = delete;

    // Opens the file when it is not open or another file took its place.
    // False while there is no file (nothing is created).
    bool open();
    // The file's identity ("<device>:<inode>") as open() last found it.
    const std::string& fileId() const { return fileId_; }

    // The row with this id, if the table holds it. Throws on a failed read.
    std::optional<SourceRow> row(int64_t id);
    // At most `limit` rows with an id above `id`, in id order. Throws.
    std::vector<SourceRow> after(int64_t id, int limit);
    // Rows per data id with an id up to `upToId`. Throws.
    std::map<int64_t, int64_t> countsByDataId(int64_t upToId);

    // What identifies a stored row's content, to tell a rebuilt table.
    static std::string Fingerprint(const SourceRow& row);

private:
    void close();

    std::string path_;
    int busyWaitMs_;
    sqlite3* db_ = nullptr;
    std::string fileId_;
};

}  // namespace velta36up

#endif
