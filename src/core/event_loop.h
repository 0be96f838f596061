// One thread, one loop. Every handler of the panel (timer ticks, line-display events, variable changes,
// button clicks) runs on the loop's thread, one at a time, so the logic needs no locks. Other threads (a
// network client, a signal watcher) never call into the logic: they post work here.
//
// Timers behave like the form timers the panel was designed around: enabling a disabled timer starts its
// interval from now, disabling stops it, and a tick that comes late is not made up for by a burst of
// ticks. Time is an input: the loop asks nowMs() of its implementation, so a test loop can move a
// simulated clock and fire due timers in a fixed order (earliest due first, then creation order).
//
// A running loop takes posted work in batches: the work queued when a batch begins, then the timers that
// are due. Work posted while a batch runs waits for the next one, so a flood of posted work (a network
// thread that posts faster than the handlers run) delays the heartbeat and the one-second pass by at
// most one batch, never starves them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace orvanta {

class EventLoop;

class Timer {
public:
    Timer(EventLoop& loop, std::string name, std::int32_t intervalMs, std::function<void()> onTick);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    const std::string& name() const { return name_; }
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    std::int32_t interval() const { return intervalMs_; }
    // Restarts a running timer with the new interval, as a form timer does.
    void setInterval(std::int32_t intervalMs);

private:
    friend class EventLoop;
    EventLoop& loop_;
    std::string name_;
    std::int32_t intervalMs_;
    std::function<void()> onTick_;
    bool enabled_ = false;
    std::int64_t dueMs_ = 0;
};

class EventLoop {
public:
    using Task = std::function<void()>;

    EventLoop() = default;
    virtual ~EventLoop() = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Any thread: queue work for the loop's thread.
    void post(Task task);

    // Loop thread: run the work posted so far and the timers that are due, once each, then the work those
    // posted. What the program end needs to let pending events happen; it ends even while another thread
    // keeps posting.
    void processEvents();

    // Milliseconds on the loop's own monotonic clock.
    virtual std::int64_t nowMs() const = 0;

protected:
    // Runs posted tasks in order, including those they post themselves, until none is left. For a
    // simulated loop only: another thread that keeps posting keeps it running.
    void runPosted();
    // Runs the tasks queued when it is called, in order, and no more. Returns whether any ran.
    bool runPostedBatch();
    // Fires every timer due now, each at most once, as one pending tick message per timer would.
    void fireDueTimers();
    // Fires the earliest timer due at or before limitMs, if any.
    void fireNextDue(std::int64_t limitMs);
    // The due time of the earliest enabled timer, or -1 when none runs.
    std::int64_t nextDueMs() const;
    // Whether work has been posted and not yet run.
    bool hasPosted();
    // Called after post() queued work, from the posting thread: a waiting loop wakes up here.
    virtual void wake() {}
    // Called on the loop's thread when a timer was switched on or off or got a new interval, so that a
    // loop driven by a toolkit can reschedule its own wake-up.
    virtual void timersChanged() {}

private:
    friend class Timer;
    void attach(Timer& timer);
    void detach(Timer& timer);
    // Ties go to the timer created first: timers_ is in creation order.
    Timer* earliestDue(std::int64_t limitMs) const;
    void fire(Timer& timer);

    std::vector<Timer*> timers_;
    std::mutex postedMutex_;
    std::deque<Task> posted_;
};

// A loop that runs the program: until quit(), on its own clock.
class RunLoop : public EventLoop {
public:
    // Runs handlers until quit(); returns the code given to quit().
    virtual int run() = 0;
    // Any thread: ends run() after the handler that is running now.
    virtual void quit(int exitCode) = 0;
};

}  // namespace orvanta
