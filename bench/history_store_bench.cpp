// The history file's two costs: what one event costs the loop (record(): a copy into the queue), and how
// many events a second the writer puts into the file, from the first record() to the commit that close()
// waits for, with the program's settings (WAL, synchronous=FULL, 250 ms batches) on the real file system.
// The mix is a busy line's: machine states coming and going, alarms raised, published, echoed and
// cleared, the run's sign of life, a gap now and then.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "adapters/sqlite/sqlite_history_store.h"
#include "core/event_loop.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using namespace history;

class IdleLoop : public EventLoop {
public:
    std::int64_t nowMs() const override { return 0; }
};

class HistoryFolder {
public:
    HistoryFolder() {
        static std::atomic<int> next{0};
        path_ = fs::temp_directory_path() /
                ("orvanta-bench-history-" + std::to_string(getpid()) + "-" + std::to_string(next++));
        fs::create_directories(path_);
    }
    ~HistoryFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    HistoryFolder(const HistoryFolder&) = delete;
    HistoryFolder& operator=(const HistoryFolder&) = delete;

    std::string file() const { return (path_ / "History.db").string(); }

private:
    fs::path path_;
};

constexpr Millis kStart = 1'765'000'000'000;

// The i-th event of a busy line, after its RunStarted; i counts from 0.
Record busyLineEvent(std::int64_t i) {
    const std::int64_t seq = i + 1;
    const Millis at = kStart + i;
    const auto slot = static_cast<std::int16_t>(i % 64);
    switch (i % 10) {
        case 0:
        case 2:
            return IntervalStarted{kStart,
                                   seq,
                                   slot,
                                   "Etikettiermaschine " + std::to_string(slot),
                                   slot >= 5,
                                   4,
                                   "Etikettenvorrat leer, Rolle wechseln",
                                   at,
                                   static_cast<std::int16_t>(slot < 5 ? slot + 1 : 0)};
        case 1:
        case 3:
            return IntervalEnded{kStart, seq - 1, at};
        case 4:
            return EpisodeRaised{kStart, seq,        static_cast<std::int16_t>(1 + i % 5),   1, 12,
                                 345,    "F_12_345", "Not-Aus an der Einlaufseite gedrückt", 3, 4,
                                 at};
        case 5:
            return EpisodePublished{kStart, seq - 1, at};
        case 6:
            return EpisodeEchoed{kStart, seq - 2, at};
        case 7:
            return EpisodeCleared{kStart, seq - 3, at};
        case 8:
            return RunAlive{kStart, at};
        default:
            return i % 20 == 9 ? Record{GapStarted{kStart, seq, GapKind::Line, at}}
                               : Record{GapEnded{kStart, seq - 10, at}};
    }
}

// Events a second into the file, end to end.
void BM_HistoryStoreSustained(benchmark::State& state) {
    const auto events = state.range(0);
    std::vector<Record> script;
    script.reserve(static_cast<std::size_t>(events));
    for (std::int64_t i = 0; i < events; ++i) script.push_back(busyLineEvent(i));
    IdleLoop loop;
    for (auto _ : state) {
        state.PauseTiming();
        HistoryFolder folder;
        SqliteHistorySettings settings;
        settings.path = folder.file();
        settings.queueLimit = static_cast<std::size_t>(events) + 1;
        state.ResumeTiming();
        SqliteHistoryStore store(loop, ErrorReporter(), settings);
        store.record(RunStarted{kStart, kStart, 60, "Linie 1", ""});
        for (const Record& record : script) store.record(record);
        store.close();
        state.PauseTiming();
        if (store.stored() != static_cast<std::uint64_t>(events) + 1) {
            state.SkipWithError("not every event was stored");
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * events);
}
BENCHMARK(BM_HistoryStoreSustained)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The loop's cost of one event: record() alone, while the writer works beside it (a second round of
// the script repeats rows the file refuses; only the queueing is timed). The queue is emptied
// outside the timing, so that every timed call is a queued record, not a cheaper dropped one.
void BM_HistoryRecordCall(benchmark::State& state) {
    HistoryFolder folder;
    SqliteHistorySettings settings;
    settings.path = folder.file();
    settings.queueLimit = 20000;
    IdleLoop loop;
    SqliteHistoryStore store(loop, ErrorReporter(), settings);
    store.record(RunStarted{kStart, kStart, 60, "Linie 1", ""});
    std::vector<Record> script;
    for (std::int64_t i = 0; i < 10000; ++i) script.push_back(busyLineEvent(i));
    std::size_t i = 0;
    for (auto _ : state) {
        store.record(script[i % script.size()]);
        if (++i % 10000 == 0) {
            state.PauseTiming();
            store.flush();
            state.ResumeTiming();
        }
    }
    store.close();
    if (store.dropped() != 0) state.SkipWithError("events were dropped");
}
BENCHMARK(BM_HistoryRecordCall)->UseRealTime();

}  // namespace
}  // namespace orvanta
