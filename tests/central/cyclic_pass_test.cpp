#include "central/cyclic_pass.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "ports/variable_names.h"
#include "support/log_capture.h"
#include "support/manual_event_loop.h"
#include "support/recording_variables.h"
#include "support/scripted_line_display.h"

namespace orvanta {
namespace {

using namespace orvanta::testing;
using Access = RecordingVariables::Access;
using ::testing::ElementsAre;

// Texts as "<key>/<language>" (and "/<flags>" unless they are 0), or a failure of the component once
// asked to.
struct FakeTexts : TextDatabase {
    void Init(const std::string&) override {}
    void Open() override {}
    std::string GetText(std::int32_t language, const std::string& key, std::int32_t flags) override {
        ++calls;
        if (onGetText) onGetText();
        if (failing) throw VbError(440, "Texts unreadable", "Zervmdb");
        return key + "/" + std::to_string(language) + (flags != 0 ? "/" + std::to_string(flags) : "");
    }
    std::optional<std::string> textIn(std::int32_t language, const std::string& key) override {
        return GetText(language, key, 0);
    }
    void Close() override {}
    int calls = 0;
    bool failing = false;
    std::function<void()> onGetText;
};

struct Alarm {
    int table;
    int machine;
    const char* varName;
    int bitNo;
    int priority;
    int fault;
    int type = 2;
    int sensor1 = 0;
    std::int16_t anzeigeStatus = -1;  // -1: the table's usual status
};

class CyclicPassTest : public ::testing::Test {
protected:
    void SetUp() override {
        state.plant.AnzahlMaschinen = 5;
        state.Sprache = "1031";
        for (auto name :
             {vars::kLiHStatus, vars::kLiHNummer, vars::kLiHMasch, vars::kLiLFault, vars::kLiLAlarmNo,
              vars::kLiLAlarmT, vars::kLiLSensor1, vars::kLiLSensor2, vars::kLiLNeu})
            variables.set(name, Variant::integer(0));
        for (int m = 1; m <= 5; ++m)
            variables.set(vars::indexed(vars::kLiStatusPlcBase, m), Variant::integer(m * 10));
        capture.settings.Logdaten = 0;
    }

    void add(const Alarm& alarm) {
        AlarmTable& table = alarm.table == 1   ? alarms.AlarmTabelle1
                            : alarm.table == 2 ? alarms.AlarmTabelle2
                                               : alarms.AlarmTabelle3;
        AlarmDef& entry = table.at(alarm.machine, table.append(alarm.machine));
        entry.Type = static_cast<std::int16_t>(alarm.type);
        entry.VarName = alarm.varName;
        entry.BitNo = static_cast<std::int16_t>(alarm.bitNo);
        entry.Priority = static_cast<std::int16_t>(alarm.priority);
        entry.AlarmText = "T" + std::to_string(alarm.fault);
        entry.Fault = static_cast<std::int16_t>(alarm.fault);
        entry.Ident = static_cast<std::int16_t>(alarm.fault + 1000);
        entry.Sensor1 = static_cast<std::int16_t>(alarm.sensor1);
        entry.Sensor2 = static_cast<std::int16_t>(alarm.machine);
        entry.AnzeigeStatus = alarm.anzeigeStatus >= 0 ? alarm.anzeigeStatus
                              : alarm.table == 1       ? 4
                              : alarm.table == 2       ? 2
                                                       : 0;
        if (!variables.has(alarm.varName)) variables.set(alarm.varName, Variant::integer(0));
    }

    void slot(int index, int number, bool textFlag = false, bool enabled = true, bool foreign = false) {
        MachineRecord& machine = state.line.machines[static_cast<std::size_t>(index)];
        machine.number = static_cast<std::int16_t>(number);
        machine.textFlag = vbBool(textFlag);
        machine.enabled = vbBool(enabled);
        machine.foreign = vbBool(foreign);
    }

    void setBits(const char* name, int value) {
        variables.set(name, Variant::integer(static_cast<std::int16_t>(value)));
    }
    void visualisation(int status, int fault, int machine) {
        variables.set(vars::kLiHStatus, Variant::integer(static_cast<std::int16_t>(status)));
        variables.set(vars::kLiHNummer, Variant::integer(static_cast<std::int16_t>(fault)));
        variables.set(vars::kLiHMasch, Variant::integer(static_cast<std::int16_t>(machine)));
    }

