#include "start/orvanta_start.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/vb_error.h"
#include "service/base_folder.h"
#include "service/ini_access.h"
#include "start/start_placement.h"
#include "support/manual_event_loop.h"
#include "support/recording_forms.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using namespace orvanta::testing;

TEST(StartPlacement, TheConfiguredScreenIsTheResolutionWideAndItsStandardHeightHigh) {
    const auto screen = [](std::int16_t resolution, float twipsX, float twipsY) {
        const StartScreen s = configuredScreen(resolution, twipsX, twipsY);
        return std::pair<int, int>(s.width, s.height);
    };
    EXPECT_EQ(screen(1024, 15.0f, 15.0f), std::pair(15360, 11520));
    EXPECT_EQ(screen(800, 15.0f, 12.0f), std::pair(12000, 7200));
    EXPECT_EQ(screen(1280, 12.0f, 15.0f), std::pair(15360, 15360)) << "any other: 1024 pixels high";
    EXPECT_EQ(screen(640, 15.0f, 15.0f), std::pair(9600, 15360));
    EXPECT_EQ(screen(-1, 15.0f, 15.0f), std::pair(-15, 15360)) << "a missing Resolution";
    EXPECT_EQ(screen(801, 2.5f, 0.5f), std::pair(2002, 512)) << "2002.5 rounds to even";
    EXPECT_EQ(screen(803, 2.5f, 1.0f), std::pair(2008, 1024)) << "2007.5 rounds to even";
}

TEST(StartPlacement, OffCentreFormsArePulledBackToTheEdgesAndOthersAreCentredUnrounded) {
    struct Case {
        std::int16_t withDataInterface;
        StartScreen screen;
        float width, height, left, top;
    };
    const Case cases[] = {
        {kTrue, {15360, 11520}, 7800, 4740, 6566, 5083},  // 7680 - 1114.29 and 5760 - 677.14 fit
        {kTrue, {12000, 9000}, 7800, 8000, 4200, 1000},   // 4886 + 7800 and 3357 + 8000 stick out
        {kTrue, {12000, 9000}, 7800, 4740, 4200, 3823},   // only on the right
        {kTrue, {12002, 9002}, 3.5f, 3.5f, 6000, 4500},   // 6000.5 and 4500.5 round to even
        {kTrue, {-15, 15360}, 7800, 4740, -7815, 7003},   // wider than the screen: left of its edge
        {kFalse, {12000, 9000}, 7800, 8000, 2100, 500},
        {1, {12001, 9001}, 7800, 8000, 2100.5f, 500.5f},  // only -1 is true
        {kFalse, {-15, 15360}, 7800, 4740, -3907.5f, 5310},
    };
    for (const Case& c : cases) {
        const FormPosition at = placeStartForm(c.withDataInterface, c.screen, c.width, c.height);
        EXPECT_FLOAT_EQ(at.left, c.left) << c.screen.width << " x " << c.screen.height << ", " << c.width;
        EXPECT_FLOAT_EQ(at.top, c.top) << c.screen.width << " x " << c.screen.height << ", " << c.height;
    }
}

TEST(StartPlacement, AScreenBeyond16BitTwipsIsAnOverflow) {
    try {
        configuredScreen(3000, 15.0f, 15.0f);
        FAIL() << "45000 twips do not fit 16 bits";
    } catch (const VbError& error) {
        EXPECT_EQ(error.number(), kOverflow);
    }
}

TEST(BaseFolder, RemovesTheLastTwoPathElements) {
    EXPECT_EQ(baseFolderOf("/opt/line/Program/Orvanta"), "/opt/line");
    EXPECT_EQ(baseFolderOf("/opt/line/Program/Orvanta/"), "/opt/line");
    EXPECT_EQ(baseFolderOf("/a/b/c"), "/a");
    EXPECT_EQ(baseFolderOf("/opt/line/Program//Orvanta"), "/opt/line/Program") << "an empty element counts";
    for (const char* tooShallow : {"/Program/Orvanta", "/Orvanta", "Orvanta", "", "/"}) {
        try {
            baseFolderOf(tooShallow);
            ADD_FAILURE() << tooShallow << " has no base folder";
        } catch (const VbError& error) {
            EXPECT_EQ(error.number(), kInvalidCall);
            EXPECT_NE(error.description().find(tooShallow), std::string::npos) << error.description();
        }
    }
}

// Every call the start form makes, on the form, the runtime, the main form, the message boxes, the
// error reporter and the application, goes into one list, so that a test sees their order.
struct RecordingRuntime : RuntimeControl {
    explicit RecordingRuntime(std::vector<std::string>& calls) : calls(calls) {}
    void start(RuntimeEvents& events) override {
        started = &events;
        calls.push_back("runtime start");
    }
    void StopRuntime() override { calls.push_back("runtime stop"); }
    std::vector<std::string>& calls;
    RuntimeEvents* started = nullptr;
};

struct SequencedApplication : Application {
    explicit SequencedApplication(std::vector<std::string>& calls) : calls(calls) {}
    void end(int exitCode) override { calls.push_back("end " + std::to_string(exitCode)); }
    std::vector<std::string>& calls;
};

struct SequencedMessages : RecordingMessageBoxes {
    explicit SequencedMessages(std::vector<std::string>& calls) : calls(calls) {}
    void show(const std::string& text, MessageIcon icon, const std::string& title) override {
        RecordingMessageBoxes::show(text, icon, title);
        calls.push_back("message " + text);
    }
    std::vector<std::string>& calls;
};

class StartFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        plant = fs::temp_directory_path() / ("orvanta-start-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(plant / "Parameter");
        fs::create_directories(plant / "Program" / "Orvanta");
    }
    void TearDown() override { fs::remove_all(plant); }

    void writeParameters(const std::string& content) {
        std::ofstream(plant / "Parameter" / "Program.ini", std::ios::binary) << content;
    }
    std::string appPath() const { return (plant / "Program" / "Orvanta").string(); }
    // Loads the form, lets the runtime report its start and forgets the calls so far.
    void startedAndShown() {
        start.Form_Load(appPath());
        runtime.started->StartCompleted(kTrue);
        calls.clear();
    }

    fs::path plant;
    RecordingStartForm view;
    std::vector<std::string>& calls = view.calls;
    SequencedMessages messages{calls};
    RecordingRuntime runtime{calls};
    SequencedApplication application{calls};
    ManualEventLoop loop;
    IniAccess ini{messages};
    OrvantaStart start{loop,
                       ini,
                       view,
                       messages,
                       runtime,
                       application,
                       [this] { calls.push_back("central show"); },
                       [this](const std::string& message) { calls.push_back("report " + message); }};
};

TEST_F(StartFormTest, LoadReadsThePlantSettingsPlacesTheFormShowsItAndThenStartsTheRuntime) {
    writeParameters("[Project]\r\nWithDataInterface=true\r\nResolution=800\r\n");
    start.Form_Load(appPath());
    EXPECT_EQ(calls, (std::vector<std::string>{"move", "show", "runtime start"}));
    EXPECT_FLOAT_EQ(view.position.left, 4200.0f);
    EXPECT_FLOAT_EQ(view.position.top, 3823.0f);
    EXPECT_FLOAT_EQ(view.screen.width, 12000.0f);
    EXPECT_FLOAT_EQ(view.screen.height, 9000.0f);
    EXPECT_FALSE(view.screen.centred);
    EXPECT_EQ(runtime.started, &start);
}

TEST_F(StartFormTest, WithoutSettingsTheFormIsCentredOnAScreenOfMinusOnePixelSilently) {
    start.Form_Load(appPath());
    EXPECT_EQ(calls, (std::vector<std::string>{"move", "show", "runtime start"}));
    EXPECT_FLOAT_EQ(view.position.left, (-15.0f - 7800.0f) / 2);
    EXPECT_FLOAT_EQ(view.position.top, (15360.0f - 4740.0f) / 2);
    EXPECT_FLOAT_EQ(view.screen.width, -15.0f);
    EXPECT_TRUE(view.screen.centred);
}

TEST_F(StartFormTest, AnOversizedScreenIsReportedAndTheRuntimeStillStarts) {
    writeParameters("[Project]\nResolution=4000\n");
    start.Form_Load(appPath());
    ASSERT_EQ(calls.size(), 3u);
    const std::string report = "report Start window: the screen of \"Resolution\" 4000 in " +
                               (plant / "Parameter" / "Program.ini").string() +
                               " is larger than a window can be placed on (";
    EXPECT_EQ(calls[0].substr(0, report.size()), report) << calls[0];
    EXPECT_TRUE(calls[0].ends_with("); the window stays where the desktop puts it")) << calls[0];
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 1, calls.end()),
              (std::vector<std::string>{"show", "runtime start"}));
}

TEST_F(StartFormTest, ASuccessfulStartShowsTheMainFormThenHidesTheStartForm) {
    start.Form_Load(appPath());
    calls.clear();
    runtime.started->StartCompleted(kTrue);
    EXPECT_EQ(calls, (std::vector<std::string>{"central show", "hide"}));
}

TEST_F(StartFormTest, AFailedStartReportsItThenUnloadsTheFormAndEndsWithoutAMainForm) {
    start.Form_Load(appPath());
    calls.clear();
    runtime.started->StartCompleted(kFalse);
    EXPECT_EQ(calls,
              (std::vector<std::string>{"message Initialisierung fehlgeschlagen!", "unload", "end 1"}));
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Critical);
    EXPECT_EQ(messages.shown[0].title, "Orvanta");
}

TEST_F(StartFormTest, TheRuntimeStoppingUnloadsTheFormAndEndsTheProgramOnce) {
    startedAndShown();
    start.stopRuntime();
    runtime.started->RuntimeStopped();
    loop.advance(3 * OrvantaStart::kStopTimeoutMs);
    EXPECT_EQ(calls, (std::vector<std::string>{"runtime stop", "unload", "end 0"}));
}

TEST_F(StartFormTest, ARuntimeThatNeverReportsItsStopIsGivenUpOnAfterTenSeconds) {
    startedAndShown();
    start.stopRuntime();
    loop.advance(OrvantaStart::kStopTimeoutMs - 1);
    EXPECT_EQ(calls, std::vector<std::string>{"runtime stop"});
    loop.advance(1);
    loop.advance(3 * OrvantaStart::kStopTimeoutMs);
    EXPECT_EQ(calls,
              (std::vector<std::string>{
                  "runtime stop",
                  "report The runtime did not report its stop within 10 s; the program ends without it",
                  "unload", "end 0"}));
}

TEST_F(StartFormTest, AProgramFolderWithoutBaseIsAnErrorBeforeAnythingStarts) {
    EXPECT_THROW(start.Form_Load("/Orvanta"), VbError);
    EXPECT_TRUE(calls.empty());
}

}  // namespace
}  // namespace orvanta
