#include "core/system_event_loop.h"

#include <chrono>

namespace orvanta {

SystemEventLoop::SystemEventLoop() = default;

std::int64_t SystemEventLoop::nowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemEventLoop::wake() {
    {
        std::lock_guard lock(wakeMutex_);
        woken_ = true;
    }
    wakeUp_.notify_one();
}

void SystemEventLoop::quit(int exitCode) {
    exitCode_ = exitCode;
    quitRequested_ = true;
    wake();
}

int SystemEventLoop::run() {
    while (!quitRequested_) {
        runPostedBatch();
        if (quitRequested_) break;
        fireDueTimers();
        if (quitRequested_) break;
        if (hasPosted()) continue;

        std::unique_lock lock(wakeMutex_);
        if (woken_) {
            woken_ = false;
            continue;
        }
        const std::int64_t due = nextDueMs();
        if (due < 0) {
            wakeUp_.wait(lock, [this] { return woken_; });
        } else {
            const auto waitMs = std::chrono::milliseconds(due - nowMs());
            wakeUp_.wait_for(lock, waitMs, [this] { return woken_; });
        }
        woken_ = false;
    }
    return exitCode_;
}

}  // namespace orvanta
