// Runs a helper program to its end within a wall-time limit and collects what it writes, bounded.
//
// The panel has other threads, so the child is started with posix_spawn (never a bare fork). It gets
// /dev/null as stdin, default signal dispositions, an empty signal mask, no inherited descriptors besides
// its two pipes, and a process group of its own, so a timeout or an oversized output kills the helper and
// anything it started (SIGKILL). The child is always reaped before runBounded returns, on every path.
// Nothing is ever written to the child, so SIGPIPE cannot reach the panel.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace orvanta {

struct BoundedRunLimits {
    std::chrono::milliseconds wallTime{20000};
    std::size_t maxOutputBytes = std::size_t{256} << 20;  // stdout beyond this kills the child
    std::size_t maxErrorBytes = 4096;                     // stderr beyond this is read and dropped
};

struct BoundedRunResult {
    enum class End {
        Exited,          // exitCode holds its status
        Signaled,        // signal holds the signal that ended it
        TimedOut,        // killed after the wall-time limit
        OutputTooLarge,  // killed once stdout passed maxOutputBytes
        Vanished,        // ended, but reaped by someone else's waitpid: its status is unknown
        NotStarted,      // spawnError holds the errno of posix_spawn or of the pipes
        Stopped,         // killed, or never started, because its HelperStop was stopped
    };
    End end = End::NotStarted;
    int exitCode = 0;
    int signal = 0;
    int spawnError = 0;
    std::string output;     // stdout, at most maxOutputBytes
    std::string errorText;  // the start of stderr, at most maxErrorBytes
};

// Ends the helpers that runBounded runs under it, from any thread: a program asked to end must not wait
// for a helper that hangs. Once stopped it stays stopped: each run waiting on a helper kills it (with its
// process group) and returns Stopped at once, and a later run returns Stopped without starting one.
class HelperStop {
public:
    HelperStop();
    ~HelperStop();
    HelperStop(const HelperStop&) = delete;
    HelperStop& operator=(const HelperStop&) = delete;

    void stop();
    bool stopped() const { return stopped_.load(); }
    // Kills the helpers running now, without waiting for anything: for a program about to exit at once,
    // which leaves no helper behind when the thread that runs it is blocked elsewhere.
    void killRunning();

    // For runBounded: a descriptor that becomes readable once stopped, and the children to kill.
    int wakeDescriptor() const { return wake_[0]; }
    void enter(pid_t pid);
    void leave(pid_t pid);

private:
    std::atomic<bool> stopped_{false};
    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::set<pid_t> running_;
};

// argv[0] is the program's path (no search along PATH); environment holds "NAME=value" entries and
// is all the child gets. stop, when given, can end the run early.
BoundedRunResult runBounded(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                            const BoundedRunLimits& limits, HelperStop* stop = nullptr);

}  // namespace orvanta
