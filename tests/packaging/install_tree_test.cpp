// The installation as a plant engineer meets it: this build installed into a temporary prefix, the
// programs started from there. The panel must find its database reader through the installed layout,
// orvanta-demo must run on a copy of the demo plant in the user's data folder (never writing into the
// installed one), and the manual pages must render cleanly at a terminal's width.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/mosquitto_broker.h"
#include "support/running_program.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of KEY= in a desktop entry, empty when it has none.
std::string desktopValue(const std::string& entry, const std::string& key) {
    std::istringstream lines(entry);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
}

std::size_t utf8Length(const std::string& text) {
    std::size_t length = 0;
    for (const char c : text) length += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return length;
}

// One installation for all tests of the file: installing takes longer than any single check.
class InstallTreeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new fs::path(fs::temp_directory_path() / ("orvanta-install-" + std::to_string(getpid())));
        fs::create_directories(*root_);
        testing::RunningProgram install(
            ORVANTA_CMAKE_COMMAND, {"--install", ORVANTA_BINARY_DIR, "--prefix", (*root_ / "usr").string()});
        installStatus_ = install.waitForExit(60s);
        installOutput_ = new std::string(install.stdoutText + install.stderrText);
        // As a package installs it: nobody's files to write to.
        for (const fs::directory_entry& entry :
             fs::recursive_directory_iterator(*root_ / "usr/share/orvanta")) {
            if (!entry.is_symlink())
                fs::permissions(entry.path(),
                                fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                                fs::perm_options::remove);
        }
    }
    static void TearDownTestSuite() {
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(*root_)) {
            if (entry.is_directory() && !entry.is_symlink())
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
        }
        fs::remove_all(*root_);
        delete root_;
        delete installOutput_;
    }
    void SetUp() override { ASSERT_EQ(installStatus_, 0) << *installOutput_; }

    static fs::path prefix() { return *root_ / "usr"; }
    static fs::path installedPlant() { return prefix() / "share/orvanta/demo-plant"; }
    static fs::path home() { return *root_ / "home"; }
    static fs::path userPlant() { return home() / ".local/share/orvanta/demo-plant"; }

    // orvanta-demo without a display, with the test's home and no XDG_DATA_HOME of the caller.
    static int runDemo(const std::vector<std::string>& arguments, std::string* output = nullptr,
                       const std::string& demo = (prefix() / "bin/orvanta-demo").string(),
                       const std::string& dataHome = "") {
        testing::RunningProgram program(demo, arguments,
                                        {"HOME=" + home().string(), "XDG_DATA_HOME=" + dataHome, "DISPLAY="});
        const int status = program.waitForExit(60s);
        if (output != nullptr) *output = program.stdoutText + program.stderrText;
        if (status != 0) std::cerr << program.stdoutText << program.stderrText;
        return status;
    }

    static fs::path* root_;
    static int installStatus_;
    static std::string* installOutput_;
};

fs::path* InstallTreeTest::root_ = nullptr;
int InstallTreeTest::installStatus_ = -1;
std::string* InstallTreeTest::installOutput_ = nullptr;

TEST_F(InstallTreeTest, InstallsTheProgramsTheirPagesAndADesktopEntryThatPointsAtThem) {
    std::set<std::string> programs;
    for (const fs::directory_entry& entry : fs::directory_iterator(prefix() / "bin")) {
        programs.insert(entry.path().filename().string());
        EXPECT_EQ(access(entry.path().c_str(), X_OK), 0) << entry.path();
    }
    // The companion-window stand-in is a test helper and stays out.
    EXPECT_EQ(programs, (std::set<std::string>{"orvanta", "orvanta-demo", "orvanta-mdb-reader",
                                               "orvanta-report", "orvanta-sim"}));
    for (const std::string& program : programs)
        EXPECT_TRUE(fs::is_regular_file(prefix() / "share/man/man1" / (program + ".1.gz"))) << program;

    const std::string entry = readFile(prefix() / "share/applications/orvanta-demo.desktop");
    EXPECT_EQ(programs.count(desktopValue(entry, "Exec")), 1u) << entry;
    EXPECT_TRUE(fs::is_regular_file(prefix() / "share/icons/hicolor/scalable/apps" /
                                    (desktopValue(entry, "Icon") + ".svg")));

    EXPECT_TRUE(fs::is_regular_file(installedPlant() / "Parameter/Program.ini"));
    EXPECT_TRUE(fs::is_regular_file(installedPlant() / "Program/Tools/Languages.mdb"));
    EXPECT_FALSE(fs::exists(installedPlant() / "Program/Orvanta/Orvanta.log"));
}

