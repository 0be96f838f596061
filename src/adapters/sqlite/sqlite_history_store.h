// The line's history in an SQLite file in the plant folder.
//
// record() runs on the loop's thread and only queues: it copies the record into a bounded queue and
// returns. When the queue is full the record is dropped and counted; the queue never grows without bound,
// whatever the disk does. One writer thread owns the connection: it opens (and creates) the file, writes
// what is queued in one transaction per batch, and purges what is older than the retention.
//
// Durability: the file is in WAL mode with synchronous=FULL, so a commit returns only after the WAL is on
// the disk. A batch is committed at most batchWindow (250 ms) after its first record was queued, plus the
// time of the commit itself, so after a power cut only the events of about the last quarter second are
// missing. synchronous=NORMAL would sync the WAL only at checkpoints: after a power cut every commit since
// the last checkpoint (many seconds) could be gone. The window also bounds the syncs to four a second while
// events trickle in; a flood makes the batches larger, not the syncs more.
//
// Trouble never reaches the loop: a slow disk only fills the queue. A read-only, full, locked or failing
// file is reported once per kind of problem (again at most once an hour while it lasts), with what to do,
// and a notice follows when writing works again; each report says how many events could not be stored
// since the last one said so; close() says what is left. A write that fails with an I/O error while the
// system says there is no room (ENOSPC, or less than 1 MiB free) is a full disk. A batch that fails is
// tried again a few times, then counted as failed. A file that cannot be opened is tried again every
// reopenInterval.
//
// Only the panel's own file is written into. An existing file is first opened read-only, its form
// (user_version) read and its pages checked (quick_check): a damaged one, or one of another form, is
// renamed with a time stamp (with its -wal and -shm) exactly as it was, reported, and a new file is started
// with the current run in it. A whole file of the panel's earlier form (version 1) is brought to the
// current one in place, in one transaction that keeps every row, and that is said once as a notice. Before
// each batch the name must still lead to the open file (device and inode): a file put in its place (a backup
// put back) is renamed aside untouched, with a journal that came with it, before this connection closes and
// removes its own journal by name. Nothing of the user's is deleted. A run whose start could not be written
// still ends the runs before it with its first batch.
//
// Memory: at most queueLimit records wait (about 150 bytes each with their texts), a batch buffer keeps
// room for a thousand between batches, and SQLite's page cache is held to 1 MiB.
//
// Reports are posted to the loop, so the reporter is called on the loop's thread only; close() (on the
// loop's thread, perhaps after the loop has ended) says itself what is still unsaid.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "history/history_sink.h"

struct sqlite3;
struct sqlite3_stmt;

namespace orvanta {

struct SqliteHistorySettings {
    std::string path;                // the history file
    std::int32_t retentionDays = 0;  // 0: keep for ever
    std::size_t queueLimit = 10000;  // records waiting for the writer; more are dropped and counted

    // Tuning; the defaults are the program's, tests shorten them.
    std::chrono::milliseconds batchWindow{250};
    std::chrono::milliseconds retryDelay{1000};  // between attempts at a failed batch
    int batchAttempts = 3;                       // then its records are counted as failed
    std::chrono::milliseconds busyTimeout{500};  // waiting for another connection's lock, per attempt
    std::chrono::milliseconds reopenInterval{10000};
    std::chrono::milliseconds reportRepeat{std::chrono::hours(1)};
    std::chrono::milliseconds purgeInterval{std::chrono::hours(1)};
    std::chrono::milliseconds closeTimeout{2000};  // close() writes what is queued for at most this long
    std::string vfs;                               // an SQLite VFS by name; empty: the default
    // Wall-clock time in milliseconds since 1970 UTC, for the retention; the system clock when empty.
    std::function<std::int64_t()> wallClock;
};

class SqliteHistoryStore : public HistorySink {
public:
    SqliteHistoryStore(EventLoop& loop, ErrorReporter report, SqliteHistorySettings settings);
    ~SqliteHistoryStore() override;
    SqliteHistoryStore(const SqliteHistoryStore&) = delete;
    SqliteHistoryStore& operator=(const SqliteHistoryStore&) = delete;

    // Loop's thread. Never blocks on the disk; never throws.
    void record(const history::Record& record) override;

    // Writes what is queued (for at most closeTimeout), then stops the writer. Called again, does nothing.
    void close();

