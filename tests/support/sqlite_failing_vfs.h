// An SQLite VFS for tests that passes everything to the system's default VFS, except that its writes can
// be made to fail: a full disk (SQLITE_FULL), a failing one (SQLITE_IOERR_WRITE), a damaged file
// (SQLITE_CORRUPT), without a file system of its own or privileges.
#pragma once

namespace orvanta::testing {

class SqliteFailingVfs {
public:
    static constexpr const char* kName = "orvanta-failing";

    // Registers the VFS (once per process); not the default.
    static void install();
    // Every write of a file opened through it fails with rc from now on (SQLITE_OK: none fails), or only
    // the next `count` writes when count is positive. A failing write leaves systemErrno in errno, as a
    // system call would (ENOSPC: the disk is full).
    static void failWrites(int rc, int count = 0, int systemErrno = 0);
    // Writes that failed since the start.
    static int failedWrites();
};

}  // namespace orvanta::testing
