#include "adapters/mqtt/mqtt_wait_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapters/embedded/line_description_file.h"
#include "adapters/mqtt/mqtt_backend.h"
#include "support/broker_test.h"

namespace orvanta {
namespace {

struct StartEvents : RuntimeEvents {
    std::vector<std::int16_t> starts;
    void StartCompleted(std::int16_t Success) override { starts.push_back(Success); }
    void RuntimeStopped() override {}
};

class MqttWaitReportTest : public testing::BrokerTest {
protected:
    void SetUp() override {
        BrokerTest::SetUp();
        settings_.topicPrefix = "test";
    }

    // Reads name as a pass does: a failure is the frame's to pass; its kind is what decides the fault line.
    std::string read(MqttVariables& variables, const std::string& name) {
        try {
            variables.ReadVariable(name);
            return "value";
        } catch (const VbError& error) {
            return error.kind() == VbErrorKind::Awaited ? "awaited" : "error";
        }
    }

    ErrorReporter said() {
        return [this](Severity severity, const std::string& message) {
            saidLines_.push_back((severity == Severity::Notice ? "notice: " : "error: ") + message);
        };
    }

    std::vector<std::string> saidLines_;
};

// The reads every second of the variables the broker has not sent give one report of what the panel
// waits for, another only when that changes, and a notice when nothing is awaited any more.
TEST_F(MqttWaitReportTest, SaysOnceWhatThePanelWaitsForAndAgainOnlyWhenItChanges) {
    ASSERT_TRUE(peer_->publish("test/vars/Da", "1"));
    MqttBackend backend(loop_, settings_, reporter());
    MqttWaitReport waits(loop_, backend.connection, backend.variables, backend.line, said());
    StartEvents events;
    backend.variables.start(events);
    ASSERT_TRUE(loop_.runUntil([&] { return !events.starts.empty(); }));

    const std::string broker = "Waiting for the broker 127.0.0.1:" + std::to_string(settings_.port) + ": ";
    const std::string config = "test/line/config (the line's description)";
    const std::string values = "test/line/values (the machines' values)";
    const std::string online = "test/line/online (the line system's presence)";
    const auto seconds = [&](int count, const std::vector<std::string>& names) {
        for (int second = 0; second < count; ++second) {
            for (const std::string& name : names) read(backend.variables, name);
            loop_.advance(1000);
        }
    };

    EXPECT_EQ(read(backend.variables, "Da"), "value");
    EXPECT_EQ(read(backend.variables, "Fehlt"), "awaited");
    EXPECT_EQ(read(backend.variables, "Kein+Name"), "error") << "not a wait: a name that can never come";
    seconds(5, {"Fehlt", "Auch.fehlend<.x>", "Da"});
    ASSERT_TRUE(peer_->publish("test/vars/Fehlt", "2"));
    ASSERT_TRUE(peer_->publish("test/line/online", "true"));
    ASSERT_TRUE(loop_.runUntil([&] { return read(backend.variables, "Fehlt") == "value"; }));
    seconds(5, {"Fehlt", "Auch.fehlend<.x>"});
    ASSERT_TRUE(peer_->publish("test/vars/Auch.fehlend<.x>", "3"));
    ASSERT_TRUE(peer_->publish("test/line/config", lineDescriptionJson(LineDescription{})));
    ASSERT_TRUE(peer_->publish("test/line/values", lineValuesJson(LineValues{})));
    ASSERT_TRUE(loop_.runUntil([&] { return read(backend.variables, "Auch.fehlend<.x>") == "value"; }));
    seconds(6, {"Fehlt", "Auch.fehlend<.x>"});

    EXPECT_EQ(saidLines_,
              (std::vector<std::string>{
                  "error: " + broker +
                      "2 process variables that the panel reads have no value there (topic test/vars/NAME): "
                      "Auch.fehlend<.x>, Fehlt; never came: " +
                      config + ", " + values + ", " + online,
                  "error: " + broker +
                      "1 process variable that the panel reads has no value there (topic test/vars/NAME): "
                      "Auch.fehlend<.x>; never came: " +
                      config + ", " + values,
                  "notice: No longer waiting for the broker: it holds every process variable the panel has "
                  "read and the line has come",
              }));
    EXPECT_TRUE(errors_.empty()) << errors_.front();
}

}  // namespace
}  // namespace orvanta
