#include "adapters/mqtt/mqtt_intake.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "adapters/mqtt/report_throttle.h"
#include "support/manual_event_loop.h"

namespace orvanta {
namespace {

using testing::ManualEventLoop;
using Lines = std::vector<std::string>;

struct Said {
    Lines lines;
    ErrorReporter reporter() {
        return [this](Severity severity, const std::string& text) {
            lines.push_back((severity == Severity::Error ? "error: " : "notice: ") + text);
        };
    }
};

class MqttIntakeTest : public ::testing::Test {
protected:
    MqttIntake& intake(MqttIntake::Limits limits) {
        intake_ = std::make_unique<MqttIntake>(loop_, said_.reporter(), limits);
        intake_->onRefetch([this] { ran_.push_back("refetch@" + std::to_string(loop_.nowMs())); });
        return *intake_;
    }
    void hand(const std::string& topic, const std::string& payload) {
        intake_->hand(topic, payload.size(),
                      [this, topic, payload] { ran_.push_back(topic + "=" + payload); });
    }
    void post(const std::string& what) {
        intake_->post([this, what] { ran_.push_back(what); });
    }

    ManualEventLoop loop_;
    Said said_;
    Lines ran_;
    std::unique_ptr<MqttIntake> intake_;
};

TEST_F(MqttIntakeTest, WhileTheLoopKeepsUpEveryMessageRunsInOrder) {
    intake({.behind = 4, .maxTopics = 1, .maxBytes = 1000, .batch = 2});
    for (const char* value : {"1", "2", "3"}) hand("a", value);
    post("event");
    loop_.runPending();
    hand("a", "4");
    loop_.runPending();
    EXPECT_EQ(ran_, (Lines{"a=1", "a=2", "a=3", "event", "a=4"}));
    EXPECT_EQ(said_.lines, Lines{});
}

TEST_F(MqttIntakeTest, ATopicOfWhichOnlyTheNewestCountsKeepsOneWaitingMessageInItsPlaceWithoutAnOverload) {
    intake({.behind = 3, .maxTopics = 10, .maxBytes = 1000, .batch = 10});
    const auto handNewest = [this](const std::string& topic, const std::string& payload) {
        intake_->handNewest(topic, payload.size(),
                            [this, topic, payload] { ran_.push_back(topic + "=" + payload); });
    };
    for (const char* value : {"1", "2", "3", "4", "5"}) {
        handNewest("line", value);
        hand("a", value);
    }
    post("event");
    handNewest("line", "6");  // in the place of the first, ahead of the event
    loop_.runPending();
    handNewest("line", "7");  // taken: a new one waits
    loop_.runPending();
    // From a=3 on three waited: the loop was behind, and a's newest took the place of its waiting one.
    EXPECT_EQ(ran_, (Lines{"line=6", "a=1", "a=5", "event", "line=7"}));
    ASSERT_EQ(said_.lines.size(), 1u);
    loop_.advance(5000);
    EXPECT_EQ(
        said_.lines.back(),
        "notice: The panel has caught up with the MQTT messages: 3 messages were replaced by newer ones of "
        "their topic");
}

TEST_F(MqttIntakeTest, BehindItKeepsTheNewestPerTopicInPlaceDropsBeyondTheBoundAndSaysSoOnce) {
    intake({.behind = 3,
            .maxTopics = 2,
            .maxBytes = 100000,
            .batch = 2,
            .calm = std::chrono::milliseconds(1000)});
    hand("a", "1");
    hand("b", "1");
    hand("a", "2");  // three waiting: the loop is behind from here on
    hand("a", "3");  // replaces a=2, in its place
    hand("b", "2");  // replaces b=1
    post("event");   // never replaced, never dropped
    hand("c", "1");  // a third topic: beyond the bound
    hand("a", "4");
    // Batches of two, the timers' turn in between; a=1 came before the loop fell behind.
    EXPECT_TRUE(loop_.runBatch());
    EXPECT_EQ(ran_, (Lines{"a=1", "b=2"}));
    EXPECT_EQ(said_.lines,
              (Lines{"error: The panel falls behind the MQTT messages: until it catches up, only the "
                     "newest message of each topic is kept"}));
    EXPECT_TRUE(loop_.runBatch());
    EXPECT_FALSE(loop_.runBatch());
    EXPECT_EQ(ran_, (Lines{"a=1", "b=2", "a=4", "event", "refetch@0"}));
    // Caught up: said once the loop has kept up for the calm.
    loop_.advance(999);
    ASSERT_EQ(said_.lines.size(), 1u);
    loop_.advance(1);
    ASSERT_EQ(said_.lines.size(), 2u);
    EXPECT_EQ(
        said_.lines[1],
        "notice: The panel has caught up with the MQTT messages: 3 messages were replaced by newer ones of "
        "their topic, 1 messages were dropped; all values are requested again");

    // Overloads that follow each other within the calm are one: said once, with their counts together. One
    // that only replaced asks for nothing again.
    ran_.clear();
    said_.lines.clear();
    for (const char* value : {"1", "2", "3", "4", "5"}) hand("p", value);
    loop_.runPending();
    loop_.advance(999);
    for (const char* value : {"6", "7", "8", "9"}) hand("p", value);
    loop_.runPending();
    loop_.advance(999);
    EXPECT_EQ(said_.lines,
              (Lines{"error: The panel falls behind the MQTT messages: until it catches up, only the "
                     "newest message of each topic is kept"}));
    loop_.advance(1);
    EXPECT_EQ(ran_, (Lines{"p=1", "p=2", "p=5", "p=6", "p=7", "p=9"}));
    EXPECT_EQ(
        said_.lines.back(),
        "notice: The panel has caught up with the MQTT messages: 3 messages were replaced by newer ones of "
        "their topic");
    loop_.advance(1000);  // and once only
    EXPECT_EQ(said_.lines.size(), 2u);

    // Messages were dropped again soon after the values were asked for: they are asked for again once the
    // spacing since the last request is over, and at once when it is.
    ran_.clear();
    const auto overloadWithADrop = [&](std::int64_t at) {
        loop_.advance(at - loop_.nowMs());
        for (const char* topic : {"d", "e", "f", "g"}) hand(topic, "1");
        loop_.runPending();
    };
    overloadWithADrop(5000);
    EXPECT_EQ(ran_, (Lines{"d=1", "e=1", "f=1"}));
    overloadWithADrop(15000);
    overloadWithADrop(30000);
    loop_.advance(60000);
    EXPECT_EQ(ran_, (Lines{"d=1", "e=1", "f=1", "refetch@10000", "d=1", "e=1", "f=1", "refetch@20000", "d=1",
                           "e=1", "f=1", "refetch@30000"}));
}

TEST_F(MqttIntakeTest, BehindItBoundsWhatTheWaitingWorkCostsEvenForATopicThatHasWorkWaiting) {
    // An entry costs 16 bytes per payload byte, its topic and 128 bytes; ordered work nothing.
    intake({.behind = 1,
            .maxTopics = 10,
            .maxBytes = 642,
            .batch = 10,
            .calm = std::chrono::milliseconds(1000)});
    hand("a", std::string(10, '1'));  // 289 bytes
    hand("b", std::string(10, '2'));  // 578
    post("event");
    hand("c", "");                     // 707: dropped
    hand("a", std::string(100, '4'));  // 578 - 289 + 1729: dropped, a's older message stays
    hand("b", std::string(14, '5'));   // 578 - 289 + 353 = 642: replaces
    hand("b", std::string(14, '6'));   // 642 - 353 + 353: replaces
    loop_.runPending();
    EXPECT_EQ(ran_, (Lines{"a=" + std::string(10, '1'), "b=" + std::string(14, '6'), "event", "refetch@0"}));
    loop_.advance(1000);
    EXPECT_EQ(
        said_.lines.back(),
        "notice: The panel has caught up with the MQTT messages: 2 messages were replaced by newer ones of "
        "their topic, 2 messages were dropped; all values are requested again");

    // What ran no longer counts, and only what ran: the next overload has the whole bound again, no more.
    ran_.clear();
    hand("x", "");                    // 129
    hand("b", "");                    // 258
    hand("y", std::string(16, '7'));  // 643: dropped
    loop_.runPending();
    EXPECT_EQ(ran_, (Lines{"x=", "b="}));
    loop_.advance(20000);
    EXPECT_EQ(ran_, (Lines{"x=", "b=", "refetch@10000"}));
    // An overload that dropped nothing asks for nothing.
    hand("x", "");
    hand("b", "");
    loop_.runPending();
    loop_.advance(20000);
    EXPECT_EQ(ran_, (Lines{"x=", "b=", "refetch@10000", "x=", "b="}));
}

TEST(ReportThrottle, ATopicIsReportedOnceAMinuteWithTheCountOfWhatWasIgnoredMeanwhile) {
    ManualEventLoop loop;
    Said said;
    ReportThrottle throttle(loop, said.reporter(), 2, 60000);
    throttle("A", "bad A1");
    throttle("A", "bad A2");
    loop.setNow(59999);
    throttle("A", "bad A3");
    throttle("B", "bad B1");
    loop.setNow(60000);
    throttle("A", "bad A4");
    throttle("A", "bad A5");
    // Two topics tracked: C and D share one entry; once a minute the entries with nothing to tell are
    // given up to make room (B's at 120000; E's at 180000), one with a count (A's) is kept.
    throttle("C", "bad C1");
    throttle("D", "bad D1");
    loop.setNow(119999);
    throttle("E", "bad E1");
    loop.setNow(120000);
    throttle("E", "bad E2");
    throttle("F", "bad F1");
    loop.setNow(180000);
    throttle("G", "bad G1");
    throttle("H", "bad H1");
    throttle("A", "bad A6");
    EXPECT_EQ(said.lines,
              (Lines{"error: bad A1", "error: bad B1",
                     "error: bad A4 (2 more of this topic ignored since the last report)", "error: bad C1",
                     "error: bad E2",
                     "error: bad F1 (2 more bad messages on other topics ignored since the last report)",
                     "error: bad G1", "error: bad H1",
                     "error: bad A6 (1 more of this topic ignored since the last report)"}));
}

}  // namespace
}  // namespace orvanta
