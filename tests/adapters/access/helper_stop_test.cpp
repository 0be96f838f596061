// Stopping the helpers of a program that ends: a helper that hangs is killed with all it started, and a
// helper asked for afterwards is never started.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "adapters/access/bounded_process.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Whether pid names a process that still runs (a zombie has ended).
bool runs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    return stat >> pidText >> name >> state && state != "Z";
}

class HelperStopTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // A shell that starts a grandchild, notes both pids, and then waits for ever.
    std::vector<std::string> hangingHelper() const {
        return {"/bin/sh", "-c",
                "/bin/sleep 60 & echo $! > " + (folder_ / "grandchild").string() + "; echo $$ > " +
                    (folder_ / "child").string() + "; wait"};
    }
    pid_t noted(const char* name) const {
        for (int i = 0; i < 200; ++i) {
            std::ifstream in(folder_ / name);
            pid_t pid = 0;
            if (in >> pid && pid > 0) return pid;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 0;
    }

    fs::path folder_ = fs::temp_directory_path() / ("orvanta-helper-stop-" + std::to_string(getpid()));
};

TEST_F(HelperStopTest, AStopEndsAHangingHelperWithItsGroupAndEveryLaterRunStartsNone) {
    HelperStop stop;
    EXPECT_FALSE(stop.stopped());
    BoundedRunLimits limits;
    limits.wallTime = std::chrono::seconds(30);
    const auto begin = Clock::now();
    std::thread stopper([&] {
        if (noted("grandchild") != 0) stop.stop();
    });
    const BoundedRunResult run = runBounded(hangingHelper(), {}, limits, &stop);
    stopper.join();
    EXPECT_EQ(run.end, BoundedRunResult::End::Stopped);
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(5));
    EXPECT_TRUE(stop.stopped());
    const pid_t child = noted("child");
    const pid_t grandchild = noted("grandchild");
    ASSERT_GT(child, 0);
    ASSERT_GT(grandchild, 0);
    EXPECT_FALSE(runs(child));
    for (int i = 0; i < 100 && runs(grandchild); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(runs(grandchild));

    fs::remove(folder_ / "child");
    const BoundedRunResult later = runBounded(hangingHelper(), {}, limits, &stop);
    EXPECT_EQ(later.end, BoundedRunResult::End::Stopped);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(folder_ / "child"));
}

TEST_F(HelperStopTest, KillRunningEndsTheHelpersThatRunNowAndNoneThatEndedBefore) {
    HelperStop stop;
    BoundedRunLimits limits;
    limits.wallTime = std::chrono::seconds(30);
    // A helper that ended is forgotten: killing later must not reach whatever got its pid.
    const BoundedRunResult quick = runBounded({"/bin/true"}, {}, limits, &stop);
    EXPECT_EQ(quick.end, BoundedRunResult::End::Exited);
    EXPECT_EQ(runBounded({"/bin/false"}, {}, limits).exitCode, 1) << "a run without a stop";

    std::thread killer([&] {
        if (noted("grandchild") != 0) stop.killRunning();
    });
    const BoundedRunResult run = runBounded(hangingHelper(), {}, limits, &stop);
    killer.join();
    // Not stopped: the helper died of the kill, and a next one would still start.
    EXPECT_EQ(run.end, BoundedRunResult::End::Signaled);
    EXPECT_EQ(run.signal, SIGKILL);
    EXPECT_FALSE(stop.stopped());
    const pid_t grandchild = noted("grandchild");
    for (int i = 0; i < 100 && runs(grandchild); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(runs(grandchild));
    EXPECT_EQ(runBounded({"/bin/true"}, {}, limits, &stop).end, BoundedRunResult::End::Exited);
}

}  // namespace
}  // namespace orvanta
