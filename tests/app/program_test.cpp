// The program as a person starts it: the real binary on a copy of the demo plant, headless.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/demo_plant.h"
#include "support/mosquitto_broker.h"
#include "support/running_program.h"

extern char** environ;

namespace orvanta {
namespace {

using testing::RunningProgram;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        plant = fs::temp_directory_path() / ("orvanta-program-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        testing::copyDemoPlant(plant);
    }
    void TearDown() override { fs::remove_all(plant); }

    fs::path plant;
};

TEST_F(ProgramTest, StartsOnThePlantShowsTheMainFormAndEndsInOrderOnCtrlC) {
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--headless"});
    ASSERT_TRUE(program.waitForError("main window shown", std::chrono::seconds(10))) << program.stderrText;
    // In the words of a person at the terminal: the plant's screen in pixels.
    EXPECT_NE(program.stderrText.find(
                  "Orvanta: start window off centre on 1024 x 768 pixels, its top left corner at 438, 339"),
              std::string::npos)
        << program.stderrText;
    for (const char* word : {"twips", "colour", "start form", "main form"})
        EXPECT_EQ(program.stderrText.find(word), std::string::npos) << word << ": " << program.stderrText;
    program.signal(SIGINT);
    EXPECT_EQ(program.waitForExit(std::chrono::seconds(10)), 0) << program.stderrText;
    EXPECT_NE(program.stderrText.find("start window closed"), std::string::npos) << program.stderrText;
    EXPECT_EQ(program.stderrText.find("error"), std::string::npos) << program.stderrText;
}

TEST_F(ProgramTest, ARuntimeThatCannotStartIsReportedAndEndsTheProgram) {
    std::ofstream(plant / "Program" / "Orvanta" / "Variables.json") << "{\"variables\": [ {\"name\": 5} ]}";
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--headless"});
    EXPECT_EQ(program.waitForExit(std::chrono::seconds(10)), 1) << program.stderrText;
    EXPECT_NE(program.stderrText.find("Variables.json"), std::string::npos) << program.stderrText;
    EXPECT_NE(program.stderrText.find("Initialisierung fehlgeschlagen!"), std::string::npos)
        << program.stderrText;
    EXPECT_EQ(program.stderrText.find("main window shown"), std::string::npos);
    EXPECT_FALSE(fs::exists(plant / "Program" / "Orvanta" / "Orvanta.log"))
        << "the main window never read its settings";
}

TEST_F(ProgramTest, OnTheMqttBackendABrokerThatCannotBeReachedEndsTheStart) {
    const int port = testing::MosquittoBroker::freePort();  // nothing listens there
    std::ofstream(plant / "Program" / "Orvanta" / "Orvanta.ini")
        << "[Mqtt]\nPort=" << port << "\nStartTimeout=1\n";
    const auto begin = Clock::now();
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--backend", "mqtt", "--headless"});
    EXPECT_EQ(program.waitForExit(std::chrono::seconds(10)), 1) << program.stderrText;
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(5));
    EXPECT_NE(program.stderrText.find("no connection to the broker localhost:" + std::to_string(port)),
              std::string::npos)
        << program.stderrText;
    EXPECT_NE(program.stderrText.find("Initialisierung fehlgeschlagen!"), std::string::npos)
        << program.stderrText;
}

