#include "history/history_recorder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "support/manual_event_loop.h"
#include "support/recording_history.h"

namespace orvanta {
namespace {

using namespace orvanta::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr history::Millis kEpoch = 1'800'000'000'000;  // the wall clock when the loop's clock reads 0

AlarmDef alarm(std::int16_t fault, std::int16_t priority, std::int16_t status) {
    AlarmDef def;
    def.Fault = fault;
    def.Ident = static_cast<std::int16_t>(fault + 1000);
    def.Priority = priority;
    def.AnzeigeStatus = status;
    def.AlarmText = "T" + std::to_string(fault);
    return def;
}

class HistoryRecorderTest : public ::testing::Test {
protected:
    HistoryRecorderTest() {
        // Slot 0 is own machine 1, slot 1 own machine 2 (status from its variable), slot 2 foreign, slot 3
        // own machine 5.
        machine(0, "Filler", 1, false);
        machine(1, "Capper", 2, false);
        line.machines[1].textFlag = kTrue;
        machine(2, "Labeller", 0, true);
        machine(3, "Packer", 5, false);
        line.values[2].rawStatus = 1;
        line.values[2].message = "label roll";
        line.lineStatus = 1;
    }

    void machine(std::size_t slot, const char* name, std::int16_t number, bool foreign) {
        line.machines[slot].name = name;
        line.machines[slot].number = number;
        line.machines[slot].enabled = kTrue;
        line.machines[slot].foreign = vbBool(foreign);
    }

    // A pass after ms more: machine 1 shows shown1 (of table1), machine 5 the text "M5"; the line's alarm
    // is lineAlarm of lineTable on lineMachine. Slots 0 and 1 get the statuses given, slot 3 status 2.
    void pass(std::int64_t ms, const AlarmDef* shown1, std::int16_t table1, const AlarmDef* lineAlarm,
              std::int16_t lineTable, bool published, bool echoed, std::int16_t status0, std::int16_t status1,
              std::int16_t lineMachine = 1) {
        loop.advance(ms);
        PassOutcome outcome;
        outcome.slotStatus.fill(PassOutcome::kNotFed);
        if (shown1 != nullptr) {
            outcome.shown[1] = {shown1, table1, 1};
            outcome.shownText[1] = shown1->AlarmText + "/1031";
        }
        outcome.shownText[5] = "M5";
        if (lineAlarm != nullptr) outcome.lineAlarm = {lineAlarm, lineTable, lineMachine};
        outcome.linePublished = published;
        outcome.lineEchoed = echoed;
        outcome.slotStatus[0] = status0;
        outcome.slotStatus[1] = status1;
        outcome.slotStatus[3] = 2;
        recorder.passCompleted(outcome, line);
    }

