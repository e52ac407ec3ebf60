// The upstream's own durable state, "upstream.db" in its state folder: every
// stored row as it is published (its device, sequence number and payload),
// assigned before it is first sent; the cursor over what the broker
// acknowledged; where reading the site's file stands; the transaction ids
// carried out; the discovery topics published. WAL with synchronous=FULL:
// a committed assignment survives a crash or a power cut.
#ifndef VELTA36_UPSTREAM_OUTBOX_H
#define VELTA36_UPSTREAM_OUTBOX_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace velta36up {

struct OutboxEntry {
    int64_t n = 0;          // position in publishing order, from 1
    std::string device;
    int64_t seq = 0;
    std::string payload;
};

// Where reading the site's file stands: the file and table instance read
// (their epoch), and the last row taken with what it held.
struct SourcePosition {
    std::string fileId;
    std::string epoch;
    int64_t row = 0;
    std::string fingerprint;
};

class Outbox {
public:
    // Creates the folder (one level) and the file when missing. Throws
    // std::runtime_error with one line.
    explicit Outbox(const std::string& folder);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // True when the file was made just now (no earlier state).
    bool fresh() const { return fresh_; }
    const std::string& path() const { return path_; }

    SourcePosition source();
    std::map<std::string, int64_t> lastSeqs();
    int64_t lastN();
    int64_t acknowledged();

    // The entries and the reading position they lead to, in one commit.
    void append(const std::vector<OutboxEntry>& entries, const SourcePosition& position);
    // Only the position (a new epoch met, rows of no device skipped).
    void setSource(const SourcePosition& position);
    // The contiguous prefix the broker acknowledged.
    void setAcknowledged(int64_t n);

    // Entries after n, in order, at most limit.
    std::vector<OutboxEntry> after(int64_t n, int limit);
    // One device's entries with seq in [from, to], in order, at most limit.
    std::vector<OutboxEntry> range(const std::string& device, int64_t from, int64_t to, int limit);

    // Records a transaction id before it is carried out; false when it was
    // recorded before.
    bool recordTransaction(const std::string& transaction, const std::string& kind, const std::string& received);

    std::set<std::string> discoveryTopics();
    void addDiscoveryTopic(const std::string& topic);
    void removeDiscoveryTopic(const std::string& topic);

private:
    void exec(const char* sql);
    sqlite3_stmt* prepare(const char* sql);
    std::string meta(const char* key);
    void setMeta(const char* key, const std::string& value);
    [[noreturn]] void fail(const std::string& what);

    std::string path_;
    bool fresh_ = false;
    sqlite3* db_ = nullptr;
    std::vector<sqlite3_stmt*> statements_;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* seq_ = nullptr;
    sqlite3_stmt* after_ = nullptr;
    sqlite3_stmt* meta_ = nullptr;
    sqlite3_stmt* setMeta_ = nullptr;
};

}  // namespace velta36up

#endif
