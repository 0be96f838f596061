// The window system on an X display, through Xlib: finds the companion window by its exact title, brings
// it forward through the window manager, and iconifies the panel's own main window.
//
// The panel holds one connection of its own, apart from the GUI toolkit's. Every call is synchronous and
// runs under a scoped X error trap: a window may vanish between finding it and raising it, and Xlib's
// default reaction to the resulting BadWindow would end the program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ports/window_system.h"

struct _XDisplay;

namespace orvanta {

class X11WindowSystem : public WindowSystem {
public:
    // The connection to `display` (the DISPLAY variable when null), or null when none can be opened, so
    // that the caller can fall back to the headless window system.
    static std::unique_ptr<X11WindowSystem> open(const char* display = nullptr);

    ~X11WindowSystem() override;
    X11WindowSystem(const X11WindowSystem&) = delete;
    X11WindowSystem& operator=(const X11WindowSystem&) = delete;

    // Top-level windows only (client windows inside a window manager's frames count as top-level); the
    // title must match exactly, in _NET_WM_NAME or WM_NAME. The X window id, 0 when none matches.
    std::int32_t FindWindowA(const std::string& title) override;
    // Both ask the window manager to activate the window (_NET_ACTIVE_WINDOW) and raise it; a handle that
    // is no window is ignored.
    void SetForegroundWindow(std::int32_t window) override;
    void SetActiveWindow(std::int32_t window) override;
    // Iconifies the window given to setMainWindow; nothing before that.
    void minimiseMainWindow() override;

    // The X window id of the panel's own main window.
    void setMainWindow(unsigned long xid);

private:
    explicit X11WindowSystem(_XDisplay* display);
    void activate(std::int32_t window);

    _XDisplay* display_;
    unsigned long mainWindow_ = 0;
};

}  // namespace orvanta
