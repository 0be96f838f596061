#include "central/cyclic_pass.h"

#include <algorithm>

#include "core/vb_error.h"
#include "ports/variable_names.h"

namespace orvanta {
namespace {

constexpr const char* kProcedure = "TimerDaten_Timer";

// A machine without alarm shows status 0; the line without alarm is marked -2 while it is chosen.
const AlarmDef kNoAlarm{};
const AlarmDef kNoLineAlarm = [] {
    AlarmDef none;
    none.AnzeigeStatus = -2;
    return none;
}();

// The mask of bit bitNo of a 16-bit value. A bit number outside 0..15 (a negative one wraps above 15)
// names no bit of it: never set.
std::uint16_t bitMask(std::int16_t bitNo) {
    return static_cast<std::uint16_t>(bitNo) <= 15u ? static_cast<std::uint16_t>(1u << bitNo)
                                                    : std::uint16_t{0};
}

bool bitSet(std::int16_t value, std::uint16_t mask) {
    return (static_cast<std::uint16_t>(value) & mask) != 0;
}

}  // namespace

CyclicPass::CyclicPass(CentralState& state, const AlarmDefinitions& alarms, ProcessVariables& variables,
                       LineDisplay& BrenkoLineOCX, TextDatabaseHandle& VisuText, ProgramLog& log,
                       Timer& TimerDaten)
    : state_(state),
      alarms_(alarms),
      variables_(variables),
      BrenkoLineOCX_(BrenkoLineOCX),
      VisuText_(VisuText),
      log_(log),
      TimerDaten_(TimerDaten) {
    prepare();
}

void CyclicPass::prepare() {
    noVariable_ = variables_.resolve("-1");
    hStatus_ = variables_.resolve(vars::kLiHStatus);
    hNummer_ = variables_.resolve(vars::kLiHNummer);
    hMasch_ = variables_.resolve(vars::kLiHMasch);
    published_ = {variables_.resolve(vars::kLiLFault),   variables_.resolve(vars::kLiLAlarmNo),
                  variables_.resolve(vars::kLiLAlarmT),  variables_.resolve(vars::kLiLSensor1),
                  variables_.resolve(vars::kLiLSensor2), variables_.resolve(vars::kLiLNeu)};

    const AlarmTable* tables[] = {nullptr, &alarms_.AlarmTabelle1, &alarms_.AlarmTabelle2,
                                  &alarms_.AlarmTabelle3};
    for (int number = 1; number <= 3; ++number) {
        ResolvedTable& resolved = tables_[static_cast<std::size_t>(number)];
        resolved.table = tables[number];
        for (int machine = 1; machine <= kAlarmMachines; ++machine) {
            std::vector<ScanEntry>& entries = resolved.entries[static_cast<std::size_t>(machine)];
            entries.clear();
            for (int position = 1; position <= resolved.table->count(machine); ++position) {
                const AlarmDef& entry = resolved.table->at(machine, position);
                entries.push_back({variables_.resolve(entry.VarName), bitMask(entry.BitNo), entry.Priority});
            }
        }
    }
}

std::int16_t CyclicPass::readInteger(ProcessVariables::VariableId variable) {
    return variables_.readInteger(variable);
}

void CyclicPass::TimerDaten_Timer() {
    HandlerFrame frame(log_, kProcedure, Trace::Data);
    frame.step([&] { TimerDaten_.setEnabled(false); });

    // The visualisation's current alarm seeds the selection, so that among equal priorities the alarm it
    // already shows stays chosen.
    std::int16_t hStatus{};
    std::int16_t hNummer{};
    std::int16_t hMasch{};
    frame.step([&] { hStatus = readInteger(hStatus_); });
    frame.step([&] { hNummer = readInteger(hNummer_); });
    frame.step([&] { hMasch = readInteger(hMasch_); });
    Selection auswahl1{};
    Selection auswahl2{};
    Selection auswahl3{};
    if (hMasch != 0) {
        if (hStatus == 4) {
            frame.step([&] { seed(alarms_.AlarmTabelle1, auswahl1, hMasch, hNummer); });
        } else if (hStatus == 3) {
            frame.step([&] { seed(alarms_.AlarmTabelle2, auswahl2, hMasch, hNummer); });
            frame.step([&] { seed(alarms_.AlarmTabelle3, auswahl3, hMasch, hNummer); });
        }
    }

    scan(frame, tables_[1], auswahl1, auswahl1, false);
    scan(frame, tables_[2], auswahl2, auswahl1, true);
    scan(frame, tables_[3], auswahl3, auswahl1, true);

    const int machines = std::min<int>(state_.plant.AnzahlMaschinen, kAlarmMachines);
    std::array<const AlarmDef*, kAlarmMachines + 1> maschinenAlarm;
    maschinenAlarm.fill(&kNoAlarm);
    outcome_.shown.fill({});
    for (int m = 1; m <= machines; ++m) {
        const auto at = static_cast<std::size_t>(m);
        const auto machine = static_cast<std::int16_t>(m);
        if (auswahl1[at] != 0) {
            maschinenAlarm[at] = &alarms_.AlarmTabelle1.at(m, auswahl1[at]);
            outcome_.shown[at] = {maschinenAlarm[at], 1, machine};
        } else if (auswahl2[at] != 0) {
            maschinenAlarm[at] = &alarms_.AlarmTabelle2.at(m, auswahl2[at]);
            outcome_.shown[at] = {maschinenAlarm[at], 2, machine};
        }
    }
    // The line's alarm: the fault of highest priority, the lowest machine on a tie; without a fault the
    // same among the table 3 selections. Table 2 never supplies it.
    const AlarmDef* linienAlarm = &kNoLineAlarm;
    outcome_.lineAlarm = {};
    for (int m = 1; m <= machines; ++m) {
        const auto at = static_cast<std::size_t>(m);
        if (auswahl1[at] == 0) continue;
        const AlarmDef& candidate = alarms_.AlarmTabelle1.at(m, auswahl1[at]);
        if (candidate.Priority > linienAlarm->Priority) {
            linienAlarm = &candidate;
            outcome_.lineAlarm = {linienAlarm, 1, static_cast<std::int16_t>(m)};
        }
    }
    if (linienAlarm->AnzeigeStatus == -2) {
        for (int m = 1; m <= machines; ++m) {
            const auto at = static_cast<std::size_t>(m);
            if (auswahl3[at] == 0) continue;
            const AlarmDef& candidate = alarms_.AlarmTabelle3.at(m, auswahl3[at]);
            if (candidate.Priority > linienAlarm->Priority) {
                linienAlarm = &candidate;
                outcome_.lineAlarm = {linienAlarm, 3, static_cast<std::int16_t>(m)};
            }
        }
    }

    const bool echoed = hNummer == linienAlarm->Fault && linienAlarm->Fault == LetzterLinienAlarm_.Fault &&
                        linienAlarm->Type == LetzterLinienAlarm_.Type &&
                        linienAlarm->Sensor2 == LetzterLinienAlarm_.Sensor2;
    if (!echoed) publish(frame, *linienAlarm);
    outcome_.linePublished = !echoed;
    outcome_.lineEchoed = echoed;

    const double language = val(state_.Sprache);
    outcome_.slotStatus.fill(PassOutcome::kNotFed);
    for (std::string& text : outcome_.shownText) text.clear();
    int slot = 0;
    for (const MachineRecord& machine : state_.line.machines) {
        if (machine.foreign == 0 && machine.enabled == kTrue) feedSlot(frame, slot, maschinenAlarm, language);
        ++slot;
    }

    frame.step([&] { BrenkoLineOCX_.DataUpdated(true); });
    frame.step([&] { TimerDaten_.setEnabled(true); });
    if (observer_ != nullptr) observer_->passCompleted(outcome_, state_.line);
}

void CyclicPass::seed(const AlarmTable& table, Selection& selection, std::int16_t machine,
                      std::int16_t fault) {
    const int count = table.count(machine);  // error 9 for a machine outside 1..5
    for (int position = 1; position <= count; ++position) {
        if (table.at(machine, position).Fault == fault) {
            selection[static_cast<std::size_t>(machine)] = static_cast<std::int16_t>(position);
            return;
        }
    }
}

void CyclicPass::scan(HandlerFrame& frame, const ResolvedTable& table, Selection& selection,
                      const Selection& tableOne, bool onlyWithoutTableOne) {
    const int machines = std::min<int>(state_.plant.AnzahlMaschinen, kAlarmMachines);
    // One read per run of entries of the same variable. A variable that cannot be read has no bit set:
    // the value read before it belongs to another variable, often another machine's, whose alarm would
    // be shown and published as this one's.
    ProcessVariables::VariableId lastVariable = noVariable_;
    std::int16_t value = 0;
    for (int m = 1; m <= machines; ++m) {
        const auto at = static_cast<std::size_t>(m);
        if (onlyWithoutTableOne && tableOne[at] != 0) continue;
        const std::vector<ScanEntry>& entries = table.entries[at];
        std::int16_t& chosen = selection[at];
        if (chosen > 0) {
            const ScanEntry& current = entries[static_cast<std::size_t>(chosen - 1)];
            // A read that fails clears the selection as a bit that went off does.
            if (frame.condition([&] { return !bitSet(readInteger(current.variable), current.mask); }))
                chosen = 0;
        }
        std::int16_t chosenPriority = chosen > 0 ? entries[static_cast<std::size_t>(chosen - 1)].priority : 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const ScanEntry& entry = entries[i];
            if (entry.variable != lastVariable) {
                value = 0;
                frame.step([&] { value = readInteger(entry.variable); });
                lastVariable = entry.variable;
            }
            if (entry.priority > chosenPriority && bitSet(value, entry.mask)) {
                chosen = static_cast<std::int16_t>(i + 1);
                chosenPriority = entry.priority;
            }
        }
    }
}

