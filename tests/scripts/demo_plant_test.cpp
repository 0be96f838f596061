// The plant `make demo` runs on: made from demo/plant on first use, renewed where demo/plant changed, and
// what the runs added to it kept.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/file_text.h"
#include "support/running_program.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

TEST(DemoPlantScript, MakesTheCopyRenewsWhatChangedAndKeepsWhatTheRunsAdded) {
    const fs::path folder = fs::temp_directory_path() / ("orvanta-demo-plant-" + std::to_string(getpid()));
    const fs::path source = folder / "source";
    const fs::path copy = folder / "build" / "demo" / "plant";
    fs::remove_all(folder);
    fs::create_directories(source / "Program" / "Orvanta");
    std::ofstream(source / "Program" / "Orvanta" / "Orvanta.ini") << "[Project]\n";
    std::ofstream(source / "Program" / "Orvanta" / "Orvanta.log") << "a run by hand on the source\n";
    std::ofstream(source / "History.db") << "a run by hand on the source";
    const auto sync = [&] {
        testing::RunningProgram script(std::string(ORVANTA_SOURCE_DIR) + "/scripts/demo-plant",
                                       {source.string(), copy.string()});
        return script.waitForExit(std::chrono::seconds(20));
    };

    ASSERT_EQ(sync(), 0);
    EXPECT_EQ(testing::fileText(copy / "Program" / "Orvanta" / "Orvanta.ini"), "[Project]\n");
    EXPECT_FALSE(fs::exists(copy / "Program" / "Orvanta" / "Orvanta.log"));
    EXPECT_FALSE(fs::exists(copy / "History.db"));

    std::ofstream(copy / "History.db") << "the demo's history";
    std::ofstream(source / "Program" / "Orvanta" / "Orvanta.ini") << "[Project]\nLogData=0\n";
    ASSERT_EQ(sync(), 0);
    EXPECT_EQ(testing::fileText(copy / "Program" / "Orvanta" / "Orvanta.ini"), "[Project]\nLogData=0\n");
    EXPECT_EQ(testing::fileText(copy / "History.db"), "the demo's history");
    fs::remove_all(folder);
}

}  // namespace
}  // namespace orvanta
