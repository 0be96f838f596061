// The simulator as a person starts it, on a copy of the demo plant and a broker of the test's own, alone
// and beside the panel on the MQTT backend.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "adapters/embedded/catalogue_file.h"
#include "ports/variable_catalogue.h"
#include "ports/variable_names.h"
#include "support/demo_plant.h"
#include "support/eventually.h"
#include "support/mosquitto_broker.h"
#include "support/mqtt_peer.h"
#include "support/running_program.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::MosquittoBroker;
using testing::MqttPeer;
using testing::RunningProgram;

using testing::eventually;

class OrvantaSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        plant_ =
            fs::temp_directory_path() / ("orvanta-sim-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        testing::copyDemoPlant(plant_);
    }
    void TearDown() override { fs::remove_all(plant_); }

    // Sets entries of the plant's Orvanta.ini that it already has (each name occurs once in the demo's).
    void setIni(const std::map<std::string, std::string>& entries) {
        const fs::path file = plant_ / "Program" / "Orvanta" / "Orvanta.ini";
        std::ifstream in(file);
        std::string ini;
        int replaced = 0;
        for (std::string line; std::getline(in, line);) {
            const std::string name = line.substr(0, line.find('='));
            if (const auto entry = entries.find(name); entry != entries.end() && name != line) {
                line = name + "=" + entry->second;
                ++replaced;
            }
            ini += line + "\n";
        }
        ASSERT_EQ(replaced, static_cast<int>(entries.size()));
        std::ofstream(file) << ini;
    }

    void useBroker(int port, const std::string& prefix) {
        setIni({{"Host", "127.0.0.1"}, {"Port", std::to_string(port)}, {"TopicPrefix", prefix}});
    }

    fs::path plant_;
};

std::string varTopic(const std::string& prefix, std::string_view name) {
    return prefix + "/vars/" + std::string(name);
}

TEST_F(OrvantaSimTest, WithoutTheBrokerItSaysSoAndEndsWithStatusOne) {
    useBroker(MosquittoBroker::freePort(), "nobroker");
    setIni({{"StartTimeout", "1"}});
    RunningProgram sim(ORVANTA_SIM_BINARY, {"--base", plant_.string(), "--backend", "mqtt"});
    EXPECT_EQ(sim.waitForExit(10s), 1) << sim.stderrText;
    EXPECT_NE(sim.stderrText.find("orvanta-sim: The MQTT runtime cannot start"), std::string::npos)
        << sim.stderrText;
    EXPECT_EQ(sim.stdoutText, "");
}

TEST_F(OrvantaSimTest, SeedsWhatTheBrokerLacksLeavesWhatItHoldsAndTakesTheLineOfflineAtTheEnd) {
    if (!MosquittoBroker::installed()) GTEST_SKIP() << "mosquitto is not installed";
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    MqttPeer peer(broker.port());
    ASSERT_TRUE(peer.connected());
    const std::string held = "Ch1.T_zyk_linie<.li_statusplc02>";  // 1 in the plant's catalogue
    ASSERT_TRUE(peer.publish(varTopic("sim", held), "7"));
    ASSERT_TRUE(peer.publish(varTopic("sim", vars::kLiLebenHi), "41"));
    peer.subscribe("sim/#");
    // Backend=mqtt in the plant, so no --backend is needed.
    useBroker(broker.port(), "sim");
    setIni({{"Backend", "mqtt"}});

    RunningProgram sim(ORVANTA_SIM_BINARY, {"--base", plant_.string(), "--seed", "7"});
    ASSERT_TRUE(sim.waitForOutput(
        "orvanta-sim: playing the demo line on 127.0.0.1:" + std::to_string(broker.port()) + " prefix sim\n",
        10s))
        << sim.stdoutText << sim.stderrText;
    const std::size_t catalogue =
        mergeCatalogues(builtinVariables(),
                        loadCatalogueFile((plant_ / "Program/Orvanta/Variables.json").string()))
            .size();
    EXPECT_NE(sim.stdoutText.find(std::to_string(catalogue - 2) + " of " + std::to_string(catalogue) +
                                  " process variables were not on the broker"),
              std::string::npos)
        << sim.stdoutText;

    EXPECT_TRUE(peer.sees(varTopic("sim", "Ch1.T_zyk_linie<.li_statusplc01>"), "1"));
    EXPECT_TRUE(peer.sees(varTopic("sim", vars::kLiPEnable), nlohmann::json(std::vector<int>(64, 0)).dump()));
    EXPECT_TRUE(peer.sees(varTopic("sim", vars::indexed(vars::kLiPMaNameBase, 63)), "\"\""));
    EXPECT_TRUE(peer.sees(varTopic("sim", "Ch1.T_zyk_m3<.faults1>"), "0"));
    // The heartbeat goes on from the value the broker held.
    EXPECT_TRUE(peer.sees(varTopic("sim", vars::kLiLebenHi), "42"));
    EXPECT_EQ(peer.history(varTopic("sim", held)), std::vector<std::string>{"7"});

    const auto config = nlohmann::json::parse(peer.last("sim/line/config"));
    EXPECT_EQ(config["machines"][2]["name"], "Rinser");
    EXPECT_TRUE(peer.sees("sim/line/online", "true"));

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.waitForExit(10s), 0) << sim.stderrText;
    EXPECT_TRUE(peer.sees("sim/line/online", "false"));
    EXPECT_EQ(sim.stderrText, "");
}

