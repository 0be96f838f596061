#include "adapters/headless/status_line.h"

#include <gtest/gtest.h>

namespace orvanta {
namespace {

TEST(StatusLine, NamesTheLinesStatusSaysItsConnectionAndEachOwnMachinesTextOrOk) {
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

    struct Case {
        std::int16_t lineStatus;
        std::int16_t connected;
        std::int16_t machines;
        std::string expected;
    };
    const Case cases[] = {
        {4, kTrue, 3, "line: fault | connected | M1 Not-Halt betätigt | M2 ok | M3 Film fast leer"},
        {1, kTrue, 1, "line: running | connected | M1 Not-Halt betätigt"},
        {0, 1, 0, "line: no data | not connected"},  // only -1 is True
        {5, kFalse, 0, "line: not connected | not connected"},
        {6, kTrue, 0, "line: maintenance | connected"},
        {9, kTrue, 0, "line: unknown (9) | connected"},
        {-2, kTrue, 0, "line: unknown (-2) | connected"},
    };
    for (const Case& c : cases) {
        CentralState state;
        state.line.lineStatus = c.lineStatus;
        state.line.LineConnected = c.connected;
        state.plant.AnzahlMaschinen = c.machines;
        EXPECT_EQ(statusLine(state, linePicture({&line, nullptr, &handed})), c.expected);
    }
}

}  // namespace
}  // namespace orvanta
