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
        real_ = sqlite3_vfs_find(nullptr);
        failures_ = journalFailures;
        code_ = resultCode;
        vfs_ = *real_;
        vfs_.zName = "velta36-faulty";
        vfs_.xOpen = &Open;
        if (sqlite3_vfs_register(&vfs_, 1) != SQLITE_OK)
            throw std::runtime_error("sqlite3_vfs_register");
    }
    ~FaultyVfs() {
        sqlite3_vfs_unregister(&vfs_);
        sqlite3_vfs_register(real_, 1);
    }
    FaultyVfs(const FaultyVfs&) = delete;
    FaultyVfs& operator=(const FaultyVfs&) = delete;

    int remaining() const { return failures_; }

private:
    static int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
        if ((flags & SQLITE_OPEN_MAIN_JOURNAL) != 0 && failures_ > 0) {
            --failures_;
            return code_;
        }
        return real_->xOpen(real_, name, file, flags, outFlags);
    }

    // Static: SQLite calls back with no context of ours but the VFS.
    static inline sqlite3_vfs vfs_{};
    static inline sqlite3_vfs* real_ = nullptr;
    static inline std::atomic<int> failures_{0};
    static inline int code_ = SQLITE_IOERR;
};

}  // namespace storetest

#endif