// The demo line between the simulator and the panel, each a process of its own on the broker: the line
// comes online, the own machines' alarms reach the panel's display, the panel's line alarm is answered,
// its heartbeat echoed, and both leave the broker in order.
TEST_F(OrvantaSimTest, TheDemoLineRunsBetweenSimulatorAndPanel) {
    if (!MosquittoBroker::installed()) GTEST_SKIP() << "mosquitto is not installed";
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    MqttPeer peer(broker.port());
    ASSERT_TRUE(peer.connected());
    peer.subscribe("e2e/#");
    useBroker(broker.port(), "e2e");
    // One id in the plant's settings: the simulator must not take the panel's.
    setIni({{"ClientId", "orvanta-e2e"}});

    RunningProgram sim(ORVANTA_SIM_BINARY, {"--base", plant_.string(), "--backend", "mqtt", "--rate", "10"});
    ASSERT_TRUE(sim.waitForOutput("orvanta-sim: playing the demo line", 10s))
        << sim.stdoutText << sim.stderrText;
    RunningProgram panel(ORVANTA_BINARY, {"--base", plant_.string(), "--backend", "mqtt", "--headless"});

    EXPECT_TRUE(panel.waitForOutput("| connected |", 10s)) << panel.stdoutText << panel.stderrText;

    // The own machines' slots of the line, as the plant describes them.
    const auto line = nlohmann::json::parse(std::ifstream(plant_ / "Program/Orvanta/Line.json"));
    std::vector<std::size_t> ownSlots;
    for (std::size_t slot = 0; slot < line["machines"].size(); ++slot) {
        const auto& machine = line["machines"][slot];
        if (machine.value("enabled", false) && !machine.value("foreign", false) &&
            !machine.value("textFlag", false))
            ownSlots.push_back(slot);
    }
    ASSERT_FALSE(ownSlots.empty());
    std::string alarmText;
    EXPECT_TRUE(eventually(
        [&] {
            const std::string display = peer.last("e2e/line/display");
            if (display.empty()) return false;
            const auto slots = nlohmann::json::parse(display);
            for (std::size_t slot : ownSlots)
                if (!slots.at(slot)["text"].get<std::string>().empty()) alarmText = slots.at(slot)["text"];
            return !alarmText.empty();
        },
        8s))
        << peer.last("e2e/line/display");

    // The panel publishes a line alarm (1), the simulator answers and takes it back (0).
    const std::string published = varTopic("e2e", vars::kLiLNeu);
    EXPECT_TRUE(eventually(
        [&] {
            const std::vector<std::string> seen = peer.history(published);
            const auto one = std::find(seen.begin(), seen.end(), "1");
            return one != seen.end() && std::find(one, seen.end(), "0") != seen.end();
        },
        8s))
        << ::testing::PrintToString(peer.history(published));

    // Only the panel writes li_leben_zu, seeded 0: a count of the simulator's heartbeat there is its echo.
    EXPECT_TRUE(eventually(
        [&] {
            const std::string echoed = peer.last(varTopic("e2e", vars::kLiLebenZu));
            return !echoed.empty() && echoed != "0";
        },
        5s));

    panel.signal(SIGINT);
    sim.signal(SIGINT);
    EXPECT_EQ(panel.waitForExit(10s), 0) << panel.stderrText;
    EXPECT_EQ(sim.waitForExit(10s), 0) << sim.stderrText;
    EXPECT_TRUE(peer.sees("e2e/panel/online", "false"));
    EXPECT_TRUE(peer.sees("e2e/line/online", "false"));
    EXPECT_EQ(sim.stderrText, "");
    EXPECT_EQ(panel.stderrText.find("error"), std::string::npos) << panel.stderrText;
}

}  // namespace
}  // namespace orvanta
