// The peak memory of the real program on a plant at full capacity: the demo plant with the full-capacity
// fixture (1000 definitions in every table of every machine) as its project database, and a variable
// catalogue naming every variable the definitions name, so that the program runs as on a plant of that
// size instead of reporting unknown variables. It runs headless for a few seconds; a warning set on every
// machine shows that the definitions were loaded and are scanned.
//
// The figures are VmHWM of /proc/PID/status, the peak resident size of the process's own memory,
// sampled while it runs: the panel alone, and apart from it the largest of its database readers. Not
// ru_maxrss from wait4: Linux carries the parent's peak into a child at exec, so a panel started by this
// benchmark would report this benchmark's own peak whenever that is the larger.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "adapters/access/mdb_database.h"
#include "adapters/headless/headless_views.h"
#include "bench_plant.h"
#include "core/clock.h"
#include "ports/variable_names.h"
#include "refdata/alarm_definitions.h"
#include "service/program_log.h"
#include "support/demo_plant.h"

extern char** environ;

namespace orvanta {
namespace {

namespace fs = std::filesystem;

constexpr int kRunSeconds = 3;
constexpr auto kSampleInterval = std::chrono::milliseconds(2);

std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

class FullPlantFolder {
public:
    FullPlantFolder()
        : base_(fs::temp_directory_path() / ("orvanta-bench-memory-" + std::to_string(getpid()))) {
        testing::copyDemoPlant(base_);
        fs::copy_file(bench::kData / "alarmdefs-full.vws", base_ / "Program" / "Pelmar.vws",
                      fs::copy_options::overwrite_existing);
    }
    ~FullPlantFolder() {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }
    FullPlantFolder(const FullPlantFolder&) = delete;
    FullPlantFolder& operator=(const FullPlantFolder&) = delete;

    std::string base() const { return base_.string(); }
    fs::path path() const { return base_; }

private:
    fs::path base_;
};

// Every variable of the definitions as an integer, the first warning of each machine set, and the
// machines' PLC status at 1 as in the demo plant.
void writeCatalogue(const FullPlantFolder& plant, const AlarmDefinitions& alarms) {
    std::map<std::string, std::uint16_t> values;
    for (const AlarmTable* table : {&alarms.AlarmTabelle1, &alarms.AlarmTabelle2, &alarms.AlarmTabelle3})
        for (int m = 1; m <= kAlarmMachines; ++m)
            for (int i = 1; i <= table->count(m); ++i) values.emplace(table->at(m, i).VarName, 0);
    for (int m = 1; m <= kAlarmMachines; ++m) {
        const AlarmDef& warning = alarms.AlarmTabelle2.at(m, 1);
        // A bit outside 0..15 sets nothing: the missing warning then fails the run's check.
        if (warning.BitNo >= 0 && warning.BitNo <= 15)
            values[warning.VarName] |= static_cast<std::uint16_t>(1u << warning.BitNo);
        values[vars::indexed(vars::kLiStatusPlcBase, m)] = 1;
    }
    std::ofstream out(plant.path() / "Program" / "Orvanta" / "Variables.json", std::ios::trunc);
    out << "{\"variables\": [\n";
    const char* separator = "";
    for (const auto& [name, value] : values) {
        out << separator << "  {\"name\": " << jsonString(name)
            << ", \"type\": \"integer\", \"value\": " << static_cast<std::int16_t>(value) << "}";
        separator = ",\n";
    }
    out << "\n]}\n";
}

AlarmDefinitions loadDefinitions(const std::string& base) {
    MdbDatabaseEngine engine(ORVANTA_MDB_READER);
    LogSettings settings;
    SystemClock clock;
    std::ostringstream discarded;
    HeadlessCentralForm form(discarded);
    ProgramLog log(settings, clock, form, base);
    AlarmDefinitions alarms;
    AlarmDefsEinlesen(alarms, engine, log, base, kAlarmMachines);
    return alarms;
}

// The high-water mark of a process's own memory, in KiB; none once it has ended or released it.
std::optional<long> highWaterKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return std::nullopt;
}

std::string commandName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// The children of every thread of pid: a reader may be started from any of them.
std::set<pid_t> childrenOf(pid_t pid) {
    std::set<pid_t> children;
    std::error_code error;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream list(task.path() / "children");
        for (pid_t child = 0; list >> child;) children.insert(child);
    }
    return children;
}

