// A loop on simulated time: nothing happens until the test moves the clock, and then every due timer
// fires in order (earliest first, ties in creation order) with the clock standing at its due time.
#pragma once

#include <algorithm>

#include "components/event_loop.h"

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

private:
    std::int64_t nowMs_ = 0;
};

}  // namespace orvanta::testing
