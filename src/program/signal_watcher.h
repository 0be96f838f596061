// Ctrl-C and SIGTERM for a program that runs on a loop: they arrive on a thread of their own, which only
// posts to the loop. The first asks for the orderly end, a second ends at once. SIGUSR2 (sent by the
// program itself) ends the watcher.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

#include "core/event_loop.h"

namespace orvanta {

class HelperStop;

class SignalWatcher {
public:
    // Blocks the signals in the calling thread and so in every thread started after it (toolkits, network
    // clients and readers start their own): only the watcher's sigwait receives them. Call it first thing.
    static sigset_t blockSignals();

    // How long a second signal lets the loop end by itself before the process exits from the watcher.
    static constexpr int kGraceMs = 300;

    // interruptedStatus: the exit status for the second signal. helpers, when given, outlives the watcher:
    // the first signal stops them, so that a start blocked on a helper (a hung reader) goes on to the end.
    SignalWatcher(RunLoop& loop, std::function<void()> orderlyEnd, int interruptedStatus,
                  HelperStop* helpers = nullptr);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // Whether a second signal came: the program then ends with interruptedStatus, even when the orderly end
    // it interrupted had set another status of its own.
    bool interrupted() const { return interrupted_.load(); }

private:
    void watch();
    [[noreturn]] void exitAtOnce() const;

    RunLoop& loop_;
    std::function<void()> orderlyEnd_;
    int interruptedStatus_;
    HelperStop* helpers_;
    std::atomic<bool> interrupted_{false};
    sigset_t signals_{};
    std::thread thread_;
};

}  // namespace orvanta
