#include "core/event_loop.h"

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

void EventLoop::attach(Timer& timer) { timers_.push_back(&timer); }

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

void EventLoop::runPosted() {
    while (runPostedBatch()) {
    }
}

bool EventLoop::runPostedBatch() {
    const std::size_t count = [this] {
        std::lock_guard lock(postedMutex_);
        return posted_.size();
    }();
    // A task may process events itself (the dialect's DoEvents) and so take some of this batch: the batch
    // ends early then, rather than reach past the queue's end.
    for (std::size_t i = 0; i < count; ++i) {
        Task task;
        {
            std::lock_guard lock(postedMutex_);
            if (posted_.empty()) break;
            task = std::move(posted_.front());
            posted_.pop_front();
        }
        task();
    }
    return count > 0;
}

std::int64_t EventLoop::nextDueMs() const {
    const Timer* next = nullptr;
    for (const Timer* timer : timers_) {
        if (timer->enabled_ && (next == nullptr || timer->dueMs_ < next->dueMs_)) next = timer;
    }
    return next == nullptr ? -1 : next->dueMs_;
}

Timer* EventLoop::earliestDue(std::int64_t limitMs) const {
    Timer* due = nullptr;
    for (Timer* timer : timers_) {
        if (!timer->enabled_ || timer->dueMs_ > limitMs) continue;
        if (due == nullptr || timer->dueMs_ < due->dueMs_) due = timer;
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

void EventLoop::fireNextDue(std::int64_t limitMs) {
    if (Timer* due = earliestDue(limitMs)) fire(*due);
}

void EventLoop::fireDueTimers() {
    // A timer that fired is due after now (see fire()), so each fires at most once here.
    const std::int64_t now = nowMs();
    while (Timer* due = earliestDue(now)) fire(*due);
}

void EventLoop::processEvents() {
    runPostedBatch();
    fireDueTimers();
    runPostedBatch();
}

}  // namespace orvanta
