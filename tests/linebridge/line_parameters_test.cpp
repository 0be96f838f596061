#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <tuple>

#include "bridge_writes.h"
#include "linebridge/line_bridge.h"
#include "ports/variable_catalogue.h"
#include "ports/variable_names.h"
#include "support/log_capture.h"
#include "support/recording_variables.h"
#include "support/scripted_line_display.h"

namespace orvanta {
namespace {

using namespace orvanta::testing;
using namespace line_member;

const std::string kCaller = "BrenkoLineOCX_NewLineParameter";
const std::string kTraceName = kCaller + ".LinienParaAufbereiten";

const std::vector<std::uint32_t> kParameterGetters = {
    kLanguageId,      kMachineEnabled, kMachineName,    kMachineCoName, kMachineNumber,    kMachineRemote,
    kMachineTextFlag, kMachineSymbol,  kMachineForeign, kMachineGroup,  kMachineGroupSlot, kGroupName};

bool isParameterVariable(std::string_view name) {
    for (std::string_view whole : {vars::kLiGFontCh, vars::kLiGFontNa, vars::kLiPEnable, vars::kLiPSymbol,
                                   vars::kLiPFremd, vars::kLiPFern})
        if (name == whole) return true;
    for (std::string_view base : {vars::kLiGGrupNaBase, vars::kLiPMaNameBase, vars::kLiPCoNameBase})
        if (name.substr(0, base.size()) == base) return true;
    return false;
}

// The value preparation that ends the pass turns the change flags into the new-data variables and clears
// them; so the flags this pass raised are those held when the runtime is first touched for anything else.
// Variables named in `unavailable` can be neither read nor written, those in `unwritable` not written,
// until the test takes them out again.
class ObservedVariables : public RecordingVariables {
public:
    std::function<void(std::string_view)> beforeAccess;
    std::set<std::string, std::less<>> unavailable;
    std::set<std::string, std::less<>> unwritable;

    Variant ReadVariable(std::string_view name) override {
        access(name);
        return RecordingVariables::ReadVariable(name);
    }
    std::int16_t WriteVariable(std::string_view name, const Variant& value) override {
        access(name);
        if (unwritable.contains(name)) throw VbError(440, "Runtime busy", "VariableAccess");
        return RecordingVariables::WriteVariable(name, value);
    }

private:
    void access(std::string_view name) {
        beforeAccess(name);
        if (unavailable.contains(name)) throw VbError(440, "Runtime busy", "VariableAccess");
    }
};

class LineParametersTest : public ::testing::Test {
protected:
    LineParametersTest() {
        for (const CatalogueEntry& entry : builtinVariables())
            variables.set(entry.name, entry.initialValue.isEmpty() ? zeroValue(entry.type, entry.elementCount)
                                                                   : entry.initialValue);
        variables.beforeAccess = [this](std::string_view name) {
            if (!flags && !isParameterVariable(name)) flags = records.changes;
        };
        int i = 0;
        for (auto [id, charSet, font] : {std::tuple{1031, 0, "Arial"},
                                         {1033, 0, "Tahoma"},
                                         {1036, 1, "Times New Roman"},
                                         {1049, 204, "Arial Cyr"}}) {
            LanguageRecord& entry = languages.entries[static_cast<std::size_t>(++i)];
            entry.Language = id;
            entry.CharSet = charSet;
            entry.FontName = font;
        }
        languages.LanguageCount = 4;

        LineDescription& line = display.line;
        line.languageId = 1036;
        line.groups[2] = "Filling";
        line.groups[5] = "Closing";
        line.groups[7] = "Labelling";
        add(0, "Filler", "F1", 1, 3, false, 2).groupSlots = {2, 5, -1, -1, -1, -1};
        add(1, "Capper", "C1", 2, 4, false, 5).remote = true;
        add(2, "Labeller", "", 0, 9, true, 7);
        add(3, "Ghost", "", 0, 5, true, 2).enabled = false;
    }

