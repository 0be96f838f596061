#include "components/event_loop.h"

#include <algorithm>
#include <utility>

namespace orvanta {

Timer::Timer(EventLoop& loop, std::string name, std::int32_t intervalMs, std::function<void()> onTick)
    : loop_(loop), name_(std::move(name)), intervalMs_(intervalMs), onTick_(std::move(onTick)) {
    loop_.attach(*this);
}

Timer::~Timer() { loop_.detach(*this); }

void Timer::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    if (enabled) dueMs_ = loop_.nowMs() + std::max<std::int32_t>(intervalMs_, 1);
    enabled_ = enabled;
    loop_.timersChanged();
}

void Timer::setInterval(std::int32_t intervalMs) {
    intervalMs_ = intervalMs;
    if (enabled_) dueMs_ = loop_.nowMs() + std::max<std::int32_t>(intervalMs_, 1);
    loop_.timersChanged();
}

void EventLoop::attach(Timer& timer) {
    timer.order_ = nextOrder_++;
    timers_.push_back(&timer);
}

void EventLoop::detach(Timer& timer) { std::erase(timers_, &timer); }

void EventLoop::post(Task task) {
    {
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(task));
    }
    wake();
}

bool EventLoop::hasPosted() {
    std::lock_guard lock(postedMutex_);
    return !posted_.empty();
}

bool EventLoop::runPosted() {
    bool ran = false;
    for (;;) {
        Task task;
        {
            std::lock_guard lock(postedMutex_);
            if (posted_.empty()) return ran;
            task = std::move(posted_.front());
            posted_.pop_front();
        }
        task();
        ran = true;
    }
}

bool EventLoop::runPostedBatch() {
    std::size_t count = 0;
    {
        std::lock_guard lock(postedMutex_);
        count = posted_.size();
    }
    // Tasks are only ever taken from the front here, on this thread, so the first count are this batch.
    for (std::size_t i = 0; i < count; ++i) {
        Task task;
        {
            std::lock_guard lock(postedMutex_);
            task = std::move(posted_.front());
            posted_.pop_front();
        }
        task();
    }
    return count > 0;
}

std::int64_t EventLoop::nextDueMs() const {
    std::int64_t next = -1;
    for (const Timer* timer : timers_) {
        if (timer->enabled_ && (next < 0 || timer->dueMs_ < next)) next = timer->dueMs_;
    }
    return next;
}

Timer* EventLoop::earliestDue(std::int64_t limitMs, const std::vector<Timer*>& skip) const {
    Timer* due = nullptr;
    for (Timer* timer : timers_) {
        if (!timer->enabled_ || timer->dueMs_ > limitMs) continue;
        if (std::find(skip.begin(), skip.end(), timer) != skip.end()) continue;
        if (due == nullptr || timer->dueMs_ < due->dueMs_ ||
            (timer->dueMs_ == due->dueMs_ && timer->order_ < due->order_))
            due = timer;
    }
    return due;
}

void EventLoop::fire(Timer& timer) {
    const std::int64_t interval = std::max<std::int32_t>(timer.intervalMs_, 1);
    timer.dueMs_ += interval;
    // A late tick is not made up for: the next one follows a whole interval after now.
    if (timer.dueMs_ <= nowMs()) timer.dueMs_ = nowMs() + interval;
    timer.onTick_();  // may disable, re-enable or even destroy other timers
}

bool EventLoop::fireNextDue(std::int64_t limitMs) {
    Timer* due = earliestDue(limitMs, {});
    if (due == nullptr) return false;
    fire(*due);
    return true;
}

void EventLoop::fireDueTimers() {
    const std::int64_t now = nowMs();
    std::vector<Timer*> fired;
    while (Timer* due = earliestDue(now, fired)) {
        fired.push_back(due);
        fire(*due);
    }
}

void EventLoop::processEvents() {
    runPostedBatch();
    fireDueTimers();
    runPostedBatch();
}

}  // namespace orvanta