TEST_F(InstallTreeTest, TheInstalledPanelReadsThePlantsDatabasesWithTheReaderBesideIt) {
    testing::RunningProgram dump((prefix() / "bin/orvanta").string(),
                                 {"--base", installedPlant().string(), "--dump-refdata"},
                                 {"PATH=/nonexistent"});
    ASSERT_EQ(dump.waitForExit(60s), 0) << dump.stderrText;
    // Every database failure is reported on standard error and leaves its tables empty.
    EXPECT_EQ(dump.stderrText, "");
    EXPECT_NE(dump.stdoutText.find("\"VarName\": \"Ch1.T_zyk_m1<.faults0>\""), std::string::npos);
    EXPECT_NE(dump.stdoutText.find("\"Language\": 1031"), std::string::npos);
}

TEST_F(InstallTreeTest, DemoRunsOnTheUsersCopyOfThePlantKeepsItAndRenewsItOnRequest) {
    std::string output;
    ASSERT_EQ(runDemo({"--headless", "--run-for", "2"}, &output), 0);
    EXPECT_NE(output.find("| connected |"), std::string::npos) << output;
    const fs::path ini = userPlant() / "Program/Orvanta/Orvanta.ini";
    const fs::path log = userPlant() / "Program/Orvanta/Orvanta.log";
    ASSERT_TRUE(fs::is_regular_file(log));
    EXPECT_GT(fs::file_size(log), 0u);
    EXPECT_FALSE(fs::exists(installedPlant() / "Program/Orvanta/Orvanta.log"));
    // Copied from read-only files, the copy must still be the user's to change.
    EXPECT_NE(fs::status(ini).permissions() & fs::perms::owner_write, fs::perms::none);
    // Nothing of the copy's making is left beside it.
    std::size_t entries = 0;
    for ([[maybe_unused]] const fs::directory_entry& entry :
         fs::directory_iterator(userPlant().parent_path()))
        ++entries;
    EXPECT_EQ(entries, 1u);

    // The user's change survives the next start, made here through a link from elsewhere.
    std::ofstream(ini, std::ios::app) << "; changed by the user\n";
    fs::create_directories(*root_ / "links");
    fs::create_symlink(prefix() / "bin/orvanta-demo", *root_ / "links/orvanta-demo");
    ASSERT_EQ(runDemo({"--headless", "--run-for", "1"}, nullptr, (*root_ / "links/orvanta-demo").string()),
              0);
    EXPECT_NE(readFile(ini).find("changed by the user"), std::string::npos);

    ASSERT_EQ(runDemo({"--run-for", "1", "--reset", "--headless"}), 0);
    EXPECT_EQ(readFile(ini), readFile(installedPlant() / "Program/Orvanta/Orvanta.ini"));
}

TEST_F(InstallTreeTest, DemoTakesItsPlaceFromAnAbsoluteXdgDataHomeOnly) {
    std::string output;
    ASSERT_EQ(
        runDemo({"--help"}, &output, (prefix() / "bin/orvanta-demo").string(), (*root_ / "xdg").string()), 0);
    EXPECT_NE(output.find((*root_ / "xdg/orvanta/demo-plant").string()), std::string::npos) << output;
    ASSERT_EQ(runDemo({"--help"}, &output, (prefix() / "bin/orvanta-demo").string(), "relative/data"), 0);
    EXPECT_NE(output.find(userPlant().string()), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(*root_ / "xdg"));
}

