#include "outbox.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "sqlite_statement.h"

namespace velta36up {

namespace {

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS device(device TEXT PRIMARY KEY, last_seq INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS outbox(n INTEGER PRIMARY KEY, device TEXT NOT NULL, seq INTEGER NOT NULL,"
    " payload TEXT NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS outbox_device_seq ON outbox(device, seq);"
    "CREATE TABLE IF NOT EXISTS request(transaction_id TEXT PRIMARY KEY, kind TEXT NOT NULL,"
    " received TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS discovery(topic TEXT PRIMARY KEY);";

// Resets a kept statement however the call ends.
class Use {
public:
    explicit Use(sqlite3_stmt* statement) : statement_(statement) {}
    ~Use()
    {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

private:
    sqlite3_stmt* statement_;
};

void BindText(sqlite3_stmt* statement, int index, const std::string& text)
{
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

OutboxEntry ReadEntry(sqlite3_stmt* statement)
{
    OutboxEntry entry;
    entry.n = sqlite3_column_int64(statement, 0);
    entry.device = ColumnText(statement, 1);
    entry.seq = sqlite3_column_int64(statement, 2);
    entry.payload = ColumnText(statement, 3);
    return entry;
}

}  // namespace

Outbox::Outbox(const std::string& folder) : path_(folder + "/upstream.db")
{
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot make the upstream's state folder " + folder + ": " + std::strerror(errno));
    struct stat info;
    fresh_ = ::stat(path_.c_str(), &info) != 0;
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("cannot open the upstream's state " + path_ + ": " + why);
    }
    try {
        sqlite3_busy_timeout(db_, 5000);
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=FULL");
        exec("PRAGMA cache_size=-64");   // written and read in order, once each
        exec(kSchema);
        insert_ = prepare("INSERT INTO outbox(n, device, seq, payload) VALUES (?1, ?2, ?3, ?4)");
        seq_ = prepare("INSERT INTO device(device, last_seq) VALUES (?1, ?2) "
                       "ON CONFLICT(device) DO UPDATE SET last_seq = excluded.last_seq");
        after_ = prepare("SELECT n, device, seq, payload FROM outbox WHERE n > ?1 ORDER BY n LIMIT ?2");
        meta_ = prepare("SELECT value FROM meta WHERE key = ?1");
        setMeta_ = prepare("INSERT INTO meta(key, value) VALUES (?1, ?2) "
                           "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    } catch (...) {
        for (sqlite3_stmt* statement : statements_)
            sqlite3_finalize(statement);
        sqlite3_close(db_);
        throw;
    }
}

Outbox::~Outbox()
{
    for (sqlite3_stmt* statement : statements_)
        sqlite3_finalize(statement);
    sqlite3_close(db_);
}

void Outbox::fail(const std::string& what)
{
    throw std::runtime_error("upstream state " + path_ + ": " + what + ": " + sqlite3_errmsg(db_));
}

void Outbox::exec(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string why = error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        throw std::runtime_error("upstream state " + path_ + ": " + why);
    }
}

sqlite3_stmt* Outbox::prepare(const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK)
        fail(sql);
    statements_.push_back(statement);
    return statement;
}

std::string Outbox::meta(const char* key)
{
    Use use(meta_);
    sqlite3_bind_text(meta_, 1, key, -1, SQLITE_STATIC);
    const int rc = sqlite3_step(meta_);
    if (rc == SQLITE_ROW)
        return ColumnText(meta_, 0);
    if (rc != SQLITE_DONE)
        fail("reading");
    return std::string();
}

void Outbox::setMeta(const char* key, const std::string& value)
{
    Use use(setMeta_);
    sqlite3_bind_text(setMeta_, 1, key, -1, SQLITE_STATIC);
    BindText(setMeta_, 2, value);
    if (sqlite3_step(setMeta_) != SQLITE_DONE)
        fail("writing");
}

SourcePosition Outbox::source()
{
    SourcePosition position;
    position.fileId = meta("source_file");
    position.epoch = meta("source_epoch");
    const std::string row = meta("source_row");
    position.row = row.empty() ? 0 : std::stoll(row);
    position.fingerprint = meta("source_fingerprint");
    return position;
}

std::map<std::string, int64_t> Outbox::lastSeqs()
{
    Statement statement(db_, "SELECT device, last_seq FROM device", "upstream state: reading sequence numbers");
    std::map<std::string, int64_t> seqs;
    while (statement.step())
        seqs[ColumnText(statement.get(), 0)] = sqlite3_column_int64(statement.get(), 1);
    return seqs;
}

int64_t Outbox::lastN()
{
    Statement statement(db_, "SELECT COALESCE(MAX(n), 0) FROM outbox", "upstream state: reading the outbox");
    return statement.step() ? sqlite3_column_int64(statement.get(), 0) : 0;
}

int64_t Outbox::acknowledged()
{
    const std::string n = meta("acknowledged");
    return n.empty() ? 0 : std::stoll(n);
}

void Outbox::append(const std::vector<OutboxEntry>& entries, const SourcePosition& position)
{
    exec("BEGIN IMMEDIATE");
    try {
        std::map<std::string, int64_t> seqs;
        for (const OutboxEntry& entry : entries) {
            Use use(insert_);
            sqlite3_bind_int64(insert_, 1, entry.n);
            BindText(insert_, 2, entry.device);
            sqlite3_bind_int64(insert_, 3, entry.seq);
            BindText(insert_, 4, entry.payload);
            if (sqlite3_step(insert_) != SQLITE_DONE)
                fail("storing an event");
            seqs[entry.device] = entry.seq;
        }
        for (const auto& [device, seq] : seqs) {
            Use use(seq_);
            BindText(seq_, 1, device);
            sqlite3_bind_int64(seq_, 2, seq);
            if (sqlite3_step(seq_) != SQLITE_DONE)
                fail("storing a sequence number");
        }
        setSource(position);
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void Outbox::setSource(const SourcePosition& position)
{
    setMeta("source_file", position.fileId);
    setMeta("source_epoch", position.epoch);
    setMeta("source_row", std::to_string(position.row));
    setMeta("source_fingerprint", position.fingerprint);
}

// The cursor's advance is committed without waiting for the disk: a crash
// or power cut that takes it back only sends those messages again, and
// consumers drop them by their id. Everything else here waits.
void Outbox::setAcknowledged(int64_t n)
{
    exec("PRAGMA synchronous=NORMAL");
    try {
        setMeta("acknowledged", std::to_string(n));
    } catch (...) {
        exec("PRAGMA synchronous=FULL");
        throw;
    }
    exec("PRAGMA synchronous=FULL");
}

std::vector<OutboxEntry> Outbox::after(int64_t n, int limit)
{
    Use use(after_);
    sqlite3_bind_int64(after_, 1, n);
    sqlite3_bind_int(after_, 2, limit);
    std::vector<OutboxEntry> entries;
    int rc;
    while ((rc = sqlite3_step(after_)) == SQLITE_ROW)
        entries.push_back(ReadEntry(after_));
    if (rc != SQLITE_DONE)
        fail("reading the outbox");
    return entries;
}

std::vector<OutboxEntry> Outbox::range(const std::string& device, int64_t from, int64_t to, int limit)
{
    Statement statement(
        db_, "SELECT n, device, seq, payload FROM outbox WHERE device = ?1 AND seq BETWEEN ?2 AND ?3 ORDER BY seq LIMIT ?4",
        "upstream state: reading the outbox");
    statement.bind(1, device);
    statement.bind(2, from);
    statement.bind(3, to);
    statement.bind(4, static_cast<int64_t>(limit));
    std::vector<OutboxEntry> entries;
    while (statement.step())
        entries.push_back(ReadEntry(statement.get()));
    return entries;
}

bool Outbox::recordTransaction(const std::string& transaction, const std::string& kind, const std::string& received)
{
    Statement statement(db_, "INSERT OR IGNORE INTO request(transaction_id, kind, received) VALUES (?1, ?2, ?3)",
                        "upstream state: recording a transaction");
    statement.bind(1, transaction);
    statement.bind(2, kind);
    statement.bind(3, received);
    statement.step();
    return sqlite3_changes(db_) == 1;
}

std::set<std::string> Outbox::discoveryTopics()
{
    Statement statement(db_, "SELECT topic FROM discovery", "upstream state: reading discovery topics");
    std::set<std::string> topics;
    while (statement.step())
        topics.insert(ColumnText(statement.get(), 0));
    return topics;
}

void Outbox::addDiscoveryTopic(const std::string& topic)
{
    Statement statement(db_, "INSERT OR IGNORE INTO discovery(topic) VALUES (?1)",
                        "upstream state: recording a discovery topic");
    statement.bind(1, topic);
    statement.step();
}

void Outbox::removeDiscoveryTopic(const std::string& topic)
{
    Statement statement(db_, "DELETE FROM discovery WHERE topic = ?1", "upstream state: forgetting a discovery topic");
    statement.bind(1, topic);
    statement.step();
}

}  // namespace velta36up
