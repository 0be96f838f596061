// orvanta [--base DIR] [--backend embedded|mqtt] [--headless] [--simulate] [--run-for SECONDS]
// [--screenshot FILE.png] [--dump-refdata] [--help] [--version]
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "program/backend_settings.h"

namespace orvanta {

// The longest --run-for whose milliseconds still fit a timer's 32-bit interval (about 24.8 days).
inline constexpr int kMaxRunForSeconds = 2147483;

struct CommandLine {
    std::optional<std::string> baseFolder;  // --base DIR
    std::optional<BackendKind> backend;     // --backend embedded|mqtt, over [Runtime] Backend
    bool headless = false;
    bool dumpRefdata = false;
    bool simulate = false;
    std::optional<int> runForSeconds;       // --run-for SECONDS
    std::optional<std::string> screenshot;  // --screenshot FILE.png
    bool help = false;
    bool version = false;
};

struct CommandLineResult {
    CommandLine options;
    std::string error;  // empty when the arguments were understood
};

CommandLineResult parseCommandLine(const std::vector<std::string>& arguments);

std::string usageText();

}  // namespace orvanta
