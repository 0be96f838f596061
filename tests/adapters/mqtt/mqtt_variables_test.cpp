#include "adapters/mqtt/mqtt_variables.h"

#include <gtest/gtest.h>
#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "adapters/mqtt/mqtt_backend.h"
#include "adapters/mqtt/mqtt_payload.h"
#include "core/system_event_loop.h"
#include "linebridge/line_bridge.h"
#include "ports/line_display.h"
#include "ports/variable_names.h"
#include "support/broker_test.h"
#include "support/log_capture.h"
#include "support/scripted_line_display.h"

namespace orvanta {
namespace {

using namespace std::chrono_literals;
using testing::ManualEventLoop;
using testing::MosquittoBroker;
using testing::MqttPeer;
using Clock = std::chrono::steady_clock;

struct RecordingEvents : RuntimeEvents {
    std::vector<std::int16_t> starts;
    int stops = 0;
    void StartCompleted(std::int16_t Success) override { starts.push_back(Success); }
    void RuntimeStopped() override { ++stops; }
};

class MqttVariablesTest : public testing::BrokerTest {
protected:
    void SetUp() override {
        BrokerTest::SetUp();
        settings_.topicPrefix = "test";
    }

    MqttVariables& variables() {
        if (!variables_) {
            connection_ = std::make_unique<MqttConnection>(loop_, settings_, "test/panel/online", reporter());
            variables_ = std::make_unique<MqttVariables>(loop_, *connection_, reporter());
        }
        return *variables_;
    }

    bool runUntil(const std::function<bool()>& condition) { return loop_.runUntil(condition); }

    bool started() {
        variables().start(events_);
        return runUntil([&] { return !events_.starts.empty(); }) &&
               events_.starts == std::vector<std::int16_t>{kTrue};
    }

    static std::string topicOfVar(std::string_view name) { return "test/vars/" + std::string(name); }

    bool hasValue(const std::string& name) {
        try {
            variables().ReadVariable(name);
            return true;
        } catch (const VbError&) {
            return false;
        }
    }

    RecordingEvents events_;
    // Last: destroyed before the loop and the broker.
    std::unique_ptr<MqttConnection> connection_;
    std::unique_ptr<MqttVariables> variables_;
};

std::string descriptionOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const VbError& error) {
        return error.description();
    }
    return "(no error)";
}

TEST_F(MqttVariablesTest, StartCompletesWithTheRetainedValuesInTheCopy) {
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(peer_->publish("test/vars/V" + std::to_string(i), std::to_string(i)));
    ASSERT_TRUE(peer_->publish("test/vars/Name", "\"Linie 1\""));
    ASSERT_TRUE(peer_->publish("test/vars/Werte", "[1, 2.5, \"x\"]"));
    peer_->subscribe("test/panel/online");

    ASSERT_TRUE(started());
    // Read at once, with nothing more run on the loop: the values came before the completion.
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(variables().ReadVariable("V" + std::to_string(i)),
                  Variant::integer(static_cast<std::int16_t>(i)));
    EXPECT_EQ(variables().ReadVariable("Name"), Variant::text("Linie 1"));
    EXPECT_EQ(variables().read(variables().resolve("Werte")),
              Variant::array({Variant::integer(1), Variant::real(2.5), Variant::text("x")}));
    EXPECT_TRUE(peer_->sees("test/panel/online", "true"));

    variables().StopRuntime();
    EXPECT_TRUE(runUntil([&] { return events_.stops == 1; }));
    EXPECT_TRUE(peer_->sees("test/panel/online", "false"));
    EXPECT_TRUE(errors_.empty()) << errors_.front();
}

