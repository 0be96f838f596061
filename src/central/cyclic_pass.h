// The heart of the panel: once a second TimerDaten_Timer finds each machine's most important active
// alarm in the three alarm tables, publishes the line's alarm to the "li_l_" variables until the
// visualisation echoes its fault number, and hands every own machine slot of the line display its alarm
// text, language and status code.
//
// A pass reads an alarm variable once per run of entries that name it (tables 1 and 2 are ordered by
// name for this) and once more per still-active check, nothing else. The alarm variables' names are
// resolved to ids once, when the pass is made and whenever the definitions change, so the scan compares
// ids, not strings; the machines' alarms are pointers into the tables.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "central/central_state.h"
#include "central/pass_outcome.h"
#include "core/event_loop.h"
#include "ports/line_display.h"
#include "ports/process_variables.h"
#include "ports/text_database.h"
#include "refdata/alarm_definitions.h"
#include "service/handler_frame.h"

namespace orvanta {

class CyclicPass {
public:
    CyclicPass(CentralState& state, const AlarmDefinitions& alarms, ProcessVariables& variables,
               LineDisplay& BrenkoLineOCX, TextDatabaseHandle& VisuText, ProgramLog& log, Timer& TimerDaten);

    // Resolves the variables the pass reads. Runs at construction; call it again when the alarm
    // definitions change.
    void prepare();

    void TimerDaten_Timer();

    const AlarmDef& LetzterLinienAlarm() const { return LetzterLinienAlarm_; }

    // Told the outcome at the end of every pass; none by default.
    void observe(HistoryObserver* observer) { observer_ = observer; }

private:
    // What the scan needs of an entry, without its texts. The mask has the entry's bit set, or none for a
    // bit number outside 0..15.
    struct ScanEntry {
        ProcessVariables::VariableId variable;
        std::uint16_t mask;
        std::int16_t priority;
    };
    using Selection = std::array<std::int16_t, kAlarmMachines + 1>;  // position per machine 1..5
    struct ResolvedTable {
        const AlarmTable* table = nullptr;
        std::array<std::vector<ScanEntry>, kAlarmMachines + 1> entries;  // index 1..5, position - 1
    };

    static void seed(const AlarmTable& table, Selection& selection, std::int16_t machine, std::int16_t fault);
    void scan(HandlerFrame& frame, const ResolvedTable& table, Selection& selection,
              const Selection& tableOne, bool onlyWithoutTableOne);
    void publish(HandlerFrame& frame, const AlarmDef& linienAlarm);
    ProcessVariables::VariableId machineStatusVariable(std::int16_t number);
    void feedSlot(HandlerFrame& frame, int slot, const std::array<const AlarmDef*, kAlarmMachines + 1>& shown,
                  double language);
    void fetchText(HandlerFrame& frame, int slot, std::int16_t number, const AlarmDef& alarm,
                   double language);
    void noteShownText(std::int16_t number, const std::string& text);
    std::int16_t readInteger(ProcessVariables::VariableId variable);

    CentralState& state_;
    const AlarmDefinitions& alarms_;
    ProcessVariables& variables_;
    LineDisplay& BrenkoLineOCX_;
    TextDatabaseHandle& VisuText_;
    ProgramLog& log_;
    Timer& TimerDaten_;

    std::array<ResolvedTable, 4> tables_;          // 1..3
    ProcessVariables::VariableId noVariable_ = 0;  // the name "-1" a scan starts from
    ProcessVariables::VariableId hStatus_ = 0;
    ProcessVariables::VariableId hNummer_ = 0;
    ProcessVariables::VariableId hMasch_ = 0;
    std::array<ProcessVariables::VariableId, 6> published_{};                       // li_l_fault .. li_l_neu
    std::unordered_map<std::int16_t, ProcessVariables::VariableId> machineStatus_;  // by machine number

    AlarmDef LetzterLinienAlarm_;
    PassOutcome outcome_;
    HistoryObserver* observer_ = nullptr;
};

}  // namespace orvanta
