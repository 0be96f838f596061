// The start of every test against a real broker: a private mosquitto, another client of it (the peer),
// the settings that reach it, the manual loop and the errors a component under test reports. A test
// without mosquitto installed is skipped.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "adapters/mqtt/mqtt_settings.h"
#include "core/error_reporter.h"
#include "support/manual_event_loop.h"
#include "support/mosquitto_broker.h"
#include "support/mqtt_peer.h"

namespace orvanta::testing {

class BrokerTest : public ::testing::Test {
protected:
    // A derived SetUp calls this first; the test body does not run when it skipped or failed.
    void SetUp() override {
        if (!MosquittoBroker::installed()) GTEST_SKIP() << "mosquitto is not installed";
        broker_ = std::make_unique<MosquittoBroker>(brokerConfig());
        ASSERT_TRUE(broker_->running());
        peer_ = std::make_unique<MqttPeer>(broker_->port());
        ASSERT_TRUE(peer_->connected());
        settings_.host = "127.0.0.1";
        settings_.port = broker_->port();
    }

    // Lines added to the broker's configuration.
    virtual std::string brokerConfig() { return {}; }

    ErrorReporter reporter() {
        return [this](const std::string& message) { errors_.push_back(message); };
    }

    // Whether an error containing part is reported within the loop's usual wait.
    bool reported(const std::string& part) {
        return loop_.runUntil([&] {
            for (const std::string& error : errors_)
                if (error.find(part) != std::string::npos) return true;
            return false;
        });
    }

    ManualEventLoop loop_;
    std::unique_ptr<MosquittoBroker> broker_;
    std::unique_ptr<MqttPeer> peer_;
    MqttSettings settings_;
    std::vector<std::string> errors_;
};

}  // namespace orvanta::testing