    // The definitions as the test left them, then one pass.
    void runPass() {
        pass.prepare();
        variables.clear();
        display.clearCalls();
        pass.TimerDaten_Timer();
    }

    // The six line-alarm writes of the pass, as (last part of the name, value).
    std::vector<std::string> published() const {
        std::vector<std::string> result;
        for (const Access& write : variables.writes())
            result.push_back(write.name.substr(write.name.find("<.") + 2) + "=" + toText(write.value));
        return result;
    }

    std::vector<std::string> slotCalls(int index) const {
        std::vector<std::string> result;
        const std::string prefix = "(" + std::to_string(index) + ",";
        for (const std::string& call : display.writes())
            if (call.find(prefix) != std::string::npos) result.push_back(call);
        return result;
    }

    RecordingVariables variables;
    ScriptedLineDisplay display;
    LogCapture capture;
    ManualEventLoop loop;
    CentralState state;
    AlarmDefinitions alarms;
    FakeTexts* texts = nullptr;
    TextDatabaseHandle VisuText{[this] {
        auto made = std::make_unique<FakeTexts>();
        texts = made.get();
        return made;
    }};
    Timer TimerDaten{loop, "TimerDaten", 1000, [this] { pass.TimerDaten_Timer(); }};
    CyclicPass pass{state, alarms, variables, display, VisuText, capture.log, TimerDaten};
};

TEST_F(CyclicPassTest, WithoutAlarmsTheFirstPassPublishesNothingAndShowsEveryOwnSlotIdle) {
    slot(0, 1);
    slot(5, 2);
    runPass();
    EXPECT_TRUE(variables.writes().empty());
    EXPECT_EQ(display.writes(),
              (std::vector<std::string>{"PutMachineText(0, \"\")", "PutMachineLanguage(0, 1031)",
                                        "PutMachineStatus(0, 1)", "PutMachineText(5, \"\")",
                                        "PutMachineLanguage(5, 1031)", "PutMachineStatus(5, 1)",
                                        "DataUpdated(True)"}));
    EXPECT_TRUE(TimerDaten.enabled());
    EXPECT_TRUE(capture.lines().empty()) << "data traces are off";

    capture.settings.Logdaten = -1;
    runPass();
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"D 14:03:07 07.12.2026 TimerDaten_Timer An ",
                                                         "D 14:03:07 07.12.2026 TimerDaten_Timer En "}));
}

// The main form makes its pass once the definitions are read: the pass it makes is ready to run.
TEST_F(CyclicPassTest, APassMadeAfterTheDefinitionsAreReadNeedsNoFurtherPreparation) {
    add({1, 1, "M1", 0, 5, 11});
    slot(0, 1);
    setBits("M1", 1);
    CyclicPass fresh{state, alarms, variables, display, VisuText, capture.log, TimerDaten};
    fresh.TimerDaten_Timer();
    EXPECT_EQ(published(), (std::vector<std::string>{"li_l_fault>=11", "li_l_alarmno>=1011", "li_l_alarmt>=2",
                                                     "li_l_sensor1>=0", "li_l_sensor2>=1", "li_l_neu>=1"}));
}