TEST_F(ProgramTest, OnTheMqttBackendABrokerRestartIsLoggedAndThePanelRunsOn) {
    if (!testing::MosquittoBroker::installed()) GTEST_SKIP() << "mosquitto is not installed";
    testing::MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    std::ofstream(plant / "Program" / "Orvanta" / "Orvanta.ini")
        << "[Project]\nLogFileSystem=True\n[Mqtt]\nHost=127.0.0.1\nPort=" << broker.port() << "\n";
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--backend", "mqtt", "--headless"});
    ASSERT_TRUE(program.waitForError("main window shown", std::chrono::seconds(10))) << program.stderrText;
    broker.stop();
    ASSERT_TRUE(program.waitForError("The connection to the MQTT broker was lost", std::chrono::seconds(10)))
        << program.stderrText;
    broker.start();
    ASSERT_TRUE(broker.running());
    ASSERT_TRUE(program.waitForError("The connection to the MQTT broker is back", std::chrono::seconds(10)))
        << program.stderrText;
    program.signal(SIGINT);
    EXPECT_EQ(program.waitForExit(std::chrono::seconds(10)), 0) << program.stderrText;

    std::ifstream logFile(plant / "Program" / "Orvanta" / "Orvanta.log");
    const std::string log((std::istreambuf_iterator<char>(logFile)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(
        std::regex_search(log, std::regex("\nF \\d\\d:\\d\\d:\\d\\d \\S+ The connection to the MQTT broker "
                                          "was lost[^\r]*; reconnecting\r\n")))
        << log;
    EXPECT_NE(log.find(" The connection to the MQTT broker is back\r\n"), std::string::npos) << log;
}

// A broker that holds none of the variables the panel reads and no line: a state, said once on standard
// error and in the log, not a fault line per read every second.
TEST_F(ProgramTest, OnAnEmptyBrokerThePanelSaysOnceWhatItWaitsFor) {
    if (!testing::MosquittoBroker::installed()) GTEST_SKIP() << "mosquitto is not installed";
    testing::MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    std::ofstream(plant / "Program" / "Orvanta" / "Orvanta.ini")
        << "[Project]\n[Mqtt]\nHost=127.0.0.1\nPort=" << broker.port() << "\n";
    RunningProgram program(ORVANTA_BINARY,
                           {"--base", plant.string(), "--backend", "mqtt", "--headless", "--run-for", "6"});
    ASSERT_EQ(program.waitForExit(std::chrono::seconds(20)), 0) << program.stderrText;
    std::ifstream logFile(plant / "Program" / "Orvanta" / "Orvanta.log");
    const std::string log((std::istreambuf_iterator<char>(logFile)), std::istreambuf_iterator<char>());
    const auto count = [](const std::string& text, const std::string& part) {
        std::size_t found = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
        return found;
    };
    for (const std::string* said : std::initializer_list<const std::string*>{&program.stderrText, &log}) {
        EXPECT_EQ(count(*said, "has no value on the broker"), 0u) << *said;
        EXPECT_EQ(count(*said, "Waiting for the broker 127.0.0.1:" + std::to_string(broker.port()) + ": "),
                  1u)
            << *said;
        EXPECT_NE(said->find("orvanta/vars/NAME): Ch-1.int_linie<.li_leben_hi>"), std::string::npos) << *said;
        EXPECT_NE(said->find("never came: orvanta/line/config (the line's description)"), std::string::npos)
            << *said;
    }
}

TEST_F(ProgramTest, AWrongBackendSettingIsAClearErrorAndExitStatus) {
    std::ofstream(plant / "Program" / "Orvanta" / "Orvanta.ini") << "[Runtime]\nBackend=opc\n";
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--headless"});
    EXPECT_EQ(program.waitForExit(std::chrono::seconds(10)), 2) << program.stderrText;
    EXPECT_NE(program.stderrText.find("[Runtime] Backend: \"opc\" is not a backend"), std::string::npos)
        << program.stderrText;

    fs::copy_file(fs::path(ORVANTA_SOURCE_DIR) / "demo/plant/Program/Orvanta/Orvanta.ini",
                  plant / "Program" / "Orvanta" / "Orvanta.ini", fs::copy_options::overwrite_existing);
    RunningProgram simulated(ORVANTA_BINARY,
                             {"--base", plant.string(), "--backend", "mqtt", "--simulate", "--headless"});
    EXPECT_EQ(simulated.waitForExit(std::chrono::seconds(10)), 2) << simulated.stderrText;
    EXPECT_NE(simulated.stderrText.find("orvanta-sim"), std::string::npos) << simulated.stderrText;
}

TEST_F(ProgramTest, AMissingLineDescriptionIsReportedAndTheProgramStillRuns) {
    fs::remove(plant / "Program" / "Orvanta" / "Line.json");
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--headless"});
    ASSERT_TRUE(program.waitForError("main window shown", std::chrono::seconds(10))) << program.stderrText;
    EXPECT_NE(program.stderrText.find("Line.json"), std::string::npos) << program.stderrText;
    program.signal(SIGTERM);
    EXPECT_EQ(program.waitForExit(std::chrono::seconds(10)), 0) << program.stderrText;
}

TEST_F(ProgramTest, AProgramFolderWithoutBaseIsAClearErrorAndExitStatus) {
    // Installed directly below a folder of the root: two path elements cannot be removed.
    const fs::path rootLevel = fs::path("/") / ("orvanta-shallow-" + std::to_string(getpid()));
    fs::create_directories(rootLevel);
    fs::copy_file(ORVANTA_BINARY, rootLevel / "orvanta");
    RunningProgram program((rootLevel / "orvanta").string(), {"--headless"});
    const int status = program.waitForExit(std::chrono::seconds(10));
    fs::remove_all(rootLevel);
    EXPECT_EQ(status, 2) << program.stderrText;
    EXPECT_NE(program.stderrText.find("fewer than two folders below the root"), std::string::npos)
        << program.stderrText;
}

TEST_F(ProgramTest, DumpsThePlantsReferenceDataAsOneJsonDocument) {
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--dump-refdata"});
    ASSERT_EQ(program.waitForExit(std::chrono::seconds(20)), 0) << program.stderrText;
    const auto document = nlohmann::json::parse(program.stdoutText);
    EXPECT_EQ(document["numberOfMachines"], 5);
    ASSERT_EQ(document["alarmTables"].size(), 15u);
    std::size_t entries = 0;
    for (std::size_t i = 0; i < 15; ++i) {
        const auto& table = document["alarmTables"][i];
        EXPECT_EQ(table["table"], i / 5 + 1);
        EXPECT_EQ(table["machine"], i % 5 + 1);
        entries += table["entries"].size();
    }
    EXPECT_EQ(entries, 130u);
    const auto& first = document["alarmTables"][0]["entries"][0];
    EXPECT_EQ(first["AnzeigeStatus"], 4);
    EXPECT_EQ(document["languages"].size(), 9u);
    EXPECT_EQ(document["languages"][0]["Language"], 1031);
    EXPECT_EQ(document["languages"][0]["FontName"], "Arial");
    EXPECT_NE(program.stdoutText.find("{\"Ident\": "), std::string::npos) << "one entry a line, spaced";
    EXPECT_TRUE(program.stderrText.empty()) << program.stderrText;
}

TEST_F(ProgramTest, DumpingAPlantWithoutDatabasesGivesEmptyTablesAndTheReasons) {
    fs::remove(plant / "Program" / "Pelmar.vws");
    fs::remove(plant / "Program" / "Tools" / "Languages.mdb");
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--dump-refdata"});
    ASSERT_EQ(program.waitForExit(std::chrono::seconds(20)), 0) << program.stderrText;
    const auto document = nlohmann::json::parse(program.stdoutText);
    for (const auto& table : document["alarmTables"]) EXPECT_TRUE(table["entries"].empty());
    EXPECT_TRUE(document["languages"].empty());
    EXPECT_NE(program.stderrText.find("Pelmar.vws"), std::string::npos) << program.stderrText;
    EXPECT_NE(program.stderrText.find("Languages.mdb"), std::string::npos) << program.stderrText;
}

TEST_F(ProgramTest, TheSimulatedDemoLineRunsForItsTimeAndLeavesAWellFormedLog) {
    RunningProgram program(ORVANTA_BINARY,
                           {"--base", plant.string(), "--headless", "--simulate", "--run-for", "5"});
    ASSERT_EQ(program.waitForExit(std::chrono::seconds(30)), 0) << program.stderrText;
    EXPECT_NE(program.stdoutText.find("| connected | M1 "), std::string::npos) << program.stdoutText;
    // Into a pipe, as into the journal, a status line only when it changed.
    std::istringstream output(program.stdoutText);
    std::string previous;
    for (std::string line; std::getline(output, line); previous = line) {
        if (line.rfind("line: ", 0) == 0) {
            EXPECT_NE(line, previous) << program.stdoutText;
        }
    }
    std::ifstream log(plant / "Program" / "Orvanta" / "Orvanta.log", std::ios::binary);
    const std::regex trace(R"(S \d\d:\d\d:\d\d \S+ [A-Za-z_.]+ (An|En) )");
    const std::regex checkpoint(R"(S \d\d:\d\d:\d\d \S+ FormActivate .*)");
    const std::regex dropped(R"(S \d\d:\d\d:\d\d \S+ \w+ .*dropped)");
    int lines = 0;
    for (std::string line; std::getline(log, line); ++lines) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r') << "lines end in CR LF";
        line.pop_back();
        EXPECT_TRUE(std::regex_match(line, trace) || std::regex_match(line, checkpoint) ||
                    std::regex_match(line, dropped))
            << line;
    }
    EXPECT_GT(lines, 20);
}

// Whether pid names a process that still runs (a zombie has ended).
bool runs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    return stat >> pidText >> name >> state && state != "Z";
}

