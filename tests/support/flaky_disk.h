// FlakyDisk: a SQLite VFS over the default one, for storing through a
// disk that misbehaves. While installed it is the default VFS, so every
// connection opened meanwhile (the plug-in's too) goes through it.
//
//   velta36test::FlakyDisk disk(seed);      // installed, behaving
//   disk.failShare(0.3, 0.3, 0.2);          // a share of writes, syncs and
//                                           // lock requests fail
//   disk.failAllWrites(SQLITE_FULL);        // every write fails: disk full
//   disk.behave();                          // all well again
//   disk.powerCut();                        // throw away every write not
//                                           // yet synced; nothing more
//                                           // reaches the disk afterwards
//
// A failed write gives SQLITE_IOERR_WRITE (or the code given), a failed
// sync SQLITE_IOERR_FSYNC, a failed lock request SQLITE_IOERR_LOCK; only
// lock upgrades fail, never unlocking. For the power cut every write and
// truncation since a file's last sync is remembered with what it replaced,
// by file name, and undone; a file removed meanwhile stays removed.
//
// The VFS must outlive every connection opened through it: keep the object
// until those connections are closed. One at a time per process.
#ifndef VELTA36_TESTS_SUPPORT_FLAKY_DISK_H
#define VELTA36_TESTS_SUPPORT_FLAKY_DISK_H

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace velta36test {

class FlakyDisk {
public:
    explicit FlakyDisk(uint64_t seed = 1) : random_(seed ? seed : 1)
    {
        std::lock_guard<std::mutex> lock(InstallMutex());
        if (Installed())
            throw std::logic_error("one FlakyDisk at a time");
        real_ = sqlite3_vfs_find(nullptr);
        vfs_ = *real_;
        vfs_.zName = "velta36-flaky-disk";
        vfs_.szOsFile = static_cast<int>(RealOffset() + static_cast<std::size_t>(real_->szOsFile));
        vfs_.xOpen = &Open;
        vfs_.xDelete = &Delete;
        vfs_.pAppData = this;
        if (sqlite3_vfs_register(&vfs_, 1) != SQLITE_OK)
            throw std::runtime_error("sqlite3_vfs_register");
        Installed() = true;
    }

    ~FlakyDisk()
    {
        std::lock_guard<std::mutex> lock(InstallMutex());
        sqlite3_vfs_unregister(&vfs_);
        sqlite3_vfs_register(real_, 1);
        Installed() = false;
    }

    FlakyDisk(const FlakyDisk&) = delete;
    FlakyDisk& operator=(const FlakyDisk&) = delete;

    // Each write, sync and lock upgrade fails with the given probability.
    void failShare(double writes, double syncs, double locks)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        writeShare_ = writes;
        syncShare_ = syncs;
        lockShare_ = locks;
        writeCode_ = SQLITE_IOERR_WRITE;
    }

    // Every write fails with code (SQLITE_FULL: the disk is full).
    void failAllWrites(int code)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        writeShare_ = 1.0;
        syncShare_ = 0;
        lockShare_ = 0;
        writeCode_ = code;
    }

    void behave() { failShare(0, 0, 0); }

    void powerCut()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& entry : unsynced_)
            Undo(entry.first, entry.second);
        unsynced_.clear();
        dead_ = true;
    }

    uint64_t failuresInjected() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return failures_;
    }

