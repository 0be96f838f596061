// The window system without a display.
#pragma once

#include <cstdint>
#include <string>

#include "ports/window_system.h"

namespace orvanta {

// No display: no window is ever found, and there is nothing to bring forward or minimise.
class HeadlessWindowSystem : public WindowSystem {
public:
    std::int32_t FindWindowA(const std::string&) override { return 0; }
    void SetForegroundWindow(std::int32_t) override {}
    void SetActiveWindow(std::int32_t) override {}
    void minimiseMainWindow() override {}
};

}  // namespace orvanta