TEST_F(MqttVariablesTest, UnknownAndInvalidNamesAreErrorsNamingThem) {
    ASSERT_TRUE(started());
    EXPECT_EQ(descriptionOf([&] { variables().ReadVariable("Fehlt"); }),
              "Process variable 'Fehlt' has no value on the broker");
    const auto id = variables().resolve("Auch+nicht");
    EXPECT_EQ(descriptionOf([&] { variables().read(id); }),
              "Process variable 'Auch+nicht' is not a valid MQTT topic name");
    for (const std::string& name : {std::string("a/#"), std::string(), std::string("x\0y", 3)}) {
        EXPECT_NE(descriptionOf([&] {
                      variables().WriteVariable(name, Variant::integer(1));
                  }).find("'" + name + "' is not a valid MQTT topic name"),
                  std::string::npos);
        EXPECT_NE(descriptionOf([&] { variables().watch(name, nullptr); }).find("not a valid MQTT topic"),
                  std::string::npos);
    }
}

TEST_F(MqttVariablesTest, WritesArePublishedRetainedAndWatchesSeeEveryChangeOnce) {
    ASSERT_TRUE(peer_->publish("test/vars/Soll", "1"));
    ASSERT_TRUE(started());
    std::vector<Variant> seen;
    const auto watchId = variables().watch("Soll", [&](const Variant& value) { seen.push_back(value); });

    variables().WriteVariable("Soll", Variant::longInt(7));
    EXPECT_EQ(variables().ReadVariable("Soll"), Variant::integer(7));  // at once, before any echo
    peer_->subscribe("test/vars/#");
    EXPECT_TRUE(peer_->sees("test/vars/Soll", "7"));  // retained: a subscription made afterwards gets it

    variables().WriteVariable("Soll", Variant::integer(7));  // no change, no event
    ASSERT_TRUE(peer_->publish("test/vars/Soll", "8"));
    ASSERT_TRUE(runUntil([&] { return seen.size() >= 2; }));
    ASSERT_TRUE(peer_->publish("test/vars/Soll", "8.0"));  // the same value again
    ASSERT_TRUE(peer_->publish("test/vars/Other", "3"));   // a marker: everything before it has arrived
    ASSERT_TRUE(runUntil([&] { return hasValue("Other"); }));
    EXPECT_EQ(seen, (std::vector<Variant>{Variant::integer(7), Variant::integer(8)}));

    // The broker's echoes of earlier writes arrive after later writes: they must not bring old values back.
    // Writes made before the loop ran a delivery are still one change each, in order.
    seen.clear();
    for (std::int16_t value : {10, 11, 12}) variables().WriteVariable("Soll", Variant::integer(value));
    EXPECT_TRUE(peer_->sees("test/vars/Soll", "12"));
    ASSERT_TRUE(peer_->publish("test/vars/Other", "4"));
    ASSERT_TRUE(runUntil([&] { return variables().ReadVariable("Other") == Variant::integer(4); }));
    EXPECT_EQ(seen, (std::vector<Variant>{Variant::integer(10), Variant::integer(11), Variant::integer(12)}));
    EXPECT_EQ(variables().ReadVariable("Soll"), Variant::integer(12));

    variables().unwatch(watchId);
    variables().WriteVariable("Soll", Variant::text("neu"));
    EXPECT_TRUE(peer_->sees("test/vars/Soll", "\"neu\""));
    EXPECT_EQ(seen.size(), 3u);
}

