#include "adapters/sqlite/sqlite_history_store.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <type_traits>
#include <utility>

#include "history/history_schema.h"

namespace orvanta {

namespace {

namespace fs = std::filesystem;
using history::Record;
using SteadyClock = std::chrono::steady_clock;

constexpr std::int64_t kMillisPerDay = 24LL * 60 * 60 * 1000;
constexpr std::size_t kKeptCapacity = 1024;  // records a batch buffer keeps room for between batches
// Less free than this, and a write that fails is taken for a full disk: SQLite says "disk I/O error" when
// the room runs out while it grows its shared memory file or syncs, not only "database or disk is full".
constexpr unsigned long long kNearlyFull = 1024 * 1024;

template <typename... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

int bind(sqlite3_stmt* statement, int index, std::int64_t value) {
    return sqlite3_bind_int64(statement, index, value);
}
int bind(sqlite3_stmt* statement, int index, const std::string& value) {
    // The text outlives the statement's step: it is reset before the record goes.
    return sqlite3_bind_text(statement, index, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
}

// Binds the values to ?1, ?2, ... in order, runs the statement once and resets it. SQLITE_DONE when it ran.
template <typename... Values>
int execute(sqlite3_stmt* statement, const Values&... values) {
    int rc = SQLITE_OK;
    int index = 0;
    ((rc = rc == SQLITE_OK ? bind(statement, ++index, values) : rc), ...);
    if (rc == SQLITE_OK) rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    return rc == SQLITE_ROW ? SQLITE_DONE : rc;
}

// A second insert of the same row: SQLite undoes that one statement, the transaction goes on, the record
// is refused and the rest of the batch written.
bool refusedRecord(int rc) { return (rc & 0xff) == SQLITE_CONSTRAINT; }

// A form this panel writes into: its own, or the earlier one it brings up to date first.
bool ours(std::int64_t version) { return version == history::kSchemaVersion || version == 1; }

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The form of a history file: its user_version and how many tables and indexes it has.
int readForm(sqlite3* db, std::int64_t& version, std::int64_t& objects) {
    sqlite3_stmt* query = nullptr;
    int rc = sqlite3_prepare_v2(db,
                                "SELECT (SELECT user_version FROM pragma_user_version), "
                                "(SELECT count(*) FROM sqlite_master)",
                                -1, &query, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(query);
        if (rc == SQLITE_ROW) {
            version = sqlite3_column_int64(query, 0);
            objects = sqlite3_column_int64(query, 1);
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(query);
    return rc;
}

// What SQLite's check of every page finds; empty when the file is whole.
int checkPages(sqlite3* db, std::string& damage) {
    sqlite3_stmt* query = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &query, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(query);
    if (rc == SQLITE_ROW) {
        const auto* text = sqlite3_column_text(query, 0);
        damage = text != nullptr ? reinterpret_cast<const char*>(text) : "";
        if (damage == "ok") damage.clear();
        for (char& c : damage) c = c == '\n' ? ' ' : c;
        rc = SQLITE_OK;
    }
    sqlite3_finalize(query);
    return rc;
}

std::string localStamp(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

}  // namespace

// What the writer has to say, in order, until the loop's thread says it: a task posted to the loop, or
// close() itself when the loop has ended before the store (the program's end closes it after its loop).
struct SqliteHistoryStore::Outbox {
    explicit Outbox(ErrorReporter reporter) : report(std::move(reporter)) {}
    void deliver() {
        std::vector<std::pair<Severity, std::string>> due;
        {
            const std::lock_guard lock(mutex);
            due.swap(messages);
        }
        for (const auto& [severity, message] : due) {
            if (severity == Severity::Notice) {
                report.notice(message);
            } else {
                report(message);
            }
        }
    }
    ErrorReporter report;
    std::mutex mutex;
    std::vector<std::pair<Severity, std::string>> messages;
};

SqliteHistoryStore::SqliteHistoryStore(EventLoop& loop, ErrorReporter report, SqliteHistorySettings settings)
    : loop_(loop), outbox_(std::make_shared<Outbox>(std::move(report))), settings_(std::move(settings)) {
    writer_ = std::thread([this] { run(); });
}

SqliteHistoryStore::~SqliteHistoryStore() { close(); }

void SqliteHistoryStore::record(const Record& record) {
    bool first = false;
    bool full = false;
    {
        const std::lock_guard lock(mutex_);
        if (stop_ || queue_.size() >= settings_.queueLimit) {
            full = true;
        } else {
            try {
                queue_.push_back(record);
            } catch (...) {  // out of memory: lost like a record of a full queue
                full = true;
            }
        }
        if (!full) {
            ++queuedTotal_;
            first = queue_.size() == 1 || queue_.size() == halfQueue();
        }
    }
    if (full) {
        ++dropped_;
        return;
    }
    // The writer waits for the first record of a batch, or for half a queue during its batch window.
    if (first) wake_.notify_one();
}

void SqliteHistoryStore::close() {
    std::call_once(closed_, [this] {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (writer_.joinable()) writer_.join();
        outbox_->deliver();
    });
}

bool SqliteHistoryStore::flush(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = queuedTotal_;
    hurry_ = true;
    wake_.notify_all();
    return written_.wait_for(lock, timeout, [&] { return finishedTotal_ >= target; });
}

// ---- the writer thread ----

void SqliteHistoryStore::run() {
    for (;;) {
        const auto now = SteadyClock::now();
        if (db_ == nullptr && now >= nextOpen_) {
            open(false);
            nextOpen_ = now + settings_.reopenInterval;  // counts only while no file is open
        }
        if (db_ != nullptr && now >= nextPurge_) {
            purge();
            nextPurge_ = now + settings_.purgeInterval;
        }
        {
            std::unique_lock lock(mutex_);
            if (!stop_) {
                if (db_ == nullptr) {
                    wake_.wait_until(lock, nextOpen_, [&] { return stop_; });
                } else if (!batch_.empty()) {
                    wake_.wait_until(lock, nextRetry_, [&] { return stop_; });
                } else if (wake_.wait_until(lock, nextPurge_, [&] { return stop_ || !queue_.empty(); })) {
                    // Gather for the window: a trickle of events costs one commit (one sync) a window.
                    const auto until = SteadyClock::now() + settings_.batchWindow;
                    wake_.wait_until(lock, until,
                                     [&] { return stop_ || hurry_ || queue_.size() >= halfQueue(); });
                }
            }
            if (stop_) break;
            if (db_ != nullptr && batch_.empty()) {
                batch_.swap(queue_);
                hurry_ = false;
            }
        }
        if (db_ != nullptr && !batch_.empty() && SteadyClock::now() >= nextRetry_) writeBatch();
    }
    finish();
}

void SqliteHistoryStore::finish() {
    const auto deadline = SteadyClock::now() + settings_.closeTimeout;
    {
        const std::lock_guard lock(mutex_);
        for (auto& record : queue_) batch_.push_back(std::move(record));
        queue_.clear();
    }
    if (!batch_.empty() && db_ == nullptr) open(false);
    attempts_ = 0;
    while (!batch_.empty() && db_ != nullptr && SteadyClock::now() < deadline) {
        writeBatch();
        if (batch_.empty()) break;
        const auto rest =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        std::this_thread::sleep_for(
            std::max(std::chrono::milliseconds(0), std::min(settings_.retryDelay, rest)));
    }
    if (!batch_.empty()) {
        failed_ += batch_.size();
        finishBatch();
    }
    const std::string lost = lostSuffix();
    if (!lost.empty()) post(Severity::Error, "The history file " + settings_.path + " was closed" + lost);
    closeConnection();
}

void SqliteHistoryStore::finishBatch() {
    {
        const std::lock_guard lock(mutex_);
        finishedTotal_ += batch_.size();
    }
    batch_.clear();
    // After a flood the batch's buffer would keep the flood's size for good: the panel's memory stays small.
    if (batch_.capacity() > kKeptCapacity) batch_.shrink_to_fit();
    attempts_ = 0;
    written_.notify_all();
}

void SqliteHistoryStore::open(bool fresh) {
    // The folder is looked at before the file is opened, not after an open failed: a folder made in
    // between would otherwise be reported as one the panel may not write to.
    std::error_code ignored;
    const fs::path folder = fs::path(settings_.path).parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ignored)) {
        problem(Problem::Open, "The history file " + settings_.path +
                                   " cannot be made: its folder does not exist. Create the folder or "
                                   "name another file in [History] of Orvanta.ini");
        return;
    }
    if (!inspect()) return;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(settings_.path.c_str(), &db_, flags,
                             settings_.vfs.empty() ? nullptr : settings_.vfs.c_str());
    if (rc != SQLITE_OK) {
        const std::string why = sqlite3_errmsg(db_);
        closeConnection();
        if (!fs::exists(settings_.path, ignored)) {
            problem(Problem::ReadOnly, "The history file " + settings_.path +
                                           " cannot be made or written: give the panel's user write access "
                                           "to it and its folder");
        } else {
            problem(Problem::Open, "The history file " + settings_.path + " cannot be opened (" + why +
                                       "): check that it is a file the panel's user may read and write");
        }
        return;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, static_cast<int>(settings_.busyTimeout.count()));
    if (sqlite3_db_readonly(db_, "main") == 1) {
        closeConnection();
        problem(Problem::ReadOnly,
                "The history file " + settings_.path +
                    " is read-only: give the panel's user write access to it and its folder");
        return;
    }
    prepareFile(fresh);
}

bool SqliteHistoryStore::inspect() {
    std::error_code error;
    if (fs::file_size(settings_.path, error) == 0 || error) return true;  // none yet, or empty: made here
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(settings_.path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                             settings_.vfs.empty() ? nullptr : settings_.vfs.c_str());
    std::int64_t version = 0;
    std::int64_t objects = 0;
    std::string damage;
    if (rc == SQLITE_OK) {
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, static_cast<int>(settings_.busyTimeout.count()));
        rc = readForm(db, version, objects);
        if (rc == SQLITE_OK && ours(version)) rc = checkPages(db, damage);
    }
    if (corrupt(rc)) damage = sqlite3_errmsg(db);
    sqlite3_close_v2(db);
    if (!damage.empty()) {
        startAnew("is damaged (" + damage + ")", "corrupt");
        return false;
    }
    // Locked, or not readable: the opening for writing says why.
    if (rc != SQLITE_OK || ours(version) || (version == 0 && objects == 0)) return true;
    startAnew(version == 0
                  ? "holds no history of this panel (another program's tables)"
                  : "is of another form (version " + std::to_string(version) +
                        ", this panel writes version " + std::to_string(history::kSchemaVersion) + ")",
              "version" + std::to_string(version));
    return false;
}

void SqliteHistoryStore::prepareFile(bool fresh) {
    std::int64_t version = 0;
    std::int64_t objects = 0;
    int rc = readForm(db_, version, objects);
    if (rc != SQLITE_OK) {
        openFailed(rc, fresh);
        return;
    }
    // Another file put there since inspect() looked: left as it is, looked at again on the next attempt.
    if (!ours(version) && (version != 0 || objects != 0)) {
        closeConnection();
        return;
    }

    // Tables only for a new file: opening a history that has them writes nothing, so that a panel starts
    // on a full disk and its first batch ends what the runs before it left open.
    std::string setup = "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA cache_size=-1024;";
    // The earlier form gets the columns and the table it lacks, all or nothing: a report reads both forms,
    // never a file between them.
    if (version == 0 || version == 1) {
        setup += std::string("BEGIN IMMEDIATE;") + (version == 1 ? history::kUpgradeFrom1 : "") +
                 history::kSchema + "PRAGMA user_version=" + std::to_string(history::kSchemaVersion) +
                 "; COMMIT;";
    }
    rc = sqlite3_exec(db_, setup.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {  // closing the connection rolls the setup back
        openFailed(rc, fresh);
        return;
    }
    if (version == 1) {
        post(Severity::Notice, "The history file " + settings_.path +
                                   " had the form of an earlier panel (version 1): it now has version " +
                                   std::to_string(history::kSchemaVersion) +
                                   " with every row kept, which reports of older versions cannot read");
    }

    struct Text {
        sqlite3_stmt** statement;
        const char* sql;
    };
    Statements& s = statements_;
    const Text texts[] = {
        {&s.begin, "BEGIN IMMEDIATE"},
        {&s.commit, "COMMIT"},
        {&s.rollback, "ROLLBACK"},
        {&s.insertRun,
         "INSERT INTO runs (run, line, started, utc_offset, last_seen, time_zone) "
         "VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT (run) DO NOTHING"},
        // What runs before this one left open ends at its run's last sign of life (at its start when the run
        // itself is not in the file).
        {&s.closeOpenEpisodes,
         "UPDATE alarm_episodes SET cleared = max(raised, coalesce((SELECT last_seen FROM runs "
         "WHERE runs.run = alarm_episodes.run), raised)) WHERE cleared IS NULL AND run <> ?1"},
        {&s.closeOpenIntervals,
         "UPDATE state_intervals SET ended = max(started, coalesce((SELECT last_seen FROM runs "
         "WHERE runs.run = state_intervals.run), started)) WHERE ended IS NULL AND run <> ?1"},
        {&s.closeOpenGaps,
         "UPDATE gaps SET ended = max(started, coalesce((SELECT last_seen FROM runs "
         "WHERE runs.run = gaps.run), started)) WHERE ended IS NULL AND run <> ?1"},
        {&s.closeOpenRuns, "UPDATE runs SET ended = last_seen WHERE ended IS NULL AND run <> ?1"},
        {&s.runAlive, "UPDATE runs SET last_seen = ?2 WHERE run = ?1 AND ended IS NULL"},
        {&s.runEnded, "UPDATE runs SET ended = ?2, last_seen = ?2 WHERE run = ?1"},
        {&s.insertEpisode,
         "INSERT INTO alarm_episodes (run, seq, machine, alarm_table, ident, fault, text_key, text, "
         "priority, "
         "display_status, raised) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)"},
        {&s.episodePublished,
         "UPDATE alarm_episodes SET published = ?3 WHERE run = ?1 AND seq = ?2 AND published IS NULL"},
        {&s.episodeEchoed,
         "UPDATE alarm_episodes SET echoed = ?3 WHERE run = ?1 AND seq = ?2 AND echoed IS NULL"},
        {&s.episodeCleared, "UPDATE alarm_episodes SET cleared = ?3 WHERE run = ?1 AND seq = ?2"},
        {&s.insertInterval,
         "INSERT INTO state_intervals (run, seq, slot, name, foreign_machine, status, cause, started, "
         "machine) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"},
        {&s.intervalEnded, "UPDATE state_intervals SET ended = ?3 WHERE run = ?1 AND seq = ?2"},
        {&s.insertGap, "INSERT INTO gaps (run, seq, kind, started) VALUES (?1, ?2, ?3, ?4)"},
        {&s.gapEnded, "UPDATE gaps SET ended = ?3 WHERE run = ?1 AND seq = ?2"},
        // One text per key and language: a later run's text (the project's texts changed) replaces it.
        {&s.insertText,
         "INSERT OR REPLACE INTO alarm_texts (text_key, language, position, text) VALUES (?1, ?2, ?3, ?4)"},
        // An end is never before its start, so the start's index narrows the search. Open rows (NULL ends)
        // never match.
        {&s.purgeEpisodes, "DELETE FROM alarm_episodes WHERE raised < ?1 AND cleared < ?1"},
        {&s.purgeIntervals, "DELETE FROM state_intervals WHERE started < ?1 AND ended < ?1"},
        {&s.purgeGaps, "DELETE FROM gaps WHERE started < ?1 AND ended < ?1"},
        {&s.purgeRuns,
         "DELETE FROM runs WHERE ended < ?1 "
         "AND NOT EXISTS (SELECT 1 FROM alarm_episodes e WHERE e.run = runs.run) "
         "AND NOT EXISTS (SELECT 1 FROM state_intervals i WHERE i.run = runs.run) "
         "AND NOT EXISTS (SELECT 1 FROM gaps g WHERE g.run = runs.run)"},
    };
    for (const Text& text : texts) {
        rc = sqlite3_prepare_v3(db_, text.sql, -1, SQLITE_PREPARE_PERSISTENT, text.statement, nullptr);
        prepared_.push_back(text.statement);
        if (rc != SQLITE_OK) {
            openFailed(rc, fresh);
            return;
        }
    }
    ::stat(settings_.path.c_str(), &file_);
    ::stat((settings_.path + "-wal").c_str(), &wal_);
    ::stat((settings_.path + "-shm").c_str(), &shm_);
    // A file started anew, or made again by someone, still has the current run: what follows belongs to it.
    if (run_) {
        execute(s.insertRun, run_->run, run_->line, run_->at, std::int64_t{run_->utcOffsetMinutes},
                runLastSeen_, run_->timeZone);
    }
}

void SqliteHistoryStore::openFailed(int rc, bool fresh) {
    const std::string why = sqlite3_errmsg(db_);
    const int systemErrno = sqlite3_system_errno(db_);
    if (corrupt(rc) && !fresh) {
        startAnew("is damaged (" + why + ")", "corrupt");
        return;
    }
    closeConnection();
    report(rc, why, systemErrno);
}

void SqliteHistoryStore::startAnew(const std::string& why, const std::string& tag) {
    if (db_ != nullptr) {
        // Closing would fold the journal into the damaged file and remove it: both are kept as they are.
        int one = 1;
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &one);
    }
    closeConnection();
    const std::string aside = asideName(tag);
    std::error_code error;
    fs::rename(settings_.path, aside, error);
    if (error) {
        problem(Problem::Open, "The history file " + settings_.path + " " + why +
                                   " and cannot be moved aside (" + error.message() +
                                   "): move or remove it by hand; the panel writes no history until then");
        return;
    }
    // Its journal belongs to it: whatever the journal holds stays with the file it was written for.
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        if (fs::exists(settings_.path + suffix, error))
            fs::rename(settings_.path + suffix, aside + suffix, error);
    }
    post(Severity::Error, "The history file " + settings_.path + " " + why + ": it is kept as " + aside +
                              " and a new history file is started");
    open(true);
}

std::string SqliteHistoryStore::asideName(const std::string& tag) const {
    const std::string base = settings_.path + "." + tag + "-" + localStamp(std::time(nullptr));
    std::string aside = base;
    std::error_code error;
    for (int n = 2; fs::exists(aside, error) || fs::exists(aside + "-wal", error); ++n) {
        aside = base + "-" + std::to_string(n);
    }
    return aside;
}

bool SqliteHistoryStore::stillOurs() {
    struct stat now {};
    if (::stat(settings_.path.c_str(), &now) == 0 && sameFile(now, file_)) return true;
    if (::stat(settings_.path.c_str(), &now) != 0) {
        // Removed or moved away (SQLite would go on writing into it, for nobody).
        closeConnection();
        post(Severity::Error,
             "The history file " + settings_.path +
                 " was moved or removed while the panel wrote it: a new history file is started");
        open(false);
        return db_ != nullptr;
    }
    // Another file put in its place. It goes aside first, with a journal that came with it: the next
    // connection to the name would apply this connection's journal to it, and closing this connection
    // removes the journal by its name. Then the connection closes, folding its journal into the file it
    // was written for, wherever that is now.
    const std::string aside = asideName("replaced");
    std::error_code error;
    fs::rename(settings_.path, aside, error);
    if (error) {
        int one = 1;
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &one);
        closeConnection();
        problem(Problem::Open, "The history file " + settings_.path +
                                   " was replaced by another file while the panel wrote it, and that file "
                                   "cannot be moved aside (" +
                                   error.message() + "): the panel does not write into it");
        return false;
    }
    for (const auto& [suffix, ours] : {std::pair{"-wal", &wal_}, std::pair{"-shm", &shm_},
                                       std::pair{"-journal", static_cast<struct stat*>(nullptr)}}) {
        struct stat sibling {};
        const std::string name = settings_.path + suffix;
        if (::stat(name.c_str(), &sibling) == 0 && (ours == nullptr || !sameFile(sibling, *ours)))
            fs::rename(name, aside + suffix, error);
    }
    closeConnection();
    post(Severity::Error, "The history file " + settings_.path +
                              " was replaced by another file while the panel wrote it (a backup put back, or "
                              "another program's file): that file is kept untouched as " +
                              aside +
                              " and a new history file is started. To go on with an older history, stop the "
                              "panel before putting it back");
    open(true);
    return db_ != nullptr;
}