TEST_F(CyclicPassTest, TheHighestPriorityWinsAndTheLowestMachineOnATie) {
    add({1, 1, "M1", 0, 5, 11});
    add({1, 2, "M2", 0, 5, 21});
    add({1, 2, "M2", 1, 9, 22});
    slot(0, 1);
    slot(1, 2);
    setBits("M1", 1);
    setBits("M2", 1);
    VisuText.use();
    std::vector<bool> timerAtText;
    texts->onGetText = [&] { timerAtText.push_back(TimerDaten.enabled()); };
    TimerDaten.setEnabled(true);
    runPass();
    EXPECT_EQ(published(), (std::vector<std::string>{"li_l_fault>=11", "li_l_alarmno>=1011", "li_l_alarmt>=2",
                                                     "li_l_sensor1>=0", "li_l_sensor2>=1", "li_l_neu>=1"}));
    EXPECT_EQ(timerAtText, (std::vector<bool>{false, false})) << "no pass starts within a pass";
    EXPECT_TRUE(TimerDaten.enabled());
    EXPECT_EQ(slotCalls(0)[0], "PutMachineText(0, \"T11/1031\")");
    EXPECT_EQ(slotCalls(1)[0], "PutMachineText(1, \"T21/1031\")");
    EXPECT_EQ(slotCalls(1)[2], "PutMachineStatus(1, 4)");

    setBits("M2", 3);  // machine 2's priority 9 now beats machine 1's 5
    runPass();
    EXPECT_EQ(published().front(), "li_l_fault>=22");
    EXPECT_EQ(slotCalls(1)[0], "PutMachineText(1, \"T22/1031\")");

    add({1, 5, "M5", 0, 12, 51});
    slot(9, 5);
    setBits("M5", 1);
    runPass();
    EXPECT_EQ(published().front(), "li_l_fault>=51") << "the last machine";
    EXPECT_EQ(slotCalls(9)[0], "PutMachineText(9, \"T51/1031\")");
}

TEST_F(CyclicPassTest, AmongEqualPrioritiesTheLowerPositionWinsUnlessTheVisualisationShowsTheOther) {
    add({1, 3, "A", 0, 0, 30});  // priority 0: chosen only through the visualisation
    add({1, 3, "A", 1, 7, 31});
    add({1, 3, "A", 2, 7, 32});
    slot(4, 3);
    setBits("A", 7);
    runPass();
    EXPECT_EQ(published().front(), "li_l_fault>=31");

    visualisation(4, 32, 3);
    runPass();
    EXPECT_EQ(published().front(), "li_l_fault>=32");

    setBits("A", 1);
    visualisation(4, 30, 3);
    runPass();
    EXPECT_EQ(slotCalls(4)[0], "PutMachineText(4, \"T30/1031\")") << "seeded, though of priority 0";
    EXPECT_EQ(published().front(), "li_l_fault>=0") << "priority 0 never wins the line";
}

TEST_F(CyclicPassTest, TheSeedIsBeatenOnlyByAStrictlyHigherPriority) {
    add({1, 1, "S", 0, 9, 71});  // off
    add({1, 1, "S", 1, 5, 72});
    add({1, 1, "S", 2, 7, 73});
    add({1, 2, "N", 0, -3, 81});
    add({1, 2, "N", 1, 0, 82});
    slot(0, 1);
    slot(1, 2);
    setBits("S", 6);
    setBits("N", 3);
    visualisation(4, 72, 1);
    runPass();
    EXPECT_EQ(slotCalls(0).front(), "PutMachineText(0, \"T73/1031\")") << "7 beats the seed's 5";
    EXPECT_EQ(slotCalls(1).front(), "PutMachineText(1, \"\")") << "priorities of 0 or less only by a seed";
    visualisation(4, 81, 2);
    runPass();
    EXPECT_EQ(slotCalls(1).front(), "PutMachineText(1, \"T82/1031\")") << "0 beats the seed's -3";
}

TEST_F(CyclicPassTest, ALineAlarmIsWrittenEverySecondUntilTheVisualisationEchoesIt) {
    add({1, 1, "M1", 4, 5, 11});
    slot(0, 1);
    setBits("M1", 16);
    for (int pass = 0; pass < 3; ++pass) {
        runPass();
        EXPECT_EQ(published().size(), 6u) << pass;
    }
    visualisation(4, 11, 1);
    runPass();
    EXPECT_TRUE(published().empty());

    setBits("M1", 0);  // the alarm goes
    runPass();
    EXPECT_EQ(published(), (std::vector<std::string>{"li_l_fault>=0", "li_l_alarmno>=0", "li_l_alarmt>=0",
                                                     "li_l_sensor1>=0", "li_l_sensor2>=0", "li_l_neu>=1"}));
    runPass();
    EXPECT_EQ(published().size(), 6u) << "until li_h_nummer reads 0";
    visualisation(0, 0, 0);
    runPass();
    EXPECT_TRUE(published().empty());
}

