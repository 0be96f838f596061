#include "adapters/sqlite/sqlite_history_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "history/history_schema.h"
#include "support/eventually.h"
#include "support/manual_event_loop.h"
#include "support/sqlite_failing_vfs.h"
#include "support/without_privileges.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace history;

constexpr Millis t0 = 1'700'000'000'000;
constexpr Millis kDay = 24LL * 3600 * 1000;

// The rows a query gives, each as its columns joined by '|', NULL as "-".
std::vector<std::string> rows(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    std::vector<std::string> result;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {"cannot open"};
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        result.push_back(std::string("error: ") + sqlite3_errmsg(db));
    }
    while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
        std::string row;
        for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            if (column > 0) row += "|";
            const auto* text = sqlite3_column_text(statement, column);
            row += text != nullptr ? reinterpret_cast<const char*>(text) : "-";
        }
        result.push_back(row);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

// The local time as the name of a file moved aside says it.
std::string localStamp(std::time_t now = std::time(nullptr)) {
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

std::string str(Millis value) { return std::to_string(value); }

std::string bytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the statements on the file with a connection of its own; "" when they ran, else SQLite's message.
std::string exec(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string error;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        error = sqlite3_errmsg(db);
    sqlite3_close(db);
    return error;
}

// The events the reports say could not be stored, all together.
std::uint64_t lostIn(const std::vector<std::string>& said) {
    std::uint64_t lost = 0;
    for (const std::string& line : said) {
        const auto end = line.rfind(" history events could not be stored");
        if (end != std::string::npos) lost += std::stoull(line.substr(line.rfind("; ", end) + 2));
    }
    return lost;
}

class SqliteHistoryStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        folder_ = fs::temp_directory_path() /
                  ("orvanta-history-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(folder_);
        file_ = (folder_ / "History.db").string();
        testing::SqliteFailingVfs::install();
    }
    void TearDown() override {
        testing::SqliteFailingVfs::failWrites(SQLITE_OK);
        store_.reset();
        std::error_code ignored;
        fs::permissions(folder_, fs::perms::owner_all, ignored);
        fs::remove_all(folder_, ignored);
    }

    SqliteHistorySettings settings() const {
        SqliteHistorySettings s;
        s.path = file_;
        s.queueLimit = 1000;
        s.batchWindow = 5ms;
        s.retryDelay = 20ms;
        s.busyTimeout = 20ms;
        s.reopenInterval = 30ms;
        s.vfs = testing::SqliteFailingVfs::kName;
        return s;
    }

    SqliteHistoryStore& start(SqliteHistorySettings s) {
        store_.reset();
        store_ = std::make_unique<SqliteHistoryStore>(
            loop_, ErrorReporter([this](Severity severity, const std::string& message) {
                said_.push_back((severity == Severity::Notice ? "N: " : "E: ") + message);
            }),
            std::move(s));
        return *store_;
    }

    // What reached the program's reporter through the loop.
    const std::vector<std::string>& said() {
        loop_.runPending();
        return said_;
    }

    // The one file moved aside under this prefix (not its journal, nor one of those besides).
    std::string asideOf(const std::string& prefix, const std::vector<std::string>& besides = {}) const {
        std::string aside;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            const std::string name = entry.path().string();
            if (name.rfind(prefix, 0) == 0 &&
                std::find(besides.begin(), besides.end(), name) == besides.end() &&
                name.find("-wal") == std::string::npos && name.find("-shm") == std::string::npos)
                aside = name;
        }
        return aside;
    }

    std::vector<std::string> folderNames() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder_;
    std::string file_;
    testing::ManualEventLoop loop_;
    std::vector<std::string> said_;
    std::unique_ptr<SqliteHistoryStore> store_;
};