void SqliteHistoryStore::closeConnection() {
    for (sqlite3_stmt** statement : prepared_) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
    prepared_.clear();
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

void SqliteHistoryStore::writeBatch() {
    if (!stillOurs()) return;
    const Statements& s = statements_;
    std::uint64_t refused = 0;
    int rc = execute(s.begin);
    // A batch given up may have held the run's start: what follows still belongs to a run in the file (a
    // run already there is left as it is), and what the runs before it left open is still to be ended.
    if (rc == SQLITE_DONE && run_) {
        if (!earlierClosed_) rc = closeEarlierRuns(run_->run);
        if (rc == SQLITE_DONE)
            rc = execute(s.insertRun, run_->run, run_->line, run_->at, std::int64_t{run_->utcOffsetMinutes},
                         runLastSeen_, run_->timeZone);
    }
    for (auto record = batch_.begin(); rc == SQLITE_DONE && record != batch_.end(); ++record) {
        rc = apply(*record);
        if (refusedRecord(rc)) {
            ++refused;
            rc = SQLITE_DONE;
        }
    }
    if (rc == SQLITE_DONE) rc = execute(s.commit);
    // What is said of a batch is posted before the batch counts as finished (flush() waits for that).
    if (rc == SQLITE_DONE) {
        earlierClosed_ = earlierClosed_ || run_.has_value();
        stored_ += batch_.size() - refused;
        failed_ += refused;
        succeeded();
        finishBatch();
        return;
    }
    const std::string why = sqlite3_errmsg(db_);
    const int systemErrno = sqlite3_system_errno(db_);
    if (!sqlite3_get_autocommit(db_)) execute(s.rollback);
    const bool givenUp = ++attempts_ >= settings_.batchAttempts;
    if (givenUp) failed_ += batch_.size();
    nextRetry_ = SteadyClock::now() + (corrupt(rc) ? std::chrono::milliseconds(0) : settings_.retryDelay);
    if (corrupt(rc)) {
        startAnew("is damaged (" + why + ")", "corrupt");
    } else {
        report(rc, why, systemErrno);
    }
    if (givenUp) finishBatch();
}

int SqliteHistoryStore::apply(const Record& record) {
    const Statements& s = statements_;
    using history::Millis;
    return std::visit(
        Overloaded{
            [&](const history::RunStarted& r) {
                earlierClosed_ = false;
                int rc = closeEarlierRuns(r.run);
                if (rc == SQLITE_DONE) {
                    rc = execute(s.insertRun, r.run, r.line, r.at, std::int64_t{r.utcOffsetMinutes}, r.at,
                                 r.timeZone);
                }
                run_ = r;
                runLastSeen_ = r.at;
                return rc;
            },
            [&](const history::RunAlive& r) {
                if (run_ && run_->run == r.run) runLastSeen_ = r.at;
                return execute(s.runAlive, r.run, r.at);
            },
            [&](const history::RunEnded& r) {
                if (run_ && run_->run == r.run) run_.reset();
                return execute(s.runEnded, r.run, r.at);
            },
            [&](const history::EpisodeRaised& r) {
                return execute(s.insertEpisode, r.run, r.seq, std::int64_t{r.machine}, std::int64_t{r.table},
                               std::int64_t{r.ident}, std::int64_t{r.fault}, r.textKey, r.text,
                               std::int64_t{r.priority}, std::int64_t{r.displayStatus}, r.at);
            },
            [&](const history::EpisodePublished& r) {
                return execute(s.episodePublished, r.run, r.seq, r.at);
            },
            [&](const history::EpisodeEchoed& r) { return execute(s.episodeEchoed, r.run, r.seq, r.at); },
            [&](const history::EpisodeCleared& r) { return execute(s.episodeCleared, r.run, r.seq, r.at); },
            [&](const history::IntervalStarted& r) {
                return execute(s.insertInterval, r.run, r.seq, std::int64_t{r.slot}, r.name,
                               std::int64_t{r.foreign ? 1 : 0}, std::int64_t{r.status}, r.cause, r.at,
                               std::int64_t{r.machine});
            },
            [&](const history::IntervalEnded& r) { return execute(s.intervalEnded, r.run, r.seq, r.at); },
            [&](const history::GapStarted& r) {
                return execute(s.insertGap, r.run, r.seq, std::string(history::gapKindName(r.kind)), r.at);
            },
            [&](const history::GapEnded& r) { return execute(s.gapEnded, r.run, r.seq, r.at); },
            [&](const history::AlarmTexts& r) {
                int rc = SQLITE_DONE;
                for (auto text = r.texts.begin(); rc == SQLITE_DONE && text != r.texts.end(); ++text) {
                    rc = execute(s.insertText, r.textKey, std::int64_t{text->language},
                                 std::int64_t{text->position}, text->text);
                }
                return rc;
            },
        },
        record);
}

int SqliteHistoryStore::closeEarlierRuns(std::int64_t run) {
    const Statements& s = statements_;
    int rc = SQLITE_DONE;
    for (sqlite3_stmt* close :
         {s.closeOpenEpisodes, s.closeOpenIntervals, s.closeOpenGaps, s.closeOpenRuns}) {
        if (rc == SQLITE_DONE) rc = execute(close, run);
    }
    return rc;
}

// Freed pages stay in the file and are reused by the rows that follow, so the file stays at the size of
// its retention. No VACUUM: it would rewrite the whole file, block the writer for its duration and need
// as much free disk again.
void SqliteHistoryStore::purge() {
    if (settings_.retentionDays <= 0 || !stillOurs()) return;
    const Statements& s = statements_;
    const std::int64_t cutoff = wallNow() - settings_.retentionDays * kMillisPerDay;
    int rc = execute(s.begin);
    for (sqlite3_stmt* purge : {s.purgeEpisodes, s.purgeIntervals, s.purgeGaps, s.purgeRuns}) {
        if (rc == SQLITE_DONE) rc = execute(purge, cutoff);
    }
    if (rc == SQLITE_DONE) rc = execute(s.commit);
    if (rc == SQLITE_DONE) return;
    const std::string why = sqlite3_errmsg(db_);
    const int systemErrno = sqlite3_system_errno(db_);
    if (!sqlite3_get_autocommit(db_)) execute(s.rollback);
    if (corrupt(rc)) {
        startAnew("is damaged (" + why + ")", "corrupt");
    } else {
        report(rc, why, systemErrno);
    }
}

bool SqliteHistoryStore::corrupt(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool SqliteHistoryStore::diskFull(int rc, int systemErrno) const {
    if ((rc & 0xff) == SQLITE_FULL) return true;
    if ((rc & 0xff) != SQLITE_IOERR) return false;
    if (systemErrno == ENOSPC) return true;
    struct statvfs disk {};
    const fs::path folder = fs::path(settings_.path).parent_path();
    return ::statvfs(folder.empty() ? "." : folder.c_str(), &disk) == 0 &&
           static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize < kNearlyFull;
}

void SqliteHistoryStore::report(int rc, const std::string& why, int systemErrno) {
    const std::string& file = settings_.path;
    switch (diskFull(rc, systemErrno) ? SQLITE_FULL : rc & 0xff) {
        case SQLITE_FULL:
            problem(Problem::Full, "The history file " + file +
                                       " is on a full disk: free space there; the history is written again "
                                       "once there is room");
            break;
        case SQLITE_READONLY:
        case SQLITE_PERM:
            problem(Problem::ReadOnly, "The history file " + file + " cannot be written (" + why +
                                           "): give the panel's user write access to it and its folder");
            break;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            problem(Problem::Locked, "The history file " + file +
                                         " is locked by another program: close the program that writes it "
                                         "(a database browser); the panel writes again once it is free");
            break;
        case SQLITE_IOERR:
            problem(Problem::Io, "The history file " + file + " cannot be written (" + why +
                                     "): the disk is failing or was removed; check it");
            break;
        case SQLITE_CANTOPEN:
            problem(Problem::Open,
                    "The history file " + file + " cannot be opened (" + why +
                        "): check that its folder exists and the panel's user may write there");
            break;
        default:
            problem(Problem::Other, "The history file " + file + " cannot be written (" + why + ")");
            break;
    }
}

void SqliteHistoryStore::problem(Problem kind, const std::string& message) {
    auto& last = reported_[static_cast<int>(kind)];
    const auto now = SteadyClock::now();
    if (last && now - *last < settings_.reportRepeat) return;
    last = now;
    if (kind != Problem::Behind) problemSaid_ = true;
    post(Severity::Error, message + lostSuffix());
}

void SqliteHistoryStore::succeeded() {
    const std::uint64_t dropped = dropped_.load();
    if (problemSaid_) {
        problemSaid_ = false;
        post(Severity::Notice, "The history file " + settings_.path + " is written again" + lostSuffix());
    } else if (dropped > droppedSeen_) {
        // Writing works, yet the queue overflowed: the disk is slower than the events.
        problem(Problem::Behind, "The history file " + settings_.path +
                                     " is written more slowly than the events come: check the disk");
    }
    droppedSeen_ = dropped;
}

std::string SqliteHistoryStore::lostSuffix() {
    const std::uint64_t lost = dropped_.load() + failed_.load();
    if (lost == lostSaid_) return {};
    const std::uint64_t unsaid = lost - lostSaid_;
    lostSaid_ = lost;
    return "; " + std::to_string(unsaid) + (unsaid == 1 ? " history event" : " history events") +
           " could not be stored";
}

void SqliteHistoryStore::post(Severity severity, std::string message) {
    {
        const std::lock_guard lock(outbox_->mutex);
        outbox_->messages.emplace_back(severity, std::move(message));
    }
    // The task shares the outbox, so it may run after this store is gone.
    loop_.post([outbox = outbox_] { outbox->deliver(); });
}

std::int64_t SqliteHistoryStore::wallNow() const {
    if (settings_.wallClock) return settings_.wallClock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace orvanta
