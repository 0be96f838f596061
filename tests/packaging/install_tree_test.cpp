// The installation as a plant engineer meets it: this build installed into a temporary prefix, the
// programs started from there. The panel must find its database reader through the installed layout,
// orvanta-demo must run on a copy of the demo plant in the user's data folder (never writing into the
// installed one), and the manual pages must render cleanly at a terminal's width.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "program/exit_status.h"
#include "support/file_text.h"
#include "support/mosquitto_broker.h"
#include "support/running_program.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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

    const std::string entry = testing::fileText(prefix() / "share/applications/orvanta-demo.desktop");
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
    EXPECT_NE(testing::fileText(ini).find("changed by the user"), std::string::npos);

    ASSERT_EQ(runDemo({"--run-for", "1", "--reset", "--headless"}), 0);
    EXPECT_EQ(testing::fileText(ini), testing::fileText(installedPlant() / "Program/Orvanta/Orvanta.ini"));
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
    const std::string unit = testing::fileText(prefix() / "lib/systemd/system/orvanta@.service");
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

// The installed demo plant is nobody's to write, and root's panel is not kept out of it by its modes: the
// panel refuses it before it writes a lock, a log or a history there, and points to orvanta-demo.
TEST_F(InstallTreeTest, ThePanelRefusesTheInstalledDemoPlantBeforeWritingAnythingThere) {
    testing::RunningProgram panel((prefix() / "bin/orvanta").string(),
                                  {"--base", installedPlant().string(), "--headless", "--run-for", "2"},
                                  {"DISPLAY="});
    EXPECT_EQ(panel.waitForExit(30s), 2) << panel.stderrText;
    EXPECT_NE(panel.stderrText.find("orvanta: the plant folder " + installedPlant().string() +
                                    " is the installed demo plant"),
              std::string::npos)
        << panel.stderrText;
    EXPECT_NE(panel.stderrText.find("Run orvanta-demo"), std::string::npos) << panel.stderrText;
    for (const char* written :
         {"Orvanta.lock", "History.db", "Program/Orvanta/Orvanta.log", "Program/Orvanta/OrvantaOCX.log"})
        EXPECT_FALSE(fs::exists(installedPlant() / written)) << written;
}

// What scripts and service managers act on is said alike wherever a person looks it up.
TEST(ExitStatusTest, TheManualTheReadmeAndTheUnitNameTheProgramsExitStatuses) {
    const std::set<int> statuses{kExitOk, kExitStartFailed, kExitUsage, kExitPlantInUse, kExitInterrupted};
    const auto numbersAfter = [](const std::string& text, const std::string& from, const std::string& to,
                                 const std::regex& number) {
        const std::size_t begin = text.find(from);
        const std::size_t end = text.find(to, begin == std::string::npos ? 0 : begin + from.size());
        std::set<int> found;
        if (begin == std::string::npos) return found;
        const std::string part =
            text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        for (std::sregex_iterator match(part.begin(), part.end(), number), none; match != none; ++match)
            found.insert(std::stoi((*match)[1]));
        return found;
    };
    const fs::path source(ORVANTA_SOURCE_DIR);
    EXPECT_EQ(numbersAfter(testing::fileText(source / "packaging/orvanta.1"), ".SH EXIT STATUS", "\n.SH ",
                           std::regex("\n\\.TP\n\\.B (\\d+)\n")),
              statuses);
    EXPECT_EQ(numbersAfter(testing::fileText(source / "README.md"), "| exit status | meaning |", "\n\n",
                           std::regex("\n\\| (\\d+) \\|")),
              statuses);
    // The unit does not restart a panel that a restart cannot help.
    const std::set<int> notRestarted = numbersAfter(testing::fileText(source / "packaging/orvanta@.service"),
                                                    "RestartPreventExitStatus=", "\n", std::regex("(\\d+)"));
    EXPECT_EQ(notRestarted, (std::set<int>{kExitUsage, kExitPlantInUse}));
}