private:
    // What a file held before the writes not yet synced.
    struct Unsynced {
        sqlite3_int64 sizeBefore = -1;
        std::vector<std::pair<sqlite3_int64, std::string>> replaced;   // in write order
    };

    struct File {
        sqlite3_file base;
        FlakyDisk* disk;
        std::string name;   // empty for files without a name
        sqlite3_file* real;
        sqlite3_io_methods methods;   // the real file's, with ours put in
    };

    static std::mutex& InstallMutex()
    {
        static std::mutex mutex;
        return mutex;
    }

    static bool& Installed()
    {
        static bool installed = false;
        return installed;
    }

    static std::size_t RealOffset() { return (sizeof(File) + 15) & ~static_cast<std::size_t>(15); }
    static sqlite3_file* Real(sqlite3_file* file) { return reinterpret_cast<File*>(file)->real; }
    static FlakyDisk& Disk(sqlite3_file* file) { return *reinterpret_cast<File*>(file)->disk; }

    // splitmix64; the caller holds mutex_.
    double Draw()
    {
        uint64_t z = (random_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) / 9007199254740992.0;
    }

    bool Fails(double share)
    {
        if (share <= 0 || Draw() >= share)
            return false;
        ++failures_;
        return true;
    }

    static void Undo(const std::string& name, const Unsynced& what)
    {
        const int fd = ::open(name.c_str(), O_RDWR);
        if (fd < 0)
            return;   // removed meanwhile: stays removed
        for (auto it = what.replaced.rbegin(); it != what.replaced.rend(); ++it) {
            if (!it->second.empty() &&
                ::pwrite(fd, it->second.data(), it->second.size(), static_cast<off_t>(it->first)) < 0)
                break;
        }
        if (what.sizeBefore >= 0 && ::ftruncate(fd, static_cast<off_t>(what.sizeBefore)) != 0) {
            // Nothing better to do in a test helper than leave it.
        }
        ::close(fd);
    }

    // Remembers what [offset, offset + amount) and the size were before a
    // change; the caller holds mutex_.
    void Remember(sqlite3_file* file, sqlite3_int64 offset, sqlite3_int64 amount)
    {
        File* f = reinterpret_cast<File*>(file);
        if (f->name.empty())
            return;
        sqlite3_int64 size = 0;
        if (f->real->pMethods->xFileSize(f->real, &size) != SQLITE_OK)
            return;
        Unsynced& entry = unsynced_[f->name];
        if (entry.sizeBefore < 0)
            entry.sizeBefore = size;
        const sqlite3_int64 end = offset + amount < size ? offset + amount : size;
        std::string old;
        if (end > offset) {
            old.resize(static_cast<std::size_t>(end - offset));
            if (f->real->pMethods->xRead(f->real, &old[0], static_cast<int>(old.size()), offset) != SQLITE_OK)
                old.clear();
        }
        entry.replaced.emplace_back(offset, old);
    }

    static int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags)
    {
        FlakyDisk& disk = *static_cast<FlakyDisk*>(vfs->pAppData);
        File* f = reinterpret_cast<File*>(file);
        new (f) File();
        f->disk = &disk;
        f->name = name ? name : "";
        f->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + RealOffset());
        std::memset(f->real, 0, static_cast<std::size_t>(disk.real_->szOsFile));
        const int rc = disk.real_->xOpen(disk.real_, name, f->real, flags, outFlags);
        if (rc != SQLITE_OK || f->real->pMethods == nullptr) {
            f->~File();
            file->pMethods = nullptr;
            return rc;
        }
        sqlite3_io_methods& m = f->methods;
        m = *f->real->pMethods;
        m.xClose = &Close;
        m.xWrite = &Write;
        m.xTruncate = &Truncate;
        m.xSync = &Sync;
        m.xLock = &Lock;
        m.xRead = &Read;
        m.xFileSize = &FileSize;
        m.xUnlock = &Unlock;
        m.xCheckReservedLock = &CheckReservedLock;
        m.xFileControl = &FileControl;
        m.xSectorSize = &SectorSize;
        m.xDeviceCharacteristics = &DeviceCharacteristics;
        // Shared memory (write-ahead log) and memory mapping are not offered:
        // the file is used in rollback-journal mode.
        m.iVersion = 1;
        file->pMethods = &m;
        return SQLITE_OK;
    }

    static int Delete(sqlite3_vfs* vfs, const char* name, int syncDir)
    {
        FlakyDisk& disk = *static_cast<FlakyDisk*>(vfs->pAppData);
        {
            std::lock_guard<std::mutex> lock(disk.mutex_);
            if (disk.dead_)
                return SQLITE_IOERR_DELETE;
            disk.unsynced_.erase(name);
        }
        return disk.real_->xDelete(disk.real_, name, syncDir);
    }

    static int Close(sqlite3_file* file)
    {
        File* f = reinterpret_cast<File*>(file);
        const int rc = f->real->pMethods->xClose(f->real);
        f->~File();
        return rc;
    }

    static int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset)
    {
        return Real(file)->pMethods->xRead(Real(file), buffer, amount, offset);
    }

    static int Write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset)
    {
        FlakyDisk& disk = Disk(file);
        std::lock_guard<std::mutex> lock(disk.mutex_);
        if (disk.dead_)
            return SQLITE_IOERR_WRITE;
        if (disk.Fails(disk.writeShare_))
            return disk.writeCode_;
        disk.Remember(file, offset, amount);
        return Real(file)->pMethods->xWrite(Real(file), buffer, amount, offset);
    }

    static int Truncate(sqlite3_file* file, sqlite3_int64 size)
    {
        FlakyDisk& disk = Disk(file);
        std::lock_guard<std::mutex> lock(disk.mutex_);
        if (disk.dead_)
            return SQLITE_IOERR_TRUNCATE;
        sqlite3_int64 now = 0;
        if (Real(file)->pMethods->xFileSize(Real(file), &now) == SQLITE_OK && now > size)
            disk.Remember(file, size, now - size);
        return Real(file)->pMethods->xTruncate(Real(file), size);
    }

    static int Sync(sqlite3_file* file, int flags)
    {
        FlakyDisk& disk = Disk(file);
        std::lock_guard<std::mutex> lock(disk.mutex_);
        if (disk.dead_)
            return SQLITE_IOERR_FSYNC;
        if (disk.Fails(disk.syncShare_))
            return SQLITE_IOERR_FSYNC;
        const int rc = Real(file)->pMethods->xSync(Real(file), flags);
        if (rc == SQLITE_OK)
            disk.unsynced_.erase(reinterpret_cast<File*>(file)->name);
        return rc;
    }

    static int FileSize(sqlite3_file* file, sqlite3_int64* size)
    {
        return Real(file)->pMethods->xFileSize(Real(file), size);
    }

    static int Lock(sqlite3_file* file, int level)
    {
        FlakyDisk& disk = Disk(file);
        {
            std::lock_guard<std::mutex> lock(disk.mutex_);
            if (disk.Fails(disk.lockShare_))
                return SQLITE_IOERR_LOCK;
        }
        return Real(file)->pMethods->xLock(Real(file), level);
    }

    static int Unlock(sqlite3_file* file, int level)
    {
        return Real(file)->pMethods->xUnlock(Real(file), level);
    }

    static int CheckReservedLock(sqlite3_file* file, int* out)
    {
        return Real(file)->pMethods->xCheckReservedLock(Real(file), out);
    }

    static int FileControl(sqlite3_file* file, int op, void* arg)
    {
        return Real(file)->pMethods->xFileControl(Real(file), op, arg);
    }

    static int SectorSize(sqlite3_file* file) { return Real(file)->pMethods->xSectorSize(Real(file)); }

    static int DeviceCharacteristics(sqlite3_file* file)
    {
        return Real(file)->pMethods->xDeviceCharacteristics(Real(file));
    }

    sqlite3_vfs vfs_{};
    sqlite3_vfs* real_ = nullptr;
    mutable std::mutex mutex_;
    uint64_t random_;
    double writeShare_ = 0;
    double syncShare_ = 0;
    double lockShare_ = 0;
    int writeCode_ = SQLITE_IOERR_WRITE;
    bool dead_ = false;
    uint64_t failures_ = 0;
    std::map<std::string, Unsynced> unsynced_;
};

}  // namespace velta36test

#endif
