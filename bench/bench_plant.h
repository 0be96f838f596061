// The plant the benchmarks run on: the full-capacity fixture (1000 definitions in every table of every
// machine) as its project database, and the demo's languages.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

namespace orvanta::bench {

inline const std::filesystem::path kData = std::filesystem::path(ORVANTA_SOURCE_DIR) / "tests" / "data";

class FullPlant {
public:
    FullPlant()
        : base_(std::filesystem::temp_directory_path() / ("orvanta-bench-" + std::to_string(getpid()))) {
        namespace fs = std::filesystem;
        fs::create_directories(base_ / "Program" / "Tools");
        fs::copy_file(kData / "alarmdefs-full.vws", base_ / "Program" / "Pelmar.vws",
                      fs::copy_options::overwrite_existing);
        fs::copy_file(kData / "demo" / "Languages.mdb", base_ / "Program" / "Tools" / "Languages.mdb",
                      fs::copy_options::overwrite_existing);
    }
    ~FullPlant() { std::filesystem::remove_all(base_); }
    FullPlant(const FullPlant&) = delete;
    FullPlant& operator=(const FullPlant&) = delete;

    std::string base() const { return base_.string(); }

private:
    std::filesystem::path base_;
};

}  // namespace orvanta::bench
