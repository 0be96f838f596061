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
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

extern char** environ;

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class RunningProgram {
public:
    RunningProgram(const std::string& binary, const std::vector<std::string>& arguments) {
        int outPipe[2];
        int errPipe[2];
        if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        posix_spawn_file_actions_addclose(&actions, outPipe[0]);
        posix_spawn_file_actions_addclose(&actions, errPipe[0]);
        std::vector<std::string> all{binary};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : all) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("spawn " + binary);
        posix_spawn_file_actions_destroy(&actions);
        close(outPipe[1]);
        close(errPipe[1]);
        out_ = outPipe[0];
        err_ = errPipe[0];
    }
    ~RunningProgram() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    // Reads output until standard error holds text or the time runs out.
    bool waitForError(const std::string& text, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (stderrText.find(text) == std::string::npos) {
            if (Clock::now() >= end || !readSome(end)) return stderrText.find(text) != std::string::npos;
        }
        return true;
    }

    // Waits for the exit; -1 when it did not come in time.
    int waitForExit(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (readSome(end)) {
        }
        while (Clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return status_;
            }
            usleep(10000);
        }
        return -1;
    }

    void signal(int number) { kill(pid_, number); }

    std::string stdoutText;
    std::string stderrText;

private:
    // One poll round; false once both streams are closed or the time is up.
    bool readSome(Clock::time_point end) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0 || poll(fds, 2, static_cast<int>(left)) <= 0) return false;
        bool open = false;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {
                open = true;
                continue;
            }
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? stdoutText : stderrText).append(buffer, static_cast<std::size_t>(n));
                open = true;
            }
        }
        return open;
    }

    pid_t pid_ = -1;
    int status_ = -1;
    int out_ = -1;
    int err_ = -1;
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        plant = fs::temp_directory_path() / ("orvanta-program-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(plant);
        fs::copy(fs::path(ORVANTA_SOURCE_DIR) / "demo" / "plant", plant, fs::copy_options::recursive);
        fs::remove(plant / "Program" / "Orvanta" / "Orvanta.log");  // of a demo run in the source tree
    }
    void TearDown() override { fs::remove_all(plant); }

    fs::path plant;
};

TEST_F(ProgramTest, StartsOnThePlantShowsTheMainFormAndEndsInOrderOnCtrlC) {
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--headless"});
    ASSERT_TRUE(program.waitForError("main form shown", std::chrono::seconds(10))) << program.stderrText;
    EXPECT_NE(program.stderrText.find("start form at 6566, 5083 twips"), std::string::npos)
        << program.stderrText;
    program.signal(SIGINT);
    EXPECT_EQ(program.waitForExit(std::chrono::seconds(10)), 0) << program.stderrText;
    EXPECT_NE(program.stderrText.find("start form unloaded"), std::string::npos) << program.stderrText;
    EXPECT_EQ(program.stderrText.find("error"), std::string::npos) << program.stderrText;
}

TEST_F(ProgramTest, ARuntimeThatCannotStartIsReportedAndEndsTheProgram) {
    std::ofstream(plant / "Program" / "Orvanta" / "Variables.json") << "{\"variables\": [ {\"name\": 5} ]}";
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--headless"});
    EXPECT_EQ(program.waitForExit(std::chrono::seconds(10)), 1) << program.stderrText;
    EXPECT_NE(program.stderrText.find("Variables.json"), std::string::npos) << program.stderrText;
    EXPECT_NE(program.stderrText.find("Initialisierung fehlgeschlagen!"), std::string::npos)
        << program.stderrText;
    EXPECT_EQ(program.stderrText.find("main form shown"), std::string::npos);
}

TEST_F(ProgramTest, AMissingLineDescriptionIsReportedAndTheProgramStillRuns) {
    fs::remove(plant / "Program" / "Orvanta" / "Line.json");
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--headless"});
    ASSERT_TRUE(program.waitForError("main form shown", std::chrono::seconds(10))) << program.stderrText;
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
}

}  // namespace
}  // namespace orvanta
