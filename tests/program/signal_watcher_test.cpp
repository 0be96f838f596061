// Signals reach the program on the watcher's thread. These run in a forked child, since the second signal
// may end the process.
#include "program/signal_watcher.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/system_event_loop.h"

namespace orvanta {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

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

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

TEST(SignalWatcher, WithoutASignalItEndsQuietlyAndGivesTheSignalsBack) {
    const int status = inChild(
        [] {
            sigset_t mine;
            sigemptyset(&mine);
            sigaddset(&mine, SIGINT);
            sigaddset(&mine, SIGTERM);
            pthread_sigmask(SIG_UNBLOCK, &mine, nullptr);
            bool asked = false;
            {
                SystemEventLoop loop;
                SignalWatcher watcher(
                    loop, [&] { asked = true; }, kStatus);
                loop.processEvents();
                if (watcher.interrupted()) _exit(2);
            }
            SystemEventLoop after;
            after.processEvents();
            sigset_t blocked;
            pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
            _exit(asked ? 3 : sigismember(&blocked, SIGINT) || sigismember(&blocked, SIGTERM) ? 4 : 0);
        },
        std::chrono::seconds(5));
    EXPECT_EQ(status, 0);
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

// What the program had written but not yet flushed still reaches its file; what it says about the end
// comes after it.
TEST(SignalWatcher, ASecondSignalEndsAtOnceWhileTheLoopIsBlocked) {
    const fs::path out = fs::temp_directory_path() / ("orvanta-signal-out-" + std::to_string(getpid()));
    const fs::path err = fs::temp_directory_path() / ("orvanta-signal-err-" + std::to_string(getpid()));
    const auto begin = Clock::now();
    const int status = inChild(
        [&] {
            if (std::freopen(out.c_str(), "w", stdout) == nullptr ||
                std::freopen(err.c_str(), "w", stderr) == nullptr)
                _exit(2);
            std::setvbuf(stdout, nullptr, _IOFBF, 4096);
            SignalWatcher::blockSignals();
            SystemEventLoop loop;
            SignalWatcher watcher(
                loop, [] {}, kStatus);
            loop.post([] {
                std::fputs("status line", stdout);
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
    EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(1000));
    EXPECT_EQ(contentOf(out), "status line");
    EXPECT_EQ(contentOf(err), "Orvanta: ended at once by a second signal\n");
    fs::remove(out);
    fs::remove(err);
}

}  // namespace
}  // namespace orvanta
