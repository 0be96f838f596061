#include "adapters/mqtt/mqtt_line_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "adapters/embedded/embedded_line_display.h"
#include "adapters/embedded/line_description_file.h"
#include "support/broker_test.h"
#include "support/recording_line_events.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;
using testing::ManualEventLoop;
using testing::MosquittoBroker;
using testing::MqttPeer;

using RecordingEvents = testing::RecordingLineEvents;

const Events kConnected = {"Connect(-1)", "NewLineParameter", "NewLineData"};

LineDescription twoMachineLine() {
    LineDescription line;
    line.languageId = 1031;
    line.groups[0] = "Abfüllung";
    line.machines[0].enabled = true;
    line.machines[0].name = "Füller";
    line.machines[0].number = 1;
    line.machines[0].group = 0;
    line.machines[0].groupSlots = {0, 1, -1, -1, -1, 5};
    line.machines[7].enabled = true;
    line.machines[7].foreign = true;
    line.machines[7].name = "Palettierer";
    line.machines[7].remote = true;
    return line;
}

LineValues valuesWithForeignStatus(std::int16_t status) {
    LineValues values{};
    values[7] = MachineValues{1036, status, "Störung " + std::to_string(status)};
    return values;
}

// The panel's end on its own connection, the line display on top of it, and a peer that plays the line.
class MqttLineTest : public testing::BrokerTest {
protected:
    void SetUp() override {
        BrokerTest::SetUp();
        settings_.topicPrefix = "plant";
        settings_.reconnectDelayMin = std::chrono::seconds(1);
        settings_.reconnectDelayMax = std::chrono::seconds(1);
    }

    void startPanelEnd() {
        connection_ = std::make_unique<MqttConnection>(loop_, settings_, "plant/panel/online", reporter());
        source_ = std::make_unique<MqttLineSource>(*connection_, reporter());
        // Counted on the network thread: once a marker is in, so is everything the peer published before it.
        connection_->subscribe("plant/marke", [this](const std::string&, std::string_view) {
            ++markers_;
            return std::function<void()>();
        });
        // A member: the handler runs again after every reconnection, long after this function returned.
        connection_->onSynchronised([this] { synchronised_ = true; });
        model_ = std::make_unique<EmbeddedLineDisplay>(loop_, std::nullopt, source_.get());
        followDisplay(*source_, *model_);
        model_->subscribe(events_);
        model_->Active(true);
        ASSERT_FALSE(connection_->start().has_value());
        ASSERT_TRUE(loop_.runUntil([&] { return synchronised_; }));
    }

    bool eventsBecome(const Events& expected) {
        loop_.runUntil([&] { return events_.seen.size() >= expected.size(); });
        loop_.runUntil([] { return false; }, std::chrono::milliseconds(50));  // nothing more behind them
        return std::exchange(events_.seen, {}) == expected;
    }

    // Publishes messages and a marker behind them, and waits until they are all in, without running the loop.
    bool arriveTogether(std::vector<std::pair<std::string, std::string>> messages) {
        messages.emplace_back("plant/marke", "1");
        const int marker = markers_ + 1;
        if (!peer_->publishAll(messages)) return false;
        for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
             markers_ < marker && std::chrono::steady_clock::now() < until;)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return markers_ == marker;
    }

    bool synchronised_ = false;
    std::atomic<int> markers_{0};
    RecordingEvents events_;
    std::unique_ptr<MqttConnection> connection_;
    std::unique_ptr<MqttLineSource> source_;
    std::unique_ptr<EmbeddedLineDisplay> model_;
};

