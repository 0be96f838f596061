// One line of the program log, as a handler trace writes it, on the real file system: each line opens,
// appends to and closes the file and asks its size. Once with a limit far above what a run writes, so
// the log is never shortened, and once with a 10 KiB limit: every shortening drops a tenth of it, so
// with lines of this length it comes about every 25 lines and its cost is spread over them.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "adapters/headless/headless_views.h"
#include "core/clock.h"
#include "core/variant.h"
#include "service/program_log.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kNeverShortenedKiB = 1 << 22;  // 4 GiB, far more than any run writes
constexpr std::int32_t kShortenedKiB = 10;
constexpr const char* kLine = "10:02:03 12/07/26 TimerDaten_Timer An";

class LogFolder {
public:
    LogFolder() {
        static std::atomic<int> next{0};
        path_ = fs::temp_directory_path() /
                ("orvanta-bench-log-" + std::to_string(getpid()) + "-" + std::to_string(next++));
        fs::create_directories(path_);
    }
    ~LogFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    LogFolder(const LogFolder&) = delete;
    LogFolder& operator=(const LogFolder&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string firstLine(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    std::getline(in, line);
    return line;
}

void BM_LogLine(benchmark::State& state) {
    const auto limitKiB = static_cast<std::int32_t>(state.range(0));
    LogFolder folder;
    LogSettings settings;
    settings.LogDateiName = (folder.path() / "Orvanta.log").string();
    settings.LogDateiGroesse = limitKiB;
    settings.LogSystem = kTrue;
    SystemClock clock;
    std::ostringstream discarded;
    HeadlessCentralForm form(discarded);
    ProgramLog log(settings, clock, form, folder.path().string());
    const std::string line = kLine;

    for (auto _ : state) log.LogEintrag(line, 0, kTrue, 0, 0);

    // What the run left behind shows which of the two cases was measured.
    const std::uintmax_t size = fs::file_size(settings.LogDateiName);
    const bool shortened = firstLine(settings.LogDateiName).find("File size reduced") != std::string::npos;
    const std::uintmax_t lineBytes = std::string("S ").size() + line.size() + 2;
    const std::uintmax_t written = lineBytes * static_cast<std::uintmax_t>(state.iterations());
    const std::uintmax_t limitBytes = static_cast<std::uintmax_t>(limitKiB) * 1024;
    if (limitKiB == kNeverShortenedKiB && (shortened || size != written))
        state.SkipWithError("the log was shortened or lost lines");
    // The first short probes of a run write less than the limit: only a longer run must have shortened.
    if (limitKiB == kShortenedKiB && written > limitBytes && (!shortened || size > limitBytes + lineBytes))
        state.SkipWithError("the log was not shortened");
    state.SetLabel(limitKiB == kShortenedKiB ? "shortened at 10 KiB" : "never shortened");
}
BENCHMARK(BM_LogLine)->Arg(kNeverShortenedKiB)->Arg(kShortenedKiB)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orvanta
