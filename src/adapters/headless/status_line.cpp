#include "adapters/headless/status_line.h"

namespace orvanta {

std::string statusLine(const CentralState& state, const LinePicture& picture) {
    std::string text = "line " + std::to_string(state.line.lineStatus) + " | " +
                       (state.line.LineConnected == kTrue ? "connected" : "not connected");
    for (int machine = 1; machine <= state.plant.AnzahlMaschinen; ++machine) {
        const std::string& alarm = picture.ownMachineText(machine);
        text += " | M" + std::to_string(machine) + " " + (alarm.empty() ? "ok" : alarm);
    }
    return text;
}

}  // namespace orvanta