// Changes that reach the panel in one go, before the loop runs, as a busy panel meets them: each raises its
// own event with its own value, in the order they came, the handlers' own writes behind them.
TEST_F(MqttVariablesTest, ChangesThatArriveTogetherRaiseOneEventEachInTheOrderTheyCame) {
    // The network thread counts the markers that follow each row's messages: once a row's marker is in,
    // so is everything before it, and only then does the loop run.
    std::atomic<int> markers{0};
    variables();
    connection_->subscribe("test/marke", [&](const std::string&, std::string_view) {
        ++markers;
        return std::function<void()>();
    });
    ASSERT_TRUE(peer_->publish(topicOfVar(vars::kLiBildSprung), "0"));
    ASSERT_TRUE(peer_->publish(topicOfVar(vars::kLiBSprung), "0"));
    ASSERT_TRUE(started());
    std::vector<std::string> runs;
    // As the main form's handlers do: KeinSprung_Change clears the jump request while jumps are suppressed.
    variables().watch(vars::kLiBildSprung, [&](const Variant& value) {
        runs.push_back("KeinSprung_Change " + toText(value));
        if (toBoolean(value)) variables().WriteVariable(vars::kLiABits, Variant::integer(0));
    });
    variables().watch(vars::kLiBSprung,
                      [&](const Variant& value) { runs.push_back("BildSprung_Change " + toText(value)); });
    variables().watch(vars::kLiABits,
                      [&](const Variant& value) { runs.push_back("li_a_bits " + toText(value)); });

    struct Row {
        std::vector<std::pair<std::string_view, const char*>> messages;
        std::vector<std::string> runs;
    };
    const Row rows[] = {
        {{{vars::kLiBildSprung, "1"}, {vars::kLiBildSprung, "0"}},
         {"KeinSprung_Change 1", "KeinSprung_Change 0", "li_a_bits 0"}},
        {{{vars::kLiBSprung, "1"}, {vars::kLiBildSprung, "1"}, {vars::kLiBSprung, "2"}},
         {"BildSprung_Change 1", "KeinSprung_Change 1", "BildSprung_Change 2", "li_a_bits 0"}},
        // A value that is no change raises nothing.
        {{{vars::kLiBildSprung, "0"},
          {vars::kLiBildSprung, "0"},
          {vars::kLiBSprung, "2"},
          {vars::kLiBSprung, "3"}},
         {"KeinSprung_Change 0", "BildSprung_Change 3"}},
    };
    for (const Row& row : rows) {
        variables().WriteVariable(vars::kLiABits, Variant::integer(5));  // the line asks for a jump
        loop_.runPending();
        runs.clear();
        std::vector<std::pair<std::string, std::string>> messages;
        for (const auto& [name, payload] : row.messages) messages.emplace_back(topicOfVar(name), payload);
        messages.emplace_back("test/marke", "1");
        const int marker = markers + 1;
        ASSERT_TRUE(peer_->publishAll(messages));
        for (const auto until = Clock::now() + 3s; markers < marker && Clock::now() < until;)
            std::this_thread::sleep_for(2ms);
        ASSERT_EQ(markers, marker);
        loop_.runPending();
        EXPECT_EQ(runs, row.runs) << row.messages.size() << " messages";
    }
    EXPECT_TRUE(errors_.empty()) << errors_.front();
}

TEST_F(MqttVariablesTest, BeyondItsBoundTheQueueOfChangesKeepsEachWatchsNewestInPlaceAndSaysSo) {
    ASSERT_TRUE(started());
    std::vector<std::string> seen;
    variables().watch("Zaehler", [&](const Variant& value) { seen.push_back(toText(value)); });
    variables().watch("Anders", [&](const Variant& value) { seen.push_back("Anders " + toText(value)); });
    constexpr int kWrites = MqttVariables::kMaxWaitingChanges + 100;
    for (int i = 1; i <= kWrites; ++i) variables().WriteVariable("Zaehler", Variant::longInt(i));
    variables().WriteVariable("Anders", Variant::integer(1));
    loop_.runPending();

    std::vector<std::string> expected;
    for (int i = 1; i < static_cast<int>(MqttVariables::kMaxWaitingChanges); ++i)
        expected.push_back(std::to_string(i));
    expected.push_back(std::to_string(kWrites));
    expected.push_back("Anders 1");
    EXPECT_EQ(seen, expected);
    // The broker's echoes of the writes may also overrun the intake, which says so in words of its own.
    std::vector<std::string> aboutTheChanges;
    for (const std::string& error : errors_)
        if (error.find("watched process variables") != std::string::npos) aboutTheChanges.push_back(error);
    EXPECT_EQ(aboutTheChanges,
              (std::vector<std::string>{
                  "More than 4096 changes of watched process variables wait for their handlers: until "
                  "they are run, a change replaces the newest waiting change of its variable",
                  "The handlers of watched process variables have caught up: 100 changes were "
                  "replaced by newer ones of their variable"}));
}

