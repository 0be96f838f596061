#include <gtest/gtest.h>

#include "bridge_writes.h"
#include "linebridge/line_bridge.h"
#include "ports/variable_names.h"
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
        display.clearCalls();
        capture.clear();
        bridge.LinienWerteAufbereiten("Test");
    }

    std::vector<std::string> writes() const {
        return writeTexts(variables, [](std::string_view) { return true; });
    }
    // The writes of the group status, the line status, the jump request and the new-data flags.
    std::vector<std::string> statusWrites() const {
        return writeTexts(variables, [](std::string_view name) {
            return name == vars::kLiGStatus || name == vars::kLiStatus || name == vars::kLiABits ||
                   name == vars::kLiNeuP || name == vars::kLiNeuG || name == vars::kLiNeuS;
        });
    }
    std::vector<std::string> faults() const {
        std::vector<std::string> out;
        for (const std::string& line : capture.linesStartingWith("F "))
            out.push_back(line.substr(std::string("F 14:03:07 07.12.2026 ").size()));
        return out;
    }

    RecordingVariables variables;
    ScriptedLineDisplay display;
    LogCapture capture;
    LanguageTable languageTable;
    LineRecords records;
    JumpFlags jumps;
    LineBridge bridge{records, jumps, languageTable, variables, display, capture.log};
};

const std::string kTrace = "Test.LinienWerteAufbereiten";

TEST_F(LineValuesTest, APassWritesTheForeignMachinesValuesInOrderAndLaterPassesOnlyWhatChanged) {
    foreignMachine(0, 1, 1045, 3, "Film low");
    foreignMachine(7, 2, 1049, 1, "Stopped", false);  // not enabled: character set and font only
    // An own machine contributes to nothing, whatever its records hold.
    records.machines[5].enabled = kTrue;
    records.machines[5].group = 1;
    records.values[5] = {5, 6, "Own", "Own font", 7};
    display.line.machines[5].status = 4;
    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_s_charset=[238 9*6 204 9*56]", "li_s_status=[3 9*63]",
                                                  "li_s_message0=Film low", "li_s_font0=Arial 238",
                                                  "li_s_font7=Arial 204", "li_g_status=[9 3 9*4]",
                                                  "li_status=3", "li_neu_g=1", "li_neu_s=1"}));
    EXPECT_EQ(display.texts(), (std::vector<std::string>{"MachineLanguageId(0)", "MachineLanguageId(7)",
                                                         "MachineStatus(0)", "MachineMessage(0)"}));
    const std::string at = "14:03:07 07.12.2026 " + kTrace;
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"D " + at + " An ", "S " + at + ".SucheFont An ",
                                        "S " + at + ".SucheFont En ", "S " + at + ".SucheFont An ",
                                        "S " + at + ".SucheFont En ", "D " + at + " En "}));
    EXPECT_EQ(records.groups[2].priority, 4);

    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_s_charset=[238 9*6 204 9*56]", "li_s_status=[3 9*63]",
                                                  "li_g_status=[9 3 9*4]", "li_status=3"}))
        << "nothing changed: no string element and no new-data flag";

    display.line.machines[0].status = 4;
    display.line.machines[0].message = "";
    display.line.machines[7].languageId = 1033;
    jumps.SprungAlarme = kTrue;
    runPass();
    EXPECT_EQ(writes(),
              (std::vector<std::string>{"li_s_charset=[238 9*6 0 9*56]", "li_s_status=[4 9*63]",
                                        "li_s_message0=", "li_s_font7=Arial", "li_g_status=[9 4 9*4]",
                                        "li_status=4", "li_a_bits=1", "li_neu_g=1", "li_neu_s=1"}));
    EXPECT_EQ(faults(), std::vector<std::string>{});

    languageTable.entries[3].CharSet = 186;  // only the character set of machine 0's language
    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_s_charset=[186 9*6 0 9*56]", "li_s_status=[4 9*63]",
                                                  "li_g_status=[9 4 9*4]", "li_status=4", "li_a_bits=1",
                                                  "li_neu_s=1"}));
}

