#include "report/sqlite_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "history/history_schema.h"

namespace orvanta::report {

namespace {

// The bytes a file name may not carry in an SQLite URI: the query, the fragment, the escape itself.
std::string uriOf(const std::string& path, const char* query) {
    std::string uri = "file://";
    for (const char c : std::filesystem::absolute(path).string()) {
        if (c == '%' || c == '?' || c == '#' || static_cast<unsigned char>(c) < 0x20) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            uri += escaped;
        } else {
            uri += c;
        }
    }
    return uri + "?" + query;
}

// A -wal or -journal beside the file that holds something: changes that are not in the file itself.
bool holdsChanges(const std::string& companion) {
    struct stat info {};
    return stat(companion.c_str(), &info) == 0 && info.st_size > 0;
}

}  // namespace

SqliteFile::SqliteFile(const std::string& path, int busyMillis) : path_(path) {
    // SQLite would report a missing file only as "unable to open": say what it is.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) throw ReportError(path + ": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode)) throw ReportError(path + ": not a file");
    // Read-only, through SQLite's locks and the WAL index beside the file, which SQLite makes when the
    // folder allows it and otherwise uses read-only.
    int code = SQLITE_OK;
    if (open(uriOf(path, "mode=ro"), busyMillis, &code)) return;
    const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
    sqlite3_close(db_);
    db_ = nullptr;
    const int primary = code & 0xff;
    if (primary != SQLITE_READONLY && primary != SQLITE_CANTOPEN)
        throw ReportError(path + ": cannot read: " + message);
    // A WAL file whose index nobody has made and this user may not make beside it: the file a panel has
    // finished, in a folder only its service user writes. With nothing waiting in a -wal or -journal the
    // file alone is the whole history: read it as immutable, without locks or an index, and check after
    // the reading that no writer changed it meanwhile.
    for (const char* companion : {"-wal", "-journal"})
        if (holdsChanges(path + companion))
            throw ReportError(path + ": cannot read: " + message + " (its " + companion +
                              " holds changes, which only a user who may write its folder can read with it)");
    before_ = stamp();
    immutable_ = true;
    if (!open(uriOf(path, "immutable=1"), busyMillis, &code)) {
        const std::string again = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
        sqlite3_close(db_);
        db_ = nullptr;
        throw ReportError(path + ": cannot read: " + again);
    }
}

bool SqliteFile::open(const std::string& uri, int busyMillis, int* code) {
    *code = sqlite3_open_v2(uri.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                            nullptr);
    if (*code != SQLITE_OK) return false;
    sqlite3_busy_timeout(db_, busyMillis);
    sqlite3_extended_result_codes(db_, 1);
    // The first read opens the WAL index: a file that needs one this user cannot make fails here.
    *code = sqlite3_exec(db_, "SELECT COUNT(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    return *code == SQLITE_OK;
}

SqliteFile::Stamp SqliteFile::stamp() const {
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0) return {};
    return {static_cast<long long>(info.st_size),
            static_cast<long long>(info.st_mtim.tv_sec) * 1'000'000'000LL + info.st_mtim.tv_nsec,
            static_cast<unsigned long long>(info.st_ino)};
}

void SqliteFile::requireUnchanged() const {
    if (!immutable_) return;
    if (!(stamp() == before_) || holdsChanges(path_ + "-wal") || holdsChanges(path_ + "-journal"))
        throw ReportError(path_ + ": written to while it was read; report again");
}

SqliteFile::~SqliteFile() { sqlite3_close(db_); }

void SqliteFile::fail(std::string_view what) const {
    throw ReportError(path_ + ": " + std::string(what) + ": " + sqlite3_errmsg(db_));
}

void SqliteFile::execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message != nullptr ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw ReportError(path_ + ": " + text);
    }
}

int SqliteFile::requireHistory() {
    // The first read of the file: a file that is not a database fails here.
    Statement version(*this, "PRAGMA user_version");
    version.step();
    const std::int64_t found = version.integer(0);
    Statement tables(*this,
                     "SELECT COUNT(*) FROM sqlite_schema WHERE type = 'table' AND name IN "
                     "('runs', 'alarm_episodes', 'state_intervals', 'gaps')");
    tables.step();
    if (tables.integer(0) != 4) throw ReportError(path_ + ": not a history file (its tables are missing)");
    if (found < 1 || found > history::kSchemaVersion)
        throw ReportError(path_ + ": a history file of version " + std::to_string(found) +
                          " (PRAGMA user_version), this report reads versions 1 to " +
                          std::to_string(history::kSchemaVersion));
    return static_cast<int>(found);
}

Statement::Statement(SqliteFile& file, const char* sql) : file_(file) {
    if (sqlite3_prepare_v2(file.handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) file.fail("cannot read");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) file_.fail("cannot read");
    return *this;
}

Statement& Statement::bind(const char* name, std::int64_t value) {
    const int index = sqlite3_bind_parameter_index(stmt_, name);
    if (index == 0) return *this;  // a query that does not use this bound
    return bind(index, value);
}

Statement& Statement::bind(const char* name, const std::string& value) {
    const int index = sqlite3_bind_parameter_index(stmt_, name);
    if (index == 0) return *this;
    if (sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        file_.fail("cannot read");
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    file_.fail("cannot read");
}

void Statement::reset() { sqlite3_reset(stmt_); }

std::string Statement::text(int column) const {
    const unsigned char* value = sqlite3_column_text(stmt_, column);
    if (value == nullptr) return {};
    return {reinterpret_cast<const char*>(value),
            static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))};
}

}  // namespace orvanta::report