void CyclicPass::publish(HandlerFrame& frame, const AlarmDef& linienAlarm) {
    // Without a line alarm the record is the empty one: its fields write 0.
    LetzterLinienAlarm_ = linienAlarm;
    const std::int16_t values[] = {linienAlarm.Fault, linienAlarm.Ident, linienAlarm.Type,
                                   linienAlarm.Sensor1, linienAlarm.Sensor2};
    for (std::size_t i = 0; i < 5; ++i)
        frame.step([&] { variables_.write(published_[i], Variant::integer(values[i])); });
    frame.step([&] { variables_.write(published_[5], Variant::integer(1)); });
}

// Resolved once per machine number: a slot with the text flag reads its machine's status on every pass.
ProcessVariables::VariableId CyclicPass::machineStatusVariable(std::int16_t number) {
    const auto [found, added] = machineStatus_.try_emplace(number);
    if (added) found->second = variables_.resolve(vars::indexed(vars::kLiStatusPlcBase, number));
    return found->second;
}

void CyclicPass::feedSlot(HandlerFrame& frame, int slot,
                          const std::array<const AlarmDef*, kAlarmMachines + 1>& shown, double language) {
    const MachineRecord& machine = state_.line.machines[static_cast<std::size_t>(slot)];
    const auto index = static_cast<std::int16_t>(slot);
    const std::int16_t number = machine.number;
    if (machine.textFlag != 0) {
        frame.step([&] { BrenkoLineOCX_.PutMachineText(index, ""); });
        frame.step([&] { BrenkoLineOCX_.PutMachineLanguage(index, language); });
        frame.step([&] {
            const std::int16_t status = readInteger(machineStatusVariable(number));
            BrenkoLineOCX_.PutMachineStatus(index, status);
            outcome_.slotStatus[static_cast<std::size_t>(slot)] = status;
        });
        return;
    }
    if (number < 1 || number > kAlarmMachines) {
        frame.fault(VbError(kSubscriptOutOfRange,
                            "Machine slot " + std::to_string(slot) + " stands for machine " +
                                std::to_string(number) + ", outside 1..5",
                            "Orvanta"));
        return;
    }
    const AlarmDef& alarm = *shown[static_cast<std::size_t>(number)];
    if (alarm.AnzeigeStatus == 0) {
        frame.step([&] { BrenkoLineOCX_.PutMachineText(index, ""); });
        frame.step([&] { BrenkoLineOCX_.PutMachineLanguage(index, language); });
        frame.step([&] { BrenkoLineOCX_.PutMachineStatus(index, 1); });
        outcome_.slotStatus[static_cast<std::size_t>(slot)] = 1;
        return;
    }
    if (state_.VisuTextFehler == 0) fetchText(frame, slot, number, alarm, language);
    if (state_.VisuTextFehler == kTrue) {
        frame.step([&] { BrenkoLineOCX_.PutMachineText(index, "Error"); });
        noteShownText(number, "Error");
    }
    frame.step([&] { BrenkoLineOCX_.PutMachineLanguage(index, language); });
    frame.step([&] { BrenkoLineOCX_.PutMachineStatus(index, alarm.AnzeigeStatus); });
    outcome_.slotStatus[static_cast<std::size_t>(slot)] = alarm.AnzeigeStatus;
}

// A machine shown in several slots: its first slot's text stands for it.
void CyclicPass::noteShownText(std::int16_t number, const std::string& text) {
    std::string& shown = outcome_.shownText[static_cast<std::size_t>(number)];
    if (shown.empty()) shown = text;
}

// Fetching the text and handing it on is one statement with a fault handling of its own: once the text
// database has failed it is not asked again, and every alarmed slot shows "Error".
void CyclicPass::fetchText(HandlerFrame& frame, int slot, std::int16_t number, const AlarmDef& alarm,
                           double language) {
    try {
        const std::int32_t languageId = narrowToLong(roundHalfEven(language));
        const std::string text = VisuText_.use().GetText(languageId, alarm.AlarmText, 0);
        BrenkoLineOCX_.PutMachineText(static_cast<std::int16_t>(slot), text);
        noteShownText(number, text);
    } catch (...) {
        state_.VisuTextFehler = kTrue;
        frame.reportTextDatabaseFault(VbError::current("Orvanta"), "GetText");
    }
}

}  // namespace orvanta
