// The report over a generated year of a busy line (about a million alarm episodes and state intervals),
// run as the program a production manager starts: its wall time, and its peak memory as VmHWM of
// /proc/PID/status sampled while it runs (ru_maxrss from wait4 would carry this benchmark's own peak, see
// peak_memory_bench.cpp). The memory must stay bounded: no table is ever held whole.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "report/history_generator.h"

extern char** environ;

namespace orvanta {
namespace {

namespace fs = std::filesystem;

struct BusyYear {
    fs::path folder;
    std::string file;
    report::GeneratedCounts counts;
    explicit BusyYear(int days) {
        folder = fs::temp_directory_path() /
                 ("orvanta-report-bench-" + std::to_string(::getpid()) + "-" + std::to_string(days));
        fs::create_directories(folder);
        file = (folder / "year.db").string();
        report::GeneratedLine line;
        line.length = days * 24LL * 60 * 60 * 1000;
        counts = report::generateHistory(file, line);
    }
    ~BusyYear() { fs::remove_all(folder); }
};

const BusyYear& busyYear() {
    static const BusyYear year(365);
    return year;
}

// A third of the busy year: the report's cost must grow with the rows, not faster.
const BusyYear& busyThird() {
    static const BusyYear third(122);
    return third;
}

std::optional<long> highWaterKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return std::nullopt;
}

// Runs the report once on file as a process; its wall time is the iteration's, its peak memory goes to
// peakKiB. False when it could not start or failed.
bool timeReport(benchmark::State& state, const std::string& format, const std::string& file, long& peakKiB,
                double* cpuSeconds = nullptr) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> arguments{ORVANTA_REPORT_BINARY, "--format", format, file};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, ORVANTA_REPORT_BINARY, &actions, nullptr, argv.data(), environ) != 0) {
        state.SkipWithError("cannot start orvanta-report");
        return false;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    // VmHWM only grows: the last sample before the exit is the peak, give or take the last moments.
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (const std::optional<long> kib = highWaterKiB(pid)) peakKiB = std::max(peakKiB, *kib);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (cpuSeconds != nullptr)
        *cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        state.SkipWithError("orvanta-report failed");
        return false;
    }
    return true;
}

void BM_HistoryReportBusyYear(benchmark::State& state) {
    const BusyYear& year = busyYear();
    const std::string format = state.range(0) == 0 ? "text" : "html";
    long peakKiB = 0;
    for (auto _ : state)
        if (!timeReport(state, format, year.file, peakKiB)) break;
    state.counters["rows"] = static_cast<double>(year.counts.episodes + year.counts.intervals);
    state.counters["episodes"] = static_cast<double>(year.counts.episodes);
    state.counters["intervals"] = static_cast<double>(year.counts.intervals);
    state.counters["peak_MiB"] = static_cast<double>(peakKiB) / 1024.0;
}
BENCHMARK(BM_HistoryReportBusyYear)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("html")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseManualTime();

// The text report's processor time over a third of the busy year and over the whole: their ratio is the
// report's growth with its rows (the rows are 2.99 times as many).
void BM_HistoryReportLength(benchmark::State& state) {
    const BusyYear& history = state.range(0) == 4 ? busyThird() : busyYear();
    long peakKiB = 0;
    double cpu = 0;
    for (auto _ : state)
        if (!timeReport(state, "text", history.file, peakKiB, &cpu)) break;
    state.counters["cpu_s"] = cpu;
    state.counters["rows"] = static_cast<double>(history.counts.episodes + history.counts.intervals);
}
BENCHMARK(BM_HistoryReportLength)
    ->Arg(4)
    ->Arg(12)
    ->ArgName("months")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseManualTime();

// The busy year's text report on a loaded machine: a busy loop on every core beside it.
void BM_HistoryReportBusyYearLoaded(benchmark::State& state) {
    const BusyYear& year = busyYear();
    std::atomic<bool> stop{false};
    std::vector<std::thread> load;
    for (unsigned core = 0; core < std::max(1u, std::thread::hardware_concurrency()); ++core)
        load.emplace_back([&stop] {
            volatile std::uint64_t spin = 0;
            while (!stop.load(std::memory_order_relaxed)) spin = spin + 1;
        });
    long peakKiB = 0;
    for (auto _ : state)
        if (!timeReport(state, "text", year.file, peakKiB)) break;
    stop = true;
    for (std::thread& thread : load) thread.join();
}
BENCHMARK(BM_HistoryReportBusyYearLoaded)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();

// A damaged or hostile file that names 16 000 machine slots, one state interval each (1.3 MB): the HTML
// report, with its pictures, as the web page's /report would make it inside the panel.
void BM_HistoryReportManySlots(benchmark::State& state) {
    const fs::path folder =
        fs::temp_directory_path() / ("orvanta-report-slots-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string file = (folder / "slots.db").string();
    const auto slots = static_cast<int>(state.range(0));
    {
        report::HistoryFileWriter out(file);
        const report::Millis start = 1'796'601'600'000;
        out.run(start, "L1", start, start + 3'600'000, start + 3'600'000);
        for (int slot = 0; slot < slots; ++slot)
            out.interval(start, slot, "M" + std::to_string(slot), 1 + slot % 6, start + slot,
                         start + 3'600'000 - slot, slot % 6 == 3 ? "Jam" : "");
    }
    long peakKiB = 0;
    for (auto _ : state)
        if (!timeReport(state, "html", file, peakKiB)) break;
    state.counters["peak_MiB"] = static_cast<double>(peakKiB) / 1024.0;
    fs::remove_all(folder);
}
BENCHMARK(BM_HistoryReportManySlots)->Arg(16'000)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();

}  // namespace
}  // namespace orvanta
