// Runs a helper program to its end within a wall-time limit and collects what it writes, bounded.
//
// The panel has other threads, so the child is started with posix_spawn (never a bare fork). It gets
// /dev/null as stdin, default signal dispositions, an empty signal mask, no inherited descriptors besides
// its two pipes, and a process group of its own, so a timeout or an oversized output kills the helper and
// anything it started (SIGKILL). The child is always reaped before runBounded returns, on every path.
// Nothing is ever written to the child, so SIGPIPE cannot reach the panel.
#pragma once

#include <chrono>
#include <cstddef>
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
    };
    End end = End::NotStarted;
    int exitCode = 0;
    int signal = 0;
    int spawnError = 0;
    std::string output;     // stdout, at most maxOutputBytes
    std::string errorText;  // the start of stderr, at most maxErrorBytes
};

// argv[0] is the program's path (no search along PATH); environment holds "NAME=value" entries and
// is all the child gets.
BoundedRunResult runBounded(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                            const BoundedRunLimits& limits);

}  // namespace orvanta
