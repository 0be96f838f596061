#include "demo/demo_simulator.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "adapters/embedded/embedded_line_display.h"
#include "adapters/embedded/embedded_variables.h"
#include "core/vb_error.h"
#include "ports/variable_names.h"
#include "support/manual_event_loop.h"
#include "support/recording_variables.h"

namespace orvanta {
namespace {

using namespace orvanta::testing;

// MachineValues has no comparison of its own: the values as one text.
std::string text(const LineValues& values) {
    std::string result;
    for (const MachineValues& v : values)
        result += std::to_string(v.languageId) + "/" + std::to_string(v.status) + "/" + v.message + ";";
    return result;
}

struct RecordingListener : LineSourceListener {
    void lineOnline(bool online) override { calls.push_back(online ? "online" : "offline"); }
    void lineDescription(const LineDescription&) override { calls.push_back("description"); }
    void lineValues(const LineValues& sent) override {
        calls.push_back(text(sent));
        values.push_back(sent);
    }
    std::vector<std::string> calls;
    std::vector<LineValues> values;
};

void define(AlarmTable& table, int machine, std::int16_t type, const std::string& var, std::int16_t bit) {
    AlarmDef& def = table.at(machine, table.append(machine));
    def.Type = type;
    def.VarName = var;
    def.BitNo = bit;
    def.Priority = 1;
    def.Sensor2 = static_cast<std::int16_t>(machine);
}

LineMachine machine(bool enabled, bool foreign, std::int32_t languageId = 0) {
    LineMachine m;
    m.enabled = enabled;
    m.foreign = foreign;
    m.languageId = languageId;
    m.status = foreign ? 1 : 0;
    m.number = foreign ? 0 : 1;
    return m;
}

class DemoSimulatorTest : public ::testing::Test {
protected:
    DemoSimulatorTest() {
        define(alarms.AlarmTabelle1, 1, 2, "M1.faults0", 0);
        define(alarms.AlarmTabelle1, 1, 2, "M1.faults0", 3);
        define(alarms.AlarmTabelle2, 2, 8, "M2.warnings0", 15);
        define(alarms.AlarmTabelle3, 2, 8, "M2.warnings0", 15);
        define(alarms.AlarmTabelle2, 4, 18, "M4.messages0", 2);
        define(alarms.AlarmTabelle2, 4, 18, "M4.messages0", 5);
        define(alarms.AlarmTabelle1, 5, 2, "M5.faults0", 9);
        define(alarms.AlarmTabelle1, 3, 2, "M3.faults0", 20);  // no such bit in a 16-bit word
        line.machines[0] = machine(true, true, 1031);
        line.machines[5] = machine(true, true, 1036);
        line.machines[6] = machine(false, true);
        line.machines[2] = machine(true, false);
        for (std::string_view name : {vars::kLiLebenHi, vars::kLiLNeu, vars::kLiLFault, vars::kLiLSensor2,
                                      vars::kLiLAlarmT, vars::kLiHNummer, vars::kLiHMasch, vars::kLiHStatus})
            variables.set(name, Variant::integer(0));
        variables.set(vars::kSprache, Variant::longInt(0));
        variables.set("M1.faults0", Variant::integer(0x4000));  // bit 14 belongs to nobody here
        variables.set("M2.warnings0", Variant::integer(0));
        variables.set("M4.messages0", Variant::integer(0x0101));
        variables.set("M5.faults0", Variant::integer(0));
    }

    std::unique_ptr<DemoSimulator> make(std::uint32_t seed = 7, double rate = 1.0) {
        return std::make_unique<DemoSimulator>(loop, variables, line, alarms,
                                               std::vector<std::int32_t>{1031, 1033, 1036}, seed, rate,
                                               [this](const std::string& m) { reports.push_back(m); });
    }
    std::int16_t word(std::string_view name) { return toInteger(variables.value(name)); }

