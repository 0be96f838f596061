#include "adapters/headless/status_line.h"

#include <gtest/gtest.h>

namespace orvanta {
namespace {

TEST(StatusLine, SaysTheLinesStatusAndConnectionAndEachOwnMachinesTextOrOk) {
    CentralState state;
    state.line.lineStatus = 4;
    state.line.LineConnected = kTrue;
    state.plant.AnzahlMaschinen = 3;

    LineDescription line;
    for (const std::int16_t m : {0, 1, 2}) {
        line.machines[m].enabled = true;
        line.machines[m].number = static_cast<std::int16_t>(m + 1);
    }
    line.machines[3].enabled = true;  // a fourth machine the plant does not count
    line.machines[3].number = 4;
    LineDisplayState handed{};
    handed[0].text = "Not-Halt betätigt";
    handed[2].text = "Film fast leer";
    handed[3].text = "not counted";

    EXPECT_EQ(statusLine(state, linePicture({&line, nullptr, &handed})),
              "line 4 | connected | M1 Not-Halt betätigt | M2 ok | M3 Film fast leer");

    state.line.LineConnected = 1;  // only -1 is True
    state.line.lineStatus = 0;
    state.plant.AnzahlMaschinen = 0;
    EXPECT_EQ(statusLine(state, linePicture({&line, nullptr, &handed})), "line 0 | not connected");
}

}  // namespace
}  // namespace orvanta
