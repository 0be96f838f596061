// Signals reach the program on the watcher's thread. These run in a forked child, since the second signal
// may end the process.
#include "app/signal_watcher.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "components/system_event_loop.h"

namespace orvanta {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStatus = 130;

// Runs body in a child process and returns its exit status, or -1 when it has not ended within limit.
template <typename Body>
int inChild(Body body, std::chrono::milliseconds limit) {
    const pid_t child = fork();
    if (child == 0) {
        body();
        _exit(99);
    }
    const auto end = Clock::now() + limit;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (Clock::now() > end) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        usleep(5000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(SignalWatcher, TheFirstSignalAsksForTheOrderlyEndAndASecondEndsTheFreeLoopWithItsStatus) {
    const int status = inChild(
        [] {
            SignalWatcher::blockSignals();
            SystemEventLoop loop;
            int orderlyEnds = 0;
            SignalWatcher watcher(
                loop,
                [&] {
                    ++orderlyEnds;
                    kill(getpid(), SIGTERM);
                },
                kStatus);
            kill(getpid(), SIGINT);
            const int ended = loop.run();
            // Ended by the loop itself, not by the watcher: distinguishable from kStatus.
            _exit(ended == kStatus && orderlyEnds == 1 && watcher.interrupted() ? 7 : 1);
        },
        std::chrono::seconds(5));
    EXPECT_EQ(status, 7);
}

TEST(SignalWatcher, ASecondSignalEndsAtOnceWhileTheLoopIsBlocked) {
    const auto begin = Clock::now();
    const int status = inChild(
        [] {
            SignalWatcher::blockSignals();
            SystemEventLoop loop;
            SignalWatcher watcher(
                loop, [] {}, kStatus);
            loop.post([] {
                kill(getpid(), SIGINT);
                usleep(50000);
                kill(getpid(), SIGINT);
                for (;;) pause();  // a handler that never returns
            });
            loop.run();
            _exit(1);
        },
        std::chrono::seconds(5));
    EXPECT_EQ(status, kStatus);
    EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(50 + SignalWatcher::kGraceMs + 1500));
}

}  // namespace
}  // namespace orvanta