TEST_F(CyclicPassTest, WarningsShowOnTheirMachineWhileTheLineAlarmComesFromTableThree) {
    add({2, 2, "W", 3, 9, 40, 8, 2});      // machine 2's warning, display status 2
    add({2, 3, "W3", 0, 4, 50, 8, 4, 3});  // machine 3's, display status 3
    add({2, 5, "W5", 1, 4, 57, 8, 4, 6});  // machine 5's, display status 6
    add({3, 2, "W", 4, 6, 45, 18, 2});     // the line messages of machines 2 to 5, equal priorities
    add({3, 3, "W3", 1, 6, 46, 18, 4});
    add({3, 4, "W4", 0, 6, 47, 18, 4});
    add({3, 5, "W5", 0, 6, 56, 18, 1});
    slot(1, 2);
    slot(2, 3);
    slot(5, 4);
    slot(7, 5);
    setBits("W", 8 + 16);
    setBits("W3", 3);
    setBits("W4", 1);
    setBits("W5", 3);
    runPass();
    EXPECT_EQ(slotCalls(1),
              (std::vector<std::string>{"PutMachineText(1, \"T40/1031\")", "PutMachineLanguage(1, 1031)",
                                        "PutMachineStatus(1, 2)"}));
    EXPECT_EQ(slotCalls(2).back(), "PutMachineStatus(2, 3)");
    EXPECT_EQ(slotCalls(7).back(), "PutMachineStatus(7, 6)");
    EXPECT_EQ(slotCalls(5).back(), "PutMachineStatus(5, 1)") << "table 3 is never shown on a slot";
    EXPECT_EQ(published(),
              (std::vector<std::string>{"li_l_fault>=45", "li_l_alarmno>=1045", "li_l_alarmt>=18",
                                        "li_l_sensor1>=2", "li_l_sensor2>=2", "li_l_neu>=1"}))
        << "table 3, the lowest machine of equal priority; never the warning of table 2";

    setBits("W", 8);
    runPass();
    EXPECT_EQ(published().front(), "li_l_fault>=46");
    setBits("W3", 1);
    setBits("W4", 0);
    runPass();
    EXPECT_EQ(published().front(), "li_l_fault>=56") << "the last machine";
    add({3, 1, "W1", 0, 6, 16, 18, 1});
    setBits("W1", 1);
    runPass();
    EXPECT_EQ(published().front(), "li_l_fault>=16") << "the first machine";

    // A fault hides the warning, even the one the visualisation still shows.
    add({1, 2, "F", 0, 1, 60});
    setBits("F", 1);
    visualisation(3, 40, 2);
    runPass();
    EXPECT_EQ(slotCalls(1),
              (std::vector<std::string>{"PutMachineText(1, \"T60/1031\")", "PutMachineLanguage(1, 1031)",
                                        "PutMachineStatus(1, 4)"}));
    EXPECT_EQ(published().front(), "li_l_fault>=60");
}

// What the pass decided, as an observer is told it: "machine:table:fault" per machine 1..5, the line's
// alarm, the handshake, the texts and the status of each fed slot.
std::string describe(const PassOutcome& outcome) {
    std::string text;
    const auto choice = [](const PassOutcome::Choice& c) {
        return c.alarm == nullptr ? std::string("-")
                                  : std::to_string(c.machine) + ":" + std::to_string(c.table) + ":" +
                                        std::to_string(c.alarm->Fault);
    };
    for (std::size_t m = 1; m <= kAlarmMachines; ++m)
        text += choice(outcome.shown[m]) + "'" + outcome.shownText[m] + "' ";
    text += "line " + choice(outcome.lineAlarm) + (outcome.linePublished ? " published" : "") +
            (outcome.lineEchoed ? " echoed" : "") + " |";
    for (std::size_t slot = 0; slot < outcome.slotStatus.size(); ++slot)
        if (outcome.slotStatus[slot] != PassOutcome::kNotFed)
            text += " " + std::to_string(slot) + "=" + std::to_string(outcome.slotStatus[slot]);
    return text;
}

struct CountingObserver : HistoryObserver {
    void passCompleted(const PassOutcome& outcome, const LineRecords& line) noexcept override {
        seen.push_back(describe(outcome));
        lastLine = &line;
    }
    void lineChanged(const LineRecords&) noexcept override {}
    void lineConnected(bool) noexcept override {}
    std::vector<std::string> seen;
    const LineRecords* lastLine = nullptr;
};

