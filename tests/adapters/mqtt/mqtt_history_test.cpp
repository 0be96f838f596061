#include "adapters/mqtt/mqtt_history.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/broker_test.h"

namespace orvanta {
namespace {

using namespace history;
using ::testing::ElementsAre;

// The payloads are the contract with a plant's historian: every kind, every field.
TEST(MqttHistoryMessage, EachRecordIsOneJsonMessageOnItsKindsTopic) {
    const std::vector<Record> records = {
        RunStarted{100, 100, 60, "ignored: the publisher's line counts", "Europe/Berlin"},
        RunAlive{100, 1100},
        EpisodeRaised{100, 1, 2, 1, 1007, 7, "T7", "Füller steht \xff", 50, 4, 1200},
        EpisodePublished{100, 1, 1300},
        EpisodeEchoed{100, 1, 1400},
        EpisodeCleared{100, 1, 1500},
        IntervalStarted{100, 2, kLineSlot, "Line 1", false, 4, "T7/1031", 1200, 0},
        IntervalEnded{100, 2, 1500},
        IntervalStarted{100, 4, 3, "Füller", false, 1, "", 1550, 2},
        AlarmTexts{100, "T7", {{1031, 1, "Füller steht"}, {1033, 2, "Filler \"stopped\""}}},
        AlarmTexts{100, "T8", {}},
        GapStarted{100, 3, GapKind::Broker, 1600},
        GapEnded{100, 3, 1700},
        RunEnded{100, 1800},
    };
    std::vector<std::string> messages;
    for (const Record& record : records) {
        const HistoryMessage message = historyMessage(record, "Pelmar");
        messages.push_back(message.topic + " " + message.payload);
    }
    EXPECT_THAT(
        messages,
        ElementsAre(
            "history/run "
            R"({"at":100,"event":"started","line":"Pelmar","run":100,"time_zone":"Europe/Berlin","utc_offset":60})",
            R"(history/run {"at":1100,"event":"alive","line":"Pelmar","run":100})",
            "history/episode "
            R"({"at":1200,"display_status":4,"event":"raised","fault":7,"ident":1007,"line":"Pelmar","machine":2,)"
            R"("priority":50,"run":100,"seq":1,"table":1,"text":"Füller steht �","text_key":"T7"})",
            R"(history/episode {"at":1300,"event":"published","line":"Pelmar","run":100,"seq":1})",
            R"(history/episode {"at":1400,"event":"echoed","line":"Pelmar","run":100,"seq":1})",
            R"(history/episode {"at":1500,"event":"cleared","line":"Pelmar","run":100,"seq":1})",
            "history/state "
            R"({"at":1200,"cause":"T7/1031","event":"started","foreign":false,"line":"Pelmar","machine":0,)"
            R"("name":"Line 1","run":100,"seq":2,"slot":-1,"status":4})",
            R"(history/state {"at":1500,"event":"ended","line":"Pelmar","run":100,"seq":2})",
            "history/state "
            R"({"at":1550,"cause":"","event":"started","foreign":false,"line":"Pelmar","machine":2,)"
            R"("name":"Füller","run":100,"seq":4,"slot":3,"status":1})",
            "history/text "
            R"({"event":"texts","line":"Pelmar","run":100,"text_key":"T7","texts":[)"
            R"({"language":1031,"position":1,"text":"Füller steht"},)"
            R"({"language":1033,"position":2,"text":"Filler \"stopped\""}]})",
            R"(history/text {"event":"texts","line":"Pelmar","run":100,"text_key":"T8","texts":[]})",
            R"(history/gap {"at":1600,"event":"started","kind":"broker","line":"Pelmar","run":100,"seq":3})",
            R"(history/gap {"at":1700,"event":"ended","line":"Pelmar","run":100,"seq":3})",
            R"(history/run {"at":1800,"event":"ended","line":"Pelmar","run":100})"));
}

class MqttHistoryTest : public testing::BrokerTest {};

// Every record reaches the broker in order, none replaces another, none is kept for later subscribers;
// what is recorded before the connection is up waits for it.
TEST_F(MqttHistoryTest, EveryRecordGoesOutInOrderNotRetained) {
    settings_.topicPrefix = "plant/line1";
    MqttConnection connection(loop_, settings_, "plant/line1/panel/online", reporter());
    MqttHistoryPublisher publisher(connection, "line1");
    peer_->subscribe("plant/line1/history/#");
    publisher.record(RunStarted{5, 5, 0, "", ""});
    for (std::int64_t seq = 1; seq <= 3; ++seq) publisher.record(EpisodeCleared{5, seq, 10 * seq});
    ASSERT_FALSE(connection.start());
    ASSERT_TRUE(peer_->sees("plant/line1/history/episode",
                            R"({"at":30,"event":"cleared","line":"line1","run":5,"seq":3})"));
    EXPECT_EQ(peer_->history("plant/line1/history/episode").size(), 3u);
    EXPECT_EQ(peer_->history("plant/line1/history/run").size(), 1u);

    testing::MqttPeer late(broker_->port());
    late.subscribe("plant/line1/history/#");
    late.subscribe("plant/line1/panel/online");
    ASSERT_TRUE(late.sees("plant/line1/panel/online", "true"));
    EXPECT_TRUE(late.history("plant/line1/history/episode").empty()) << "not retained";
    connection.stop();
}

TEST_F(MqttHistoryTest, AFloodBeyondTheLimitIsDroppedCountedAndSaidOnce) {
    MqttConnection connection(loop_, settings_, "orvanta/panel/online", reporter());
    for (std::size_t i = 0; i < MqttConnection::kEventLimit + 5; ++i)
        connection.publishEvent("orvanta/e", "x");
    EXPECT_EQ(connection.eventsDropped(), 5u);
    ASSERT_TRUE(reported("takes the history's messages more slowly than they come"));
    loop_.runPending();
    EXPECT_EQ(errors_.size(), 1u);
}

}  // namespace
}  // namespace orvanta
