// What the panel expects of the window system: find a top-level window by its exact title (no class),
// bring it forward, and minimise the panel's own main window without activating it. On X11 these are
// real; without a display nothing is ever found.
#pragma once

#include <cstdint>
#include <string>

namespace orvanta {

class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    // The window's handle, 0 when no top-level window has this title.
    virtual std::int32_t FindWindowA(const std::string& title) = 0;
    virtual void SetForegroundWindow(std::int32_t window) = 0;
    virtual void SetActiveWindow(std::int32_t window) = 0;
    // ShowWindow(own window, 7): minimised, not activated.
    virtual void minimiseMainWindow() = 0;
};

}  // namespace orvanta