// The program beside a reader that hangs (a damaged file on a stalled disk, say): the reader notes its
// pid and then sleeps for a minute.
class HungReaderTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        folder = fs::path(ORVANTA_BINARY).parent_path() /
                 ("hung-reader-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::error_code linked;
        fs::create_hard_link(ORVANTA_BINARY, folder / "orvanta", linked);  // the reader is found beside it
        if (linked) fs::copy_file(ORVANTA_BINARY, folder / "orvanta");
        std::ofstream(folder / "orvanta-mdb-reader")
            << "#!/bin/sh\necho $$ >> " << (folder / "readers").string() << "\nexec /bin/sleep 60\n";
        fs::permissions(folder / "orvanta-mdb-reader", fs::perms::owner_all);
    }
    void TearDown() override {
        for (const pid_t reader : readers()) kill(reader, SIGKILL);
        fs::remove_all(folder);
        ProgramTest::TearDown();
    }
    std::vector<pid_t> readers() const {
        std::ifstream in(folder / "readers");
        std::vector<pid_t> pids;
        for (pid_t pid = 0; in >> pid;) pids.push_back(pid);
        return pids;
    }
    bool aReaderRuns() const {
        for (int i = 0; i < 100; ++i) {
            for (const pid_t reader : readers())
                if (runs(reader)) return true;
            usleep(10000);
        }
        return false;
    }

    fs::path folder;
};