TEST_F(SqliteHistoryStoreTest, EveryRecordBecomesItsRowAndClosingWritesWhatIsQueued) {
    auto s = settings();
    s.batchWindow = 60s;  // nothing is written before close()
    SqliteHistoryStore& store = start(s);
    const std::vector<Record> records = {
        RunStarted{t0, t0, 60, "Linie 3", "Europe/Berlin"},
        IntervalStarted{t0, 1, 0, "Füller", false, 1, "", t0 + 10, 1},
        IntervalStarted{t0, 2, kLineSlot, "Linie 3", false, 1, "", t0 + 10, 0},
        IntervalStarted{t0, 3, 7, "Etikettierer", true, 3, "Papier fehlt", t0 + 20, 0},
        EpisodeRaised{t0, 4, 2, 1, 12, 345, "F_12_345", "Not-Aus gedrückt", 3, 4, t0 + 1000},
        IntervalEnded{t0, 1, t0 + 1000},
        IntervalStarted{t0, 5, 0, "Füller", false, 4, "Not-Aus gedrückt", t0 + 1000, 1},
        AlarmTexts{t0, "F_12_345", {{1031, 1, "Not-Aus gedrückt"}, {1033, 2, "E-stop"}}},
        AlarmTexts{t0, "F_12_345", {{1033, 2, "Emergency stop"}}},  // a later text of a key replaces it
        EpisodePublished{t0, 4, t0 + 1100},
        EpisodeEchoed{t0, 4, t0 + 1300},
        EpisodePublished{t0, 4, t0 + 2100},  // published and echoed again: the first time stays
        EpisodeEchoed{t0, 4, t0 + 2300},
        GapStarted{t0, 6, GapKind::Broker, t0 + 1500},
        GapEnded{t0, 6, t0 + 1700},
        GapStarted{t0, 7, GapKind::Line, t0 + 4000},
        RunAlive{t0, t0 + 3000},
        EpisodeCleared{t0, 4, t0 + 5000},
        RunEnded{t0, t0 + 6000},
        RunAlive{t0, t0 + 7000},  // after its end: the run stays ended where it ended
    };
    for (const Record& record : records) store.record(record);
    store.close();
    // Closed orderly: the journal is folded into the file.
    EXPECT_EQ(folderNames(), (std::vector<std::string>{"History.db"}));
    EXPECT_EQ(store.stored(), records.size());
    EXPECT_EQ(store.dropped() + store.failed(), 0u);
    EXPECT_TRUE(said().empty());

    EXPECT_EQ(rows(file_, "SELECT * FROM runs"),
              (std::vector<std::string>{str(t0) + "|Linie 3|" + str(t0) + "|60|" + str(t0 + 6000) + "|" +
                                        str(t0 + 6000) + "|Europe/Berlin"}));
    EXPECT_EQ(
        rows(file_, "SELECT * FROM alarm_episodes"),
        (std::vector<std::string>{str(t0) + "|4|2|1|12|345|F_12_345|Not-Aus gedrückt|3|4|" + str(t0 + 1000) +
                                  "|" + str(t0 + 1100) + "|" + str(t0 + 1300) + "|" + str(t0 + 5000)}));
    EXPECT_EQ(rows(file_, "SELECT * FROM state_intervals ORDER BY seq"),
              (std::vector<std::string>{
                  str(t0) + "|1|0|Füller|0|1||" + str(t0 + 10) + "|" + str(t0 + 1000) + "|1",
                  str(t0) + "|2|-1|Linie 3|0|1||" + str(t0 + 10) + "|-|0",
                  str(t0) + "|3|7|Etikettierer|1|3|Papier fehlt|" + str(t0 + 20) + "|-|0",
                  str(t0) + "|5|0|Füller|0|4|Not-Aus gedrückt|" + str(t0 + 1000) + "|-|1",
              }));
    EXPECT_EQ(
        rows(file_, "SELECT * FROM alarm_texts ORDER BY language"),
        (std::vector<std::string>{"F_12_345|1031|1|Not-Aus gedrückt", "F_12_345|1033|2|Emergency stop"}));
    EXPECT_EQ(rows(file_, "SELECT * FROM gaps ORDER BY seq"),
              (std::vector<std::string>{str(t0) + "|6|broker|" + str(t0 + 1500) + "|" + str(t0 + 1700),
                                        str(t0) + "|7|line|" + str(t0 + 4000) + "|-"}));
    EXPECT_EQ(rows(file_, "SELECT * FROM pragma_user_version, pragma_journal_mode"),
              (std::vector<std::string>{"2|wal"}));
}

TEST_F(SqliteHistoryStoreTest, TheNextStartClosesWhatAnEarlierRunLeftOpenAtItsLastSignOfLife) {
    const Millis t1 = t0 + 20000;
    start(settings());
    for (const Record& record : std::vector<Record>{
             RunStarted{t0, t0, 0, "L", ""},
             EpisodeRaised{t0, 1, 1, 1, 1, 1, "k", "", 1, 4, t0 + 100},
             IntervalStarted{t0, 2, 0, "A", false, 4, "x", t0 + 100, 0},
             IntervalStarted{t0, 3, 1, "B", false, 1, "", t0 + 50, 0},
             IntervalEnded{t0, 3, t0 + 80},
             GapStarted{t0, 4, GapKind::Line, t0 + 200},
             RunAlive{t0, t0 + 9000},
             IntervalStarted{t0, 3, 1, "B again", false, 1, "", t0 + 9000, 0},  // refused, the rest stored
             // A row of a run whose start was never stored ends where it began.
             EpisodeRaised{42, 1, 1, 1, 1, 1, "k", "", 1, 4, t0 + 300},
         }) {
        store_->record(record);
    }
    store_->close();  // a kill: no RunEnded
    EXPECT_EQ(store_->stored(), 8u);
    EXPECT_EQ(store_->failed(), 1u);

    start(settings());
    store_->record(RunStarted{t1, t1, 0, "L", ""});
    store_->record(IntervalStarted{t1, 1, 0, "A", false, 1, "", t1, 0});
    store_->record(RunAlive{t0, t1 + 5});  // a late sign of the old run moves nothing
    store_->close();

    EXPECT_EQ(rows(file_, "SELECT run, last_seen, ended FROM runs ORDER BY run"),
              (std::vector<std::string>{str(t0) + "|" + str(t0 + 9000) + "|" + str(t0 + 9000),
                                        str(t1) + "|" + str(t1) + "|-"}));
    EXPECT_EQ(rows(file_, "SELECT run, seq, cleared FROM alarm_episodes ORDER BY run"),
              (std::vector<std::string>{"42|1|" + str(t0 + 300), str(t0) + "|1|" + str(t0 + 9000)}));
    EXPECT_EQ(rows(file_, "SELECT run, seq, ended FROM state_intervals ORDER BY run, seq"),
              (std::vector<std::string>{str(t0) + "|2|" + str(t0 + 9000), str(t0) + "|3|" + str(t0 + 80),
                                        str(t1) + "|1|-"}));
    EXPECT_EQ(rows(file_, "SELECT seq, ended FROM gaps"), (std::vector<std::string>{"4|" + str(t0 + 9000)}));
}

