#include "sim/sim_command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/orvanta_app.h"
#include "sim/sim_app.h"
#include "support/demo_plant.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

TEST(SimCommandLine, TakesEveryOptionInEitherForm) {
    SimCommandLineResult parsed = parseSimCommandLine({});
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.rate, 1.0);
    EXPECT_EQ(parsed.options.seed, std::nullopt);
    EXPECT_EQ(parsed.options.backend, std::nullopt);

    parsed = parseSimCommandLine(
        {"--base", "plant", "--backend", "MQTT", "--rate", "2.5", "--seed", "4294967295", "--run-for", "3"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.baseFolder, "plant");
    EXPECT_EQ(parsed.options.backend, BackendKind::Mqtt);
    EXPECT_EQ(parsed.options.rate, 2.5);
    EXPECT_EQ(parsed.options.seed, 4294967295u);
    EXPECT_EQ(parsed.options.runForSeconds, 3);

    parsed =
        parseSimCommandLine({"--base=a=b", "--backend=mqtt", "--rate=1000", "--seed=0", "--run-for=2147483"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.baseFolder, "a=b");
    EXPECT_EQ(parsed.options.rate, 1000.0);
    EXPECT_EQ(parsed.options.seed, 0u);
    EXPECT_EQ(parsed.options.runForSeconds, 2147483);
}

TEST(SimCommandLine, RejectsWhatItCannotUse) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--base"}, "--base needs the plant folder"},
        {{"--base="}, "--base needs the plant folder"},
        {{"--backend", "opc"}, "--backend needs mqtt, not 'opc'"},
        {{"--backend"}, "--backend needs mqtt"},
        {{"--rate", "0"}, "--rate needs a number above 0 and at most 1000, not '0'"},
        {{"--rate", "1000.5"}, "--rate needs a number above 0 and at most 1000, not '1000.5'"},
        {{"--rate", "-2"}, "--rate needs a number above 0 and at most 1000, not '-2'"},
        {{"--rate", "nan"}, "--rate needs a number above 0 and at most 1000, not 'nan'"},
        {{"--rate", "inf"}, "--rate needs a number above 0 and at most 1000, not 'inf'"},
        {{"--rate", "10x"}, "--rate needs a number above 0 and at most 1000, not '10x'"},
        {{"--rate", " 10"}, "--rate needs a number above 0 and at most 1000, not ' 10'"},
        {{"--seed", "4294967296"}, "--seed needs a whole number from 0 to 4294967295, not '4294967296'"},
        {{"--seed", "-1"}, "--seed needs a whole number from 0 to 4294967295, not '-1'"},
        {{"--seed", "1.5"}, "--seed needs a whole number from 0 to 4294967295, not '1.5'"},
        {{"--run-for", "0"}, "--run-for needs a number of seconds from 1 to 2147483, not '0'"},
        {{"--run-for", "2147484"}, "--run-for needs a number of seconds from 1 to 2147483, not '2147484'"},
        {{"--run-for"}, "--run-for needs a number of seconds from 1 to 2147483"},
        {{"--simulate"}, "unknown argument '--simulate'"},
        {{"--help=yes"}, "unknown argument '--help=yes'"},
    };
    for (const auto& [arguments, error] : cases) EXPECT_EQ(parseSimCommandLine(arguments).error, error);

    const std::string embedded = parseSimCommandLine({"--backend", "embedded"}).error;
    EXPECT_NE(embedded.find("orvanta --simulate"), std::string::npos) << embedded;
}

// Everything that ends the simulator before it reaches for the broker: in-process, nothing is started.
class SimUsageTest : public ::testing::Test {
protected:
    void SetUp() override {
        plant_ = fs::temp_directory_path() / ("orvanta-sim-usage-" + std::to_string(::getpid()));
        testing::copyDemoPlant(plant_);
    }
    void TearDown() override { fs::remove_all(plant_); }

    int run(const std::vector<std::string>& arguments) {
        out_.str("");
        err_.str("");
        return runOrvantaSim(arguments, out_, err_);
    }

    fs::path plant_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(SimUsageTest, HelpAndVersion) {
    EXPECT_EQ(run({"--help"}), kExitOk);
    for (const char* option : {"--base DIR", "--backend mqtt", "--rate R", "--seed N", "--run-for SECONDS"})
        EXPECT_NE(out_.str().find(option), std::string::npos) << option;
    EXPECT_EQ(run({"--version"}), kExitOk);
    EXPECT_EQ(out_.str().rfind("orvanta-sim ", 0), 0u) << out_.str();
}

TEST_F(SimUsageTest, BadCommandLinesAndPlantFoldersAreUsageErrors) {
    EXPECT_EQ(run({"--backend", "mqtt"}), kExitUsage);
    EXPECT_NE(err_.str().find("orvanta-sim: --base DIR is required"), std::string::npos) << err_.str();

    EXPECT_EQ(run({"--base", plant_.string(), "--backend", "embedded"}), kExitUsage);
    EXPECT_NE(err_.str().find("`orvanta --simulate`"), std::string::npos) << err_.str();

    // The demo plant's own setting is the embedded backend.
    EXPECT_EQ(run({"--base", plant_.string()}), kExitUsage);
    EXPECT_NE(err_.str().find("[Runtime] Backend of " + (plant_ / "Program/Orvanta/Orvanta.ini").string() +
                              " is embedded"),
              std::string::npos)
        << err_.str();
    EXPECT_NE(err_.str().find("`orvanta --simulate`"), std::string::npos) << err_.str();

    EXPECT_EQ(run({"--base", (plant_ / "nowhere").string(), "--backend", "mqtt"}), kExitUsage);
    EXPECT_NE(err_.str().find("is not a folder"), std::string::npos) << err_.str();

    std::ofstream(plant_ / "Program/Orvanta/Variables.json") << "{\"variables\": [{\"name\": \"x\"}]}";
    EXPECT_EQ(run({"--base", plant_.string(), "--backend", "mqtt"}), kExitUsage);
    EXPECT_NE(err_.str().find("Variables.json"), std::string::npos) << err_.str();

    fs::remove(plant_ / "Program/Orvanta/Line.json");
    EXPECT_EQ(run({"--base", plant_.string(), "--backend", "mqtt"}), kExitUsage);
    EXPECT_NE(err_.str().find("Line.json"), std::string::npos) << err_.str();

    std::ofstream(plant_ / "Program/Orvanta/Orvanta.ini") << "[Runtime]\nBackend=mqtt\n[Mqtt]\nPort=70000\n";
    EXPECT_EQ(run({"--base", plant_.string()}), kExitUsage);
    EXPECT_NE(err_.str().find("70000"), std::string::npos) << err_.str();
    EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace orvanta