    LineMachine& machine(int m) { return display.line.machines[static_cast<std::size_t>(m)]; }
    LineMachine& add(int m, const char* name, const char* coName, int number, int symbol, bool foreign,
                     int group) {
        LineMachine& added = machine(m);
        added.enabled = true;
        added.name = name;
        added.coName = coName;
        added.number = static_cast<std::int16_t>(number);
        added.symbol = static_cast<std::int16_t>(symbol);
        added.foreign = foreign;
        added.group = static_cast<std::int16_t>(group);
        return added;
    }

    void runPass() {
        records.changes = {};
        flags.reset();
        variables.clear();
        display.clearCalls();
        capture.clear();
        bridge.LinienParaAufbereiten(kCaller);
        if (!flags) flags = records.changes;
    }

    // The parameter variables and the new-data flags written.
    std::vector<std::string> writes() const {
        return writeTexts(variables, [](std::string_view name) {
            return isParameterVariable(name) || name == vars::kLiNeuP || name == vars::kLiNeuG ||
                   name == vars::kLiNeuS;
        });
    }
    std::vector<int> elements(std::string_view name, int count = 4) const {
        std::vector<int> out;
        for (int m = 0; m < count; ++m)
            out.push_back(toInteger(variables.value(name).asArray()[static_cast<std::size_t>(m)]));
        return out;
    }
    // The machine getters asked for one machine.
    std::vector<std::string> callsFor(int m) const {
        std::vector<std::string> out;
        for (const std::string& call : display.texts(kParameterGetters))
            if (call.starts_with("Machine") && (call.ends_with("(" + std::to_string(m) + ")") ||
                                                call.ends_with(", " + std::to_string(m) + ")")))
                out.push_back(call);
        return out;
    }
    std::vector<std::string> faults() const {
        std::vector<std::string> out;
        for (const std::string& line : capture.linesStartingWith("F "))
            if (line.ends_with("; " + kTraceName))
                out.push_back(line.substr(std::string("F 14:03:07 07.12.2026 ").size()));
        return out;
    }
    // The change flags this pass raised.
    std::string raised() const {
        std::string out;
        if (flags->parametersChanged == kTrue) out += "parameters ";
        if (flags->groupsChanged == kTrue) out += "groups ";
        if (flags->fontChanged == kTrue) out += "font ";
        return out;
    }
    const MachineRecord& record(int m) const { return records.machines[static_cast<std::size_t>(m)]; }
    // A machine record in one line: name, co-name, number, remote, symbol, text flag, enabled, group,
    // foreign, slots 1..6, in display.
    std::string describe(int m) const {
        const MachineRecord& r = record(m);
        std::string out = r.name + "|" + r.coName;
        for (int field : {r.number, r.remote, r.symbol, r.textFlag, r.enabled, r.group, r.foreign})
            out += "|" + std::to_string(field);
        for (int slot = 1; slot <= kLineSlotCount; ++slot)
            out += (slot == 1 ? "|" : " ") + std::to_string(r.slots[static_cast<std::size_t>(slot)]);
        return out + "|" + std::to_string(r.inDisplay);
    }