TEST_F(SqliteHistoryStoreTest, RetentionRemovesWhatEndedBeforeItOnOpeningAndThenPeriodically) {
    const Millis t2 = t0 + 35 * kDay;
    const Millis cutoff = t0 + 10 * kDay;  // at the first purge: 40 days after t0, 30 days retention
    start(settings());
    for (const Record& record : std::vector<Record>{
             RunStarted{t0 - 5000, t0 - 5000, 0, "L", ""},  // ended, nothing of it left: goes
             RunEnded{t0 - 5000, t0 - 4000},
             RunStarted{t0, t0, 0, "L", ""},  // its rows end before the retention: goes with them
             EpisodeRaised{t0, 1, 1, 1, 1, 1, "old", "", 1, 4, t0},
             EpisodeCleared{t0, 1, t0 + 1000},
             IntervalStarted{t0, 2, 0, "A", false, 1, "", t0, 0},
             IntervalEnded{t0, 2, t0 + 5000},
             GapStarted{t0, 3, GapKind::Broker, t0},
             GapEnded{t0, 3, t0 + 10},
             RunEnded{t0, t0 + 3600000},
             RunStarted{t2, t2, 0, "L", ""},  // still running
             IntervalStarted{t2, 1, 0, "A", false, 1, "", t2, 0},
             IntervalEnded{t2, 1, t2 + 1000},
             EpisodeRaised{t2, 2, 1, 1, 1, 1, "recent", "", 1, 4, t2},
             EpisodeCleared{t2, 2, t2 + 10},
             GapStarted{t2, 3, GapKind::Line, t2},
             GapEnded{t2, 3, t2 + 10},
             EpisodeRaised{t2, 4, 1, 1, 2, 2, "standing", "", 1, 4, t0 + 1000},  // open for long: kept
             IntervalStarted{t2, 5, 0, "A", false, 1, "", cutoff - 60000, 0},
             IntervalEnded{t2, 5, cutoff - 1},
             IntervalStarted{t2, 6, 0, "A", false, 1, "", cutoff - 60000, 0},
             IntervalEnded{t2, 6, cutoff},
         }) {
        store_->record(record);
    }
    store_->close();
    EXPECT_EQ(rows(file_, "SELECT count(*) FROM runs"), (std::vector<std::string>{"3"}));

    std::atomic<Millis> now{t0 + 40 * kDay};
    auto s = settings();
    s.retentionDays = 30;
    s.purgeInterval = 10ms;
    s.wallClock = [&now] { return now.load(); };
    SqliteHistoryStore& store = start(s);
    const auto kept = [&] {
        return rows(
            file_,
            "SELECT 'run ' || run FROM runs UNION ALL SELECT 'episode ' || text_key FROM alarm_episodes "
            "UNION ALL SELECT 'interval ' || run || '/' || seq FROM state_intervals UNION ALL SELECT 'gap ' "
            "|| run "
            "FROM gaps");
    };
    const std::vector<std::string> afterOpen = {"run " + str(t2),
                                                "episode recent",
                                                "episode standing",
                                                "interval " + str(t2) + "/1",
                                                "interval " + str(t2) + "/6",
                                                "gap " + str(t2)};
    EXPECT_TRUE(testing::eventually([&] { return kept() == afterOpen; })) << ::testing::PrintToString(kept());

    // Time goes on: the recent rows age out too; the standing alarm and its running run stay.
    // A purge that cannot write is said like any write, and done once it can.
    testing::SqliteFailingVfs::failWrites(SQLITE_FULL);
    now = t2 + 31 * kDay;
    ASSERT_TRUE(testing::eventually([&] { return !said().empty(); }));
    EXPECT_EQ(said()[0].rfind("E: The history file " + file_ + " is on a full disk", 0), 0u) << said()[0];
    testing::SqliteFailingVfs::failWrites(SQLITE_OK);
    const std::vector<std::string> later = {"run " + str(t2), "episode standing"};
    EXPECT_TRUE(testing::eventually([&] { return kept() == later; })) << ::testing::PrintToString(kept());
    store.close();
    EXPECT_EQ(said().size(), 1u);
}

TEST_F(SqliteHistoryStoreTest, AFullDiskIsReportedOnceCountsWhatWasLostAndWritingResumes) {
    auto s = settings();
    s.reportRepeat = 1s;
    SqliteHistoryStore& store = start(s);
    store.record(RunAlive{1, 1});  // no such run: only opens the file
    ASSERT_TRUE(store.flush());

    // Lost with the first batches: the run's start. The run is in the file all the same once it is written.
    testing::SqliteFailingVfs::failWrites(SQLITE_FULL);
    store.record(RunStarted{t0, t0, 60, "L", ""});
    for (int i = 1; i <= 4; ++i) store.record(RunAlive{t0, t0 + i});
    ASSERT_TRUE(store.flush());
    for (int i = 6; i <= 8; ++i) store.record(RunAlive{t0, t0 + i});
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(store.failed(), 8u);
    ASSERT_EQ(said().size(), 1u);
    EXPECT_NE(said()[0].find("E: The history file " + file_ + " is on a full disk: free space"),
              std::string::npos)
        << said()[0];
    // While it lasts, it is said again after the repeat time, with what was lost since.
    std::this_thread::sleep_for(1100ms);
    store.record(RunAlive{t0, t0 + 9});
    ASSERT_TRUE(store.flush());
    ASSERT_EQ(said().size(), 2u);
    EXPECT_EQ(said()[1], said()[0] + "; 8 history events could not be stored");

    testing::SqliteFailingVfs::failWrites(SQLITE_OK);
    store.record(RunAlive{t0, t0 + 20});
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(store.stored(), 2u);
    EXPECT_EQ(said().size(), 3u);
    EXPECT_EQ(said().back(),
              "N: The history file " + file_ + " is written again; 1 history event could not be stored");
    EXPECT_EQ(rows(file_, "SELECT * FROM runs"),
              (std::vector<std::string>{str(t0) + "|L|" + str(t0) + "|60|" + str(t0 + 20) + "|-|"}));
}