    // Waits until everything queued so far has been written or given up on; false after timeout. For tests
    // and benchmarks.
    bool flush(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    const std::string& path() const { return settings_.path; }
    std::uint64_t stored() const { return stored_.load(); }
    std::uint64_t dropped() const { return dropped_.load(); }  // the queue was full
    std::uint64_t failed() const {
        return failed_.load();
    }  // a write failed, or the file could not be opened

private:
    using SteadyTime = std::chrono::steady_clock::time_point;

    // What went wrong, one report per kind (and per hour while it lasts).
    enum class Problem { Open, ReadOnly, Full, Locked, Io, Behind, Other, Count };

    struct Statements {
        sqlite3_stmt* insertRun = nullptr;
        sqlite3_stmt* closeOpenEpisodes = nullptr;
        sqlite3_stmt* closeOpenIntervals = nullptr;
        sqlite3_stmt* closeOpenGaps = nullptr;
        sqlite3_stmt* closeOpenRuns = nullptr;
        sqlite3_stmt* runAlive = nullptr;
        sqlite3_stmt* runEnded = nullptr;
        sqlite3_stmt* insertEpisode = nullptr;
        sqlite3_stmt* episodePublished = nullptr;
        sqlite3_stmt* episodeEchoed = nullptr;
        sqlite3_stmt* episodeCleared = nullptr;
        sqlite3_stmt* insertInterval = nullptr;
        sqlite3_stmt* intervalEnded = nullptr;
        sqlite3_stmt* insertGap = nullptr;
        sqlite3_stmt* gapEnded = nullptr;
        sqlite3_stmt* insertText = nullptr;
        sqlite3_stmt* purgeEpisodes = nullptr;
        sqlite3_stmt* purgeIntervals = nullptr;
        sqlite3_stmt* purgeGaps = nullptr;
        sqlite3_stmt* purgeRuns = nullptr;
        sqlite3_stmt* begin = nullptr;
        sqlite3_stmt* commit = nullptr;
        sqlite3_stmt* rollback = nullptr;
    };

    void run();
    // The writer's batch window ends early when half the queue is used.
    std::size_t halfQueue() const { return settings_.queueLimit / 2; }
    void finish();
    void finishBatch();
    // Each leaves db_ open and ready, or null after saying why.
    void open(bool fresh);
    // Looks at an existing file without writing to it: a damaged one, or one of another form, is moved
    // aside as it was found. False when it was (the file is then open or not, as after open()).
    bool inspect();
    void prepareFile(bool fresh);
    void openFailed(int rc, bool fresh);
    void startAnew(const std::string& why, const std::string& tag);
    std::string asideName(const std::string& tag) const;
    // Before each write: the name still leads to the file the connection has open. A file removed is made
    // again, one put in its place is moved aside untouched; false when no file is open then.
    bool stillOurs();
    void closeConnection();
    void writeBatch();
    int closeEarlierRuns(std::int64_t run);
    int apply(const history::Record& record);
    void purge();
    static bool corrupt(int rc);
    bool diskFull(int rc, int systemErrno) const;
    void report(int rc, const std::string& why, int systemErrno = 0);
    void problem(Problem kind, const std::string& message);
    void succeeded();
    std::string lostSuffix();
    void post(Severity severity, std::string message);
    std::int64_t wallNow() const;

    struct Outbox;

    EventLoop& loop_;
    std::shared_ptr<Outbox> outbox_;
    SqliteHistorySettings settings_;

    std::mutex mutex_;
    std::condition_variable wake_;     // records queued, or stop
    std::condition_variable written_;  // a batch was finished
    std::vector<history::Record> queue_;
    bool stop_ = false;
    bool hurry_ = false;               // flush() waits: no batch window
    std::uint64_t queuedTotal_ = 0;    // every record ever queued
    std::uint64_t finishedTotal_ = 0;  // every queued record written or given up on

    std::atomic<std::uint64_t> stored_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> failed_{0};

    // The writer's own.
    sqlite3* db_ = nullptr;
    Statements statements_;
    std::vector<sqlite3_stmt**> prepared_;  // the members of statements_ that are made
    // The file the connection has open and its journal, to notice a removal or another file put there.
    struct stat file_ {};
    struct stat wal_ {};
    struct stat shm_ {};
    std::vector<history::Record> batch_;
    int attempts_ = 0;
    SteadyTime nextOpen_{};
    SteadyTime nextRetry_{};
    SteadyTime nextPurge_{};
    std::optional<SteadyTime> reported_[static_cast<int>(Problem::Count)];
    bool problemSaid_ = false;                // a problem was reported and no notice of its end followed yet
    std::uint64_t lostSaid_ = 0;              // dropped and failed records that a report has counted
    std::uint64_t droppedSeen_ = 0;           // dropped records when the last batch was written
    std::optional<history::RunStarted> run_;  // the current run, carried into a new file
    std::int64_t runLastSeen_ = 0;
    bool earlierClosed_ = false;  // a batch with the current run is stored: the runs before it are ended

    std::thread writer_;
    std::once_flag closed_;
};

}  // namespace orvanta
