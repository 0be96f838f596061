#include "report/history_generator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

#include "history/history_schema.h"

namespace orvanta::report {

namespace {

void bindOptional(sqlite3_stmt* statement, int index, std::optional<Millis> value) {
    if (value) {
        sqlite3_bind_int64(statement, index, *value);
    } else {
        sqlite3_bind_null(statement, index);
    }
}

std::string textKey(int machine, int fault) {
    return "ALM_" + std::to_string(machine) + "_" + std::to_string(fault);
}

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

HistoryFileWriter::HistoryFileWriter(const std::string& path) {
    std::remove(path.c_str());
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot create " + path + ": " + sqlite3_errmsg(db_));
    exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF");
    exec(history::kSchema);
    exec(("PRAGMA user_version = " + std::to_string(history::kSchemaVersion)).c_str());
    exec("BEGIN");
    open_ = true;
    auto prepare = [this](const char* sql, sqlite3_stmt** statement) {
        if (sqlite3_prepare_v2(db_, sql, -1, statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db_));
    };
    prepare("INSERT INTO runs VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)", &run_);
    prepare("INSERT INTO state_intervals VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)", &interval_);
    prepare("INSERT INTO alarm_episodes VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)",
            &episode_);
    prepare("INSERT INTO gaps VALUES (?1, ?2, ?3, ?4, ?5)", &gap_);
    prepare("INSERT OR REPLACE INTO alarm_texts VALUES (?1, ?2, ?3, ?4)", &text_);
}

HistoryFileWriter::~HistoryFileWriter() {
    try {
        commit();
    } catch (const std::exception&) {
        // A destructor must not throw; the test that needs the rows calls commit() itself.
    }
    for (sqlite3_stmt* statement : {run_, interval_, episode_, gap_, text_}) sqlite3_finalize(statement);
    sqlite3_close(db_);
}

void HistoryFileWriter::exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(db_));
}

void HistoryFileWriter::step(sqlite3_stmt* statement) {
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    ++rows_;
}

void HistoryFileWriter::commit() {
    if (!open_) return;
    open_ = false;
    exec("COMMIT");
}

void HistoryFileWriter::run(std::int64_t run, const std::string& line, Millis started, Millis lastSeen,
                            std::optional<Millis> ended, int utcOffsetMinutes, const std::string& timeZone) {
    sqlite3_bind_int64(run_, 1, run);
    bindText(run_, 2, line);
    sqlite3_bind_int64(run_, 3, started);
    sqlite3_bind_int64(run_, 4, utcOffsetMinutes);
    sqlite3_bind_int64(run_, 5, lastSeen);
    bindOptional(run_, 6, ended);
    bindText(run_, 7, timeZone);
    step(run_);
}

void HistoryFileWriter::interval(std::int64_t run, int slot, const std::string& name, int status,
                                 Millis started, std::optional<Millis> ended, const std::string& cause,
                                 bool foreign, int machine) {
    sqlite3_bind_int64(interval_, 1, run);
    sqlite3_bind_int64(interval_, 2, nextSeq(run));
    sqlite3_bind_int64(interval_, 3, slot);
    bindText(interval_, 4, name);
    sqlite3_bind_int64(interval_, 5, foreign ? 1 : 0);
    sqlite3_bind_int64(interval_, 6, status);
    bindText(interval_, 7, cause);
    sqlite3_bind_int64(interval_, 8, started);
    bindOptional(interval_, 9, ended);
    sqlite3_bind_int64(interval_, 10, machine);
    step(interval_);
}

void HistoryFileWriter::episode(std::int64_t run, int machine, int table, int fault, const std::string& text,
                                Millis raised, std::optional<Millis> cleared, std::optional<Millis> published,
                                std::optional<Millis> echoed) {
    sqlite3_bind_int64(episode_, 1, run);
    sqlite3_bind_int64(episode_, 2, nextSeq(run));
    sqlite3_bind_int64(episode_, 3, machine);
    sqlite3_bind_int64(episode_, 4, table);
    sqlite3_bind_int64(episode_, 5, 1000 + fault);
    sqlite3_bind_int64(episode_, 6, fault);
    bindText(episode_, 7, textKey(machine, fault));
    bindText(episode_, 8, text);
    sqlite3_bind_int64(episode_, 9, table == 1 ? 1 : 5);
    sqlite3_bind_int64(episode_, 10, table == 1 ? 4 : 2);
    sqlite3_bind_int64(episode_, 11, raised);
    bindOptional(episode_, 12, published);
    bindOptional(episode_, 13, echoed);
    bindOptional(episode_, 14, cleared);
    step(episode_);
}

void HistoryFileWriter::gap(std::int64_t run, const std::string& kind, Millis started,
                            std::optional<Millis> ended) {
    sqlite3_bind_int64(gap_, 1, run);
    sqlite3_bind_int64(gap_, 2, nextSeq(run));
    bindText(gap_, 3, kind);
    sqlite3_bind_int64(gap_, 4, started);
    bindOptional(gap_, 5, ended);
    step(gap_);
}

void HistoryFileWriter::alarmText(int machine, int fault, int language, int position,
                                  const std::string& text) {
    bindText(text_, 1, textKey(machine, fault));
    sqlite3_bind_int64(text_, 2, language);
    sqlite3_bind_int64(text_, 3, position);
    bindText(text_, 4, text);
    step(text_);
}