// The observer is told the results after the pass's writes and changes none of them.
TEST_F(CyclicPassTest, AnObserverIsToldWhatThePassDecidedAndTheWritesStayTheSame) {
    add({1, 1, "F1", 0, 5, 11});
    add({2, 2, "W", 3, 9, 40, 8, 2});
    add({3, 4, "W4", 0, 6, 47, 18, 4});
    slot(0, 1);
    slot(1, 2);
    slot(2, 3, true);
    slot(3, 1);
    slot(4, 4, false, true, true);
    slot(5, 4);
    setBits("F1", 1);
    setBits("W", 8);
    setBits("W4", 1);
    const auto writesOf = [&] {
        runPass();
        std::vector<std::string> writes = display.writes();
        for (const std::string& line : published()) writes.push_back(line);
        return writes;
    };
    const std::vector<std::string> unobserved = writesOf();
    CountingObserver observer;
    pass.observe(&observer);
    EXPECT_EQ(writesOf(), unobserved);
    EXPECT_THAT(
        observer.seen,
        ElementsAre("1:1:11'T11/1031' 2:2:40'T40/1031' -'' -'' -'' line 1:1:11 published | 0=4 1=2 2=30 "
                    "3=4 5=1"));
    EXPECT_EQ(observer.lastLine, &state.line);

    // Without a fault the table 3 message leads; echoed, nothing is written. A failed text database
    // shows "Error".
    setBits("F1", 0);
    visualisation(3, 47, 4);
    texts->failing = true;
    runPass();
    runPass();
    EXPECT_TRUE(published().empty());
    EXPECT_THAT(observer.seen,
                ElementsAre(observer.seen[0],
                            "-'' 2:2:40'Error' -'' -'' -'' line 4:3:47 published | 0=1 1=2 2=30 3=1 5=1",
                            "-'' 2:2:40'Error' -'' -'' -'' line 4:3:47 echoed | 0=1 1=2 2=30 3=1 5=1"));

    // Without any alarm of the line, none is told.
    setBits("W4", 0);
    runPass();
    EXPECT_EQ(observer.seen.back(), "-'' 2:2:40'Error' -'' -'' -'' line - published | 0=1 1=2 2=30 3=1 5=1");
}

TEST_F(CyclicPassTest, AWarningReportedWithStatus3IsSeededInTablesTwoAndThreeSeparately) {
    add({2, 2, "V", 0, 5, 41});
    add({2, 2, "V", 1, 5, 42});
    add({3, 2, "V", 2, 5, 51});
    add({3, 2, "V", 3, 5, 42});
    slot(1, 2);
    setBits("V", 15);
    struct Case {
        int status, fault, machine;
        const char* text;
        int line;  // the fault published
    };
    const Case cases[] = {{0, 0, 0, "T41", 51},
                          {3, 42, 2, "T42", 42},
                          {4, 42, 2, "T41", 51},
                          {5, 42, 2, "T41", 51},
                          {3, 42, 1, "T41", 51}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + std::to_string(c.fault) + " " +
                     std::to_string(c.machine));
        visualisation(c.status, c.fault, c.machine);
        runPass();
        EXPECT_EQ(slotCalls(1).front(), "PutMachineText(1, \"" + std::string(c.text) + "/1031\")");
        EXPECT_EQ(pass.LetzterLinienAlarm().Fault, c.line);
    }
    EXPECT_TRUE(capture.linesStartingWith("F ").empty());
}

TEST_F(CyclicPassTest, TheHandshakeRepeatsWhenTheFaultTheTypeOrTheMachineOfTheLineAlarmChanges) {
    add({1, 1, "M1", 0, 5, 11, 2});
    add({1, 1, "M1", 1, 7, 11, 3});  // the same fault, another type
    add({1, 2, "M2", 0, 9, 11, 3});  // the same fault and type on another machine
    add({1, 2, "M2", 1, 9, 12, 3});
    slot(0, 1);
    const auto publishes = [&] {
        runPass();
        return !published().empty();
    };
    setBits("M1", 1);
    visualisation(4, 11, 1);
    EXPECT_TRUE(publishes()) << "the first time";
    EXPECT_FALSE(publishes()) << "echoed";
    setBits("M1", 3);
    EXPECT_TRUE(publishes()) << "another type";
    EXPECT_EQ(published()[2], "li_l_alarmt>=3");
    EXPECT_FALSE(publishes());
    setBits("M2", 1);
    EXPECT_TRUE(publishes()) << "another machine";
    EXPECT_EQ(published()[4], "li_l_sensor2>=2");
    EXPECT_FALSE(publishes());
    setBits("M2", 2);
    EXPECT_TRUE(publishes()) << "another fault, not echoed";
    visualisation(4, 12, 2);
    EXPECT_FALSE(publishes());
}