    ManualEventLoop loop;
    RecordingHistory sink;
    LineRecords line;
    // The text database's answers: texts for T7 and T9, none for the others until given.
    std::map<std::string, std::vector<history::LanguageText>> texts{
        {"T7", {{1031, 1, "Not-Halt"}, {1033, 2, "Emergency stop"}}}, {"T9", {{1036, 3, "Porte ouverte"}}}};
    HistoryRecorder recorder{sink,
                             loop,
                             [this] { return kEpoch + loop.nowMs(); },
                             {"Pelmar", 60, "Europe/Berlin", [this](const std::string& key) {
                                  const auto found = texts.find(key);
                                  return found == texts.end() ? std::vector<history::LanguageText>{}
                                                              : found->second;
                              }}};
};

TEST_F(HistoryRecorderTest, FollowsEpisodesTheHandshakeAndTheSlotsStatesThroughARun) {
    const AlarmDef fault = alarm(7, 50, 4);
    const AlarmDef warning = alarm(9, 20, 2);
    const AlarmDef leading = alarm(11, 5, 3);
    const std::string run = std::to_string(kEpoch);

    recorder.passCompleted(PassOutcome{}, line);  // before the start: nothing
    recorder.start();
    // A fault on machine 1, published as the line's alarm; one second later echoed.
    pass(500, &fault, 1, &fault, 1, true, false, 4, 31);
    pass(1000, &fault, 1, &fault, 1, false, true, 4, 31);
    EXPECT_THAT(sink.take(), ElementsAre("run " + run + " Pelmar 60 Europe/Berlin @1800000000000",
                                         "texts T7 1:1031='Not-Halt' 2:1033='Emergency stop'",
                                         "raised 1 m1 t1 i1007 f7 T7 'T7/1031' p50 s4 @1800000000500",
                                         "published 1 @1800000000500",
                                         "state 2 slot0 m1 Filler own s4 'T7/1031' @1800000000500",
                                         "state 3 slot1 m2 Capper own s31 '' @1800000000500",
                                         "state 4 slot2 m0 Labeller foreign s1 '' @1800000000500",
                                         "state 5 slot3 m5 Packer own s2 'M5' @1800000000500",
                                         "state 6 slot-1 m0 Pelmar own s1 '' @1800000000500",
                                         "alive @1800000001000", "echoed 1 @1800000001500"));

    // The fault goes, a warning follows; a table 3 message of machine 5 leads the line, already echoed
    // when chosen (and echoed again: said once); the foreign machine stops with its message; the line's
    // status follows.
    line.values[2].rawStatus = 4;
    line.lineStatus = 4;
    recorder.lineChanged(line);
    pass(300, &warning, 2, &leading, 3, false, true, 2, 31, 5);
    pass(100, &warning, 2, &leading, 3, false, true, 2, 31, 5);
    EXPECT_THAT(
        sink.take(),
        ElementsAre("state-end 4 @1800000001500",
                    "state 7 slot2 m0 Labeller foreign s4 'label roll' @1800000001500",
                    "state-end 6 @1800000001500", "state 8 slot-1 m0 Pelmar own s4 '' @1800000001500",
                    "cleared 1 @1800000001800", "texts T9 3:1036='Porte ouverte'",
                    "raised 9 m1 t2 i1009 f9 T9 'T9/1031' p20 s2 @1800000001800",
                    "raised 10 m5 t3 i1011 f11 T11 '' p5 s3 @1800000001800", "published 10 @1800000001800",
                    "echoed 10 @1800000001800", "state-end 2 @1800000001800",
                    "state 11 slot0 m1 Filler own s2 'T9/1031' @1800000001800"));

    // The line display is lost: every interval ends, the episodes go on; back, the next pass reopens
    // the slots it feeds and the foreign ones. The signs of life go on throughout.
    recorder.lineConnected(false);
    recorder.lineConnected(false);
    recorder.lineChanged(line);
    loop.setNow(loop.nowMs() + 5000);
    recorder.lineConnected(true);
    recorder.lineConnected(true);
    pass(0, &warning, 2, nullptr, 0, false, false, 2, 31);
    EXPECT_THAT(
        sink.take(),
        ElementsAre("state-end 11 @1800000001900", "state-end 3 @1800000001900", "state-end 7 @1800000001900",
                    "state-end 5 @1800000001900", "state-end 8 @1800000001900", "gap 12 line @1800000001900",
                    "gap-end 12 @1800000006900", "alive @1800000006900", "cleared 10 @1800000006900",
                    "state 13 slot0 m1 Filler own s2 'T9/1031' @1800000006900",
                    "state 14 slot1 m2 Capper own s31 '' @1800000006900",
                    "state 15 slot2 m0 Labeller foreign s4 'label roll' @1800000006900",
                    "state 16 slot3 m5 Packer own s2 'M5' @1800000006900",
                    "state 17 slot-1 m0 Pelmar own s4 '' @1800000006900"));

    // Slots switched off end their intervals; the broker lost ends the others, and back, a pass opens
    // them again; the end closes what is open. After it nothing more, not even a new start.
    line.machines[0].enabled = kFalse;
    line.machines[2].enabled = kFalse;
    recorder.lineChanged(line);
    recorder.brokerConnected(false);
    recorder.brokerConnected(true);
    pass(100, &warning, 2, nullptr, 0, false, false, 2, 31);
    loop.setNow(loop.nowMs() + 700);
    recorder.end();
    recorder.end();
    recorder.start();
    recorder.lineConnected(false);
    EXPECT_THAT(sink.take(),
                ElementsAre("state-end 13 @1800000006900", "state-end 15 @1800000006900",
                            "state-end 14 @1800000006900", "state-end 16 @1800000006900",
                            "state-end 17 @1800000006900", "gap 18 broker @1800000006900",
                            "gap-end 18 @1800000006900", "state 19 slot1 m2 Capper own s31 '' @1800000007000",
                            "state 20 slot3 m5 Packer own s2 'M5' @1800000007000",
                            "state 21 slot-1 m0 Pelmar own s4 '' @1800000007000", "cleared 9 @1800000007700",
                            "state-end 19 @1800000007700", "state-end 20 @1800000007700",
                            "state-end 21 @1800000007700", "end @1800000007700"));
    loop.advance(5000);
    EXPECT_THAT(sink.take(), IsEmpty());
}

TEST_F(HistoryRecorderTest, AnAlarmChosenAgainWithOtherFieldsIsANewEpisode) {
    AlarmDef fault = alarm(7, 50, 4);
    recorder.start();
    sink.take();
    pass(1, &fault, 1, nullptr, 0, false, false, 4, 31);
    AlarmDef changed = fault;
    for (auto change : {+[](AlarmDef& a) { ++a.Ident; }, +[](AlarmDef& a) { ++a.Fault; },
                        +[](AlarmDef& a) { ++a.Priority; }, +[](AlarmDef& a) { ++a.AnzeigeStatus; },
                        +[](AlarmDef& a) { a.AlarmText += "x"; }}) {
        change(changed);
        pass(1, &changed, 1, nullptr, 0, false, false, 4, 31);
    }
    pass(1, &changed, 2, nullptr, 0, false, false, 4, 31);  // the same entry from another table
    pass(1, &changed, 2, nullptr, 0, false, false, 4, 31);  // unchanged: nothing
    std::vector<std::string> cleared;
    for (const std::string& line : sink.take())
        if (line.rfind("cleared", 0) == 0) cleared.push_back(line);
    EXPECT_EQ(cleared.size(), 6u);
}

// Each slot's interval names the own machine it stands for; foreign machines, numbers outside 1..5 and
// the line stand for none. A slot renumbered is another machine: a new interval.
TEST_F(HistoryRecorderTest, EachOwnSlotsIntervalNamesItsMachineNumber) {
    struct Slot {
        std::int16_t number;
        bool foreign;
        const char* expected;
    };
    const Slot table[] = {{1, false, "slot0 m1"}, {5, false, "slot1 m5"},  {0, false, "slot2 m0"},
                          {6, false, "slot3 m0"}, {-1, false, "slot4 m0"}, {3, true, "slot5 m0"}};
    LineRecords slots;
    PassOutcome outcome;
    outcome.slotStatus.fill(PassOutcome::kNotFed);
    for (std::size_t i = 0; i < std::size(table); ++i) {
        slots.machines[i].name = "M";
        slots.machines[i].number = table[i].number;
        slots.machines[i].enabled = kTrue;
        slots.machines[i].foreign = vbBool(table[i].foreign);
        outcome.slotStatus[i] = 1;
    }
    recorder.start();
    recorder.passCompleted(outcome, slots);
    std::vector<std::string> expected;
    for (const Slot& slot : table) expected.push_back(slot.expected);
    expected.push_back("slot-1 m0");
    std::vector<std::string> given;
    for (const std::string& line : sink.take())
        if (const auto at = line.find("slot"); line.rfind("state ", 0) == 0)
            given.push_back(line.substr(at, line.find(' ', line.find(' ', at) + 1) - at));
    EXPECT_EQ(given, expected);

    slots.machines[0].number = 2;
    recorder.passCompleted(outcome, slots);
    EXPECT_THAT(sink.take(),
                ElementsAre("state-end 1 @1800000000000", "state 8 slot0 m2 M own s1 '' @1800000000000"));
}

// A key's texts come once a run, just before its first episode; a key the text database had nothing for is
// asked again at its next episode.
TEST_F(HistoryRecorderTest, AKeysTextsComeOnceARunBeforeItsFirstEpisode) {
    const AlarmDef t7 = alarm(7, 50, 4);
    const AlarmDef t9 = alarm(9, 20, 2);
    const AlarmDef t11 = alarm(11, 5, 3);
    struct Step {
        const AlarmDef* shown;
        std::vector<std::string> expected;  // the records of the pass that are not states
        bool t11Known = false;              // the text database has T11 from this step on
    };
    const Step steps[] = {
        {&t7, {"texts T7 1:1031='Not-Halt' 2:1033='Emergency stop'", "raised 1 m1 t1 i1007 f7 T7"}},
        {nullptr, {"cleared 1"}},
        {&t7, {"raised 7 m1 t1 i1007 f7 T7"}},
        {&t11, {"cleared 7", "raised 8 m1 t1 i1011 f11 T11"}},
        {&t9, {"cleared 8", "texts T9 3:1036='Porte ouverte'", "raised 9 m1 t1 i1009 f9 T9"}},
        {&t11, {"cleared 9", "texts T11 1:1031='Tür offen'", "raised 10 m1 t1 i1011 f11 T11"}, true},
        {&t7, {"cleared 10", "raised 11 m1 t1 i1007 f7 T7"}},
        {&t11, {"cleared 11", "raised 12 m1 t1 i1011 f11 T11"}},
    };
    recorder.start();
    sink.take();
    for (const Step& step : steps) {
        if (step.t11Known) texts["T11"] = {{1031, 1, "Tür offen"}};
        pass(1, step.shown, 1, nullptr, 0, false, false, 4, 31);
        std::vector<std::string> given;
        for (const std::string& line : sink.take()) {
            if (line.rfind("state", 0) == 0 || line.rfind("alive", 0) == 0) continue;
            // Without the text shown and the time: the texts and the order are what count here.
            given.push_back(line.rfind("texts", 0) == 0 ? line
                                                        : line.substr(0, line.find_first_of("'@") - 1));
        }
        EXPECT_EQ(given, step.expected) << (step.shown ? step.shown->AlarmText : "none");
    }
}

}  // namespace
}  // namespace orvanta