namespace {

constexpr Millis kMinute = 60 * 1000;
constexpr std::array<const char*, 12> kCauses{
    "Label magazine empty", "Bottle jam at infeed", "Capper torque fault", "Emergency stop pressed",
    "Guard door open",      "Filler level low",     "Conveyor overload",   "Air pressure low",
    "Glue temperature low", "Printer ribbon out",   "Shrink tunnel cold",  "Pallet missing"};

class LineGenerator {
public:
    LineGenerator(HistoryFileWriter& out, const GeneratedLine& line)
        : out_(out), line_(line), random_(line.seed) {}

    GeneratedCounts run() {
        const Millis end = line_.start + line_.length;
        for (Millis started = line_.start; started < end;) {
            const Millis finish = std::min(end, started + line_.runLength);
            const bool last = finish >= end;
            const bool crashed = last && line_.lastRunCrashed;
            out_.run(started, line_.line, started, finish,
                     crashed ? std::nullopt : std::optional<Millis>(finish));
            ++counts_.runs;
            oneRun(started, finish, crashed);
            started = finish + 5 * kMinute;  // the panel was down a few minutes between runs
        }
        return counts_;
    }

private:
    double exponential(double mean) { return std::exponential_distribution<double>(1.0 / mean)(random_); }
    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    // Low numbers far more often than high ones, as real alarms and causes come.
    int skewed(int count) {
        const double u = std::uniform_real_distribution<double>(0.0, 1.0)(random_);
        return std::min(count - 1, static_cast<int>(std::floor(count * u * u * u)));
    }
    Millis minutes(double value) { return std::max<Millis>(1000, static_cast<Millis>(value * kMinute)); }

    void oneRun(Millis started, Millis finish, bool crashed) {
        const std::optional<Millis> openEnd = crashed ? std::nullopt : std::optional<Millis>(finish);
        // Gaps: a broker or the line lost for a few minutes.
        const double days = static_cast<double>(finish - started) / (24.0 * 60 * kMinute);
        const int gaps = static_cast<int>(std::round(days * line_.gapsPerDay));
        for (int g = 0; g < gaps; ++g) {
            const Millis at =
                started + static_cast<Millis>(std::uniform_real_distribution<double>(0, 1)(random_) *
                                              static_cast<double>(finish - started));
            const Millis until = std::min(finish, at + minutes(1 + exponential(4)));
            out_.gap(started, g % 2 == 0 ? "broker" : "line", at, until);
            ++counts_.gaps;
        }
        const int slots = line_.ownMachines + line_.foreignMachines;
        for (int slot = -1; slot < slots; ++slot) {
            const bool foreign = slot >= line_.ownMachines;
            const std::string name =
                slot < 0 ? line_.line : (foreign ? "Palletiser " : "Machine ") + std::to_string(slot + 1);
            for (Millis at = started; at < finish;) {
                int status = 1;
                std::string cause;
                Millis length = minutes(exponential(line_.meanRunningMinutes));
                if (at != started && lastRunning_) {
                    const int pick = uniform(0, 19);
                    status = pick < 10 ? 4 : pick < 14 ? 2 : pick < 16 ? 3 : pick < 18 ? 6 : 5;
                    if (status == 4 || status == 3) cause = kCauses[static_cast<std::size_t>(skewed(12))];
                    length = minutes(exponential(line_.meanStopMinutes));
                }
                lastRunning_ = status == 1;
                const Millis until = at + length;
                out_.interval(started, slot, name, status, at,
                              until >= finish ? openEnd : std::optional(until), cause, foreign,
                              foreign || slot < 0 ? 0 : slot + 1);
                ++counts_.intervals;
                at = until;
            }
            lastRunning_ = true;
        }
        const double perMillis = line_.alarmsPerHour / (60.0 * kMinute);
        for (Millis at = started + static_cast<Millis>(exponential(1.0 / perMillis)); at < finish;
             at += static_cast<Millis>(exponential(1.0 / perMillis)) + 1) {
            const int machine = uniform(1, std::max(1, line_.ownMachines));
            const int fault = 1 + skewed(40);
            const int table = fault % 3 + 1;
            const std::string text =
                "Alarm " + std::to_string(fault) + " of machine " + std::to_string(machine);
            const int burst = uniform(0, 99) == 0 ? 4 : 1;  // now and then an alarm chatters
            Millis raised = at;
            for (int b = 0; b < burst && raised < finish; ++b) {
                Millis active = minutes(exponential(3));
                if (burst > 1) active = 3000;
                if (uniform(0, 1999) == 0) active = 30 * 60 * kMinute;  // left standing
                std::optional<Millis> cleared = raised + active;
                if (*cleared >= finish) cleared = openEnd;
                out_.episode(started, machine, table, fault, text, raised, cleared, raised + 200,
                             raised + 1200);
                ++counts_.episodes;
                raised += 10'000;
            }
        }
    }

    HistoryFileWriter& out_;
    GeneratedLine line_;
    std::mt19937_64 random_;
    GeneratedCounts counts_;
    bool lastRunning_ = true;
};

}  // namespace

GeneratedCounts generateHistory(const std::string& path, const GeneratedLine& line) {
    HistoryFileWriter out(path);
    const GeneratedCounts counts = LineGenerator(out, line).run();
    out.commit();
    return counts;
}

}  // namespace orvanta::report
