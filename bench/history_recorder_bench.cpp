// What the history costs the loop: the recorder following a pass's results and handing its records to the
// file's queue (the SQLite store, whose writer thread does the disk work meanwhile) and, over MQTT, to the
// broker's queue as JSON. Two figures:
// - a pass in which nothing changed: the price every pass pays (64 slots compared);
// - a pass in which machine 1's alarm comes or goes, with its slot's status, the line's status and a
//   foreign machine's: per record handed on, the loop's cost of one history event.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "adapters/mqtt/mqtt_history.h"
#include "adapters/sqlite/sqlite_history_store.h"
#include "core/system_event_loop.h"
#include "history/history_recorder.h"
#include "history/history_sinks.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

// Counts what passes through, for the per-event figure.
class CountingSink : public HistorySink {
public:
    explicit CountingSink(HistorySink& next) : next_(next) {}
    void record(const history::Record& record) override {
        ++count;
        next_.record(record);
    }
    std::int64_t count = 0;

private:
    HistorySink& next_;
};

SqliteHistorySettings fileSettings(const fs::path& file) {
    SqliteHistorySettings settings;
    settings.path = file.string();
    return settings;
}

class RecorderBench {
public:
    RecorderBench(bool overMqtt)
        : file_(fs::temp_directory_path() / ("orvanta-bench-history-" + std::to_string(getpid()) + ".db")),
          store_(loop_, {}, fileSettings(file_)),
          connection_(loop_, MqttSettings{}, "orvanta/panel/online", {}),
          publisher_(connection_, "bench"),
          counting_(sinks_) {
        sinks_.add(store_);
        if (overMqtt) sinks_.add(publisher_);
        for (std::size_t slot = 0; slot < kLineMachineCount; ++slot) {
            MachineRecord& machine = line_.machines[slot];
            machine.name = "Machine " + std::to_string(slot);
            machine.enabled = kTrue;
            machine.foreign = vbBool(slot >= kAlarmMachines);
            machine.number = static_cast<std::int16_t>(slot < kAlarmMachines ? slot + 1 : 0);
            line_.values[slot].rawStatus = 1;
            line_.values[slot].message = "running";
        }
        fault_.Fault = 7;
        fault_.Ident = 1007;
        fault_.Priority = 50;
        fault_.AnzeigeStatus = 4;
        fault_.AlarmText = "F7";
        outcome_.slotStatus.fill(PassOutcome::kNotFed);
        for (std::size_t slot = 0; slot < kAlarmMachines; ++slot) outcome_.slotStatus[slot] = 1;
        recorder_.start();
    }
    ~RecorderBench() {
        recorder_.end();
        store_.close();
        std::error_code ignored;
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(file_.string() + suffix, ignored);
    }

    void pass() { recorder_.passCompleted(outcome_, line_); }

    // Machine 1's fault comes or goes, with what follows from it.
    void toggle() {
        const bool raise = outcome_.shown[1].alarm == nullptr;
        outcome_.shown[1] = raise ? PassOutcome::Choice{&fault_, 1, 1} : PassOutcome::Choice{};
        outcome_.shownText[1] = raise ? "Filler: bottle jam" : "";
        outcome_.lineAlarm = outcome_.shown[1];
        outcome_.linePublished = raise;
        outcome_.slotStatus[0] = raise ? 4 : 1;
        line_.values[20].rawStatus = raise ? 4 : 1;
        line_.lineStatus = raise ? 4 : 1;
    }

    std::int64_t records() const { return counting_.count; }

private:
    fs::path file_;
    SystemEventLoop loop_;
    SqliteHistoryStore store_;
    MqttConnection connection_;  // never started: the messages wait in its bounded queue
    MqttHistoryPublisher publisher_;
    HistorySinks sinks_;
    CountingSink counting_;
    HistoryRecorder recorder_{counting_,
                              loop_,
                              [] { return history::Millis{1'800'000'000'000}; },
                              {"bench", 60, "Europe/Berlin", {}}};
    LineRecords line_;
    AlarmDef fault_;
    PassOutcome outcome_;
};

void BM_HistoryPassUnchanged(benchmark::State& state) {
    RecorderBench bench(false);
    bench.pass();
    for (auto _ : state) bench.pass();
}
BENCHMARK(BM_HistoryPassUnchanged);

// Per record: the recorder's work, the copy into the store's queue and, with range(0) 1, the JSON message
// queued for the broker.
void BM_HistoryEventLoopCost(benchmark::State& state) {
    RecorderBench bench(state.range(0) != 0);
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        bench.toggle();
        bench.pass();
    }
    const std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - begin;
    state.SetItemsProcessed(bench.records());
    state.counters["records_per_pass"] =
        static_cast<double>(bench.records()) / static_cast<double>(state.iterations());
    state.counters["us_per_event"] = elapsed.count() / static_cast<double>(bench.records());
}
// The file's queue holds 10 000 records and the broker's 10 000 messages: the runs stay below both, so
// that what is measured is queueing, not dropping.
BENCHMARK(BM_HistoryEventLoopCost)->ArgName("mqtt")->Arg(0)->Arg(1)->Iterations(1200);

}  // namespace
}  // namespace orvanta
