// What both soak phases share: a private copy of the demo plant, the panel's surroundings without windows,
// and the measurements a long run is judged by.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "adapters/headless/headless_views.h"
#include "ports/forms.h"
#include "ports/process_variables.h"
#include "ports/window_system.h"
#include "support/demo_plant.h"

namespace orvanta::soak {

namespace fs = std::filesystem;

// The demo plant copied to a temporary folder, with the data traces on so that the log fills and is
// shortened again and again.
class PlantCopy {
public:
    explicit PlantCopy(const std::string& name)
        : base_(fs::temp_directory_path() / ("orvanta-soak-" + name + "-" + std::to_string(getpid()))) {
        testing::copyDemoPlant(base_);
    }
    ~PlantCopy() { fs::remove_all(base_); }
    PlantCopy(const PlantCopy&) = delete;
    PlantCopy& operator=(const PlantCopy&) = delete;

    // Replaces the program's own INI with these lines.
    void writeProgramIni(const std::string& text) const {
        std::ofstream(base_ / "Program" / "Orvanta" / "Orvanta.ini") << text;
    }
    std::string base() const { return base_.string(); }
    std::string appPath() const { return (base_ / "Program" / "Orvanta").string(); }
    fs::path logFile() const { return base_ / "Program" / "Orvanta" / "Orvanta.log"; }
    std::uintmax_t logBytes() const {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(logFile(), error);
        return error ? 0 : size;
    }
    int faultLines() const {
        std::ifstream in(logFile(), std::ios::binary);
        int count = 0;
        for (std::string line; std::getline(in, line);) count += line.starts_with("F ") ? 1 : 0;
        return count;
    }

private:
    fs::path base_;
};

// The resident set of this process in KiB.
inline long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    return -1;
}

class EndingApplication : public Application {
public:
    void end(int exitCode) override {
        ended = true;
        status = exitCode;
    }
    bool ended = false;
    int status = -1;
};

// Where the headless views write: nowhere (and without growing), the soak reports only its own figures.
inline std::ostream& nowhere() {
    struct Discard : std::streambuf {
        int overflow(int c) override { return c; }
    };
    static Discard discard;
    static std::ostream sink(&discard);
    return sink;
}

// One verdict line and whether it holds.
struct Check {
    std::string what;
    bool holds = false;
};

inline bool verdict(const std::string& phase, const std::vector<Check>& checks) {
    bool all = true;
    for (const Check& check : checks) {
        std::cout << phase << ": " << (check.holds ? "ok     " : "FAILED ") << check.what << std::endl;
        all = all && check.holds;
    }
    return all;
}

}  // namespace orvanta::soak
