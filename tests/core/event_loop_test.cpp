#include "core/event_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "core/system_event_loop.h"
#include "support/manual_event_loop.h"

namespace orvanta {
namespace {

using testing::ManualEventLoop;

struct TickLog {
    std::vector<std::string> ticks;
    std::function<void()> record(ManualEventLoop& loop, std::string name) {
        return [this, &loop, name] { ticks.push_back(name + "@" + std::to_string(loop.nowMs())); };
    }
};

TEST(ManualEventLoop, TimersStartDisabledAndTickAtTheirInterval) {
    ManualEventLoop loop;
    TickLog log;
    Timer daten(loop, "TimerDaten", 1000, log.record(loop, "daten"));
    Timer browser(loop, "TimerWebBrowser", 2000, log.record(loop, "browser"));
    loop.advance(5000);
    EXPECT_TRUE(log.ticks.empty());

    daten.setEnabled(true);
    browser.setEnabled(true);
    loop.advance(4000);
    // Timers due at the same moment fire in creation order.
    EXPECT_EQ(log.ticks, (std::vector<std::string>{"daten@6000", "daten@7000", "browser@7000", "daten@8000",
                                                   "daten@9000", "browser@9000"}));
}

TEST(ManualEventLoop, EnablingAnEnabledTimerDoesNotRestartItButDisablingDoes) {
    ManualEventLoop loop;
    TickLog log;
    Timer timer(loop, "t", 1000, log.record(loop, "t"));
    timer.setEnabled(true);
    loop.advance(600);
    timer.setEnabled(true);
    loop.advance(400);
    EXPECT_EQ(log.ticks, std::vector<std::string>{"t@1000"});

    loop.advance(500);
    timer.setEnabled(false);
    timer.setEnabled(true);  // restarts from now: 1500 + 1000
    loop.advance(1200);
    EXPECT_EQ(log.ticks, (std::vector<std::string>{"t@1000", "t@2500"}));
}

TEST(ManualEventLoop, AZeroIntervalTicksEveryMillisecondAndANewIntervalStartsFromNow) {
    ManualEventLoop loop;
    TickLog log;
    Timer fast(loop, "fast", 0, log.record(loop, "fast"));
    Timer slow(loop, "slow", 1000, log.record(loop, "slow"));
    fast.setEnabled(true);
    slow.setEnabled(true);
    loop.advance(3);
    fast.setEnabled(false);
    loop.advance(597);
    slow.setInterval(200);  // running: restarts from now, 600 + 200
    slow.setInterval(300);
    loop.advance(600);
    EXPECT_EQ(log.ticks, (std::vector<std::string>{"fast@1", "fast@2", "fast@3", "slow@900", "slow@1200"}));
}

TEST(EventLoop, WorkThatProcessesEventsItselfTakesTheRestOfTheBatch) {
    ManualEventLoop loop;
    std::vector<std::string> order;
    loop.post([&] {
        order.push_back("DoEvents");
        loop.processEvents();
    });
    loop.post([&] { order.push_back("second"); });
    loop.post([&] { order.push_back("third"); });
    EXPECT_TRUE(loop.runBatch());
    EXPECT_EQ(order, (std::vector<std::string>{"DoEvents", "second", "third"}));
    EXPECT_FALSE(loop.runBatch());
}

TEST(EventLoop, ALateTickKeepsTheRhythmAndATickMissedWholeIsNotMadeUpFor) {
    ManualEventLoop loop;
    TickLog log;
    Timer timer(loop, "t", 1000, log.record(loop, "t"));
    timer.setEnabled(true);
    for (const std::int64_t now : {1500, 1999, 2000, 4000, 4000, 4999, 5000}) {
        loop.setNow(now);
        loop.processEvents();
    }
    EXPECT_EQ(log.ticks, (std::vector<std::string>{"t@1500", "t@2000", "t@4000", "t@5000"}));
}

TEST(ManualEventLoop, AHandlerThatSwitchesItsTimerOffAndOnRestartsTheInterval) {
    ManualEventLoop loop;
    std::vector<std::int64_t> ticks;
    Timer* self = nullptr;
    Timer timer(loop, "TimerDaten", 1000, [&] {
        self->setEnabled(false);
        ticks.push_back(loop.nowMs());
        self->setEnabled(true);
    });
    self = &timer;
    timer.setEnabled(true);
    loop.advance(3000);
    EXPECT_EQ(ticks, (std::vector<std::int64_t>{1000, 2000, 3000}));
}

TEST(ManualEventLoop, PostedWorkRunsInOrderAndMayPostMore) {
    ManualEventLoop loop;
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        loop.post([&] { order.push_back(3); });
    });
    loop.post([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());
    loop.runPending();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(EventLoop, ProcessEventsRunsOneBatchTheDueTimersOnceAndTheNextBatch) {
    ManualEventLoop loop;
    std::vector<std::string> order;
    Timer due(loop, "due", 10, [&] { order.push_back("tick"); });
    Timer later(loop, "later", 20, [&] { order.push_back("later"); });
    due.setEnabled(true);
    later.setEnabled(true);
    loop.setNow(10);
    // Work that posts itself again without end, as a flooding network thread would: processEvents still
    // returns, and the timer is not starved behind it.
    std::function<void()> flood = [&] {
        order.push_back("flood");
        loop.post(flood);
    };
    loop.post([&] {
        order.push_back("first");
        loop.post([&] { order.push_back("posted by first"); });
    });
    loop.post(flood);
    loop.processEvents();
    EXPECT_EQ(order, (std::vector<std::string>{"first", "flood", "tick", "posted by first", "flood"}));
}

TEST(EventLoop, ATimerDestroyedByAnotherTimersTickNeverFires) {
    ManualEventLoop loop;
    int victimTicks = 0;
    auto victim = std::make_unique<Timer>(loop, "victim", 1000, [&] { ++victimTicks; });
    Timer killer(loop, "killer", 1000, [&] { victim.reset(); });
    victim->setEnabled(true);
    killer.setEnabled(true);
    loop.advance(999);
    victim->setEnabled(false);
    victim->setEnabled(true);  // now due at 1999, after the killer
    loop.advance(2000);
    EXPECT_EQ(victimTicks, 0);
}

TEST(SystemEventLoop, RunsWorkPostedFromOtherThreadsAndTimersUntilQuit) {
    SystemEventLoop loop;
    std::atomic<int> posted{0};
    int ticks = 0;
    Timer timer(loop, "t", 5, [&] {
        if (++ticks == 3) loop.post([&] { loop.quit(7); });
    });
    timer.setEnabled(true);
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) loop.post([&] { ++posted; });
    });
    const int exitCode = loop.run();
    poster.join();
    loop.processEvents();  // whatever the poster queued after quit
    EXPECT_EQ(exitCode, 7);
    EXPECT_EQ(posted, 100);
    EXPECT_GE(ticks, 3);
}

