// The loop of the running program when no window toolkit drives it: waits for the next due timer or for
// posted work, whichever comes first, on the steady clock. Each round runs one batch of posted work and
// then every due timer once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "core/event_loop.h"

namespace orvanta {

class SystemEventLoop : public RunLoop {
public:
    SystemEventLoop();

    int run() override;
    void quit(int exitCode = 0) override;

    std::int64_t nowMs() const override;

private:
    void wake() override;

    std::mutex wakeMutex_;
    std::condition_variable wakeUp_;
    bool woken_ = false;
    std::atomic<bool> quitRequested_{false};
    std::atomic<int> exitCode_{0};
};

}  // namespace orvanta
