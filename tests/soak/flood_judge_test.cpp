#include "soak/flood_judge.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "core/vb_error.h"

namespace orvanta::soak {
namespace {

// Machines 0, 1 and 5 foreign and in use, 2 an own machine, 4 foreign but not in use.
LineDescription line() {
    LineDescription description;
    const auto set = [&](int m, bool enabled, bool foreign, std::int32_t languageId) {
        LineMachine& machine = description.machines.at(static_cast<std::size_t>(m));
        machine.enabled = enabled;
        machine.foreign = foreign;
        machine.languageId = languageId;
    };
    set(0, true, true, 1036);
    set(1, true, true, 1033);
    set(2, true, false, 1031);
    set(4, false, true, 1031);
    set(5, true, true, 1045);
    return description;
}

TEST(FloodJudge, LineValuesAreValidAndDifferForEveryNumberOnTheForeignMachinesInUse) {
    const LineValuesMaker maker(line());
    EXPECT_EQ(maker.indices(), (std::vector<int>{0, 1, 5}));
    const LineValues values = parseLineValues(maker(12), "test");
    const LineValues next = parseLineValues(maker(13), "test");
    for (const int m : {0, 1, 5}) {
        const auto at = static_cast<std::size_t>(m);
        EXPECT_EQ(values[at].status, (12 + m) % 7);
        EXPECT_EQ(values[at].message, "Meldung 12/" + std::to_string(m));
        EXPECT_EQ(values[at].languageId, line().machines[at].languageId);
        EXPECT_NE(values[at].status, next[at].status);
        EXPECT_NE(values[at].message, next[at].message);
    }
    for (const int m : {2, 3, 4, 6}) {
        EXPECT_EQ(values[static_cast<std::size_t>(m)].status, 0) << m;
        EXPECT_EQ(values[static_cast<std::size_t>(m)].message, "") << m;
    }
}

// The panel's own decoders decide: garbage must be refused by them, everything else taken.
TEST(FloodJudge, EveryFloodSendsWhatItsNameSaysWithANewMessageEachTime) {
    const LineValuesMaker maker(line());
    const auto acceptedValue = [](const std::string& payload) {
        std::string problem;
        return decodeVariablePayload(payload, problem).has_value();
    };
    const auto acceptedLine = [](const std::string& payload) {
        try {
            parseLineValues(payload, "test");
            return true;
        } catch (const VbError&) {
            return false;
        }
    };
    std::set<std::string> garbageTopics;
    for (const Flood& flood : kFloods) {
        std::set<std::pair<std::string, std::string>> seen;
        for (const std::int64_t n : {0, 1, 2, 3, 4, 5, 6, 7, 29998, 29999, 123456}) {
            const FloodMessage message = floodMessage(flood.kind, n, maker);
            EXPECT_TRUE(seen.emplace(message.topic, message.payload).second) << flood.name << " " << n;
            const bool onLine = message.topic == lineTopic("values");
            const bool accepted = onLine ? acceptedLine(message.payload) : acceptedValue(message.payload);
            EXPECT_EQ(accepted, flood.kind != FloodKind::Garbage) << flood.name << ": " << message.payload;
            EXPECT_EQ(message.retain,
                      flood.kind == FloodKind::WatchedVariable || flood.kind == FloodKind::LineValues);
            switch (flood.kind) {
                case FloodKind::WatchedVariable:
                    EXPECT_EQ(message.topic, varTopic(vars::kLiHNummer));
                    break;
                case FloodKind::LineValues:
                    EXPECT_TRUE(onLine);
                    break;
                case FloodKind::Garbage:
                    garbageTopics.insert(message.topic);
                    break;
                case FloodKind::NewNames:
                    EXPECT_EQ(message.topic, varTopic("flood/" + std::to_string(n)));
                    break;
            }
        }
    }
    EXPECT_EQ(garbageTopics, (std::set<std::string>{varTopic(vars::kLiHStatus), lineTopic("values")}));
}

// What a panel that kept up leaves at the broker for maker(7): statuses in the foreign slots and whatever
// the other elements held.
std::map<std::string, std::string> caughtUp(const LineValuesMaker& maker) {
    const LineValues values = parseLineValues(maker(7), "test");
    return {{varTopic(vars::kLiSStatus), "[" + std::to_string(values[0].status) + ", " +
                                             std::to_string(values[1].status) + ", 9, 9, 9, " +
                                             std::to_string(values[5].status) + ", 9]"},
            {varTopic(vars::indexed(vars::kLiSMessageBase, 0)), "\"Meldung 7/0\""},
            {varTopic(vars::indexed(vars::kLiSMessageBase, 1)), "\"Meldung 7/1\""},
            {varTopic(vars::indexed(vars::kLiSMessageBase, 5)), "\"Meldung 7/5\""}};
}

TEST(FloodJudge, HoldsOnlyWhenTheEchoIsRecentAndEveryForeignStatusAndMessageIsTheLastLineValues) {
    const LineValuesMaker maker(line());
    const auto judge = [&](const std::map<std::string, std::string>& broker, std::optional<long> echo) {
        return lastValuesDifference(
            [&](const std::string& topic) {
                const auto found = broker.find(topic);
                return found == broker.end() ? std::nullopt : std::optional(found->second);
            },
            echo, 20, maker(7), maker.indices());
    };
    const auto held = caughtUp(maker);
    EXPECT_EQ(judge(held, 20), "");
    EXPECT_EQ(judge(held, 23), "");
    EXPECT_NE(judge(held, 19).find("the echo is 19"), std::string::npos);
    EXPECT_NE(judge(held, std::nullopt).find("the echo is missing"), std::string::npos);

    const std::string statuses = varTopic(vars::kLiSStatus);
    const std::string message5 = varTopic(vars::indexed(vars::kLiSMessageBase, 5));
    const std::vector<std::pair<std::string, std::function<void(std::map<std::string, std::string>&)>>>
        faults{
            {"machine 0", [&](auto& broker) { broker.erase(statuses); }},
            {"machine 0", [&](auto& broker) { broker[statuses] = "\"not an array\""; }},
            {"machine 5", [&](auto& broker) { broker[statuses] = broker[statuses].substr(0, 14) + "]"; }},
            {"machine 5",
             [&](auto& broker) { broker[statuses].replace(broker[statuses].size() - 5, 1, "9"); }},
            {"machine 5", [&](auto& broker) { broker[message5] = "\"Meldung 6/5\""; }},
            {"machine 5", [&](auto& broker) { broker.erase(message5); }},
        };
    for (const auto& [who, fault] : faults) {
        auto broker = held;
        fault(broker);
        EXPECT_NE(judge(broker, 20).find(who), std::string::npos)
            << broker[statuses] << " " << broker[message5];
    }
}

}  // namespace
}  // namespace orvanta::soak
