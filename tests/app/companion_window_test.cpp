// The companion window on a real X server: the program finds the visualisation's window by its title and
// ends in order when it closes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/demo_plant.h"
#include "support/running_program.h"
#include "support/xvfb_server.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using testing::RunningProgram;
using testing::XvfbServer;

TEST(CompanionWindow, TheProgramEndsWithinTwoSecondsOfTheWindowClosing) {
    if (!XvfbServer::installed()) GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps installs it)";
    XvfbServer server;
    ASSERT_FALSE(server.displayName().empty());
    const std::string display = "DISPLAY=" + server.displayName();

    const fs::path plant = fs::temp_directory_path() / ("orvanta-companion-" + std::to_string(getpid()));
    testing::copyDemoPlant(plant);
    // Without VWStudio the companion is the web browser.
    std::ofstream(plant / "Parameter" / "Program.ini") << "[Project]\nVWStudio=False\nNumberOfMachines=5\n";

    RunningProgram browser(ORVANTA_X11_TITLE_WINDOW, {"Vwwebbrowser"}, {display});
    ASSERT_TRUE(browser.waitForOutput("ready", std::chrono::seconds(5)));
    RunningProgram panel(ORVANTA_BINARY, {"--base", plant.string(), "--headless"}, {display});
    ASSERT_TRUE(panel.waitForError("main window shown", std::chrono::seconds(10))) << panel.stderrText;

    // Found: its watch runs every two seconds.
    const fs::path log = plant / "Program" / "Orvanta" / "Orvanta.log";
    const auto watched = [&] {
        std::ifstream in(log);
        const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return content.find("TimerWebBrowser_Timer An ") != std::string::npos;
    };
    for (int i = 0; i < 50 && !watched(); ++i) usleep(100000);
    ASSERT_TRUE(watched()) << "the companion window was not found";

    browser.signal(SIGTERM);
    EXPECT_EQ(browser.waitForExit(std::chrono::seconds(5)), 0);
    const auto closed = RunningProgram::Clock::now();
    EXPECT_EQ(panel.waitForExit(std::chrono::seconds(10)), 0) << panel.stderrText;
    EXPECT_LE(RunningProgram::Clock::now() - closed, std::chrono::milliseconds(2500));
    fs::remove_all(plant);
}

}  // namespace
}  // namespace orvanta
