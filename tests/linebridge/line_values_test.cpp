#include <gtest/gtest.h>

#include "components/variable_names.h"
#include "linebridge/line_bridge.h"
#include "support/log_capture.h"
#include "support/recording_variables.h"
#include "support/scripted_line_display.h"

namespace orvanta {
namespace {

using namespace orvanta::testing;
using Access = RecordingVariables::Access;

class LineValuesTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto name : {vars::kLiSCharset, vars::kLiSStatus})
            variables.set(name, Variant::integerArray(std::vector<std::int16_t>(64, 9)));
        variables.set(vars::kLiGStatus, Variant::integerArray(std::vector<std::int16_t>(6, 9)));
        for (auto name : {vars::kLiStatus, vars::kLiABits, vars::kLiNeuP, vars::kLiNeuG, vars::kLiNeuS})
            variables.set(name, Variant::integer(0));
        for (int m = 0; m < 64; ++m) {
            variables.set(vars::indexed(vars::kLiSMessageBase, m), Variant::text(""));
            variables.set(vars::indexed(vars::kLiSFontBase, m), Variant::text(""));
        }
        const std::pair<std::int32_t, std::int32_t> languages[] = {
            {1031, 0}, {1033, 0}, {1045, 238}, {1049, 204}};
        for (const auto& [identifier, charSet] : languages) {
            LanguageRecord& entry =
                languageTable.entries[static_cast<std::size_t>(++languageTable.LanguageCount)];
            entry.Language = identifier;
            entry.CharSet = charSet;
            entry.FontName = charSet == 0 ? "Arial" : "Arial " + std::to_string(charSet);
        }
        for (int slot = 1; slot <= 6; ++slot) {
            records.groups[static_cast<std::size_t>(slot)].number = static_cast<std::int16_t>(slot - 1);
            records.groups[static_cast<std::size_t>(slot)].valid = kTrue;
        }
        records.LineConnected = kTrue;
    }

    // A foreign machine of group, with its live values in the line display.
    void foreignMachine(int m, int group, std::int32_t language, std::int16_t status, const char* message,
                        bool enabled = true) {
        MachineRecord& record = records.machines[static_cast<std::size_t>(m)];
        record.foreign = kTrue;
        record.enabled = vbBool(enabled);
        record.group = static_cast<std::int16_t>(group);
        LineMachine& live = display.line.machines[static_cast<std::size_t>(m)];
        live.languageId = language;
        live.status = status;
        live.message = message;
    }

    void runPass() {
        variables.clear();
        bridge.LinienWerteAufbereiten("Test");
    }

    std::vector<std::string> writtenNames() const {
        std::vector<std::string> names;
        for (const Access& write : variables.writes()) names.push_back(write.name);
        return names;
    }
    std::vector<std::int16_t> array(std::string_view name) const {
        std::vector<std::int16_t> elements;
        const Variant stored = variables.value(name);
        for (const Variant& element : stored.asArray()) elements.push_back(toInteger(element));
        return elements;
    }
    std::int16_t value(std::string_view name) const { return toInteger(variables.value(name)); }

    RecordingVariables variables;
    ScriptedLineDisplay display;
    LogCapture capture;
    LanguageTable languageTable;
    LineRecords records;
    JumpFlags jumps;
    LineBridge bridge{records, jumps, languageTable, variables, display, capture.log};
};

TEST_F(LineValuesTest, ADisconnectedLineShowsEveryGroupAndTheLineAsFive) {
    records.LineConnected = 0;
    foreignMachine(3, 0, 1033, 4, "");
    runPass();
    EXPECT_EQ(array(vars::kLiGStatus), (std::vector<std::int16_t>{5, 5, 5, 5, 5, 5}));
    EXPECT_EQ(value(vars::kLiStatus), 5);
    EXPECT_EQ(value(vars::kLiABits), 0);
    EXPECT_EQ(value(vars::kLiNeuG), 1);
    EXPECT_EQ(records.groups[1].priority, 6);
}

TEST_F(LineValuesTest, ForeignValuesAreWrittenOnceAndOnlyWhenTheyChange) {
    foreignMachine(3, 1, 1045, 3, "Film low");
    foreignMachine(7, 2, 1049, 1, "", false);  // not enabled: character set and font only
    runPass();
    EXPECT_EQ(array(vars::kLiSCharset)[3], 238);
    EXPECT_EQ(array(vars::kLiSCharset)[7], 204);
    EXPECT_EQ(array(vars::kLiSCharset)[0], 9) << "not a foreign machine: as read";
    EXPECT_EQ(array(vars::kLiSStatus)[3], 3);
    EXPECT_EQ(array(vars::kLiSStatus)[7], 9);
    EXPECT_EQ(toText(variables.value(vars::indexed(vars::kLiSMessageBase, 3))), "Film low");
    EXPECT_EQ(toText(variables.value(vars::indexed(vars::kLiSFontBase, 3))), "Arial 238");
    EXPECT_EQ(toText(variables.value(vars::indexed(vars::kLiSFontBase, 7))), "Arial 204");
    EXPECT_EQ(array(vars::kLiGStatus), (std::vector<std::int16_t>{9, 3, 9, 9, 9, 9}))
        << "unchanged slots as read";
    EXPECT_EQ(value(vars::kLiStatus), 3);
    EXPECT_EQ(value(vars::kLiNeuS), 1);
    EXPECT_EQ(value(vars::kLiNeuG), 1);
    EXPECT_EQ(display.texts({line_member::kMachineStatus}), std::vector<std::string>{"MachineStatus(3)"});

    runPass();
    EXPECT_EQ(writtenNames(),
              (std::vector<std::string>{std::string(vars::kLiSCharset), std::string(vars::kLiSStatus),
                                        std::string(vars::kLiGStatus), std::string(vars::kLiStatus)}))
        << "nothing changed: whole arrays and the line status only";
}