    ObservedVariables variables;
    ScriptedLineDisplay display;
    LogCapture capture;
    LineRecords records;
    JumpFlags jumps;
    LanguageTable languages;
    LineBridge bridge{records, jumps, languages, variables, display, capture.log};
    std::optional<ChangeFlags> flags;
};

TEST_F(LineParametersTest, AFirstPassFetchesTheLineInOrderAndWritesEverythingThatDiffers) {
    runPass();
    const std::vector<std::string> calls = display.texts(kParameterGetters);
    EXPECT_EQ(calls.front(), "LanguageId()");
    EXPECT_EQ(calls[1], "MachineEnabled(0)");
    EXPECT_EQ(calls[64], "MachineEnabled(63)") << "every machine's enabled flag before any detail";
    EXPECT_EQ(calls[calls.size() - 32], "GroupName(0)");
    EXPECT_EQ(calls.back(), "GroupName(31)");
    EXPECT_EQ(callsFor(0), (std::vector<std::string>{
                               "MachineEnabled(0)", "MachineCoName(0)", "MachineNumber(0)",
                               "MachineRemote(0)", "MachineTextFlag(0)", "MachineName(0)", "MachineSymbol(0)",
                               "MachineForeign(0)", "MachineGroup(0)", "MachineGroupSlot(1, 0)",
                               "MachineGroupSlot(2, 0)", "MachineGroupSlot(3, 0)", "MachineGroupSlot(4, 0)",
                               "MachineGroupSlot(5, 0)", "MachineGroupSlot(6, 0)"}));
    EXPECT_EQ(callsFor(3), (std::vector<std::string>{"MachineEnabled(3)", "MachineForeign(3)"}));

    // A machine not enabled has symbol 0; foreign is fetched for every machine.
    EXPECT_EQ(writes(), (std::vector<std::string>{
                            "li_g_fontch=1", "li_g_fontna=Times New Roman", "li_g_grupna0=Filling",
                            "li_g_grupna1=Closing", "li_p_enable=[1 1 0*62]", "li_p_maname0=Filler",
                            "li_p_maname1=Capper", "li_p_maname2=Labeller", "li_p_symbol=[3 4 9 0*61]",
                            "li_p_fremd=[0 0 1 1 0*60]", "li_p_fern=[0 1 0*62]", "li_p_coname0=F1",
                            "li_p_coname1=C1", "li_neu_p=1", "li_neu_g=1", "li_neu_s=1"}));
    EXPECT_EQ(raised(), "parameters groups font ");

    EXPECT_EQ(record(3).group, -1);
    EXPECT_EQ(record(3).slots[1], -1);
    EXPECT_EQ(records.groups[2].valid, kTrue);
    EXPECT_EQ(records.groups[3].valid, kFalse);

    const std::vector<std::string> lines = capture.lines();
    EXPECT_EQ(lines.front(), "D 14:03:07 07.12.2026 " + kTraceName + " An ");
    EXPECT_EQ(lines[1], "S 14:03:07 07.12.2026 " + kTraceName + ".SucheFont An ");
    EXPECT_EQ(lines.back(), "D 14:03:07 07.12.2026 " + kTraceName + " En ");
    EXPECT_TRUE(faults().empty());
}

TEST_F(LineParametersTest, LaterPassesWriteOnlyWhatChangedAndAShownSetChangeRaisesNoFlag) {
    runPass();
    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_p_enable=[1 1 0*62]", "li_p_symbol=[3 4 9 0*61]",
                                                  "li_p_fremd=[0 0 1 1 0*60]", "li_p_fern=[0 1 0*62]"}));
    EXPECT_EQ(raised(), "");

    machine(2).group = 2;  // into the shown group, nothing else changes
    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_p_enable=[1*3 0*61]", "li_p_symbol=[3 4 9 0*61]",
                                                  "li_p_fremd=[0 0 1 1 0*60]", "li_p_fern=[0 1 0*62]"}))
        << "which machines are shown raises no flag";

    display.line.languageId = 1049;
    machine(1).coName = "C2";
    display.line.groups[5] = "Sealing";
    machine(2).remote = true;
    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{
                            "li_g_fontch=204", "li_g_fontna=Arial Cyr", "li_g_grupna1=Sealing",
                            "li_p_enable=[1*3 0*61]", "li_p_symbol=[3 4 9 0*61]", "li_p_fremd=[0 0 1 1 0*60]",
                            "li_p_fern=[0 1 1 0*61]", "li_p_coname1=C2", "li_neu_p=1", "li_neu_g=1"}));
    EXPECT_EQ(raised(), "parameters groups font ");

    languages.entries[4].FontName = "Tahoma";  // only the font name of the language changes
    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_g_fontna=Tahoma", "li_p_enable=[1*3 0*61]",
                                                  "li_p_symbol=[3 4 9 0*61]", "li_p_fremd=[0 0 1 1 0*60]",
                                                  "li_p_fern=[0 1 1 0*61]", "li_neu_g=1"}));
    EXPECT_EQ(raised(), "font ");

    languages.entries[4].CharSet = 186;  // and then only its character set
    runPass();
    EXPECT_EQ(writes().front(), "li_g_fontch=186");
    EXPECT_EQ(writes().back(), "li_neu_g=1");
    EXPECT_EQ(raised(), "font ");

    // Each of these alone is a change of the parameters.
    const std::function<void()> changes[] = {
        [&] { machine(0).name = "Filler 2"; }, [&] { machine(0).coName = "F2"; },
        [&] { machine(0).symbol = 5; }, [&] { machine(0).remote = true; },
        [&] { machine(1).foreign = true; }};
    for (const auto& change : changes) {
        change();
        runPass();
        EXPECT_EQ(raised(), "parameters ");
    }
}

