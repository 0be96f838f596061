#include "adapters/qt/qt_event_loop.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "adapters/qt/qt_test_support.h"

namespace orvanta {
namespace {

TEST(QtEventLoop, TimersAndQtsOwnEventsKeepTheirTurnUnderAFloodOfPostedWork) {
    testing::qtApplication();
    QtEventLoop loop;
    std::atomic<bool> flooding{true};
    long floods = 0;
    std::function<void()> flood = [&] {
        ++floods;
        if (flooding) loop.post(flood);
    };
    std::vector<std::int64_t> ticks;
    Timer timer(loop, "t", 20, [&] {
        ticks.push_back(loop.nowMs());
        if (ticks.size() == 5) {
            flooding = false;
            loop.quit(0);
        }
    });
    timer.setEnabled(true);
    // A Qt timer of the toolkit's own (painting, input) must get its turn too.
    int qtTicks = 0;
    QTimer qtTimer;
    QObject::connect(&qtTimer, &QTimer::timeout, [&] { ++qtTicks; });
    qtTimer.start(10);
    std::thread poster([&] {
        for (int i = 0; i < 20000 && flooding; ++i) loop.post([&] { ++floods; });
    });
    loop.post(flood);
    // Should the flood starve the timers, this ends the test instead of hanging it.
    QTimer::singleShot(5000, [&] {
        flooding = false;
        loop.quit(1);
    });
    EXPECT_EQ(loop.run(), 0);
    poster.join();
    EXPECT_EQ(ticks.size(), 5u);
    EXPECT_GT(qtTicks, 0);
    EXPECT_GT(floods, 100);
}

TEST(QtEventLoop, ATimerSwitchedOnOrChangedOutsideTheLoopsOwnWorkIsScheduled) {
    testing::qtApplication();
    QtEventLoop loop;
    std::vector<std::string> ticks;
    Timer quick(loop, "quick", 20, [&] { ticks.push_back("quick"); });
    Timer changed(loop, "changed", 60000, [&] {
        ticks.push_back("changed");
        loop.quit(0);
    });
    changed.setEnabled(true);
    // From Qt's own events, not from posted work or a tick: only the timers' rescheduling wakes the loop.
    QTimer::singleShot(10, [&] { quick.setEnabled(true); });
    QTimer::singleShot(50, [&] {
        quick.setEnabled(false);
        changed.setInterval(30);
    });
    QTimer::singleShot(3000, [&] { loop.quit(1); });
    EXPECT_EQ(loop.run(), 0);
    ASSERT_GE(ticks.size(), 2u);
    EXPECT_EQ(ticks.front(), "quick");
    EXPECT_EQ(ticks.back(), "changed");
}

}  // namespace
}  // namespace orvanta
