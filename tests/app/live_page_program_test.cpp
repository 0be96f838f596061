// The live line page of the real program: orvanta on a copy of the demo plant, simulated, with [Web]
// listening on a free port of the loopback; headless Chromium opens the address the program names and
// must see the demo line as the panel's window draws it, live. ORVANTA_KEEP_LIVE_SCREENSHOT=FILE keeps a
// picture of the page (the README's).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "support/demo_plant.h"
#include "support/running_program.h"
#include "support/webdriver.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::RunningProgram;
using testing::WebDriver;
using namespace std::chrono_literals;

class LivePageProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Named as the source tree's, so that the page names the line as `make demo` does.
        folder = fs::temp_directory_path() / ("orvanta-live-page-" + std::to_string(getpid()));
        plant = folder / "plant";
        fs::remove_all(folder);
        fs::create_directories(folder);
        testing::copyDemoPlant(plant);
        // The demo's page listens on a free port of the loopback; the test holds it to that.
        const fs::path ini = plant / "Program" / "Orvanta" / "Orvanta.ini";
        std::ifstream in(ini, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::regex listen(R"(\nListen=[^\r\n]*)");
        ASSERT_TRUE(std::regex_search(text, listen)) << text;
        std::ofstream(ini, std::ios::binary) << std::regex_replace(text, listen, "\nListen=127.0.0.1:0");
    }
    void TearDown() override { fs::remove_all(folder); }

    void keepNoHistory() {
        const fs::path ini = plant / "Program" / "Orvanta" / "Orvanta.ini";
        std::ifstream in(ini, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::regex enabled(R"(\nEnabled=1)");
        ASSERT_TRUE(std::regex_search(text, enabled)) << text;
        std::ofstream(ini, std::ios::binary) << std::regex_replace(text, enabled, "\nEnabled=0");
    }

    fs::path folder;
    fs::path plant;
};

// The page's address as the program writes it when the page starts, on either stream.
std::string pageAddress(RunningProgram& program) {
    const std::regex address(R"(http://127\.0\.0\.1:[0-9]+/)");
    std::smatch found;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end) {
        for (const std::string* text : {&program.stderrText, &program.stdoutText})
            if (std::regex_search(*text, found, address)) return found[0];
        program.waitForError("http://", 200ms);
    }
    return {};
}

// Waits for the page while reading what the program writes: a pipe left full would stop its loop.
bool waitLive(WebDriver& browser, RunningProgram& program, const std::string& script,
              std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (browser.run(script) == json(true)) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        program.waitForError("\x01", 100ms);
    }
}