TEST_F(CyclicPassTest, AVariableThatCannotBeReadHasNoBitSetAndIsReadOncePerRun) {
    add({1, 5, "M5faults", 2, 5, 51});    // active: machine 5's word is read last in table 1
    add({2, 1, "M1messages", 2, 5, 12});  // machine 1's word cannot be read: the same bit
    add({2, 1, "M1messages", 0, 4, 13});
    add({3, 1, "M1messages", 2, 5, 14});
    slot(0, 1);
    slot(1, 5);
    setBits("M5faults", 4);
    variables.failReadsOf("M1messages", VbError(5, "gone", "Runtime"));
    runPass();
    EXPECT_EQ(slotCalls(0),
              (std::vector<std::string>{"PutMachineText(0, \"\")", "PutMachineLanguage(0, 1031)",
                                        "PutMachineStatus(0, 1)"}))
        << "machine 5's value is not lent to machine 1";
    EXPECT_EQ(slotCalls(1).front(), "PutMachineText(1, \"T51/1031\")");
    EXPECT_EQ(published().front(), "li_l_fault>=51");
    EXPECT_EQ(capture.linesStartingWith("F ").size(), 2u)
        << "one fault line per table: the variable's second entry is not read again";
}

TEST_F(CyclicPassTest, TextFlagForeignDisabledAndUnconfiguredSlots) {
    state.plant.AnzahlMaschinen = 2;
    add({1, 4, "M4", 0, 5, 44});
    setBits("M4", 1);
    visualisation(4, 44, 4);
    slot(0, 1, true);
    slot(4, 5, true);
    slot(1, 1, false, true, true);  // foreign
    slot(2, 1, false, false);       // not enabled
    slot(3, 4);                     // a machine above AnzahlMaschinen
    runPass();
    EXPECT_EQ(slotCalls(0),
              (std::vector<std::string>{"PutMachineText(0, \"\")", "PutMachineLanguage(0, 1031)",
                                        "PutMachineStatus(0, 10)"}));
    EXPECT_EQ(slotCalls(4).back(), "PutMachineStatus(4, 50)");
    EXPECT_TRUE(slotCalls(1).empty());
    EXPECT_TRUE(slotCalls(2).empty());
    EXPECT_EQ(slotCalls(3).back(), "PutMachineStatus(3, 1)");
    EXPECT_EQ(published().front(), "li_l_fault>=0") << "machine 4 is not scanned and its seed has no effect";

    state.Sprache.clear();
    runPass();
    EXPECT_EQ(slotCalls(3)[1], "PutMachineLanguage(3, 0)");
}

TEST_F(CyclicPassTest, AFailingTextDatabaseIsAskedOnceAndEveryAlarmedSlotShowsError) {
    add({1, 1, "M1", 0, 5, 11});
    add({1, 2, "M2", 0, 5, 21});
    slot(0, 1);
    slot(1, 2);
    setBits("M1", 1);
    setBits("M2", 1);
    VisuText.use();
    texts->failing = true;
    runPass();
    EXPECT_EQ(texts->calls, 1);
    EXPECT_EQ(state.VisuTextFehler, kTrue);
    EXPECT_EQ(slotCalls(0)[0], "PutMachineText(0, \"Error\")");
    EXPECT_EQ(slotCalls(1)[0], "PutMachineText(1, \"Error\")");
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{
                  "F 14:03:07 07.12.2026 Fault 440; Texts unreadable; Zervmdb; TimerDaten_Timer",
                  "F 14:03:07 07.12.2026 Fault 440; Zervmdb.dll GetText ; Zervmdb; TimerDaten_Timer"}));
    EXPECT_EQ(capture.form.labelCaption,
              "14:03:07 07.12.2026 Fault 440; Zervmdb.dll GetText ; Zervmdb; TimerDaten_Timer");
    runPass();
    EXPECT_EQ(texts->calls, 1);
}