    ManualEventLoop loop;
    RecordingVariables variables;
    AlarmDefinitions alarms;
    LineDescription line;
    RecordingListener listener;
    std::vector<std::string> reports;
};

TEST_F(DemoSimulatorTest, ComesOnlineCountsTheHeartbeatAndChangesTheLanguageEvery20To40Seconds) {
    variables.set(vars::kLiLebenHi, Variant::integer(32766));
    auto sim = make();
    sim->start(listener);
    loop.advance(999);
    EXPECT_TRUE(listener.calls.empty());
    EXPECT_EQ(word(vars::kLiLebenHi), 32766);
    loop.advance(1);
    EXPECT_EQ(listener.calls, std::vector<std::string>{"online"});
    EXPECT_EQ(word(vars::kLiLebenHi), 32767);
    EXPECT_EQ(toLong(variables.value(vars::kSprache)), 1031) << "announced when the line comes online";
    loop.advance(2000);
    EXPECT_EQ(word(vars::kLiLebenHi), -32767) << "wraps";

    std::vector<std::int64_t> changes;
    for (std::int32_t t = 3001, last = 1031; t < 300000; ++t) {
        loop.advance(1);
        const std::int32_t now = toLong(variables.value(vars::kSprache));
        if (now == std::exchange(last, now)) continue;
        EXPECT_TRUE(now == 1031 || now == 1033 || now == 1036) << now;
        changes.push_back(t);
    }
    ASSERT_GE(changes.size(), 7u);
    for (std::size_t i = 1; i < changes.size(); ++i) {
        EXPECT_GE(changes[i] - changes[i - 1], 20000);
        EXPECT_LE(changes[i] - changes[i - 1], 40000);
    }
}

TEST_F(DemoSimulatorTest, EchoesAPublishedAlarm300MsLaterAndTakesTheFlagBack) {
    auto sim = make();
    sim->start(listener);
    // The answer as "li_h_status li_h_masch li_h_nummer li_l_neu".
    const auto publish = [&](std::int16_t fault, std::int16_t machine, std::int16_t type) {
        variables.set(vars::kLiLFault, Variant::integer(fault));
        variables.set(vars::kLiLSensor2, Variant::integer(machine));
        variables.set(vars::kLiLAlarmT, Variant::integer(type));
        variables.change(vars::kLiLNeu, Variant::integer(1));
        loop.advance(299);
        EXPECT_EQ(word(vars::kLiLNeu), 1) << "answered too early";
        loop.advance(1);
        std::string answer;
        for (auto name : {vars::kLiHStatus, vars::kLiHMasch, vars::kLiHNummer, vars::kLiLNeu})
            answer += std::to_string(word(name)) + " ";
        return answer;
    };
    EXPECT_EQ(publish(112, 1, 2), "4 1 112 0 ");
    EXPECT_EQ(publish(353, 3, 8), "3 3 353 0 ");
    EXPECT_EQ(publish(0, 3, 8), "0 0 0 0 ");
    EXPECT_EQ(variables.writes().back().name, vars::kLiLNeu);
}

TEST_F(DemoSimulatorTest, SetsAndClearsOnlyDefinedBitsAndLeavesTheOthers) {
    auto sim = make(11);
    sim->start(listener);
    std::map<std::string, std::uint16_t> defined = {
        {"M1.faults0", 0x0009}, {"M2.warnings0", 0x8000}, {"M4.messages0", 0x0024}, {"M5.faults0", 0x0200}};
    std::map<std::string, std::uint16_t> last = {
        {"M1.faults0", 0x4000}, {"M2.warnings0", 0}, {"M4.messages0", 0x0101}, {"M5.faults0", 0}};
    std::map<std::pair<std::string, int>, std::int64_t> raisedAt;
    int raised = 0, cleared = 0;
    for (std::int64_t t = 1; t <= 120000; ++t) {
        loop.advance(1);
        if (t == 60000) {  // another writer sets a bit of its own half-way
            variables.set("M1.faults0",
                          Variant::integer(static_cast<std::int16_t>(word("M1.faults0") | 0x2000)));
            last["M1.faults0"] |= 0x2000;
        }
        int active = 0;
        for (const auto& [name, mask] : defined) {
            const auto now = static_cast<std::uint16_t>(word(name));
            const auto flipped = static_cast<std::uint16_t>(now ^ std::exchange(last[name], now));
            EXPECT_EQ(flipped & ~mask, 0) << name << " at " << t;
            for (int bit = 0; bit < 16; ++bit) {
                if ((flipped >> bit & 1) == 0) continue;
                if (now >> bit & 1) {
                    raisedAt[{name, bit}] = t, ++raised;
                    continue;
                }
                ++cleared;
                const std::int64_t held = t - raisedAt[{name, bit}];
                EXPECT_TRUE(held >= 3000 && held <= 15000) << name << " bit " << bit << " held " << held;
            }
            active += std::popcount(static_cast<std::uint16_t>(now & mask));
        }
        EXPECT_LE(active, 4);
    }
    EXPECT_GE(raised, 10) << "about one every 4 s, at most four standing";
    EXPECT_GE(cleared, raised - 4);
    EXPECT_EQ(word("M1.faults0") & 0x6000, 0x6000) << "bits of others stay";
    EXPECT_EQ(word("M4.messages0") & 0x0101, 0x0101);
    EXPECT_TRUE(reports.empty());
}

TEST_F(DemoSimulatorTest, WalksTheEnabledForeignMachinesThroughAllStatusCodes) {
    auto sim = make(3, 10.0);
    sim->start(listener);
    loop.advance(600000);
    const std::vector<LineValues>& sent = listener.values;
    ASSERT_GE(sent.size(), 100u);
    std::set<int> statuses;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        for (int m : {0, 5}) statuses.insert(sent[i][static_cast<std::size_t>(m)].status);
        EXPECT_EQ(sent[i][6].status, 1) << "a disabled machine keeps its described state";
        EXPECT_EQ(sent[i][2].status, 0) << "an own machine is not the source's to tell";
        if (i > 0) {
            EXPECT_NE(text(sent[i - 1]), text(sent[i])) << "each step changes something";
        }
    }
    EXPECT_EQ(statuses, (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
}

TEST_F(DemoSimulatorTest, StopEndsEverythingAndTheSameSeedPlaysTheSameRun) {
    const auto run = [&](std::uint32_t seed) {
        ManualEventLoop own;
        RecordingVariables copy = variables;
        RecordingListener heard;
        DemoSimulator sim(own, copy, line, alarms, {1031, 1033}, seed, 3.0, {});
        sim.start(heard);
        own.advance(60000);
        return std::make_pair(copy.events(), heard.calls);
    };
    EXPECT_EQ(run(5), run(5));
    EXPECT_NE(run(5).first, run(6).first);

    auto sim = make();
    sim->start(listener);
    loop.advance(30000);
    sim->stop();
    variables.clear();
    const auto heard = listener.calls.size();
    EXPECT_EQ(variables.watchers(vars::kLiLNeu), 0);
    loop.advance(120000);
    EXPECT_TRUE(variables.events().empty());
    EXPECT_EQ(listener.calls.size(), heard);
}

TEST_F(DemoSimulatorTest, AVariableThatFailsIsReportedOnceAndLeftAlone) {
    define(alarms.AlarmTabelle1, 5, 2, "Ghost.word", 1);
    variables.failWritesOf(vars::kLiLebenHi, VbError(kInvalidCall, "read-only", "test"));
    auto sim = make(1, 10.0);
    sim->start(listener);
    loop.advance(120000);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_NE(reports[1].find(vars::kLiLebenHi), std::string::npos) << reports[1];
    EXPECT_NE(reports[0].find("'Ghost.word'"), std::string::npos) << reports[0];
    EXPECT_FALSE(listener.values.empty()) << "the rest of the world goes on";

    EXPECT_THROW(make(1, 0.0), VbError);
    EXPECT_THROW(make(1, std::nan("")), VbError);
}

TEST(DemoSimulatorWithEmbeddedLineDisplay, IsTheLineDisplaysSourceOnTheEmbeddedRuntime) {
    ManualEventLoop loop;
    EmbeddedVariables runtime(loop, builtinVariables());
    LineDescription line;
    line.machines[0] = machine(true, true);
    DemoSimulator sim(loop, runtime, line, AlarmDefinitions{}, {1033}, 2, 1.0, {});
    EmbeddedLineDisplay model(loop, line, &sim);
    model.Active(true);
    loop.advance(999);
    EXPECT_FALSE(model.connected());
    loop.advance(1);
    EXPECT_TRUE(model.connected());
    runtime.WriteVariable(vars::kLiLFault, Variant::integer(101));
    runtime.WriteVariable(vars::kLiLNeu, Variant::integer(1));
    loop.advance(400);
    EXPECT_EQ(runtime.ReadVariable(vars::kLiHNummer), Variant::integer(101));
    EXPECT_EQ(runtime.ReadVariable(vars::kLiLNeu), Variant::integer(0));
    std::set<std::int16_t> seen;
    for (int s = 0; s < 60; ++s, loop.advance(1000)) seen.insert(model.MachineStatus(0));
    EXPECT_GE(seen.size(), 3u);
}

}  // namespace
}  // namespace orvanta
