#include "adapters/headless/status_line.h"

namespace orvanta {

std::string statusLine(const CentralState& state, const LinePicture& picture) {
    const std::int16_t status = state.line.lineStatus;
    std::string text = "line: " + std::string(statusName(status));
    // A code the picture has no name for is kept, so that it can be looked up.
    if (statusName(status) == statusName(-1)) text += " (" + std::to_string(status) + ")";
    text += state.line.LineConnected == kTrue ? " | connected" : " | not connected";
    for (int machine = 1; machine <= state.plant.AnzahlMaschinen; ++machine) {
        const std::string& alarm = picture.ownMachineText(machine);
        text += " | M" + std::to_string(machine) + " " + (alarm.empty() ? "ok" : alarm);
    }
    return text;
}

}  // namespace orvanta