TEST_F(CyclicPassTest, BadNumbersAreLoggedErrorsAndThePassGoesOn) {
    add({1, 1, "M1", 20, 9, 11});  // bit numbers outside 0..15 are never active
    add({1, 1, "M1", -1, 9, 12});
    add({1, 1, "Big", 0, 5, 13});
    add({1, 1, "M1b", 0, 3, 14});
    add({1, 1, "M1b", 32, 9, 15});
    add({1, 2, "M2", 15, 4, 16});
    slot(0, 1);
    slot(1, 9);  // no machine 9
    slot(2, 2);
    setBits("M1", -1);
    setBits("M2", -32768);
    variables.set("Big", Variant::longInt(70001));  // does not fit 16 bits
    setBits("M1b", 1);
    visualisation(4, 11, 7);  // no machine 7
    runPass();
    EXPECT_EQ(slotCalls(0).front(), "PutMachineText(0, \"T14/1031\")")
        << "Big's value does not fit 16 bits: none of its bits is set, and M1b's entry is chosen";
    const auto faults = capture.linesStartingWith("F ");
    ASSERT_EQ(faults.size(), 3u);
    EXPECT_EQ(faults[0],
              "F 14:03:07 07.12.2026 Fault 9; Machine 7 is outside 1..5; Orvanta; TimerDaten_Timer");
    EXPECT_EQ(faults[1], "F 14:03:07 07.12.2026 Fault 6; Overflow; Orvanta; TimerDaten_Timer");
    EXPECT_NE(faults[2].find("Fault 9; Machine slot 1 stands for machine 9, outside 1..5"),
              std::string::npos);
    EXPECT_TRUE(slotCalls(1).empty());
    EXPECT_EQ(slotCalls(2).front(), "PutMachineText(2, \"T16/1031\")") << "bit 15";
    EXPECT_TRUE(TimerDaten.enabled());
}

TEST_F(CyclicPassTest, AStillActiveCheckThatCannotReadClearsTheSelection) {
    add({1, 1, "M1", 0, 5, 11});
    add({1, 1, "M1", 1, 5, 12});
    slot(0, 1);
    setBits("M1", 3);
    visualisation(4, 12, 1);
    runPass();
    EXPECT_EQ(slotCalls(0)[0], "PutMachineText(0, \"T12/1031\")");
    variables.failReadsOf("M1", VbError(5, "gone", "Runtime"));
    runPass();
    EXPECT_EQ(slotCalls(0)[0], "PutMachineText(0, \"\")") << "no value read: nothing active";
    EXPECT_EQ(capture.linesStartingWith("F ").size(), 2u);
}

TEST_F(CyclicPassTest, EachRunOfEntriesOfOneVariableIsReadOnceAndEachStillActiveCheckOnce) {
    add({1, 1, "-1", 0, 5, 9});  // the name a scan starts from: never read
    add({1, 1, "A", 0, 5, 1});
    add({1, 1, "A", 1, 5, 2});
    add({1, 1, "B", 0, 5, 3});
    add({1, 2, "B", 2, 5, 4});  // a new machine continues the run of B
    add({1, 2, "C", 0, 5, 5});
    add({2, 3, "C", 0, 5, 6});
    add({3, 3, "D", 0, 5, 7});
    add({3, 3, "D", 1, 5, 8});
    add({2, 1, "E2", 0, 5, 10});  // machine 1 has a fault: its tables 2 and 3 are not scanned
    add({3, 1, "E3", 0, 5, 10});
    setBits("A", 2);
    visualisation(4, 2, 1);
    runPass();
    runPass();  // the definitions prepared again replace those prepared before
    std::vector<std::string> names;
    for (const Access& read : variables.reads()) names.push_back(read.name);
    EXPECT_EQ(names, (std::vector<std::string>{vars::kLiHStatus.data(), vars::kLiHNummer.data(),
                                               vars::kLiHMasch.data(), "A", "A", "B", "C", "C", "D"}));
}

}  // namespace
}  // namespace orvanta