TEST_F(MqttLineTest, RetainedLineTopicsConnectTheLineAndChangesRaiseTheirEvents) {
    ASSERT_TRUE(peer_->publish("plant/line/config", lineDescriptionJson(twoMachineLine())));
    ASSERT_TRUE(peer_->publish("plant/line/values", lineValuesJson(valuesWithForeignStatus(3))));
    ASSERT_TRUE(peer_->publish("plant/line/online", "true"));
    startPanelEnd();
    EXPECT_TRUE(eventsBecome(kConnected));
    EXPECT_EQ(model_->LanguageId(), 1031);
    EXPECT_EQ(model_->MachineName(0), "Füller");
    EXPECT_EQ(model_->GroupName(0), "Abfüllung");
    EXPECT_EQ(model_->MachineGroupSlot(6, 0), 5);
    EXPECT_TRUE(model_->MachineRemote(7));
    EXPECT_EQ(model_->MachineStatus(7), 3);
    EXPECT_EQ(model_->MachineLanguageId(7), 1036);
    EXPECT_EQ(model_->MachineMessage(7), "Störung 3");

    ASSERT_TRUE(peer_->publish("plant/line/values", lineValuesJson(valuesWithForeignStatus(4))));
    EXPECT_TRUE(eventsBecome({"NewLineData"}));
    EXPECT_EQ(model_->MachineStatus(7), 4);
    ASSERT_TRUE(peer_->publish("plant/line/values", lineValuesJson(valuesWithForeignStatus(4))));
    EXPECT_TRUE(eventsBecome({}));  // the same values again

    LineDescription renamed = twoMachineLine();
    renamed.machines[0].name = "Neuer Füller";
    ASSERT_TRUE(peer_->publish("plant/line/config", lineDescriptionJson(renamed)));
    EXPECT_TRUE(eventsBecome({"NewLineParameter", "NewLineData"}));
    EXPECT_EQ(model_->MachineName(0), "Neuer Füller");

    ASSERT_TRUE(peer_->publish("plant/line/online", "false"));
    EXPECT_TRUE(eventsBecome({"Connect(0)"}));
    ASSERT_TRUE(peer_->publish("plant/line/online", "true"));
    EXPECT_TRUE(eventsBecome(kConnected));
    EXPECT_TRUE(errors_.empty()) << errors_.front();
}

// A flood of line values while the panel is busy: each message carries the whole line, so the loop runs
// the newest once instead of the value preparation for every one of them.
TEST_F(MqttLineTest, LineValuesThatArriveTogetherRaiseOneNewLineDataWithTheNewest) {
    ASSERT_TRUE(peer_->publish("plant/line/config", lineDescriptionJson(twoMachineLine())));
    ASSERT_TRUE(peer_->publish("plant/line/values", lineValuesJson(valuesWithForeignStatus(0))));
    ASSERT_TRUE(peer_->publish("plant/line/online", "true"));
    startPanelEnd();
    ASSERT_TRUE(eventsBecome(kConnected));

    std::vector<std::pair<std::string, std::string>> flood;
    for (std::int16_t status = 1; status <= 500; ++status)
        flood.emplace_back("plant/line/values", lineValuesJson(valuesWithForeignStatus(status)));
    ASSERT_TRUE(arriveTogether(flood));
    loop_.runPending();
    EXPECT_EQ(events_.seen, Events{"NewLineData"});
    EXPECT_EQ(model_->MachineStatus(7), 500);
    EXPECT_EQ(model_->MachineMessage(7), "Störung 500");
    EXPECT_TRUE(errors_.empty()) << errors_.front();
}

TEST_F(MqttLineTest, LosingTheBrokerDisconnectsTheLineUntilItIsBack) {
    ASSERT_TRUE(peer_->publish("plant/line/config", lineDescriptionJson(twoMachineLine())));
    ASSERT_TRUE(peer_->publish("plant/line/online", "true"));
    startPanelEnd();
    EXPECT_TRUE(eventsBecome(kConnected));

    peer_.reset();
    broker_->stop();
    EXPECT_TRUE(eventsBecome({"Connect(0)"}));
    broker_->start();
    ASSERT_TRUE(broker_->running());
    peer_ = std::make_unique<MqttPeer>(broker_->port());
    ASSERT_TRUE(peer_->publish("plant/line/online", "true"));  // the line system's own reconnection
    EXPECT_TRUE(loop_.runUntil([&] { return !events_.seen.empty(); }, std::chrono::seconds(5)));
    // The description outlived the broker (it has no persistence here), so the line connects again.
    EXPECT_TRUE(eventsBecome(kConnected));
}

