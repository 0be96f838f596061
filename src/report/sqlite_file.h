// A history file opened for reading, and the few calls of SQLite the report makes on it. Every failure
// becomes a ReportError naming the file, so that one bad file is a message and never a crash.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvanta::report {

class ReportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Statement;

class SqliteFile {
public:
    // Read-only, never creating or changing a file beside it; waits up to busyMillis for a writer's lock.
    // A file nobody has open and without changes waiting in a -wal or -journal is read as immutable, so
    // that a user who may only read its folder can report it; any other goes through SQLite's locks.
    SqliteFile(const std::string& path, int busyMillis);
    ~SqliteFile();
    SqliteFile(const SqliteFile&) = delete;
    SqliteFile& operator=(const SqliteFile&) = delete;

    // A file written by the panel with the tables the report reads, of a version it reads: which one.
    int requireHistory();

    void execute(const char* sql);
    sqlite3* handle() const { return db_; }
    const std::string& path() const { return path_; }
    [[noreturn]] void fail(std::string_view what) const;
    // After the last read: a file read as immutable that a writer changed meanwhile fails here, since
    // its figures may mix two states of it.
    void requireUnchanged() const;

private:
    struct Stamp {
        long long size = -1;
        long long modified = 0;
        unsigned long long inode = 0;
        bool operator==(const Stamp&) const = default;
    };
    Stamp stamp() const;
    bool open(const std::string& uri, int busyMillis, int* code);

    std::string path_;
    sqlite3* db_ = nullptr;
    bool immutable_ = false;
    Stamp before_;
};

class Statement {
public:
    Statement(SqliteFile& file, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value);
    Statement& bind(const char* name, std::int64_t value);
    Statement& bind(const char* name, const std::string& value);
    // The next row; false when there is none.
    bool step();
    void reset();

    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    double real(int column) const { return sqlite3_column_double(stmt_, column); }
    bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::optional<std::int64_t> optionalInteger(int column) const {
        if (isNull(column)) return std::nullopt;
        return integer(column);
    }
    std::string text(int column) const;

private:
    SqliteFile& file_;
    sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace orvanta::report