TEST_F(SqliteHistoryStoreTest, ALockedFileIsReportedOnceAndWrittenWhenTheLockIsGone) {
    auto s = settings();
    s.busyTimeout = 500ms;
    SqliteHistoryStore& store = start(s);
    store.record(RunStarted{t0, t0, 0, "L", ""});
    ASSERT_TRUE(store.flush());

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file_.c_str(), &other), SQLITE_OK);
    // A lock held for a moment is waited for: nothing said, nothing lost.
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    store.record(RunAlive{t0, t0});
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(store.stored(), 2u);
    EXPECT_TRUE(said().empty());

    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; INSERT INTO gaps VALUES (1, 1, 'line', 1, NULL)", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    // The writer waits for the lock; the loop's record() does not.
    auto slowest = 0us;
    for (int i = 1; i <= 4; ++i) {
        const auto before = std::chrono::steady_clock::now();
        store.record(RunAlive{t0, t0 + i});
        slowest = std::max(slowest, std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - before));
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_LT(slowest, 20ms);
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(store.failed(), 4u);
    ASSERT_EQ(said().size(), 1u);
    EXPECT_NE(said()[0].find("is locked by another program"), std::string::npos) << said()[0];

    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    store.record(RunAlive{t0, t0 + 10});
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(said().size(), 2u);
    EXPECT_EQ(said().back(),
              "N: The history file " + file_ + " is written again; 4 history events could not be stored");
    EXPECT_EQ(rows(file_, "SELECT last_seen FROM runs"), (std::vector<std::string>{str(t0 + 10)}));
}