TEST_F(LineParametersTest, AnEnabledMachineIsFetchedWholeAndOneNoLongerEnabledIsCleared) {
    machine(1).textFlag = true;
    machine(1).groupSlots = {0, 7, -1, -1, -1, 5};  // not the reference machine: only kept
    runPass();
    EXPECT_EQ(describe(1), "Capper|C1|2|-1|4|-1|-1|5|0|0 7 -1 -1 -1 5|-1");
    EXPECT_EQ(describe(3), "||0|0|0|0|0|-1|-1|-1 -1 -1 -1 -1 -1|0") << "foreign is fetched all the same";

    machine(1).enabled = false;
    runPass();
    EXPECT_EQ(describe(1), "||0|0|0|0|0|-1|0|-1 -1 -1 -1 -1 -1|0");
    EXPECT_EQ(writes(), (std::vector<std::string>{
                            "li_p_enable=[1 0*63]", "li_p_maname1=", "li_p_symbol=[3 0 9 0*61]",
                            "li_p_fremd=[0 0 1 1 0*60]", "li_p_fern=[0*64]", "li_p_coname1=", "li_neu_p=1"}));

    add(5, "", "", 0, 0, false, 9);  // nothing of it differs from an empty slot but its enabled flag
    display.line.groups[0] = "Infeed";
    display.line.groups[9] = "Sorting";
    machine(0).groupSlots = {2, 5, 0, -1, -1, 9};  // group 0 is a group like any other
    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_g_grupna2=Infeed", "li_g_grupna5=Sorting",
                                                  "li_p_enable=[1 0*4 1 0*58]", "li_p_symbol=[3 0 9 0*61]",
                                                  "li_p_fremd=[0 0 1 1 0*60]", "li_p_fern=[0*64]",
                                                  "li_neu_p=1", "li_neu_g=1"}));
    EXPECT_EQ(raised(), "parameters groups ");
}

TEST_F(LineParametersTest, ALanguageIdentifierBelowOneIsTakenAs1033) {
    for (std::int32_t id : {0, -7}) {
        display.line.languageId = id;
        runPass();
        EXPECT_EQ(records.font.fontName, "Tahoma");
    }
    display.line.languageId = 1;  // the lowest identifier taken as it is
    languages.entries[1].Language = 1;
    runPass();
    EXPECT_EQ(records.font.fontName, "Arial");
    display.line.languageId = 0;
    languages.LanguageCount = 3;  // too few to look up: the identifier stays as it was given
    runPass();
    EXPECT_EQ(records.font.languageId, 1033);
}

