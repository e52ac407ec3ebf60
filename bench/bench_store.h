// The two sides of the store comparison: the event a decoder stores for a
// granted entry swipe, and a plain SQLite program that stores it the way a
// careful hand-written one would: statements prepared once, one row per
// BEGIN and COMMIT, on "ZRMDevice.db" of the working directory, opened like
// the device's handle (read-write, foreign keys on, default journal mode).
#ifndef VELTA36_BENCH_BENCH_STORE_H
#define VELTA36_BENCH_BENCH_STORE_H

#include <sqlite3.h>

#include "velta36_event.hxx"

namespace velta36bench {

velta36_event SampleEvent();

class RawStore {
public:
    RawStore();
    ~RawStore();
    RawStore(const RawStore&) = delete;
    RawStore& operator=(const RawStore&) = delete;

    // One row in its own transaction; returns its identifier. Throws
    // std::runtime_error when SQLite refuses.
    sqlite3_int64 Save(const velta36_event& event);

private:
    void Close();
    void Check(int rc, const char* what);
    void Prepare(const char* sql, sqlite3_stmt** statement);
    void Step(sqlite3_stmt* statement, const char* what);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* begin_ = nullptr;
    sqlite3_stmt* commit_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
};

}  // namespace velta36bench

#endif