TEST_F(MqttVariablesTest, GarbageIsReportedForItsVariableAndChangesNothing) {
    ASSERT_TRUE(peer_->publish("test/vars/Zahl", "5"));
    ASSERT_TRUE(started());
    int changes = 0;
    variables().watch("Zahl", [&](const Variant&) { ++changes; });
    ASSERT_TRUE(peer_->publish("test/vars/Zahl", "{\"wert\": 6}"));
    EXPECT_TRUE(reported("Process variable 'Zahl' on the broker ignored: the payload is a JSON object"));
    ASSERT_TRUE(peer_->publish("test/vars/Anders", "sechs"));
    EXPECT_TRUE(reported("Process variable 'Anders' on the broker ignored: the payload is not JSON"));
    // More garbage on a reported variable within the minute is counted, not reported.
    ASSERT_TRUE(peer_->publish("test/vars/Zahl", "sechs"));
    ASSERT_TRUE(peer_->publish("test/vars/Zahl", "[{}]"));
    ASSERT_TRUE(peer_->publish("test/vars/Zahl", "5"));
    ASSERT_TRUE(peer_->publish("test/vars/Marke", "1"));  // everything before it has arrived
    ASSERT_TRUE(runUntil([&] { return hasValue("Marke"); }));
    EXPECT_EQ(errors_.size(), 2u);
    loop_.advance(60000);
    ASSERT_TRUE(peer_->publish("test/vars/Zahl", std::string(kMaxVariablePayload + 10, '1')));
    EXPECT_TRUE(
        reported("Process variable 'Zahl' on the broker ignored: the payload of 1048586 bytes is larger "
                 "than 1 MiB (2 more of this topic ignored since the last report)"));
    EXPECT_EQ(errors_.size(), 3u);
    EXPECT_EQ(variables().ReadVariable("Zahl"), Variant::integer(5));
    EXPECT_EQ(changes, 0);
}

TEST_F(MqttVariablesTest, NamesThePanelDoesNotUseAreKeptOnlyUpToTheLimitAndAreFetchedAgainWhenUsed) {
    ASSERT_TRUE(started());
    const auto used = variables().resolve("Genutzt");  // a name the panel uses is always kept
    variables().limitUnusedNames(3);
    std::vector<std::pair<std::string, std::string>> messages;
    for (int i = 0; i < 6; ++i) messages.emplace_back("test/vars/U" + std::to_string(i), std::to_string(i));
    messages.emplace_back("test/vars/Genutzt", "7");
    ASSERT_TRUE(peer_->publishAll(messages));
    ASSERT_TRUE(runUntil([&] { return hasValue("Genutzt"); }));
    EXPECT_EQ(variables().read(used), Variant::integer(7));
    EXPECT_EQ(errors_,
              std::vector<std::string>{"More than 3 process variables on the broker are not used by this "
                                       "panel; messages for further names (such as 'U3') are ignored"});
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(variables().ReadVariable("U" + std::to_string(i)),
                  Variant::integer(static_cast<std::int16_t>(i)));
    // Reading an ignored name is an error that says what happened; the value is fetched again.
    EXPECT_EQ(
        descriptionOf([&] { variables().ReadVariable("U4"); }),
        "Process variable 'U4' has no value yet: messages for names this panel had not used were ignored, "
        "and its value is requested from the broker again");
    ASSERT_TRUE(runUntil([&] { return hasValue("U4"); }));
    EXPECT_EQ(variables().ReadVariable("U4"), Variant::integer(4));
    EXPECT_EQ(errors_.size(), 1u);
}