TEST_F(LineParametersTest, TheReferenceMachineIsTheFirstEnabledOwnMachineOneElseMachineZero) {
    machine(0).foreign = true;  // a foreign machine 1 does not count
    machine(0).groupSlots = {7, -1, -1, -1, -1, -1};
    add(4, "Own 1", "", 1, 0, false, 5).groupSlots = {5, -1, -1, -1, -1, -1};
    machine(4).enabled = false;  // an own machine 1 that is not enabled does not count either
    runPass();
    EXPECT_EQ(records.groups[1].name, "Labelling") << "no reference machine: machine 0's slots";
    EXPECT_EQ(elements(vars::kLiPEnable), (std::vector<int>{0, 0, 1, 0}));

    machine(4).enabled = true;
    runPass();
    EXPECT_EQ(records.groups[1].name, "Closing");
    EXPECT_EQ(elements(vars::kLiPEnable, 5), (std::vector<int>{0, 1, 0, 0, 1}));

    machine(0).foreign = false;  // two own machines 1: the lower one
    runPass();
    EXPECT_EQ(records.groups[1].name, "Labelling");
}

TEST_F(LineParametersTest, ANegativeSlotShowsNoGroupButOnlyMinusOneIsLeftOutOfTheMatch) {
    runPass();
    machine(0).groupSlots = {-2, 5, -1, -1, -1, -1};
    machine(1).group = -1;  // enabled, but in no group
    machine(2).group = -2;
    machine(3).group = -2;  // not enabled: its group is -1 whatever the display says
    runPass();
    EXPECT_EQ(records.groups[1].number, -2);
    EXPECT_EQ(records.groups[1].name, "");
    EXPECT_EQ(records.groups[1].valid, kFalse);
    EXPECT_EQ(writes().front(), "li_g_grupna0=");
    EXPECT_EQ(raised(), "groups ");
    EXPECT_EQ(elements(vars::kLiPEnable), (std::vector<int>{0, 0, 1, 0}));
}

TEST_F(LineParametersTest, AFailingGetterOrAGroupAbove31IsLoggedAndTheFieldKeepsItsValue) {
    runPass();
    machine(1).name = "Renamed";
    machine(1).symbol = 6;
    machine(0).groupSlots = {2, 32, -1, -1, -1, -1};
    display.failOn(kMachineName, VbError(440, "Name unavailable", "ScriptedLineDisplay"), 1);
    runPass();
    EXPECT_EQ(faults(),
              (std::vector<std::string>{
                  "Fault 440; Name unavailable; ScriptedLineDisplay; " + kTraceName,
                  "Fault 9; Display slot 2 shows group 32, outside 0..31; Orvanta; " + kTraceName}));
    EXPECT_EQ(record(1).name, "Capper");
    EXPECT_EQ(record(1).symbol, 6) << "the machine's other fields are still fetched";
    const auto after = callsFor(2);
    EXPECT_NE(std::find(after.begin(), after.end(), "MachineName(2)"), after.end());
    EXPECT_EQ(records.groups[2].number, 32);
    EXPECT_EQ(records.groups[2].name, "Closing");
    EXPECT_EQ(records.groups[2].valid, kTrue);
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_p_enable=[1 0*63]", "li_p_symbol=[3 6 9 0*61]",
                                                  "li_p_fremd=[0 0 1 1 0*60]", "li_p_fern=[0 1 0*62]",
                                                  "li_neu_p=1", "li_neu_g=1"}));
    EXPECT_EQ(raised(), "parameters groups ") << "the symbol and the slot's number changed";
    EXPECT_EQ(capture.lines().back(), "D 14:03:07 07.12.2026 " + kTraceName + " En ");
}