TEST_F(LineValuesTest, TiesGoToTheLowerMachineAndTheLowerSlot) {
    foreignMachine(4, 2, 1033, 2, "");  // warning, rank 3
    foreignMachine(5, 2, 1033, 6, "");  // rank 2
    foreignMachine(6, 2, 1033, 2, "");
    foreignMachine(8, 4, 1033, 2, "");
    runPass();
    EXPECT_EQ(array(vars::kLiGStatus), (std::vector<std::int16_t>{9, 9, 2, 9, 2, 9}));
    EXPECT_EQ(value(vars::kLiStatus), 2);

    display.line.machines[5].status = 5;  // 5 ranks highest of all
    display.line.machines[8].status = 3;
    runPass();
    EXPECT_EQ(array(vars::kLiGStatus), (std::vector<std::int16_t>{9, 9, 5, 9, 3, 9}));
    EXPECT_EQ(value(vars::kLiStatus), 5);
}

TEST_F(LineValuesTest, AnUnchangedGroupIsNotRewrittenWhateverTheRuntimeHolds) {
    foreignMachine(4, 0, 1033, 4, "");
    runPass();
    variables.set(vars::kLiGStatus, Variant::integerArray({7, 7, 7, 7, 7, 7}));
    runPass();
    EXPECT_EQ(array(vars::kLiGStatus), (std::vector<std::int16_t>{7, 7, 7, 7, 7, 7}));
}

TEST_F(LineValuesTest, TheJumpRequestFollowsTheLineStatusAndTheSwitches) {
    struct Case {
        std::int16_t status;
        std::int16_t alarms;
        std::int16_t warnings;
        std::int16_t suppressed;
        int bits;  // -1: nothing written
    };
    const Case cases[] = {{2, 0, -1, 0, 4},    {6, 0, -1, 0, 4},  {3, 0, -1, 0, 2},  {4, -1, 0, 0, 1},
                          {2, -1, 0, 0, -1},   {3, -1, 0, 0, -1}, {4, 0, -1, 0, -1}, {4, -1, -1, -1, -1},
                          {6, -1, -1, -1, -1}, {0, -1, -1, 0, 0}, {1, 0, 0, 0, 0},   {5, -1, -1, -1, 0},
                          {9, 0, 0, 0, 0}};
    foreignMachine(4, 0, 1033, 0, "");
    for (const Case& c : cases) {
        display.line.machines[4].status = c.status;
        jumps = {c.alarms, c.warnings, c.suppressed};
        runPass();
        bool written = false;
        for (const Access& write : variables.writes()) {
            if (write.name != vars::kLiABits) continue;
            written = true;
            EXPECT_EQ(toInteger(write.value), c.bits) << "status " << c.status;
        }
        EXPECT_EQ(written, c.bits >= 0) << "status " << c.status;
    }
}

TEST_F(LineValuesTest, StatusPriorityRanksFiveHighestAndSixJustAboveIdle) {
    const std::int16_t ranks[] = {1, 1, 3, 4, 5, 6, 2};
    for (std::int16_t status = 0; status <= 6; ++status) EXPECT_EQ(StatusPriority(status, 42), ranks[status]);
    EXPECT_EQ(StatusPriority(7, 42), 42);
    EXPECT_EQ(StatusPriority(-1, 3), 3);
}

TEST_F(LineValuesTest, AValueWhoseWriteFailedIsNotCountedAsSent) {
    foreignMachine(3, 1, 1045, 3, "Film low");
    variables.failWritesOf(vars::indexed(vars::kLiSMessageBase, 3), VbError(5, "busy", "Runtime"));
    variables.failWritesOf(vars::kLiSStatus, VbError(5, "busy", "Runtime"));
    runPass();
    EXPECT_EQ(records.sentValues[3].message, "");
    EXPECT_EQ(records.sentValues[3].rawStatus, 0);
    EXPECT_EQ(records.sentValues[3].charset, 238) << "its array was written";
}

TEST_F(LineValuesTest, AFailingCallIsLoggedAndThePassGoesOn) {
    foreignMachine(2, 0, 1033, 4, "");
    foreignMachine(3, 1, 1033, 3, "");
    display.failOn(line_member::kMachineStatus, VbError(440, "no answer", "Line"), 2);
    variables.set(vars::kLiGStatus, Variant::integerArray({0, 0}));  // too short for slots 3..6
    runPass();
    EXPECT_EQ(array(vars::kLiSStatus)[3], 3);
    EXPECT_EQ(value(vars::kLiStatus), 3);
    const auto faults = capture.linesStartingWith("F ");
    ASSERT_FALSE(faults.empty());
    EXPECT_EQ(faults[0], "F 14:03:07 07.12.2026 Fault 440; no answer; Line; Test.LinienWerteAufbereiten");
    EXPECT_EQ(value(vars::kLiNeuS), 1);
}

}  // namespace
}  // namespace orvanta
