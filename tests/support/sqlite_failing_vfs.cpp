#include "support/sqlite_failing_vfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace orvanta::testing {

namespace {

std::atomic<int> failure{SQLITE_OK};
std::atomic<int> remaining{0};  // > 0: only so many more writes fail
std::atomic<int> failedCount{0};
std::atomic<int> failureErrno{0};

sqlite3_vfs* real = nullptr;
sqlite3_vfs shim{};
sqlite3_io_methods methods{};

// The real file follows the shim's header in the memory SQLite allocates (szOsFile covers both).
struct ShimFile {
    sqlite3_file base;
};
sqlite3_file* inner(sqlite3_file* file) {
    return reinterpret_cast<sqlite3_file*>(reinterpret_cast<ShimFile*>(file) + 1);
}

bool failNow() {
    if (failure.load() == SQLITE_OK) return false;
    if (remaining.load() > 0 && remaining.fetch_sub(1) == 1) failure = SQLITE_OK;
    ++failedCount;
    return true;
}

int shimWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    const int rc = failure.load();
    if (rc != SQLITE_OK && failNow()) {
        errno = failureErrno.load();
        return rc;
    }
    return inner(file)->pMethods->xWrite(inner(file), data, amount, offset);
}

int shimClose(sqlite3_file* file) { return inner(file)->pMethods->xClose(inner(file)); }
int shimRead(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
    return inner(file)->pMethods->xRead(inner(file), data, amount, offset);
}
int shimTruncate(sqlite3_file* file, sqlite3_int64 size) {
    return inner(file)->pMethods->xTruncate(inner(file), size);
}
int shimSync(sqlite3_file* file, int flags) { return inner(file)->pMethods->xSync(inner(file), flags); }
int shimFileSize(sqlite3_file* file, sqlite3_int64* size) {
    return inner(file)->pMethods->xFileSize(inner(file), size);
}
int shimLock(sqlite3_file* file, int lock) { return inner(file)->pMethods->xLock(inner(file), lock); }
int shimUnlock(sqlite3_file* file, int lock) { return inner(file)->pMethods->xUnlock(inner(file), lock); }
int shimCheckReservedLock(sqlite3_file* file, int* out) {
    return inner(file)->pMethods->xCheckReservedLock(inner(file), out);
}
int shimFileControl(sqlite3_file* file, int op, void* arg) {
    return inner(file)->pMethods->xFileControl(inner(file), op, arg);
}
int shimSectorSize(sqlite3_file* file) { return inner(file)->pMethods->xSectorSize(inner(file)); }
int shimDeviceCharacteristics(sqlite3_file* file) {
    return inner(file)->pMethods->xDeviceCharacteristics(inner(file));
}
int shimShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
    return inner(file)->pMethods->xShmMap(inner(file), region, size, extend, out);
}
int shimShmLock(sqlite3_file* file, int offset, int n, int flags) {
    return inner(file)->pMethods->xShmLock(inner(file), offset, n, flags);
}
void shimShmBarrier(sqlite3_file* file) { inner(file)->pMethods->xShmBarrier(inner(file)); }
int shimShmUnmap(sqlite3_file* file, int deleteFlag) {
    return inner(file)->pMethods->xShmUnmap(inner(file), deleteFlag);
}
int shimFetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
    return inner(file)->pMethods->xFetch(inner(file), offset, amount, out);
}
int shimUnfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
    return inner(file)->pMethods->xUnfetch(inner(file), offset, page);
}

int shimOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    file->pMethods = nullptr;
    const int rc = real->xOpen(real, name, inner(file), flags, outFlags);
    if (inner(file)->pMethods != nullptr) {
        methods.iVersion = inner(file)->pMethods->iVersion;
        file->pMethods = &methods;
    }
    return rc;
}

}  // namespace

void SqliteFailingVfs::install() {
    static std::once_flag once;
    std::call_once(once, [] {
        real = sqlite3_vfs_find(nullptr);
        methods = sqlite3_io_methods{3,
                                     shimClose,
                                     shimRead,
                                     shimWrite,
                                     shimTruncate,
                                     shimSync,
                                     shimFileSize,
                                     shimLock,
                                     shimUnlock,
                                     shimCheckReservedLock,
                                     shimFileControl,
                                     shimSectorSize,
                                     shimDeviceCharacteristics,
                                     shimShmMap,
                                     shimShmLock,
                                     shimShmBarrier,
                                     shimShmUnmap,
                                     shimFetch,
                                     shimUnfetch};
        // Everything but opening is the real VFS's own (its functions read only the fields copied here).
        shim = *real;
        shim.zName = kName;
        shim.szOsFile = static_cast<int>(sizeof(ShimFile)) + real->szOsFile;
        shim.xOpen = shimOpen;
        shim.pNext = nullptr;
        sqlite3_vfs_register(&shim, 0);
    });
}

void SqliteFailingVfs::failWrites(int rc, int count, int systemErrno) {
    remaining = count;
    failureErrno = systemErrno;
    failure = rc;
}

int SqliteFailingVfs::failedWrites() { return failedCount.load(); }

}  // namespace orvanta::testing
