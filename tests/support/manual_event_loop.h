// A loop on simulated time: nothing happens until the test moves the clock, and then every due timer
// fires in order (earliest first, ties in creation order) with the clock standing at its due time.
#pragma once

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/event_loop.h"

namespace orvanta::testing {

class ManualEventLoop : public EventLoop {
public:
    std::int64_t nowMs() const override { return nowMs_; }

    // Runs posted work, then moves the clock forward by ms, firing due timers and the work they post.
    void advance(std::int64_t ms) {
        const std::int64_t target = nowMs_ + ms;
        runPosted();
        for (;;) {
            const std::int64_t due = nextDueMs();
            if (due < 0 || due > target) break;
            nowMs_ = std::max(nowMs_, due);
            fireNextDue(nowMs_);
            runPosted();
        }
        nowMs_ = target;
        runPosted();
    }

    // Runs the posted work only; the clock stands still.
    void runPending() { runPosted(); }
    // Runs the work posted so far, as one batch of a running loop; the clock stands still.
    bool runBatch() { return runPostedBatch(); }
    // Moves the clock without running anything.
    void setNow(std::int64_t ms) { nowMs_ = ms; }

    // For tests with a real outside party (a broker): runs the loop, its clock following the real one,
    // until condition holds; false when it did not within the timeout.
    template <typename Condition>
    bool runUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(4)) {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + timeout;
        auto last = Clock::now();
        while (!condition()) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const auto now = Clock::now();
            advance(std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count());
            last = now;
        }
        return true;
    }

private:
    std::int64_t nowMs_ = 0;
};

}  // namespace orvanta::testing