TEST(SystemEventLoop, TimersKeepTheirRhythmUnderAFloodOfPostedWork) {
    SystemEventLoop loop;
    std::atomic<bool> flooding{true};
    std::atomic<long> floods{0};
    // From the loop itself and from another thread at once: the queue is never empty.
    std::function<void()> flood = [&] {
        ++floods;
        if (flooding) loop.post(flood);
    };
    std::vector<std::int64_t> ticks;
    Timer timer(loop, "t", 20, [&] {
        ticks.push_back(loop.nowMs());
        if (ticks.size() == 10) {
            flooding = false;
            loop.quit(0);
        }
    });
    timer.setEnabled(true);
    loop.post(flood);
    std::thread poster([&] {
        for (int i = 0; i < 100000 && flooding; ++i) loop.post([&] { ++floods; });
    });
    const std::int64_t begin = loop.nowMs();
    EXPECT_EQ(loop.run(), 0);
    poster.join();
    ASSERT_EQ(ticks.size(), 10u);
    EXPECT_GT(floods, 1000);
    // Ten ticks of 20 ms take about 200 ms; a loop that ran the flood first would never tick.
    EXPECT_LT(ticks.back() - begin, 2000);
}

TEST(SystemEventLoop, WaitsWithoutSpinningAndWakesForWorkPostedFromAnotherThread) {
    SystemEventLoop loop;
    int ticks = 0;
    Timer timer(loop, "t", 50, [&] { ++ticks; });
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        loop.post([&] { timer.setEnabled(true); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        loop.post([&] { loop.quit(ticks); });
    });
    const std::clock_t cpuBefore = std::clock();
    const int ticked = loop.run();
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    poster.join();
    EXPECT_GE(ticked, 4);
    EXPECT_LE(ticked, 7);
    EXPECT_LT(cpuMs, 150.0) << "the loop spins instead of waiting";
}

TEST(SystemEventLoop, QuitFromAnotherThreadWakesAnIdleLoop) {
    SystemEventLoop loop;
    std::thread quitter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        loop.quit(3);
    });
    EXPECT_EQ(loop.run(), 3);
    quitter.join();
}

}  // namespace
}  // namespace orvanta