TEST_F(HungReaderTest, AFirstCtrlCStopsTheReaderAndEndsTheStartInOrder) {
    RunningProgram program((folder / "orvanta").string(), {"--base", plant.string(), "--headless"});
    ASSERT_TRUE(program.waitForError("main window shown", std::chrono::seconds(10))) << program.stderrText;
    ASSERT_TRUE(aReaderRuns());
    const auto begin = Clock::now();
    program.signal(SIGINT);
    EXPECT_EQ(program.waitForExit(std::chrono::seconds(10)), 0) << program.stderrText;
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(3));
    EXPECT_NE(program.stderrText.find("the reader was stopped because the program is ending"),
              std::string::npos)
        << program.stderrText;
    EXPECT_NE(program.stderrText.find("start window closed"), std::string::npos) << program.stderrText;
    for (const pid_t reader : readers()) EXPECT_FALSE(runs(reader)) << reader;
}

TEST_F(HungReaderTest, ASecondCtrlCEndsAtOnceWithStatus130) {
    RunningProgram program((folder / "orvanta").string(), {"--base", plant.string(), "--headless"});
    ASSERT_TRUE(program.waitForError("main window shown", std::chrono::seconds(10))) << program.stderrText;
    ASSERT_TRUE(aReaderRuns());
    const auto begin = Clock::now();
    program.signal(SIGTERM);
    program.signal(SIGINT);
    EXPECT_EQ(program.waitForExit(std::chrono::seconds(10)), 130) << program.stderrText;
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(2));
    usleep(100000);
    for (const pid_t reader : readers()) EXPECT_FALSE(runs(reader)) << reader;
}

TEST_F(ProgramTest, ASecondPanelOnThePlantFolderIsRefusedWhateverPathNamesItAndACrashLeavesNoLock) {
    RunningProgram first(ORVANTA_BINARY, {"--base", plant.string(), "--headless"});
    ASSERT_TRUE(first.waitForError("main window shown", std::chrono::seconds(10))) << first.stderrText;

    const fs::path link = plant.string() + "-link";
    fs::remove(link);
    fs::create_directory_symlink(plant, link);
    std::string otherCase = plant.string();
    for (std::size_t i = plant.parent_path().string().size() + 1; i < otherCase.size(); ++i)
        otherCase[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(otherCase[i])));
    for (const std::string& base : {plant.string(), link.string(), otherCase}) {
        RunningProgram second(ORVANTA_BINARY, {"--base", base, "--headless"});
        EXPECT_EQ(second.waitForExit(std::chrono::seconds(10)), 3) << base << "\n" << second.stderrText;
        EXPECT_NE(second.stderrText.find("already runs on the plant folder "), std::string::npos)
            << second.stderrText;
        EXPECT_NE(second.stderrText.find("pid " + std::to_string(first.pid())), std::string::npos)
            << second.stderrText;
        EXPECT_EQ(second.stderrText.find("main window shown"), std::string::npos) << second.stderrText;
    }
    fs::remove(link);

    first.signal(SIGKILL);
    first.waitForExit(std::chrono::seconds(5));
    RunningProgram after(ORVANTA_BINARY, {"--base", plant.string(), "--headless", "--run-for", "1"});
    EXPECT_EQ(after.waitForExit(std::chrono::seconds(10)), 0) << after.stderrText;
    EXPECT_EQ(after.stderrText.find("error"), std::string::npos) << after.stderrText;
}

