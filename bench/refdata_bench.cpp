// Loading the reference data of a plant at full capacity (10 000 alarm definitions) beside the time
// mdb-export takes to print the same table: reading through the bounded child process must cost no more
// than the plain tool.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "adapters/access/mdb_database.h"
#include "adapters/headless/headless_views.h"
#include "bench_plant.h"
#include "core/clock.h"
#include "refdata/alarm_definitions.h"
#include "refdata/languages.h"
#include "service/program_log.h"

extern char** environ;

namespace orvanta {
namespace {

namespace fs = std::filesystem;

void BM_LoadRefdataFull(benchmark::State& state) {
    bench::FullPlant plant;
    MdbDatabaseEngine engine(ORVANTA_MDB_READER);
    LogSettings settings;  // no log file: the load itself is measured
    SystemClock clock;
    std::ostringstream discarded;
    HeadlessCentralForm form(discarded);
    ProgramLog log(settings, clock, form, plant.base());
    for (auto _ : state) {
        AlarmDefinitions alarms;
        LanguageTable languages;
        AlarmDefsEinlesen(alarms, engine, log, plant.base(), 5);
        LanguageEinlesen(languages, engine, log, plant.base());
        if (alarms.AlarmTabelle1.count(5) != kAlarmCapacity || languages.LanguageCount == 0)
            state.SkipWithError("the full plant did not load");
        benchmark::DoNotOptimize(alarms);
    }
}
BENCHMARK(BM_LoadRefdataFull)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference: mdb-export printing the same table to /dev/null.
void BM_MdbExportAlarmdefsFull(benchmark::State& state) {
    const std::string file = (bench::kData / "alarmdefs-full.vws").string();
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        char program[] = "mdb-export";
        char table[] = "Alarmdefs";
        std::string path = file;
        char* argv[] = {program, path.data(), table, nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, program, &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("mdb-export is not installed");
            break;
        }
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("mdb-export failed");
    }
}
BENCHMARK(BM_MdbExportAlarmdefsFull)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace orvanta