struct PeakMemory {
    long panelKiB = 0;
    long readerKiB = 0;
    int readersSeen = 0;
};

// Samples the panel and its readers until the panel has ended. VmHWM only grows, so the panel's last
// sample, taken at most one interval before its end, holds its peak unless it grew in that interval.
// A reader lives for milliseconds: its figure is the largest seen, a lower bound.
PeakMemory sampleUntilEnd(pid_t pid, int& status) {
    PeakMemory peak;
    std::set<pid_t> readers;
    for (;;) {
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid || ended < 0) break;
        if (const std::optional<long> kib = highWaterKiB(pid)) peak.panelKiB = std::max(peak.panelKiB, *kib);
        for (const pid_t child : childrenOf(pid)) {
            if (commandName(child).rfind("orvanta-mdb", 0) != 0) continue;  // not yet the reader's image
            if (const std::optional<long> kib = highWaterKiB(child)) {
                peak.readerKiB = std::max(peak.readerKiB, *kib);
                readers.insert(child);
            }
        }
        std::this_thread::sleep_for(kSampleInterval);
    }
    peak.readersSeen = static_cast<int>(readers.size());
    return peak;
}

std::string lastLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::string last;
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    return last;
}

// The headless status line names each machine's alarm, or "ok" without one.
bool everyMachineWarned(const std::string& statusLine) {
    for (int m = 1; m <= kAlarmMachines; ++m) {
        const std::string machine = "| M" + std::to_string(m) + " ";
        const std::size_t at = statusLine.find(machine);
        if (at == std::string::npos || statusLine.compare(at + machine.size(), 2, "ok") == 0) return false;
    }
    return true;
}

// [History] Enabled of the plant's own INI, which the demo plant has on.
void keepHistory(const FullPlantFolder& plant, bool on) {
    const fs::path ini = plant.path() / "Program" / "Orvanta" / "Orvanta.ini";
    std::ifstream in(ini);
    std::stringstream text;
    text << in.rdbuf();
    std::string content = text.str();
    const std::string entry = "\nEnabled=1\n";
    if (const std::size_t at = content.find(entry); at != std::string::npos && !on)
        content.replace(at, entry.size(), "\nEnabled=0\n");
    std::ofstream(ini, std::ios::trunc) << content;
}

// range(0): the history kept (1) or not (0); the figure is the difference.
void BM_PeakMemoryFullPlant(benchmark::State& state) {
    FullPlantFolder plant;
    keepHistory(plant, state.range(0) != 0);
    const AlarmDefinitions alarms = loadDefinitions(plant.base());
    if (alarms.AlarmTabelle1.count(kAlarmMachines) != kAlarmCapacity) {
        state.SkipWithError("the full-capacity fixture did not load");
        return;
    }
    writeCatalogue(plant, alarms);
    const fs::path out = plant.path() / "stdout.txt";
    const fs::path err = plant.path() / "stderr.txt";

    PeakMemory peak;
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::string program = ORVANTA_BINARY;
        std::string baseOption = "--base";
        std::string base = plant.base();
        std::string headless = "--headless";
        std::string runFor = "--run-for";
        std::string seconds = std::to_string(kRunSeconds);
        char* argv[] = {program.data(), baseOption.data(), base.data(), headless.data(),
                        runFor.data(),  seconds.data(),    nullptr};
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            state.SkipWithError("the program could not be started");
            return;
        }
        int status = 0;
        peak = sampleUntilEnd(pid, status);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the program did not end in order");
            return;
        }
    }

    if (!everyMachineWarned(lastLine(out))) {
        state.SkipWithError("the program did not show the warnings of the full plant");
        return;
    }
    std::ifstream errors(err);
    for (std::string line; std::getline(errors, line);) {
        if (line.find("Fault ") != std::string::npos) {
            state.SkipWithError(("the program reported a fault: " + line).c_str());
            return;
        }
    }
    state.counters["panel_MiB"] = static_cast<double>(peak.panelKiB) / 1024.0;
    if (peak.readersSeen > 0) {
        state.counters["reader_MiB"] = static_cast<double>(peak.readerKiB) / 1024.0;
        state.counters["readers_seen"] = peak.readersSeen;
    }
}
BENCHMARK(BM_PeakMemoryFullPlant)
    ->ArgName("history")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace orvanta
