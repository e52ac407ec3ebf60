// RawDatabase: a plain SQLite connection of the test's own on a database
// file, for what an administrator or another program does to it (drop the
// table, hold a lock), independent of the plug-in and its ODB runtime.
//
//   velta36test::RawDatabase other("ZRMDevice.db");
//   other.exec("BEGIN EXCLUSIVE");        // throws std::runtime_error on failure
//
// vfs names an SQLite VFS ("unix" keeps clear of a test VFS installed as the
// default); busyWaitMs is how long a statement waits for a lock.
#ifndef VELTA36_TESTS_SUPPORT_RAW_DATABASE_H
#define VELTA36_TESTS_SUPPORT_RAW_DATABASE_H

#include <sqlite3.h>

#include <stdexcept>
#include <string>

namespace velta36test {

class RawDatabase {
public:
    explicit RawDatabase(const std::string& path, const char* vfs = nullptr, int busyWaitMs = 5000)
    {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, vfs) != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw std::runtime_error("cannot open " + path + ": " + why);
        }
        sqlite3_busy_timeout(db_, busyWaitMs);
    }
    ~RawDatabase() { sqlite3_close(db_); }
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;

    void exec(const std::string& sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string why = error ? error : sqlite3_errmsg(db_);
            sqlite3_free(error);
            throw std::runtime_error(sql + ": " + why);
        }
    }

    sqlite3* handle() { return db_; }

private:
    sqlite3* db_ = nullptr;
};

}  // namespace velta36test

#endif
