// Writes history files of known content: row by row for a test that needs exact answers, or a whole
// line's history from a seed for the demo picture and the benchmark (a busy year in a few seconds: one
// transaction, prepared statements).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "history/history_records.h"

namespace orvanta::report {

using history::Millis;

class HistoryFileWriter {
public:
    // Creates the file (replacing one that is there) with the history's tables and version.
    explicit HistoryFileWriter(const std::string& path);
    ~HistoryFileWriter();
    HistoryFileWriter(const HistoryFileWriter&) = delete;
    HistoryFileWriter& operator=(const HistoryFileWriter&) = delete;

    void run(std::int64_t run, const std::string& line, Millis started, Millis lastSeen,
             std::optional<Millis> ended, int utcOffsetMinutes = 60, const std::string& timeZone = {});
    // machine: the own machine 1..5 the slot stands for, 0 for none.
    void interval(std::int64_t run, int slot, const std::string& name, int status, Millis started,
                  std::optional<Millis> ended, const std::string& cause = {}, bool foreign = false,
                  int machine = 0);
    void episode(std::int64_t run, int machine, int table, int fault, const std::string& text, Millis raised,
                 std::optional<Millis> cleared, std::optional<Millis> published = {},
                 std::optional<Millis> echoed = {});
    void gap(std::int64_t run, const std::string& kind, Millis started, std::optional<Millis> ended);
    // The text of the key episode() gives machine's fault, in a language at a place of the plant's list.
    void alarmText(int machine, int fault, int language, int position, const std::string& text);
    // Ends the transaction; the writer's rows are in the file after this (or the destructor).
    void commit();

    std::int64_t rows() const { return rows_; }

private:
    void exec(const char* sql);
    std::int64_t nextSeq(std::int64_t run) { return ++seq_[run]; }
    void step(sqlite3_stmt* statement);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* run_ = nullptr;
    sqlite3_stmt* interval_ = nullptr;
    sqlite3_stmt* episode_ = nullptr;
    sqlite3_stmt* gap_ = nullptr;
    sqlite3_stmt* text_ = nullptr;
    std::map<std::int64_t, std::int64_t> seq_;
    std::int64_t rows_ = 0;
    bool open_ = false;
};

struct GeneratedLine {
    std::uint64_t seed = 1;
    std::string line = "Pelmar";
    Millis start = 1'796'083'200'000;  // 2026-12-01 00:00 UTC
    Millis length = 60 * 60 * 1000;
    Millis runLength = 7LL * 24 * 60 * 60 * 1000;  // the panel restarts weekly
    int ownMachines = 5;
    int foreignMachines = 2;
    double meanRunningMinutes = 12;
    double meanStopMinutes = 2;
    double alarmsPerHour = 57;
    double gapsPerDay = 2;
    bool lastRunCrashed = true;  // its last rows stay open, its run never ended
};

struct GeneratedCounts {
    std::int64_t runs = 0;
    std::int64_t intervals = 0;
    std::int64_t episodes = 0;
    std::int64_t gaps = 0;
};

GeneratedCounts generateHistory(const std::string& path, const GeneratedLine& line);

}  // namespace orvanta::report