TEST_F(LineValuesTest, ADisconnectedLineShowsEveryGroupAndTheLineAsFive) {
    records.LineConnected = 0;
    foreignMachine(3, 0, 1033, 4, "");
    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_s_charset=[9*3 0 9*60]", "li_s_status=[9*3 4 9*60]",
                                                  "li_s_font3=Arial", "li_g_status=[5*6]", "li_status=5",
                                                  "li_a_bits=0", "li_neu_g=1", "li_neu_s=1"}));
    EXPECT_EQ(records.groups[1].priority, 6);
}

TEST_F(LineValuesTest, OnlyForeignEnabledMachinesOfAValidSlotCountAndTiesGoToTheLowerMachineAndSlot) {
    // Statuses 0 and 1 rank alike: the lower machine decides a group, the lower slot the line.
    foreignMachine(4, 0, 1033, 1, "");
    foreignMachine(5, 0, 1033, 0, "");
    foreignMachine(6, 2, 1033, 2, "");
    foreignMachine(8, 2, 1033, 1, "");
    foreignMachine(9, 5, 1033, 4, "");
    records.groups[6].valid = kFalse;     // shows group 5, but not validly
    foreignMachine(10, 20, 1033, 5, "");  // in a group no slot shows
    foreignMachine(11, 1, 1033, 5, "", false);
    records.values[11] = {5, 6, "", "", 0};
    records.machines[12] = records.machines[4];  // an own machine with a fault of its own
    records.machines[12].foreign = kFalse;
    records.values[12] = {5, 6, "", "", 0};
    runPass();
    EXPECT_EQ(statusWrites(), (std::vector<std::string>{"li_g_status=[1 9 2 9*3]", "li_status=2",
                                                        "li_neu_g=1", "li_neu_s=1"}));

    display.line.machines[6].status = 0;
    runPass();
    EXPECT_EQ(statusWrites(), (std::vector<std::string>{"li_g_status=[1 9 0 9*3]", "li_status=1",
                                                        "li_a_bits=0", "li_neu_g=1", "li_neu_s=1"}));

    records.groups[6].valid = kTrue;  // the sixth slot decides now
    runPass();
    EXPECT_EQ(statusWrites(),
              (std::vector<std::string>{"li_g_status=[1 9 0 9 9 4]", "li_status=4", "li_neu_g=1"}));

    display.line.machines[6].status = 3;  // a group changes, the line does not
    runPass();
    EXPECT_EQ(statusWrites(), (std::vector<std::string>{"li_g_status=[1 9 3 9 9 4]", "li_status=4",
                                                        "li_neu_g=1", "li_neu_s=1"}));
}