TEST_F(MqttLineTest, GarbageOnTheLineTopicsIsReportedAndChangesNothing) {
    ASSERT_TRUE(peer_->publish("plant/line/config", lineDescriptionJson(twoMachineLine())));
    ASSERT_TRUE(peer_->publish("plant/line/values", lineValuesJson(valuesWithForeignStatus(3))));
    ASSERT_TRUE(peer_->publish("plant/line/online", "true"));
    startPanelEnd();
    EXPECT_TRUE(eventsBecome(kConnected));

    ASSERT_TRUE(peer_->publish("plant/line/config", "{\"machines\": 5}"));
    EXPECT_TRUE(
        reported("Line message ignored: plant/line/config: line, field \"machines\": expected a list"));
    ASSERT_TRUE(peer_->publish("plant/line/values", "{\"machines\": [{\"status\": 70000}]}"));
    EXPECT_TRUE(reported("plant/line/values: machine 0, field \"status\": 70000 is outside -32768..32767"));
    ASSERT_TRUE(peer_->publish("plant/line/online", "ja"));
    EXPECT_TRUE(reported("plant/line/online: expected true or false"));
    // Within the minute a topic's further garbage is only counted, and told with the next report.
    ASSERT_TRUE(peer_->publish("plant/line/values", std::string(2 * 1024 * 1024, '[')));
    EXPECT_TRUE(eventsBecome({}));
    ASSERT_TRUE(peer_->publish("plant/line/values", "[]"));
    EXPECT_TRUE(eventsBecome({}));
    EXPECT_EQ(errors_.size(), 3u);
    loop_.advance(60000);
    ASSERT_TRUE(peer_->publish("plant/line/values", std::string(2 * 1024 * 1024, '[')));
    EXPECT_TRUE(
        reported("plant/line/values: larger than 1024 KiB, not line values (2 more of this topic ignored "
                 "since the last report)"))
        << errors_.back();
    EXPECT_TRUE(eventsBecome({}));
    EXPECT_TRUE(model_->connected());
    EXPECT_EQ(model_->MachineName(0), "Füller");
    EXPECT_EQ(model_->MachineStatus(7), 3);
}

TEST_F(MqttLineTest, EveryDataUpdatedPublishesWhatTheSlotsShow) {
    peer_->subscribe("plant/line/display");
    startPanelEnd();
    model_->PutMachineText(0, "Füller: Flasche fehlt");
    model_->PutMachineLanguage(0, 1031);
    model_->PutMachineStatus(0, 2);
    model_->PutMachineLanguage(63, 1033.5);
    model_->DataUpdated(true);
    ASSERT_TRUE(loop_.runUntil([&] { return !peer_->last("plant/line/display").empty(); }));
    const nlohmann::json display = nlohmann::json::parse(peer_->last("plant/line/display"));
    ASSERT_TRUE(display.is_array());
    ASSERT_EQ(display.size(), 64u);
    EXPECT_EQ(display[0],
              nlohmann::json({{"text", "Füller: Flasche fehlt"}, {"language", 1031}, {"status", 2}}));
    EXPECT_EQ(display[1], nlohmann::json({{"text", ""}, {"language", 0}, {"status", 0}}));
    EXPECT_EQ(display[63]["language"], 1033.5);

    model_->PutMachineStatus(0, 0);
    model_->DataUpdated(false);  // only True publishes
    model_->DataUpdated(true);
    model_->DataUpdated(true);  // the same picture: not published again
    const std::string changed = [&] {
        auto expected = display;
        expected[0]["status"] = 0;
        return expected.dump();
    }();
    EXPECT_TRUE(peer_->sees("plant/line/display", changed));

    // After a reconnection the picture is published again, unchanged: the broker may have lost it.
    peer_.reset();
    broker_->stop();
    synchronised_ = false;
    broker_->start();
    ASSERT_TRUE(broker_->running());
    ASSERT_TRUE(loop_.runUntil([&] { return synchronised_; }, std::chrono::seconds(5)));
    peer_ = std::make_unique<MqttPeer>(broker_->port());
    peer_->subscribe("plant/line/display");
    loop_.runUntil([] { return false; }, std::chrono::milliseconds(50));
    model_->DataUpdated(true);
    ASSERT_TRUE(peer_->sees("plant/line/display", changed));
    model_->DataUpdated(true);
    model_->PutMachineStatus(0, 1);
    model_->DataUpdated(true);
    ASSERT_TRUE(loop_.runUntil([&] { return peer_->history("plant/line/display").size() >= 2; }));
    EXPECT_EQ(peer_->history("plant/line/display").size(), 2u) << "the unchanged picture went out again";
}

TEST_F(MqttLineTest, ThePublisherPlaysTheLineWithItsPresenceAsTheOnlineState) {
    startPanelEnd();
    auto lineConnection = std::make_unique<MqttConnection>(loop_, settings_, "plant/line/online", reporter());
    MqttLinePublisher publisher(*lineConnection, twoMachineLine());
    ASSERT_FALSE(lineConnection->start().has_value());
    EXPECT_TRUE(eventsBecome({}));  // described, but not online yet

    publisher.lineOnline(true);
    EXPECT_TRUE(eventsBecome(kConnected));
    publisher.lineValues(valuesWithForeignStatus(9));
    EXPECT_TRUE(eventsBecome({"NewLineData"}));
    EXPECT_EQ(model_->MachineMessage(7), "Störung 9");

    lineConnection->stop();  // an orderly end says offline
    EXPECT_TRUE(eventsBecome({"Connect(0)"}));
}

}  // namespace
}  // namespace orvanta