TEST_F(MqttVariablesTest, AFloodOnAWatchedVariableRunsItsHandlerFarLessOftenAndTheTimersKeepTheirRhythm) {
    SystemEventLoop loop;
    MqttConnection connection(loop, settings_, "test/panel/online", reporter());
    MqttVariables flooded(loop, connection, reporter());
    constexpr int kMessages = 50000;
    std::vector<std::pair<std::string, std::string>> burst;
    for (int i = 1; i <= kMessages; ++i) burst.emplace_back("test/vars/Flut", std::to_string(i));

    struct Events : RuntimeEvents {
        std::function<void()> started;
        void StartCompleted(std::int16_t success) override {
            if (success == kTrue) started();
        }
        void RuntimeStopped() override {}
    } events;
    std::thread publisher;
    std::vector<std::int64_t> ticks;
    Timer beat(loop, "beat", 100, [&] { ticks.push_back(loop.nowMs()); });
    Timer limit(loop, "limit", 30000, [&] { loop.quit(1); });
    limit.setEnabled(true);
    std::vector<Variant> delivered;
    flooded.watch("Flut", [&](const Variant& value) {
        delivered.push_back(value);
        std::this_thread::sleep_for(1ms);  // a handler costs what a pass costs
        if (value == Variant::longInt(kMessages)) loop.quit(0);
    });
    events.started = [&] {
        ticks.push_back(loop.nowMs());
        beat.setEnabled(true);
        publisher = std::thread([&] { peer_->publishAll(burst); });
    };
    flooded.start(events);
    const int exitCode = loop.run();
    flooded.StopRuntime();
    if (publisher.joinable()) publisher.join();

    ASSERT_EQ(exitCode, 0) << delivered.size() << " deliveries";
    EXPECT_LT(delivered.size(), static_cast<std::size_t>(kMessages / 10));
    // In order, the newest last.
    for (std::size_t i = 1; i < delivered.size(); ++i)
        ASSERT_LT(toLong(delivered[i - 1]), toLong(delivered[i])) << i;
    std::int64_t longest = 0;
    for (std::size_t i = 1; i < ticks.size(); ++i) longest = std::max(longest, ticks[i] - ticks[i - 1]);
    EXPECT_LT(longest, 1000) << ticks.size() << " ticks";
}

TEST_F(MqttVariablesTest, StartFailsWithinTheTimeoutWhenNoBrokerListens) {
    // A port bound but not listening: connections are refused, and no other test's broker can take it.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    settings_.port = ntohs(address.sin_port);
    settings_.startTimeout = 400ms;
    const auto begin = Clock::now();
    variables().start(events_);
    ASSERT_TRUE(runUntil([&] { return !events_.starts.empty(); }));
    EXPECT_LT(Clock::now() - begin, 2s);
    EXPECT_EQ(events_.starts, std::vector<std::int16_t>{kFalse});
    // The cause as soon as it is known, then the end of the start with it.
    const std::string at = "127.0.0.1:" + std::to_string(settings_.port);
    const std::string refused =
        "the connection was refused (no broker listens on port " + std::to_string(settings_.port) + ")";
    EXPECT_EQ(errors_, (std::vector<std::string>{
                           "No connection to the MQTT broker " + at + ": " + refused + "; retrying",
                           "The MQTT runtime cannot start: no connection to the broker " + at +
                               " with its retained variables within 400 ms (" + refused + ")"}));
    variables().StopRuntime();
    EXPECT_TRUE(runUntil([&] { return events_.stops == 1; }));
    close(holder);
}

TEST_F(MqttVariablesTest, WritesWhileTheBrokerIsAwayReachItWhenItReturns) {
    ASSERT_TRUE(started());
    peer_.reset();
    broker_->stop();
    EXPECT_TRUE(reported("The connection to the MQTT broker was lost"));

    variables().WriteVariable("Auftrag", Variant::integer(1));
    variables().WriteVariable("Auftrag", Variant::integer(2));
    EXPECT_EQ(variables().ReadVariable("Auftrag"), Variant::integer(2));

    broker_->start();
    ASSERT_TRUE(broker_->running());
    EXPECT_TRUE(reported("The connection to the MQTT broker is back"));
    peer_ = std::make_unique<MqttPeer>(broker_->port());
    ASSERT_TRUE(peer_->connected());
    peer_->subscribe("test/#");
    EXPECT_TRUE(peer_->sees("test/vars/Auftrag", "2"));
    EXPECT_TRUE(peer_->sees("test/panel/online", "true"));
    EXPECT_EQ(variables().ReadVariable("Auftrag"), Variant::integer(2));
}

