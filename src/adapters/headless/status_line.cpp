#include "adapters/headless/status_line.h"

namespace orvanta {

std::string statusLine(const OrvantaCentral& central, const EmbeddedLineDisplay& line) {
    const CentralState& state = central.state();
    std::string text = "line " + std::to_string(state.line.lineStatus) + " | " +
                       (state.line.LineConnected == kTrue ? "connected" : "not connected");
    for (int machine = 1; machine <= state.plant.AnzahlMaschinen; ++machine) {
        std::string shown = "ok";
        for (int slot = 0; slot < kLineMachineCount; ++slot) {
            const MachineRecord& record = state.line.machines[static_cast<std::size_t>(slot)];
            if (record.number != machine || record.enabled != kTrue || record.foreign != 0 ||
                record.textFlag != 0)
                continue;
            const std::string& alarm = line.slotDisplay(slot).text;
            if (!alarm.empty()) shown = alarm;
            break;
        }
        text += " | M" + std::to_string(machine) + " " + shown;
    }
    return text;
}

}  // namespace orvanta
