// A thin layer over libpq: the connection settings (a postgresql:// URI or
// the key=value form, the password from a file or libpq's own password
// file), one connection, and statements with text parameters whose results
// free themselves.
#ifndef VELTA36_COLLECTOR_PG_CONNECTION_H
#define VELTA36_COLLECTOR_PG_CONNECTION_H

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace velta36col {

// Settings the user gave that cannot work (not a connection string, a
// password where none may be, a password file others can read).
class SettingsError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// A failed statement or connection. lostConnection: the server went away
// (or never answered), so the same work may succeed on a new connection.
class PgError : public std::runtime_error {
public:
    PgError(const std::string& message, std::string sqlState, bool lostConnection)
        : std::runtime_error(message), sqlState_(std::move(sqlState)), lostConnection_(lostConnection)
    {
    }
    const std::string& sqlState() const { return sqlState_; }
    bool lostConnection() const { return lostConnection_; }

private:
    std::string sqlState_;
    bool lostConnection_;
};

struct ConnectionSettings {
    std::string conninfo;                     // "postgresql://..." or "host=... dbname=..."
    std::optional<std::string> passwordFile;  // first line is the password
};

// Refuses a connection string libpq cannot parse or one that carries a
// password (it would show in the process list and the shell's history).
void CheckSettings(const ConnectionSettings& settings);
// The first line of the file; refused when the file is not a regular file
// or group or others may read it.
std::string ReadPasswordFile(const std::string& path);

class PgResult {
public:
    explicit PgResult(pg_result* result) : result_(result) {}
    int rows() const;
    bool isNull(int row, int column) const;
    std::string text(int row, int column) const;
    int64_t integer(int row, int column) const;
    std::optional<std::string> optionalText(int row, int column) const;
    std::optional<int64_t> optionalInteger(int row, int column) const;
    // Rows an INSERT, UPDATE, DELETE or COPY touched.
    int64_t affected() const;
    pg_result* raw() const { return result_.get(); }
    pg_result* release() { return result_.release(); }

private:
    struct Clear {
        void operator()(pg_result* result) const;
    };
    std::unique_ptr<pg_result, Clear> result_;
};

using Param = std::optional<std::string>;   // empty: SQL NULL

class PgConnection {
public:
    // Throws SettingsError for bad settings, PgError when the server cannot
    // be reached or refuses.
    explicit PgConnection(const ConnectionSettings& settings, const char* applicationName = "velta36");
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // One statement with text parameters ($1, $2, ...).
    PgResult exec(const std::string& sql, const std::vector<Param>& params = {});
    // Statements without parameters, several separated by ';'.
    void script(const std::string& sql);
    // COPY ... FROM STDIN with the rows in COPY's text format; the rows
    // the server took.
    int64_t copyIn(const std::string& sql, const std::string& rows);
    // Rolls back an open transaction; on a broken connection does nothing.
    void rollbackQuietly();
    bool broken() const;

private:
    PgResult check(pg_result* result, const std::string& sql);
    pg_conn* conn_ = nullptr;
};

// Array literals for passing many values as one parameter ($1::text[]),
// which PostgreSQL unnests into rows: one statement of constant text for a
// batch of any size.
std::string TextArray(const std::vector<std::string>& values);
std::string TextArray(const std::vector<Param>& values);
std::string IntegerArray(const std::vector<int64_t>& values);

// A field for COPY's text format: backslash, tab and line ends escaped.
// kCopyNull stands for NULL.
std::string CopyText(const std::string& value);
const char* const kCopyNull = "\\N";

}  // namespace velta36col

#endif