// Root reads and writes whatever the permissions say: the program then runs as nobody.
std::vector<std::string> unprivileged(std::vector<std::string> command) {
    if (geteuid() != 0) return command;
    command.insert(command.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    return command;
}

TEST_F(ProgramTest, OnAReadOnlyPlantFolderThePanelRunsAndSaysOnceThatItHasNoLogAndNoLock) {
    if (geteuid() == 0 && !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is not installed";
    // A fault to be logged: a missing line description.
    fs::remove(plant / "Program" / "Orvanta" / "Line.json");
    for (const auto& entry : fs::recursive_directory_iterator(plant))
        fs::permissions(entry.path(),
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    fs::permissions(plant, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    std::vector<std::string> command =
        unprivileged({ORVANTA_BINARY, "--base", plant.string(), "--headless", "--run-for", "2"});
    const std::string binary = geteuid() == 0 ? "/usr/bin/setpriv" : command.front();
    if (geteuid() != 0) command.erase(command.begin());
    RunningProgram program(binary, command);
    const int status = program.waitForExit(std::chrono::seconds(20));
    fs::permissions(plant, fs::perms::owner_all, fs::perm_options::add);
    for (const auto& entry : fs::recursive_directory_iterator(plant))
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(status, 0) << program.stderrText;
    const auto count = [&](const std::string& text) {
        std::size_t found = 0;
        for (std::size_t at = program.stderrText.find(text); at != std::string::npos;
             at = program.stderrText.find(text, at + 1))
            ++found;
        return found;
    };
    EXPECT_EQ(count("Orvanta: error: cannot make the lock file " + plant.string() + "/Orvanta.lock"), 1u)
        << program.stderrText;
    EXPECT_EQ(
        count("Orvanta: error: Cannot write the log " + plant.string() + "/Program/Orvanta/Orvanta.log"), 1u)
        << program.stderrText;
    EXPECT_NE(program.stderrText.find("main window shown"), std::string::npos) << program.stderrText;
    EXPECT_FALSE(fs::exists(plant / "Program" / "Orvanta" / "Orvanta.log"));
}

TEST_F(ProgramTest, HelpVersionAndBadArguments) {
    {
        RunningProgram program(ORVANTA_BINARY, {"--help"});
        EXPECT_EQ(program.waitForExit(std::chrono::seconds(5)), 0);
        for (const char* option : {"--base DIR", "--headless", "--help", "--version"})
            EXPECT_NE(program.stdoutText.find(option), std::string::npos) << option;
    }
    {
        RunningProgram program(ORVANTA_BINARY, {"--version"});
        EXPECT_EQ(program.waitForExit(std::chrono::seconds(5)), 0);
        EXPECT_EQ(program.stdoutText.rfind("orvanta ", 0), 0u) << program.stdoutText;
    }
    {
        RunningProgram program(ORVANTA_BINARY, {"--frobnicate"});
        EXPECT_EQ(program.waitForExit(std::chrono::seconds(5)), 2);
        EXPECT_NE(program.stderrText.find("unknown argument '--frobnicate'"), std::string::npos);
    }
    {
        RunningProgram program(ORVANTA_BINARY, {"--base"});
        EXPECT_EQ(program.waitForExit(std::chrono::seconds(5)), 2);
    }
    {
        // Once wrapped around in the timer's milliseconds and ended the program at once with status 0.
        RunningProgram program(ORVANTA_BINARY, {"--headless", "--run-for", "2147484"});
        EXPECT_EQ(program.waitForExit(std::chrono::seconds(5)), 2);
        EXPECT_NE(program.stderrText.find("--run-for needs a number of seconds from 1 to 2147483"),
                  std::string::npos)
            << program.stderrText;
    }
}

}  // namespace
}  // namespace orvanta