TEST_F(LineValuesTest, TheChangeFlagsBecomeTheNewDataVariablesAndAreCleared) {
    records.changes.parametersChanged = kTrue;
    runPass();
    EXPECT_EQ(statusWrites(),
              (std::vector<std::string>{"li_g_status=[9*6]", "li_status=0", "li_a_bits=0", "li_neu_p=1"}));

    records.changes.fontChanged = kTrue;
    runPass();
    EXPECT_EQ(statusWrites(),
              (std::vector<std::string>{"li_g_status=[9*6]", "li_status=0", "li_a_bits=0", "li_neu_g=1"}));

    records.lineStatus = 3;  // the line status of the last pass differs
    runPass();
    EXPECT_EQ(statusWrites(),
              (std::vector<std::string>{"li_g_status=[9*6]", "li_status=0", "li_a_bits=0", "li_neu_g=1"}));

    runPass();
    EXPECT_EQ(statusWrites(), (std::vector<std::string>{"li_g_status=[9*6]", "li_status=0", "li_a_bits=0"}));
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

TEST_F(LineValuesTest, AValueThatDidNotReachTheRuntimeIsNotCountedAsSent) {
    foreignMachine(3, 1, 1045, 3, "Film low");
    foreignMachine(4, 1, 1033, 4, "");
    display.failOn(line_member::kMachineStatus, VbError(440, "no answer", "Line"), 4);
    display.failOn(line_member::kMachineLanguageId, VbError(440, "no language", "Line"), 4);
    variables.set(vars::kLiSCharset, Variant::integer(0));
    variables.failWritesOf(vars::indexed(vars::kLiSMessageBase, 3), VbError(5, "busy", "Runtime"));
    variables.failWritesOf(vars::kLiSStatus, VbError(5, "busy", "Runtime"));
    variables.failReadsOf(vars::kLiGStatus, VbError(5, "not now", "Runtime"));
    runPass();
    EXPECT_EQ(faults(),
              (std::vector<std::string>{
                  "Fault 13; Process variable 'Ch-1.int_linie_s<.li_s_charset>' holds Integer, not an array; "
                  "Orvanta; " +
                      kTrace,
                  "Fault 440; no language; Line; " + kTrace, "Fault 440; no answer; Line; " + kTrace,
                  "Fault 5; busy; Runtime; " + kTrace, "Fault 5; busy; Runtime; " + kTrace,
                  "Fault 5; not now; Runtime; " + kTrace}));
    EXPECT_EQ(writes(),
              (std::vector<std::string>{"li_s_font3=Arial 238", "li_status=3", "li_neu_g=1", "li_neu_s=1"}))
        << "an array that could not be read is not written";
    EXPECT_EQ(records.sentValues[3].charset, 0);
    EXPECT_EQ(records.sentValues[3].rawStatus, 0);
    EXPECT_EQ(records.sentValues[3].message, "");
    EXPECT_EQ(records.sentValues[3].fontName, "Arial 238");
    EXPECT_EQ(records.values[4].rawStatus, 0) << "a failed fetch keeps the last answer";
    EXPECT_EQ(records.values[4].fontName, "") << "not the font of machine 3's language";
}

TEST_F(LineValuesTest, AShortArrayGetsWhatFitsAndOneFaultLineForTheRest) {
    foreignMachine(2, 0, 1045, 4, "");
    foreignMachine(5, 1, 1049, 3, "");
    foreignMachine(9, 1, 1049, 3, "");
    for (auto name : {vars::kLiSCharset, vars::kLiSStatus})
        variables.set(name, Variant::integerArray(std::vector<std::int16_t>(5, 9)));
    variables.set(vars::kLiGStatus, Variant::integerArray({9}));
    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_s_charset=[9 9 238 9 9]", "li_s_status=[9 9 4 9 9]",
                                                  "li_s_font2=Arial 238", "li_s_font5=Arial 204",
                                                  "li_s_font9=Arial 204", "li_g_status=[4]", "li_status=4",
                                                  "li_neu_g=1", "li_neu_s=1"}));
    const std::string holds = "Fault 9; Process variable 'Ch-1.int_linie_";
    EXPECT_EQ(faults(),
              (std::vector<std::string>{
                  holds + "s<.li_s_charset>' holds 5 elements, elements 5, 9 not stored; Orvanta; " + kTrace,
                  holds + "s<.li_s_status>' holds 5 elements, elements 5, 9 not stored; Orvanta; " + kTrace,
                  holds + "g<.li_g_status>' holds 1 elements, elements 1 not stored; Orvanta; " + kTrace}));
    EXPECT_EQ(records.sentValues[2].charset, 238);
    EXPECT_EQ(records.sentValues[2].rawStatus, 4);
    EXPECT_EQ(records.sentValues[5].charset, 0) << "machine 5 has no element to go to";
    EXPECT_EQ(records.sentValues[5].rawStatus, 0);
}

}  // namespace
}  // namespace orvanta
