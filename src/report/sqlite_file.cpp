#include "report/sqlite_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "history/history_schema.h"

namespace orvanta::report {

SqliteFile::SqliteFile(const std::string& path, int busyMillis) : path_(path) {
    // SQLite would report a missing file only as "unable to open": say what it is.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) throw ReportError(path + ": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode)) throw ReportError(path + ": not a file");
    const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw ReportError(path + ": cannot open: " + message);
    }
    sqlite3_busy_timeout(db_, busyMillis);
    sqlite3_extended_result_codes(db_, 1);
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

void SqliteFile::requireHistory() {
    // The first read of the file: a file that is not a database fails here.
    Statement version(*this, "PRAGMA user_version");
    version.step();
    const std::int64_t found = version.integer(0);
    Statement tables(*this,
                     "SELECT COUNT(*) FROM sqlite_schema WHERE type = 'table' AND name IN "
                     "('runs', 'alarm_episodes', 'state_intervals', 'gaps')");
    tables.step();
    if (tables.integer(0) != 4) throw ReportError(path_ + ": not a history file (its tables are missing)");
    if (found != history::kSchemaVersion)
        throw ReportError(path_ + ": a history file of version " + std::to_string(found) +
                          ", this report reads version " + std::to_string(history::kSchemaVersion));
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
