// FaultyVfs: while installed, the default SQLite VFS fails the next N
// openings of a rollback journal with a chosen result code; everything else
// goes to the real VFS. A write transaction opens its journal at its first
// change, so "fail the next journal" means "fail the next write attempt".
// Connections opened while it is installed keep using it afterwards.
#ifndef VELTA36_TESTS_STORE_FAULTY_VFS_H
#define VELTA36_TESTS_STORE_FAULTY_VFS_H

#include <sqlite3.h>

#include <atomic>
#include <stdexcept>

namespace storetest {

class FaultyVfs {
public:
    FaultyVfs(int journalFailures, int resultCode) {
        state().real = sqlite3_vfs_find(nullptr);
        state().failures = journalFailures;
        state().code = resultCode;
        state().vfs = *state().real;
        state().vfs.zName = "velta36-faulty";
        state().vfs.xOpen = &Open;
        if (sqlite3_vfs_register(&state().vfs, 1) != SQLITE_OK)
            throw std::runtime_error("sqlite3_vfs_register");
    }
    ~FaultyVfs() {
        sqlite3_vfs_unregister(&state().vfs);
        sqlite3_vfs_register(state().real, 1);
    }
    FaultyVfs(const FaultyVfs&) = delete;
    FaultyVfs& operator=(const FaultyVfs&) = delete;

    int remaining() const { return state().failures; }

private:
    static int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
        if ((flags & SQLITE_OPEN_MAIN_JOURNAL) != 0 && state().failures > 0) {
            --state().failures;
            return state().code;
        }
        return state().real->xOpen(state().real, name, file, flags, outFlags);
    }

    // Static: SQLite calls back with no context of ours but the VFS. One
    // instance per process, reached through a function so that the header
    // stays C++14 (the store tests include ODB's headers).
    struct State {
        sqlite3_vfs vfs{};
        sqlite3_vfs* real = nullptr;
        std::atomic<int> failures{0};
        int code = SQLITE_IOERR;
    };
    static State& state() {
        static State s;
        return s;
    }
};

}  // namespace storetest

#endif