TEST_F(MqttVariablesTest, WritesJustBeforeTheStopStillReachTheBroker) {
    ASSERT_TRUE(started());
    peer_->subscribe("test/vars/#");
    // Far more than the client library keeps in flight at once: the rest wait in its queue.
    for (int i = 0; i < 300; ++i)
        variables().WriteVariable("Letzte" + std::to_string(i),
                                  Variant::integer(static_cast<std::int16_t>(i)));
    variables().StopRuntime();
    EXPECT_TRUE(peer_->sees("test/vars/Letzte0", "0"));
    EXPECT_TRUE(peer_->sees("test/vars/Letzte299", "299"));
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(peer_->last("test/vars/Letzte" + std::to_string(i)), std::to_string(i));
}

TEST_F(MqttVariablesTest, ABrokerThatForgotItsRetainedValuesGetsThisClientsLatestWritesAgain) {
    ASSERT_TRUE(started());
    variables().WriteVariable("Rezept", Variant::integer(4));
    variables().WriteVariable("Rezept", Variant::integer(5));
    variables().WriteVariable("Fremd", Variant::integer(1));
    peer_->subscribe("test/vars/#");
    ASSERT_TRUE(peer_->sees("test/vars/Rezept", "5"));
    ASSERT_TRUE(peer_->publish("test/vars/Fremd", "3"));  // someone else's value is the latest now
    ASSERT_TRUE(runUntil([&] { return variables().ReadVariable("Fremd") == Variant::integer(3); }));

    peer_.reset();
    broker_->stop();  // without persistence: every retained value is gone
    broker_->start();
    ASSERT_TRUE(broker_->running());
    EXPECT_TRUE(reported("The MQTT broker had lost 1 values written by this program"));
    EXPECT_EQ(events_.starts, std::vector<std::int16_t>{kTrue}) << "a reconnection is no second start";
    peer_ = std::make_unique<MqttPeer>(broker_->port());
    ASSERT_TRUE(peer_->connected());
    peer_->subscribe("test/vars/#");
    EXPECT_TRUE(peer_->sees("test/vars/Rezept", "5"));
    EXPECT_EQ(peer_->last("test/vars/Fremd"), "");  // not this client's to restore
    EXPECT_EQ(variables().ReadVariable("Fremd"), Variant::integer(3));
}

TEST_F(MqttVariablesTest, OnAFreshBrokerThePanelsOwnVariablesStartFromTheCatalogue) {
    // The visualisation's group status is already there: a held value is the start, not the catalogue's.
    ASSERT_TRUE(peer_->publish(topicOfVar(vars::kLiGStatus), "[1, 2, 3, 4, 5, 6]"));
    peer_->subscribe("test/vars/#");
    MqttBackend backend(loop_, settings_, reporter());
    backend.variables.start(events_);
    ASSERT_TRUE(runUntil([&] { return !events_.starts.empty(); }));
    ASSERT_EQ(events_.starts, std::vector<std::int16_t>{kTrue});

    testing::ScriptedLineDisplay display;
    display.line.languageId = 1031;
    display.line.groups[2] = "Filling";
    LineMachine& own = display.line.machines[0];
    own.enabled = true;
    own.number = 1;
    own.symbol = 3;
    own.group = 2;
    own.groupSlots = {2, -1, -1, -1, -1, -1};
    LineMachine& foreign = display.line.machines[1];
    foreign.enabled = true;
    foreign.remote = true;
    foreign.symbol = 9;
    foreign.foreign = true;
    foreign.group = 2;
    foreign.languageId = 1049;
    foreign.status = 4;
    LanguageTable languages;
    for (const std::int32_t language : {1031, 1033, 1036, 1049})
        languages.entries[static_cast<std::size_t>(++languages.LanguageCount)].Language = language;
    languages.entries[4].CharSet = 204;
    testing::LogCapture capture;
    LineRecords records;
    records.LineConnected = kTrue;
    JumpFlags jumps;
    LineBridge bridge(records, jumps, languages, backend.variables, display, capture.log);
    bridge.LinienParaAufbereiten("BrenkoLineOCX_NewLineParameter");

    EXPECT_EQ(capture.linesStartingWith("F "), std::vector<std::string>{});
    const auto machines = [](std::vector<std::int16_t> first) {
        first.resize(static_cast<std::size_t>(kLineMachineCount), 0);
        return first;
    };
    for (const auto& [name, elements] : std::vector<std::pair<std::string_view, std::vector<std::int16_t>>>{
             {vars::kLiPEnable, machines({1, 1})},
             {vars::kLiPSymbol, machines({3, 9})},
             {vars::kLiPFremd, machines({0, 1})},
             {vars::kLiPFern, machines({0, 1})},
             {vars::kLiSCharset, machines({0, 204})},
             {vars::kLiSStatus, machines({0, 4})},
             {vars::kLiGStatus, {4, 2, 3, 4, 5, 6}}})
        EXPECT_TRUE(
            peer_->sees(topicOfVar(name), encodeVariablePayload(name, Variant::integerArray(elements))))
            << name << " holds " << peer_->last(topicOfVar(name));

    // The panel's variables that this pass did not write start from the catalogue too.
    EXPECT_EQ(backend.variables.ReadVariable(vars::indexed(vars::kLiSMessageBase, 5)), Variant::text(""));
    EXPECT_EQ(backend.variables.ReadVariable(vars::kLiLFault), Variant::integer(0));
    // What only the visualisation writes has no value until it does.
    for (std::string_view readOnly : {vars::kLiHNummer, vars::kLiLebenHi, vars::kSprache})
        EXPECT_EQ(descriptionOf([&] { backend.variables.ReadVariable(readOnly); }),
                  "Process variable '" + std::string(readOnly) + "' has no value on the broker");
    EXPECT_TRUE(errors_.empty()) << errors_.front();
}