TEST_F(InstallTreeTest, DemoOverMqttRunsBrokerSimulatorAndPanelFromTheInstallation) {
    if (!testing::MosquittoBroker::installed()) GTEST_SKIP() << "mosquitto is not installed";
    std::string output;
    ASSERT_EQ(runDemo({"--mqtt", "--headless", "--run-for", "3"}, &output), 0) << output;
    EXPECT_NE(output.find("playing the demo line"), std::string::npos) << output;
    EXPECT_NE(output.find("| connected |"), std::string::npos) << output;
}

// The unit as systemd runs it on a line PC: its command, with %f the plant folder the instance names and
// no options from /etc/default/orvanta, starts a headless panel that serves its page and ends in order on
// SIGTERM.
TEST_F(InstallTreeTest, TheServiceUnitRunsAHeadlessPanelOnItsPlantFolder) {
    const std::string unit = readFile(prefix() / "lib/systemd/system/orvanta@.service");
    std::string command = desktopValue(unit, "ExecStart");
    ASSERT_EQ(command, "/usr/bin/orvanta --base %f --headless $ORVANTA_OPTIONS") << unit;
    EXPECT_EQ(desktopValue(unit, "User"), "orvanta");
    EXPECT_EQ(desktopValue(unit, "ReadWritePaths"), "%f") << "the panel writes its log and history there";
    EXPECT_EQ(desktopValue(unit, "KillSignal"), "SIGTERM");

    const fs::path plant = *root_ / "srv/line1";
    fs::create_directories(plant.parent_path());
    fs::copy(installedPlant(), plant, fs::copy_options::recursive);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(plant))
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    testing::RunningProgram panel((prefix() / "bin/orvanta").string(),
                                  {"--base", plant.string(), "--headless"}, {"DISPLAY="});
    EXPECT_TRUE(panel.waitForOutput("Orvanta: the live line is at http://127.0.0.1:", 20s))
        << panel.stderrText;
    panel.signal(SIGTERM);
    EXPECT_EQ(panel.waitForExit(30s), 0) << panel.stderrText;
    EXPECT_TRUE(fs::is_regular_file(plant / "History.db"));
}

TEST(ManPagesTest, RenderWithoutWarningsWithinATerminalsWidth) {
    if (access("/usr/bin/groff", X_OK) != 0) GTEST_SKIP() << "groff is not installed";
    std::size_t pages = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(ORVANTA_BINARY_DIR) / "man")) {
        if (entry.path().extension() != ".gz") continue;
        ++pages;
        const std::string page = entry.path().string();
        // -ww: every warning groff knows; its output is thrown away, the warnings kept.
        testing::RunningProgram check("/bin/sh",
                                      {"-c", "gzip -dc '" + page + "' | groff -man -ww -z -Tutf8"});
        ASSERT_EQ(check.waitForExit(30s), 0) << page;
        EXPECT_EQ(check.stdoutText + check.stderrText, "") << page;

        // As man shows it on an 80-column terminal, overstriking left out.
        testing::RunningProgram render(
            "/bin/sh", {"-c", "gzip -dc '" + page + "' | groff -man -Tutf8 -rLL=78n -P-cbou"});
        ASSERT_EQ(render.waitForExit(30s), 0) << page;
        std::istringstream lines(render.stdoutText);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(utf8Length(line), 80u) << page << ": " << line;
        EXPECT_NE(render.stdoutText.find("NAME"), std::string::npos) << page;
        // "@NAME@" left by configure_file; the unit's own name "orvanta@.service" is no such value.
        EXPECT_FALSE(std::regex_search(render.stdoutText, std::regex("@[A-Z_]+@")))
            << page << ": a value was not filled in";
    }
    EXPECT_EQ(pages, 5u);
}

}  // namespace
}  // namespace orvanta
