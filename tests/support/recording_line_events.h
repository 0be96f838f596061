// The line display's events as texts, in the order they came: what a component under test told its
// subscriber.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ports/line_display.h"

namespace orvanta::testing {

class RecordingLineEvents : public LineDisplayEvents {
public:
    void Connect(std::int16_t connected) override {
        seen.push_back("Connect(" + std::to_string(connected) + ")");
    }
    void NewLineParameter() override { seen.push_back("NewLineParameter"); }
    void NewLineData() override { seen.push_back("NewLineData"); }

    // What arrived since the last call.
    std::vector<std::string> take() { return std::exchange(seen, {}); }

    std::vector<std::string> seen;
};

}  // namespace orvanta::testing