TEST_F(LivePageProgramTest, TheSimulatedDemoLineIsLiveInTheBrowserUntilThePanelEnds) {
    if (const std::string why = WebDriver::missing(); !why.empty())
        GTEST_SKIP() << why << ": the live page is not shown in a browser";
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--headless", "--simulate"});
    const std::string url = pageAddress(program);
    ASSERT_FALSE(url.empty()) << program.stderrText;

    WebDriver browser(1200, 900, {"TZ=Europe/Berlin"});
    browser.go(url);
    // The demo line as the panel's window shows it: six groups, eleven machines, the foreign and remote
    // ones and the reference machine marked.
    EXPECT_EQ(browser.run(R"(return [...document.querySelectorAll('#picture [data-group]')].map((c) => [
        c.querySelector('.column-title').innerText,
        [...c.querySelectorAll('[data-slot]')].map((t) => t.querySelector('.name').innerText + ' ' +
            t.querySelector('.co-name').innerText + ' ' + t.querySelector('.marks').innerText.replace(/\s+/g, ''))]);)"),
              json::parse(R"([
        ["Depalletising", ["Depalletiser DP-10 F", "Infeed conveyor TR-20 F"]],
        ["Rinsing and filling", ["Rinser RI-100 ◆", "Filler FI-200 "]],
        ["Capping", ["Capper CA-300 ", "Inspector IN-310 FR"]],
        ["Labelling", ["Labeller LA-400 "]],
        ["Packing", ["Packer PA-500 ", "Shrink wrapper SW-510 F"]],
        ["Palletising", ["Palletiser PL-600 F", "Packer drive PA-500 M "]]])"))
        << program.stderrText;
    const double drawnAfter =
        std::stod(browser.run("return document.body.dataset.drawnAfterMs;").get<std::string>());
    std::printf("the demo line's first picture was drawn %.1f ms after the answer began\n", drawnAfter);
    RecordProperty("drawnAfterMs", std::to_string(drawnAfter));
    EXPECT_LT(drawnAfter, 3000.0);

    // Live: the stream is open and the simulated line moves on.
    ASSERT_TRUE(waitLive(browser, program, "return document.body.dataset.stream === 'open';", 10s))
        << program.stderrText;
    const std::string first = browser.run("return document.body.dataset.seq;").get<std::string>();
    EXPECT_TRUE(waitLive(browser, program, "return document.body.dataset.seq !== '" + first + "';", 20s));
    EXPECT_EQ(browser.run("return document.getElementById('line-banner').hidden;"), true);

    // An own machine raises an alarm (the simulated machines do every few seconds): its tile shows the
    // alarm's text, in the colour the legend gives its status.
    const std::string alarmTile = R"(
        const legend = new Map([...document.querySelectorAll('#legend .legend-item')].map((item) => [
            item.querySelector('.legend-label').innerText,
            item.querySelector('.swatch') && getComputedStyle(item.querySelector('.swatch')).backgroundColor]));
        return [...document.querySelectorAll('#picture .tile:not(.foreign)')].filter((t) =>
            t.querySelector('.text').innerText.trim() !== '' &&
            getComputedStyle(t).backgroundColor === legend.get(t.querySelector('.status').innerText) &&
            t.querySelector('.status').innerText !== 'running').length > 0;)";
    EXPECT_TRUE(waitLive(browser, program, alarmTile, 30s)) << program.stderrText;

    if (const char* keep = std::getenv("ORVANTA_KEEP_LIVE_SCREENSHOT")) {
        // Until the simulated line has something to show: an alarm of the line, or a minute.
        waitLive(browser, program,
                 "return document.getElementById('line-alarm').dataset.state === 'echoed' && "
                 "document.querySelectorAll('#episodes tbody tr').length >= 2;",
                 90s);
        std::ofstream(keep, std::ios::binary) << browser.screenshotPng();
    }

    // The panel ends: the page says it cannot reach it.
    program.signal(SIGINT);
    EXPECT_EQ(program.waitForExit(20s), 0) << program.stderrText;
    EXPECT_TRUE(
        browser.waitUntil("return document.body.dataset.stream === 'lost' && "
                          "!document.getElementById('stream-banner').hidden;",
                          10s));
}

// The page's recent alarms come from the history's recorder, which runs for the page alone when no
// history file is kept.
TEST_F(LivePageProgramTest, WithoutAHistoryFileThePageStillListsTheRecentAlarms) {
    if (const std::string why = WebDriver::missing(); !why.empty())
        GTEST_SKIP() << why << ": the live page is not shown in a browser";
    keepNoHistory();
    RunningProgram program(ORVANTA_BINARY, {"--base", plant.string(), "--headless", "--simulate"});
    const std::string url = pageAddress(program);
    ASSERT_FALSE(url.empty()) << program.stderrText;

    WebDriver browser(1200, 900, {"TZ=Europe/Berlin"});
    browser.go(url);
    EXPECT_TRUE(
        waitLive(browser, program, "return document.querySelectorAll('#episodes tbody tr').length > 0;", 30s))
        << program.stderrText;
    program.signal(SIGINT);
    EXPECT_EQ(program.waitForExit(20s), 0) << program.stderrText;
    EXPECT_FALSE(fs::exists(plant / "History.db"));
}

}  // namespace
}  // namespace orvanta