TEST_F(MqttVariablesTest, AnOwnedVariableWhoseStartValueCannotBePublishedIsReportedAndStaysWithout) {
    MqttConnection connection(loop_, settings_, "test/panel/online", reporter());
    MqttVariables owned(loop_, connection, reporter(),
                        {{"Kaputt", VariableType::Integer, 0, Variant::null(), true},
                         {"Gesetzt", VariableType::Integer, 0, Variant::integer(7), true},
                         {"Fremd", VariableType::Integer, 0, Variant::integer(1), false}});
    owned.start(events_);
    ASSERT_TRUE(runUntil([&] { return !events_.starts.empty(); }));
    EXPECT_EQ(errors_,
              std::vector<std::string>{"Process variable 'Kaputt' has no start value: Process variable "
                                       "'Kaputt' cannot be set to Null"});
    EXPECT_EQ(owned.ReadVariable("Gesetzt"), Variant::integer(7));
    EXPECT_EQ(descriptionOf([&] { owned.ReadVariable("Kaputt"); }),
              "Process variable 'Kaputt' has no value on the broker");
    EXPECT_EQ(descriptionOf([&] { owned.ReadVariable("Fremd"); }),
              "Process variable 'Fremd' has no value on the broker");
}

// A broker that holds back little for a client that has not acknowledged what it was sent.
class MqttVariablesBusyBrokerTest : public MqttVariablesTest {
protected:
    std::string brokerConfig() override { return "max_inflight_messages 1\nmax_queued_messages 5\n"; }
};

TEST_F(MqttVariablesBusyBrokerTest, ABurstOfAcknowledgedUpdatesEndsWithTheNewestValuesInTheCopy) {
    ASSERT_TRUE(started());
    constexpr int kVariables = 3;
    constexpr int kRounds = 100;
    std::vector<Variant> delivered(kVariables);
    for (int v = 0; v < kVariables; ++v)
        variables().watch("Burst" + std::to_string(v),
                          [&delivered, v](const Variant& value) { delivered[v] = value; });
    std::vector<std::pair<std::string, std::string>> burst;
    for (int round = 1; round <= kRounds; ++round)
        for (int v = 0; v < kVariables; ++v)
            burst.emplace_back("test/vars/Burst" + std::to_string(v), std::to_string(round * 10 + v));
    ASSERT_TRUE(peer_->publishAll(burst));

    // A broker that drops what does not fit its queue drops the newest: the last round would be missing.
    std::vector<Variant> newest;
    for (int v = 0; v < kVariables; ++v)
        newest.push_back(Variant::integer(static_cast<std::int16_t>(kRounds * 10 + v)));
    EXPECT_TRUE(runUntil([&] { return delivered == newest; }));
    for (int v = 0; v < kVariables; ++v)
        EXPECT_EQ(variables().ReadVariable("Burst" + std::to_string(v)), newest[v]);
}

