// A fresh copy of the demo plant for a test, a benchmark or the soak: only the plant's own files, never
// what a run of the panel left beside them (a history, a lock, a log), so that nothing a person did with
// the source tree's plant changes what a test reads.
#pragma once

#include <filesystem>

namespace orvanta::testing {

inline void copyDemoPlant(const std::filesystem::path& to) {
    namespace fs = std::filesystem;
    static const char* const kOwnFiles[] = {
        "Parameter/Program.ini",          "Program/Orvanta/Orvanta.ini", "Program/Orvanta/Line.json",
        "Program/Orvanta/Variables.json", "Program/Pelmar.vws",          "Program/Pelmar.mdb",
        "Program/Tools/Languages.mdb",
    };
    const fs::path from = fs::path(ORVANTA_SOURCE_DIR) / "demo" / "plant";
    fs::remove_all(to);
    for (const char* file : kOwnFiles) {
        fs::create_directories((to / file).parent_path());
        fs::copy_file(from / file, to / file);
    }
}

}  // namespace orvanta::testing
