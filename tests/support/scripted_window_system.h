// Top-level windows a test opens and closes by title; every call of the panel is recorded.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ports/window_system.h"

namespace orvanta::testing {

class ScriptedWindowSystem : public WindowSystem {
public:
    std::int32_t open(const std::string& title) { return windows[title] = nextHandle++; }
    void close(const std::string& title) { windows.erase(title); }

    std::int32_t FindWindowA(const std::string& title) override {
        calls.push_back("FindWindowA(" + title + ")");
        const auto found = windows.find(title);
        return found == windows.end() ? 0 : found->second;
    }
    void SetForegroundWindow(std::int32_t window) override {
        calls.push_back("SetForegroundWindow(" + std::to_string(window) + ")");
    }
    void SetActiveWindow(std::int32_t window) override {
        calls.push_back("SetActiveWindow(" + std::to_string(window) + ")");
    }
    void minimiseMainWindow() override { calls.push_back("minimiseMainWindow()"); }

    std::map<std::string, std::int32_t> windows;
    std::int32_t nextHandle = 0x4200001;
    std::vector<std::string> calls;
};

}  // namespace orvanta::testing
