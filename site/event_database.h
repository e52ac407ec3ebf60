// The event database of a host installation: "ZRMDevice.db" with the table
// the plug-in registers in the schema catalog, and plain read-back of its
// rows (with SQLite, not through the mapping) for listing and following.
#ifndef VELTA36_SITE_EVENT_DATABASE_H
#define VELTA36_SITE_EVENT_DATABASE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace velta36site {

const char* const kDatabaseFile = "ZRMDevice.db";

enum class DatabaseSetup { Existing, CreatedTable, CreatedFile };

// Creates the file and the event table when they are missing, through the
// schema catalog (the plug-in must be loaded: its table is registered
// there). An existing table is never touched.
DatabaseSetup EnsureEventDatabase(const std::string& file = kDatabaseFile);

struct StoredEvent {
    int64_t id = 0;
    int64_t dataId = 0;
    std::optional<std::string> eventTime;   // NULL when the time was unknown
    int64_t readerChannel = 0;
    int64_t eventType = 0;
    std::string cardNo;
    std::string reason;

    bool operator==(const StoredEvent& other) const
    {
        return id == other.id && dataId == other.dataId && eventTime == other.eventTime &&
               readerChannel == other.readerChannel && eventType == other.eventType && cardNo == other.cardNo &&
               reason == other.reason;
    }
    bool operator!=(const StoredEvent& other) const { return !(*this == other); }
};

struct EventFilter {
    int32_t limit = 20;                 // negative: no limit
    std::optional<std::string> since;   // "YYYY-MM-DD hh:mm:ss", inclusive
    std::optional<std::string> until;   // likewise
    std::optional<std::string> cardNo;
    std::vector<int64_t> channels;      // any of them; empty: all
    std::vector<int64_t> types;         // likewise
    std::vector<int64_t> dataIds;       // likewise
};

// Read-only access; waits up to about busyWaitMs instead of failing while
// a writer commits.
class EventReader {
public:
    // Throws when the file is missing or cannot be opened.
    explicit EventReader(const std::string& file = kDatabaseFile, int busyWaitMs = 2000);
    ~EventReader();
    EventReader(const EventReader&) = delete;
    EventReader& operator=(const EventReader&) = delete;

    int64_t count();
    int64_t maxId();
    // Rows with an id above `id`, oldest first.
    std::vector<StoredEvent> after(int64_t id);
    // The row with this id, if there is one.
    std::optional<StoredEvent> row(int64_t id);
    // A number that changes whenever another connection commits to the
    // file (SQLite's data_version).
    int64_t dataVersion();
    // Newest first.
    std::vector<StoredEvent> newest(const EventFilter& filter);

private:
    static int WaitForWriter(void* self, int tries);
    int64_t number(const char* sql);
    std::vector<StoredEvent> query(const std::string& sql, const std::vector<std::string>& texts,
                                   const std::vector<int64_t>& numbers);
    sqlite3* db_ = nullptr;
    int busyWaitMs_ = 0;
};

// Accepts "YYYY-MM-DD", "YYYY-MM-DD hh:mm" or "YYYY-MM-DD hh:mm:ss" (a 'T'
// may stand for the space); returns the form stored in "EventTime".
std::optional<std::string> NormaliseTime(const std::string& text);
// The same forms as the end of a range: the last second of the day, minute
// or second given ("2024-03-05" -> "2024-03-05 23:59:59").
std::optional<std::string> NormaliseUntil(const std::string& text);

}  // namespace velta36site

#endif
