// orvanta-sim --base DIR [--backend mqtt] [--rate R] [--seed N] [--run-for SECONDS] [--help] [--version]
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "program/backend_settings.h"

namespace orvanta {

struct SimCommandLine {
    std::optional<std::string> baseFolder;  // --base DIR, required unless --help or --version
    std::optional<BackendKind> backend;     // --backend mqtt (nothing else is accepted)
    double rate = 1.0;                      // --rate R, the pace of the demo world
    std::optional<std::uint32_t> seed;      // --seed N; nothing: a random one
    std::optional<int> runForSeconds;       // --run-for SECONDS
    bool help = false;
    bool version = false;
};

struct SimCommandLineResult {
    SimCommandLine options;
    std::string error;  // empty when the arguments were understood
};

// Each option with a value takes it as the next argument or after "=" (--rate=10).
SimCommandLineResult parseSimCommandLine(const std::vector<std::string>& arguments);

std::string simUsageText();

}  // namespace orvanta