TEST_F(LineParametersTest, AnArrayThatCannotBeReadIsLoggedAndNotWritten) {
    variables.unavailable = {std::string(vars::kLiPSymbol)};
    variables.set(vars::kLiPFremd, Variant::integer(0));
    languages.entries[3].CharSet = 70000;
    runPass();
    EXPECT_EQ(faults(), (std::vector<std::string>{
                            "Fault 6; Overflow; Orvanta; " + kTraceName,
                            "Fault 440; Runtime busy; VariableAccess; " + kTraceName,
                            "Fault 13; Process variable 'Ch-1.int_linie_p<.li_p_fremd>' holds Integer, not "
                            "an array; Orvanta; " +
                                kTraceName}));
    EXPECT_EQ(writes(), (std::vector<std::string>{
                            "li_g_fontna=Times New Roman", "li_g_grupna0=Filling", "li_g_grupna1=Closing",
                            "li_p_enable=[1 1 0*62]", "li_p_maname0=Filler", "li_p_maname1=Capper",
                            "li_p_maname2=Labeller", "li_p_fern=[0 1 0*62]", "li_p_coname0=F1",
                            "li_p_coname1=C1", "li_neu_p=1", "li_neu_g=1", "li_neu_s=1"}));
    EXPECT_EQ(records.sentMachines[0].symbol, 0);
    EXPECT_EQ(records.sentMachines[2].foreign, kFalse);
}

TEST_F(LineParametersTest, AShortArrayGetsTheMachinesItHasRoomForAndOneFaultLine) {
    add(12, "Far", "", 0, 4, false, 5).remote = true;  // in the shown group 5, beyond the arrays' end
    for (std::string_view name : {vars::kLiPEnable, vars::kLiPSymbol, vars::kLiPFremd, vars::kLiPFern})
        variables.set(name, Variant::integerArray(std::vector<std::int16_t>(10, 7)));
    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{
                            "li_g_fontch=1", "li_g_fontna=Times New Roman", "li_g_grupna0=Filling",
                            "li_g_grupna1=Closing", "li_p_enable=[1 1 0*8]", "li_p_maname0=Filler",
                            "li_p_maname1=Capper", "li_p_maname2=Labeller", "li_p_maname12=Far",
                            "li_p_symbol=[3 4 9 0*7]", "li_p_fremd=[0 0 1 1 0*6]", "li_p_fern=[0 1 0*8]",
                            "li_p_coname0=F1", "li_p_coname1=C1", "li_neu_p=1", "li_neu_g=1", "li_neu_s=1"}));
    std::vector<std::string> expected;
    for (const char* name : {"enable", "symbol", "fremd", "fern"})
        expected.push_back("Fault 9; Process variable 'Ch-1.int_linie_p<.li_p_" + std::string(name) +
                           ">' holds 10 elements, elements 10..63 not stored; Orvanta; " + kTraceName);
    EXPECT_EQ(faults(), expected);
    EXPECT_EQ(records.sentMachines[1].remote, kTrue);
    EXPECT_EQ(records.sentMachines[2].foreign, kTrue);
    EXPECT_EQ(records.sentMachines[12].remote, kFalse) << "what had no element did not go out";
    EXPECT_EQ(records.sentMachines[12].symbol, 0);
}

TEST_F(LineParametersTest, WhatCouldNotBeWrittenIsWrittenAndFlaggedOnTheNextPass) {
    runPass();
    machine(0).name = "Filler 2";
    machine(0).coName = "F2";
    machine(0).symbol = 8;
    languages.entries[3].FontName = "Garamond";
    variables.unavailable = {vars::indexed(vars::kLiPMaNameBase, 0), vars::indexed(vars::kLiPCoNameBase, 0)};
    variables.unwritable = {std::string(vars::kLiPSymbol), std::string(vars::kLiGFontNa)};
    runPass();
    EXPECT_EQ(faults().size(), 4u);
    EXPECT_EQ(raised(), "") << "nothing new reached the runtime";

    variables.unavailable.clear();
    variables.unwritable.clear();
    runPass();
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_g_fontna=Garamond", "li_p_enable=[1 1 0*62]",
                                                  "li_p_maname0=Filler 2", "li_p_symbol=[8 4 9 0*61]",
                                                  "li_p_fremd=[0 0 1 1 0*60]", "li_p_fern=[0 1 0*62]",
                                                  "li_p_coname0=F2", "li_neu_p=1", "li_neu_g=1"}));
    EXPECT_EQ(raised(), "parameters font ");
}

}  // namespace
}  // namespace orvanta