TEST_F(SqliteHistoryStoreTest, AReadOnlyFileOrFolderCostsOneReportAndTheEventsThatDidNotFit) {
    // Owned by the user the body runs as, who may then give the rights back.
    const auto owned = [](const fs::path& path) {
        if (geteuid() == 0 && chown(path.c_str(), 65534, 65534) != 0) return false;
        return true;
    };
    ASSERT_TRUE(owned(folder_));
    const int result = testing::withoutPrivileges([&] {
        for (const bool readOnlyFolder : {false, true}) {
            said_.clear();
            fs::remove(file_);
            if (readOnlyFolder) {
                fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
            } else {
                std::ofstream(file_).close();
                fs::permissions(file_, fs::perms::owner_read);
            }
            auto s = settings();
            s.queueLimit = 10;
            SqliteHistoryStore store(loop_, ErrorReporter([&](const std::string& m) { said_.push_back(m); }),
                                     s);
            for (int i = 0; i < 25; ++i) store.record(RunStarted{t0 + i, t0 + i, 0, "L", ""});
            std::this_thread::sleep_for(100ms);  // several attempts to open it
            loop_.runPending();
            if (said_.size() != 1) return 1;
            const std::string expected =
                "The history file " + file_ +
                (readOnlyFolder
                     ? " cannot be made or written: give the panel's user write access to it and its "
                       "folder"
                     : " is read-only: give the panel's user write access to it and its folder");
            if (said_[0].rfind(expected, 0) != 0) return 2;
            if (store.dropped() != 15 || store.stored() != 0) return 3;
            fs::permissions(readOnlyFolder ? folder_ : fs::path(file_), fs::perms::owner_all);
            if (!store.flush(2s) || store.stored() != 10) return 4;
            loop_.runPending();
            if (said_.size() != 2 ||
                said_[1].rfind("The history file " + file_ + " is written again", 0) != 0 ||
                lostIn(said_) != 15)
                return 5;
            store.close();
            if (rows(file_, "SELECT count(*) FROM runs") != std::vector<std::string>{"10"}) return 6;
        }
        return 0;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(SqliteHistoryStoreTest, AFileThatIsNoHistoryOfThisFormIsMovedAsideUnchangedAndANewOneStarted) {
    {
        std::ofstream garbage(file_, std::ios::binary);
        for (int i = 0; i < 400; ++i) garbage << "this is not a database file. ";
    }
    std::ofstream(file_ + "-wal") << "its journal";
    // Files moved aside before, in this second and the next: never overwritten.
    const std::string now = localStamp();
    std::vector<std::string> decoys;
    for (const std::string& stamp : {now, localStamp(std::time(nullptr) + 1)}) {
        decoys.push_back(file_ + ".corrupt-" + stamp);
        std::ofstream(decoys.back()) << "moved aside before";
    }
    // Another form of the history, and another program's database: kept as they are.
    const std::string v7 = (folder_ / "Seven.db").string();
    const std::string other = (folder_ / "Other.db").string();
    for (const auto& [file, version] : {std::pair{v7, 7}, std::pair{other, 0}}) {
        ASSERT_EQ(exec(file, "CREATE TABLE kept (x); INSERT INTO kept VALUES (7); PRAGMA user_version = " +
                                 std::to_string(version)),
                  "");
    }
    // A history of this form, in a rollback journal as a copy from elsewhere may be, damaged inside: its
    // first page reads well, one of its tables does not.
    const std::string damaged = (folder_ / "Damaged.db").string();
    std::string build = "PRAGMA journal_mode=DELETE; PRAGMA page_size=1024;" + std::string(history::kSchema) +
                        "PRAGMA user_version=" + std::to_string(history::kSchemaVersion) + ";";
    for (int seq = 0; seq < 200; ++seq)
        build += "INSERT INTO gaps VALUES (1, " + std::to_string(seq) + ", 'line', 1, 2);";
    ASSERT_EQ(exec(damaged, build), "");
    const auto root = rows(damaged, "SELECT rootpage FROM sqlite_master WHERE name = 'gaps'");
    ASSERT_EQ(root.size(), 1u);
    {
        std::fstream f(damaged, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp((std::stoll(root[0]) - 1) * 1024);
        f << std::string(1024, '\xa5');
    }

    struct Case {
        std::string file, tag, why;
    };
    for (const Case& c :
         {Case{file_, "corrupt", "is damaged (file is not a database)"},
          Case{v7, "version7", "is of another form (version 7, this panel writes version 2)"},
          Case{other, "version0", "holds no history of this panel (another program's tables)"},
          Case{damaged, "corrupt", "is damaged ("}}) {
        said_.clear();
        const std::string before = localStamp();
        const std::string content = bytes(c.file);
        const std::string journal = bytes(c.file + "-wal");
        auto s = settings();
        s.path = c.file;
        SqliteHistoryStore& store = start(s);
        store.record(RunStarted{t0, t0, 0, "L", ""});
        ASSERT_TRUE(store.flush());
        store.close();
        EXPECT_EQ(store.stored(), 1u);
        EXPECT_EQ(rows(c.file, "SELECT run FROM runs"), (std::vector<std::string>{str(t0)}));
        ASSERT_EQ(said().size(), 1u) << ::testing::PrintToString(said());
        const std::string prefix = c.file + "." + c.tag + "-";
        const std::string aside = asideOf(prefix, decoys);
        ASSERT_FALSE(aside.empty()) << prefix;
        const std::string stamp = aside.substr(prefix.size(), 15);
        EXPECT_TRUE(before <= stamp && stamp <= localStamp()) << stamp;
        EXPECT_EQ(said()[0].rfind("E: The history file " + c.file + " " + c.why, 0), 0u) << said()[0];
        const std::string end = ": it is kept as " + aside + " and a new history file is started";
        EXPECT_EQ(said()[0].substr(said()[0].size() - std::min(end.size(), said()[0].size())), end);
        // Never written into: every byte of the file and of its journal as it was.
        EXPECT_TRUE(bytes(aside) == content) << c.file;
        EXPECT_TRUE(bytes(aside + "-wal") == journal) << c.file;
        if (c.file == file_) {
            EXPECT_EQ(journal, "its journal");
            for (const std::string& decoy : decoys) EXPECT_EQ(bytes(decoy), "moved aside before");
        } else if (c.file != damaged) {
            EXPECT_EQ(rows(aside, "SELECT x FROM kept"), (std::vector<std::string>{"7"}));
        }
    }
}

// The tables as the panel before wrote them (version 1).
constexpr const char* kSchemaOfVersion1 = R"sql(
CREATE TABLE runs (run INTEGER PRIMARY KEY, line TEXT NOT NULL, started INTEGER NOT NULL,
    utc_offset INTEGER NOT NULL, last_seen INTEGER NOT NULL, ended INTEGER);
CREATE TABLE alarm_episodes (run INTEGER NOT NULL, seq INTEGER NOT NULL, machine INTEGER NOT NULL,
    alarm_table INTEGER NOT NULL, ident INTEGER NOT NULL, fault INTEGER NOT NULL, text_key TEXT NOT NULL,
    text TEXT NOT NULL, priority INTEGER NOT NULL, display_status INTEGER NOT NULL, raised INTEGER NOT NULL,
    published INTEGER, echoed INTEGER, cleared INTEGER, PRIMARY KEY (run, seq));
CREATE INDEX alarm_episodes_raised ON alarm_episodes (raised);
CREATE TABLE state_intervals (run INTEGER NOT NULL, seq INTEGER NOT NULL, slot INTEGER NOT NULL,
    name TEXT NOT NULL, foreign_machine INTEGER NOT NULL, status INTEGER NOT NULL, cause TEXT NOT NULL,
    started INTEGER NOT NULL, ended INTEGER, PRIMARY KEY (run, seq));
CREATE INDEX state_intervals_started ON state_intervals (started);
CREATE TABLE gaps (run INTEGER NOT NULL, seq INTEGER NOT NULL, kind TEXT NOT NULL, started INTEGER NOT NULL,
    ended INTEGER, PRIMARY KEY (run, seq));
PRAGMA user_version = 1;
)sql";

// A history of the earlier form is brought up to date in place, once, with every row kept; the new file's
// form and the upgraded one's are the same.
TEST_F(SqliteHistoryStoreTest, AFileOfTheEarlierFormIsUpgradedInPlaceKeepingEveryRow) {
    const Millis t1 = t0 + 60000;
    ASSERT_EQ(exec(file_, std::string(kSchemaOfVersion1) + "INSERT INTO runs VALUES (" + str(t0) + ", 'L', " +
                              str(t0) + ", 60, " + str(t0 + 900) +
                              ", NULL);"
                              "INSERT INTO alarm_episodes VALUES (" +
                              str(t0) + ", 1, 2, 1, 1007, 7, 'T7', 'Halt', 50, 4, " + str(t0 + 100) +
                              ", NULL, NULL, NULL);"
                              "INSERT INTO state_intervals VALUES (" +
                              str(t0) + ", 2, 1, 'B', 0, 4, 'Halt', " + str(t0 + 100) +
                              ", NULL);"
                              "INSERT INTO gaps VALUES (" +
                              str(t0) + ", 3, 'line', " + str(t0 + 200) + ", " + str(t0 + 300) + ");"),
              "");
    const std::string fresh = (folder_ / "Fresh.db").string();
    const std::string notice =
        "N: The history file " + file_ +
        " had the form of an earlier panel (version 1): it now has version 2 with every "
        "row kept, which reports of older versions cannot read";
    for (int start = 0; start < 2; ++start) {  // the second start finds the current form: nothing said
        SqliteHistoryStore& store = this->start(settings());
        store.record(RunStarted{t1 + start, t1 + start, 60, "L", "Europe/Berlin"});
        store.record(IntervalStarted{t1 + start, 1, 1, "B", false, 1, "", t1 + start, 2});
        store.record(AlarmTexts{t1 + start, "T7", {{1031, 1, "Halt"}}});
        ASSERT_TRUE(store.flush());
        store.close();
        EXPECT_EQ(said(), (std::vector<std::string>{notice}));
    }
    EXPECT_EQ(rows(file_, "SELECT * FROM runs ORDER BY run"),
              (std::vector<std::string>{
                  str(t0) + "|L|" + str(t0) + "|60|" + str(t0 + 900) + "|" + str(t0 + 900) + "|",
                  str(t1) + "|L|" + str(t1) + "|60|" + str(t1) + "|" + str(t1) + "|Europe/Berlin",
                  str(t1 + 1) + "|L|" + str(t1 + 1) + "|60|" + str(t1 + 1) + "|-|Europe/Berlin"}));
    EXPECT_EQ(rows(file_, "SELECT run, seq, machine, text_key, cleared FROM alarm_episodes"),
              (std::vector<std::string>{str(t0) + "|1|2|T7|" + str(t0 + 900)}));
    EXPECT_EQ(rows(file_, "SELECT run, seq, slot, machine, ended FROM state_intervals ORDER BY run"),
              (std::vector<std::string>{str(t0) + "|2|1|0|" + str(t0 + 900), str(t1) + "|1|1|2|" + str(t1),
                                        str(t1 + 1) + "|1|1|2|-"}));
    EXPECT_EQ(rows(file_, "SELECT run, seq, kind, ended FROM gaps"),
              (std::vector<std::string>{str(t0) + "|3|line|" + str(t0 + 300)}));
    EXPECT_EQ(rows(file_, "SELECT * FROM alarm_texts"), (std::vector<std::string>{"T7|1031|1|Halt"}));

    ASSERT_EQ(exec(fresh, std::string(history::kSchema) + "PRAGMA user_version = 2;"), "");
    const std::string form =
        "SELECT m.name, p.name, p.type, p.\"notnull\", p.dflt_value, p.pk FROM sqlite_master m, "
        "pragma_table_info(m.name) p WHERE m.type = 'table' ORDER BY m.name, p.cid";
    EXPECT_EQ(rows(file_, form), rows(fresh, form));
    EXPECT_EQ(rows(file_, "SELECT name FROM sqlite_master ORDER BY name"),
              rows(fresh, "SELECT name FROM sqlite_master ORDER BY name"));
    EXPECT_EQ(rows(file_, "SELECT user_version FROM pragma_user_version"), (std::vector<std::string>{"2"}));
}

TEST_F(SqliteHistoryStoreTest, DamageFoundWhileWritingStartsANewFileThatStillHoldsTheCurrentRun) {
    SqliteHistoryStore& store = start(settings());
    store.record(RunStarted{t0, t0, 120, "Linie 3", "Europe/Berlin"});
    store.record(IntervalStarted{t0, 1, 0, "A", false, 1, "", t0, 0});
    store.record(RunAlive{t0, t0 + 1000});
    store.record(RunAlive{t0 - 1, t0 + 2000});  // another run's late sign: not this run's
    ASSERT_TRUE(store.flush());
    testing::SqliteFailingVfs::failWrites(SQLITE_CORRUPT, 1);
    store.record(IntervalStarted{t0, 2, 1, "B", false, 4, "", t0 + 1500, 0});
    ASSERT_TRUE(store.flush());
    store.close();
    const auto names = folderNames();
    EXPECT_EQ(store.stored(), 5u);
    EXPECT_EQ(rows(file_, "SELECT * FROM runs"),
              (std::vector<std::string>{str(t0) + "|Linie 3|" + str(t0) + "|120|" + str(t0 + 1000) +
                                        "|-|Europe/Berlin"}));
    EXPECT_EQ(rows(file_, "SELECT seq FROM state_intervals"), (std::vector<std::string>{"2"}));
    // The damaged file with its journal, as they were: what the journal holds is not lost.
    ASSERT_EQ(names.size(), 4u) << ::testing::PrintToString(names);
    EXPECT_EQ(names[1].rfind("History.db.corrupt-", 0), 0u) << names[1];
    EXPECT_EQ(names[3], names[1] + "-wal");
    EXPECT_EQ(rows((folder_ / names[1]).string(), "SELECT seq FROM state_intervals"),
              (std::vector<std::string>{"1"}));
    ASSERT_EQ(said().size(), 1u);
    EXPECT_EQ(said()[0].rfind("E: The history file " + file_ + " is damaged (", 0), 0u) << said()[0];
}

TEST_F(SqliteHistoryStoreTest, AFileRemovedWhileInUseIsMadeAgainWithTheCurrentRun) {
    SqliteHistoryStore& store = start(settings());
    store.record(RunStarted{t0, t0, 0, "L", ""});
    ASSERT_TRUE(store.flush());
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(file_ + suffix);
    store.record(IntervalStarted{t0, 1, 0, "A", false, 1, "", t0 + 5, 0});
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(store.stored(), 2u);
    EXPECT_EQ(
        rows(file_, "SELECT started, last_seen FROM runs UNION ALL SELECT run, seq FROM state_intervals"),
        (std::vector<std::string>{str(t0) + "|" + str(t0), str(t0) + "|1"}));
    EXPECT_EQ(said(),
              (std::vector<std::string>{"E: The history file " + file_ +
                                        " was moved or removed while the panel wrote it: a new history "
                                        "file is started"}));
}

// A backup put back onto the history while the panel runs, with its journal: the panel never writes into a
// file it did not make, nor lets its own journal be applied to it.
TEST_F(SqliteHistoryStoreTest, AFileMovedOntoTheHistoryIsKeptUntouchedAndANewOneStarted) {
    SqliteHistoryStore& store = start(settings());
    store.record(RunStarted{t0, t0, 0, "L", ""});
    ASSERT_TRUE(store.flush());
    const std::string backup = (folder_ / "Backup.db").string();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(backup.c_str(), &db), SQLITE_OK);
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);  // its rows stay in its journal
    const std::string sql =
        "PRAGMA journal_mode=WAL;" + std::string(history::kSchema) +
        "PRAGMA user_version=2; INSERT INTO runs VALUES (42, 'Backup', 42, 0, 43, 44, '');";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string content = bytes(backup);
    const std::string journal = bytes(backup + "-wal");
    for (const char* suffix : {"", "-wal"}) fs::rename(backup + suffix, file_ + suffix);

    store.record(IntervalStarted{t0, 2, 1, "B", false, 1, "", t0 + 5, 0});
    ASSERT_TRUE(store.flush());
    store.close();
    const std::string aside = asideOf(file_ + ".replaced-");
    EXPECT_TRUE(bytes(aside) == content && bytes(aside + "-wal") == journal);
    EXPECT_EQ(rows(aside, "SELECT run FROM runs"), (std::vector<std::string>{"42"}));
    EXPECT_EQ(rows(file_, "SELECT run FROM runs UNION ALL SELECT seq FROM state_intervals"),
              (std::vector<std::string>{str(t0), "2"}));
    EXPECT_EQ(said(), (std::vector<std::string>{
                          "E: The history file " + file_ +
                          " was replaced by another file while the panel wrote it (a backup put back, or "
                          "another program's file): that file is kept untouched as " +
                          aside +
                          " and a new history file is started. To go on with an older history, stop the "
                          "panel before putting it back"}));
}

// The disk fills in the last seconds and stays full: the close says what was lost, though the program's
// loop has ended before it; the next start ends the run at its last sign of life, even while the disk is
// still full when it starts.
TEST_F(SqliteHistoryStoreTest, ADiskFullAtTheEndIsSaidAtCloseAndTheRunEndsAtItsLastSignOfLife) {
    auto s = settings();
    s.closeTimeout = 200ms;
    SqliteHistoryStore* store = &start(s);
    store->record(RunStarted{t0, t0, 0, "L", ""});
    store->record(IntervalStarted{t0, 1, 0, "A", false, 1, "", t0, 0});
    store->record(RunAlive{t0, t0 + 1000});
    ASSERT_TRUE(store->flush());
    testing::SqliteFailingVfs::failWrites(SQLITE_FULL);
    store->record(RunAlive{t0, t0 + 2000});
    store->record(IntervalEnded{t0, 1, t0 + 2500});
    store->record(RunEnded{t0, t0 + 3000});
    store->close();
    const std::vector<std::string> atClose = {
        "E: The history file " + file_ +
            " is on a full disk: free space there; the history is written again once there is room",
        "E: The history file " + file_ + " was closed; 3 history events could not be stored"};
    EXPECT_EQ(said_, atClose);
    EXPECT_EQ(said(), atClose);  // nothing said twice

    const Millis t1 = t0 + 60000;
    store = &start(s);
    store->record(RunAlive{1, 1});  // no such run: only opens the file
    ASSERT_TRUE(store->flush());
    store->record(RunStarted{t1, t1, 0, "L", ""});
    ASSERT_TRUE(store->flush());
    EXPECT_EQ(store->failed(), 1u);
    testing::SqliteFailingVfs::failWrites(SQLITE_OK);
    store->record(RunAlive{t1, t1 + 1000});
    ASSERT_TRUE(store->flush());
    store->close();
    EXPECT_EQ(rows(file_, "SELECT run, last_seen, ended FROM runs ORDER BY run"),
              (std::vector<std::string>{str(t0) + "|" + str(t0 + 1000) + "|" + str(t0 + 1000),
                                        str(t1) + "|" + str(t1 + 1000) + "|-"}));
    EXPECT_EQ(rows(file_, "SELECT ended FROM state_intervals"), (std::vector<std::string>{str(t0 + 1000)}));
}

TEST_F(SqliteHistoryStoreTest, BatchesFollowTheirScheduleAndCloseWritesOrCountsWhatWaits) {
    // A file that cannot be made is tried again only after the interval; close() tries once more.
    fs::remove_all(folder_);
    auto s = settings();
    s.reopenInterval = 60s;
    SqliteHistoryStore* store = &start(s);
    for (int seq = 0; seq < 3; ++seq) store->record(GapStarted{t0, seq, GapKind::Line, t0});
    ASSERT_TRUE(testing::eventually([&] { return !said().empty(); }));
    fs::create_directories(folder_);
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(fs::exists(file_));
    store->close();
    EXPECT_EQ(store->stored(), 3u);
    EXPECT_EQ(rows(file_, "SELECT count(*) FROM gaps"), (std::vector<std::string>{"3"}));
    ASSERT_EQ(said().size(), 2u);
    EXPECT_EQ(said()[1], "N: The history file " + file_ + " is written again");

    // Never made: what waits is counted, and said at the close.
    fs::remove_all(folder_);
    said_.clear();
    store = &start(s);
    store->record(GapStarted{t0, 0, GapKind::Line, t0});
    store->close();
    EXPECT_EQ(store->failed(), 1u);
    ASSERT_EQ(said().size(), 2u);
    EXPECT_EQ(said()[1], "E: The history file " + file_ + " was closed; 1 history event could not be stored");

    // A batch waits for its window, or until half the queue is used; flush() does not wait for the window.
    fs::create_directories(folder_);
    s = settings();
    s.batchWindow = 60s;
    s.queueLimit = 10;
    store = &start(s);
    for (int seq = 0; seq < 4; ++seq) store->record(GapStarted{t0, seq, GapKind::Line, t0});
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(store->stored(), 0u);
    store->record(GapStarted{t0, 4, GapKind::Line, t0});
    EXPECT_TRUE(testing::eventually([&] { return store->stored() == 5; }, 2s));
    store->record(GapStarted{t0, 5, GapKind::Line, t0});
    std::this_thread::sleep_for(100ms);  // the writer waits in its window
    EXPECT_TRUE(store->flush(2s));
    EXPECT_EQ(store->stored(), 6u);

    // A trickle is written at the end of its window without anyone asking.
    s.batchWindow = 20ms;
    store = &start(s);
    store->record(RunAlive{t0, t0});
    ASSERT_TRUE(store->flush());
    std::this_thread::sleep_for(50ms);  // the writer is idle now: the next record must wake it
    store->record(RunAlive{t0, t0});
    EXPECT_TRUE(testing::eventually([&] { return store->stored() == 2; }, 2s));

    // A new file that cannot be set up is said (a full disk as full, however the system says it), and set
    // up once there is room.
    struct Case {
        int rc, systemErrno;
        std::string says;
    };
    for (const Case& c :
         {Case{SQLITE_FULL, 0, " is on a full disk"}, Case{SQLITE_IOERR_WRITE, ENOSPC, " is on a full disk"},
          Case{SQLITE_IOERR_WRITE, EIO, " cannot be written (disk I/O error): the disk is failing"}}) {
        store->close();
        fs::remove(file_);
        said_.clear();
        testing::SqliteFailingVfs::failWrites(c.rc, 0, c.systemErrno);
        store = &start(settings());
        store->record(RunAlive{t0, t0});
        ASSERT_TRUE(testing::eventually([&] { return !said().empty(); }));
        EXPECT_EQ(said()[0].rfind("E: The history file " + file_ + c.says, 0), 0u) << said()[0];
        testing::SqliteFailingVfs::failWrites(SQLITE_OK);
        EXPECT_TRUE(store->flush());
        EXPECT_EQ(store->stored(), 1u);
    }
    EXPECT_EQ(rows(file_, "SELECT user_version FROM pragma_user_version"), (std::vector<std::string>{"2"}));
}

// The writer is killed in the middle of its work, as a power cut would stop it: the file is whole and
// holds everything handed over more than a second before.
TEST_F(SqliteHistoryStoreTest, AKilledWriterLeavesAWholeFileWithAllButTheLastSecond) {
    constexpr int kMax = 1 << 20;
    struct Shared {
        std::atomic<std::int64_t> handed[kMax];  // steady nanoseconds at which record seq was handed over
        std::atomic<int> last;
        std::atomic<std::uint64_t> lost;
    };
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    auto* shared = new (memory) Shared{};
    const auto nanos = [] { return std::chrono::steady_clock::now().time_since_epoch().count(); };

    const pid_t child = fork();
    if (child == 0) {
        testing::ManualEventLoop loop;
        SqliteHistorySettings s;
        s.path = file_;
        s.queueLimit = 100000;
        SqliteHistoryStore store(loop, ErrorReporter(), s);
        store.record(RunStarted{t0, t0, 0, "L", ""});
        for (int seq = 1; seq < kMax; ++seq) {
            store.record(IntervalStarted{t0, seq, static_cast<std::int16_t>(seq % 64), "Maschine mit Namen",
                                         false, 1, "", t0 + seq, 0});
            shared->handed[seq] = nanos();
            shared->last = seq;
            shared->lost = store.dropped() + store.failed();
            if (seq % 20 == 0) std::this_thread::sleep_for(1ms);
        }
        _exit(0);
    }
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(2500ms);
    const std::int64_t killedAt = nanos();
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const int last = shared->last;
    ASSERT_GT(last, 1000);
    ASSERT_EQ(shared->lost.load(), 0u);
    int due = 0;  // every record handed over up to a second before the kill
    while (due + 1 <= last && shared->handed[due + 1] < killedAt - 1'000'000'000) ++due;
    munmap(memory, sizeof(Shared));

    EXPECT_EQ(rows(file_, "PRAGMA integrity_check"), (std::vector<std::string>{"ok"}));
    const auto counted = rows(file_, "SELECT count(*), coalesce(max(seq), 0) FROM state_intervals");
    ASSERT_EQ(counted.size(), 1u);
    const int count = std::stoi(counted[0]);
    const int highest = std::stoi(counted[0].substr(counted[0].find('|') + 1));
    EXPECT_EQ(count, highest);  // no hole
    EXPECT_GE(highest, due);
    EXPECT_LE(highest, last);
}

TEST_F(SqliteHistoryStoreTest, AFloodBeyondTheQueueCostsOnlyDroppedCountedEvents) {
    fs::remove_all(folder_);  // no folder yet: nothing can be written
    auto s = settings();
    s.queueLimit = 100;
    SqliteHistoryStore& store = start(s);
    const auto before = std::chrono::steady_clock::now();
    for (int seq = 0; seq < 200000; ++seq) store.record(GapStarted{t0, seq, GapKind::Line, t0 + seq});
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(store.dropped(), 199900u);
    std::this_thread::sleep_for(100ms);  // attempts to open it: one report
    ASSERT_EQ(said().size(), 1u);
    EXPECT_EQ(
        said()[0].rfind("E: The history file " + file_ +
                            " cannot be made: its folder does not exist. Create the folder or name another "
                            "file in [History] of Orvanta.ini",
                        0),
        0u);

    fs::create_directories(folder_);
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(store.stored(), 100u);
    EXPECT_EQ(rows(file_, "SELECT count(*), min(seq), max(seq) FROM gaps"),
              (std::vector<std::string>{"100|0|99"}));
    // Each loss is counted once, by the first report that follows it: the error when the writer tried the
    // file after the flood, else the notice.
    ASSERT_EQ(said().size(), 2u);
    EXPECT_EQ(said()[1].rfind("N: The history file " + file_ + " is written again", 0), 0u) << said()[1];
    EXPECT_EQ(lostIn(said()), 199900u);

    // Writing works, but more slowly than a flood comes: said once, and every loss counted.
    for (int seq = 0; seq < 20000; ++seq) store.record(GapEnded{t0, seq % 100, t0 + seq});
    ASSERT_TRUE(store.flush());
    for (int seq = 0; seq < 20000; ++seq) store.record(GapEnded{t0, seq % 100, t0 + seq});
    ASSERT_TRUE(store.flush());
    EXPECT_GT(store.dropped(), 199900u);
    EXPECT_EQ(store.stored() + store.dropped(), 240000u);
    store.close();
    // The second flood comes within the hour: its losses wait for the next report, the one at the close.
    ASSERT_EQ(said().size(), 4u);
    EXPECT_EQ(said()[2].rfind("E: The history file " + file_ +
                                  " is written more slowly than the events come: check the disk; ",
                              0),
              0u)
        << said()[2];
    EXPECT_EQ(said()[3].rfind("E: The history file " + file_ + " was closed; ", 0), 0u) << said()[3];
    EXPECT_EQ(lostIn(said()), store.dropped());
}

}  // namespace
}  // namespace orvanta