// A broker that also knows a user and listens with TLS on a second port, with files of the test's own.
class MqttVariablesSecuredTest : public MqttVariablesTest {
protected:
    std::string brokerConfig() override {
        folder_ =
            std::filesystem::temp_directory_path() / ("orvanta_mqtt_secured_" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
        const std::string f = folder_.string();
        const std::string commands =
            "cd " + f + " && mosquitto_passwd -b -c passwords panel geheim" +
            " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=TestCA -keyout ca.key -out "
            "ca.crt" +
            " && openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key -out server.csr" +
            " && printf 'subjectAltName=IP:127.0.0.1' > san.ext" +
            " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 1" +
            " -extfile san.ext -out server.crt" + " && chmod 644 passwords server.key";
        prepared_ = std::system(("(" + commands + ") > /dev/null 2>&1").c_str()) == 0;
        tlsPort_ = MosquittoBroker::freePort();
        return "password_file " + f + "/passwords\nlistener " + std::to_string(tlsPort_) +
               " 127.0.0.1\ncafile " + f + "/ca.crt\ncertfile " + f + "/server.crt\nkeyfile " + f +
               "/server.key\n";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::filesystem::path folder_;
    bool prepared_ = false;
    int tlsPort_ = 0;
};

TEST_F(MqttVariablesSecuredTest, LogsInWithUserAndPassword) {
    ASSERT_TRUE(prepared_);
    ASSERT_TRUE(peer_->publish("test/vars/Geheim", "42"));
    settings_.username = "panel";
    settings_.password = "geheim";
    ASSERT_TRUE(started());
    EXPECT_EQ(variables().ReadVariable("Geheim"), Variant::integer(42));
}

TEST_F(MqttVariablesSecuredTest, AWrongPasswordIsReportedAndTheStartFails) {
    ASSERT_TRUE(prepared_);
    settings_.username = "panel";
    settings_.password = "falsch";
    settings_.startTimeout = 500ms;
    variables().start(events_);
    ASSERT_TRUE(runUntil([&] { return !events_.starts.empty(); }));
    EXPECT_EQ(events_.starts, std::vector<std::int16_t>{kFalse});
    EXPECT_TRUE(reported("the broker refuses the login of user panel"));
}

TEST_F(MqttVariablesSecuredTest, ConnectsWithTlsCheckedAgainstTheCa) {
    ASSERT_TRUE(prepared_);
    ASSERT_TRUE(peer_->publish("test/vars/Sicher", "\"ja\""));
    settings_.port = tlsPort_;
    settings_.caFile = (folder_ / "ca.crt").string();
    ASSERT_TRUE(started());
    EXPECT_EQ(variables().ReadVariable("Sicher"), Variant::text("ja"));
    variables().WriteVariable("Sicher", Variant::text("auch"));
    peer_->subscribe("test/vars/Sicher");
    EXPECT_TRUE(peer_->sees("test/vars/Sicher", "\"auch\""));
}

TEST_F(MqttVariablesSecuredTest, TlsWithAnotherCaDoesNotStart) {
    ASSERT_TRUE(prepared_);
    ASSERT_EQ(
        std::system(("cd " + folder_.string() +
                     " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=Other -keyout other.key"
                     " -out other.crt > /dev/null 2>&1")
                        .c_str()),
        0);
    settings_.port = tlsPort_;
    settings_.caFile = (folder_ / "other.crt").string();
    settings_.startTimeout = 500ms;
    variables().start(events_);
    ASSERT_TRUE(runUntil([&] { return !events_.starts.empty(); }));
    EXPECT_EQ(events_.starts, std::vector<std::int16_t>{kFalse});
}

}  // namespace
}  // namespace orvanta