// The Debian package as CPack makes it from this build: its copyright file, and maintainer scripts that
// leave no panel running or enabled without its program and no user behind a purge. The scripts run with
// stand-ins for systemctl and the user tools on PATH, on a root of their own (DPKG_ROOT, as dpkg gives it
// when it acts on another root, where no panel of this system is stopped).
TEST(DebianPackageTest, HasACopyrightFileAndScriptsThatDisableThePanelsOnRemoveAndDropTheUserOnPurge) {
    if (access("/usr/bin/dpkg-deb", X_OK) != 0) GTEST_SKIP() << "dpkg-deb is not installed";
    const fs::path work = fs::temp_directory_path() / ("orvanta-deb-" + std::to_string(getpid()));
    fs::remove_all(work);
    fs::create_directories(work);
    // Gone also after a failed assertion.
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> removed(
        &work, [](const fs::path* path) { fs::remove_all(*path); });
    const fs::path cpack = fs::path(ORVANTA_CMAKE_COMMAND).parent_path() / "cpack";
    testing::RunningProgram package(
        cpack.string(),
        {"--config", std::string(ORVANTA_BINARY_DIR) + "/CPackConfig.cmake", "-B", work.string()});
    ASSERT_EQ(package.waitForExit(120s), 0) << package.stdoutText << package.stderrText;
    fs::path deb;
    for (const fs::directory_entry& entry : fs::directory_iterator(work))
        if (entry.path().extension() == ".deb") deb = entry.path();
    ASSERT_FALSE(deb.empty());
    for (const auto& [option, folder] : {std::pair{"-e", "control"}, std::pair{"-x", "data"}}) {
        testing::RunningProgram unpack("/usr/bin/dpkg-deb", {option, deb.string(), (work / folder).string()});
        ASSERT_EQ(unpack.waitForExit(60s), 0) << unpack.stderrText;
    }

    const std::string copyright = testing::fileText(work / "data/usr/share/doc/orvanta/copyright");
    EXPECT_EQ(
        copyright.rfind("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n", 0),
        0u)
        << copyright;
    for (const char* field : {"\nUpstream-Name: orvanta\n", "\nFiles: *\n", "\nCopyright: ", "\nLicense: "})
        EXPECT_NE(copyright.find(field), std::string::npos) << field << " in " << copyright;
    EXPECT_FALSE(std::regex_search(copyright, std::regex("@[A-Z_]+@"))) << copyright;

    const fs::path root = work / "root";
    const fs::path wants = root / "etc/systemd/system/multi-user.target.wants";
    fs::create_directories(wants);
    for (const char* unit : {"orvanta@srv-line1.service", "orvanta@srv-line2.service", "ssh.service"})
        fs::create_symlink("/usr/lib/systemd/system/" + std::string(unit), wants / unit);
    const fs::path bin = work / "bin";
    const fs::path calls = work / "calls";
    fs::create_directories(bin);
    for (const char* tool : {"systemctl", "deluser", "delgroup", "getent"}) {
        std::ofstream(bin / tool) << "#!/bin/sh\necho \"" << tool << " $*\" >> '" << calls.string() << "'\n";
        fs::permissions(bin / tool, fs::perms::owner_all);
    }
    const auto run = [&](const std::string& script, const std::string& action) {
        const fs::path path = work / "control" / script;
        EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_exec, fs::perms::none) << script;
        testing::RunningProgram maintainer(
            path.string(), {action},
            {"PATH=" + bin.string() + ":/usr/bin:/bin", "DPKG_ROOT=" + root.string()});
        EXPECT_EQ(maintainer.waitForExit(30s), 0) << script << " " << action << ": " << maintainer.stderrText;
        std::string said = testing::fileText(calls);
        fs::remove(calls);
        return said;
    };
    EXPECT_EQ(run("prerm", "upgrade"), "") << "an upgrade leaves the panels running";
    EXPECT_EQ(run("prerm", "remove"), "systemctl --root=" + root.string() +
                                          " --quiet disable orvanta@srv-line1.service\n"
                                          "systemctl --root=" +
                                          root.string() + " --quiet disable orvanta@srv-line2.service\n");
    EXPECT_EQ(run("postrm", "remove"), "") << "the user stays until the purge";
    EXPECT_EQ(run("postrm", "purge"),
              "getent passwd orvanta\ndeluser --system --quiet orvanta\n"
              "getent group orvanta\ndelgroup --system --quiet --only-if-empty orvanta\n");
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
