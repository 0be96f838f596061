// Ctrl-C and SIGTERM for a program that runs on a loop: they arrive on a thread of their own, which only
// posts to the loop. The first asks for the orderly end, a second ends at once. SIGUSR2 (sent by the
// program itself) ends the watcher.
#pragma once

#include <signal.h>

#include <functional>
#include <thread>

#include "components/event_loop.h"

namespace orvanta {

class SignalWatcher {
public:
    // Blocks the signals in the calling thread and so in every thread started after it (toolkits, network
    // clients and readers start their own): only the watcher's sigwait receives them. Call it first thing.
    static sigset_t blockSignals();

    // interruptedStatus: the exit status for the second signal.
    SignalWatcher(RunLoop& loop, std::function<void()> orderlyEnd, int interruptedStatus);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    void watch();

    RunLoop& loop_;
    std::function<void()> orderlyEnd_;
    int interruptedStatus_;
    sigset_t signals_{};
    std::thread thread_;
};

}  // namespace orvanta
