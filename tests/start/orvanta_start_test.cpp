#include "start/orvanta_start.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "components/vb_error.h"
#include "service/base_folder.h"
#include "service/ini_access.h"
#include "start/start_placement.h"
#include "support/manual_event_loop.h"
#include "support/recording_forms.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using namespace orvanta::testing;

FormPosition place(std::int16_t withDataInterface, std::int16_t resolution) {
    return placeStartForm(withDataInterface, configuredScreen(resolution, 15.0f, 15.0f), 7800.0f, 4740.0f);
}

TEST(StartPlacement, CentresOrPlacesOffCentreOnTheConfiguredScreen) {
    const StartScreen screen = configuredScreen(1024, 15.0f, 15.0f);
    EXPECT_EQ(screen.width, 15360);
    EXPECT_EQ(screen.height, 11520);

    FormPosition centred = place(kFalse, 1024);
    EXPECT_FLOAT_EQ(centred.left, 3780.0f);
    EXPECT_FLOAT_EQ(centred.top, 3390.0f);

    FormPosition offCentre = place(kTrue, 1024);
    EXPECT_FLOAT_EQ(offCentre.left, 6566.0f);
    EXPECT_FLOAT_EQ(offCentre.top, 5083.0f);

    // On 800 x 600 the off-centre form would stick out on the right and is pulled back.
    FormPosition small = place(kTrue, 800);
    EXPECT_FLOAT_EQ(small.left, 4200.0f);
    EXPECT_FLOAT_EQ(small.top, 3823.0f);
}

TEST(StartPlacement, OtherResolutionsAssume1024PixelsHighAndAMissingOneGoesLeftOfTheScreen) {
    EXPECT_EQ(configuredScreen(1280, 15.0f, 15.0f).height, 15360);
    EXPECT_EQ(configuredScreen(640, 15.0f, 15.0f).height, 15360);
    EXPECT_EQ(configuredScreen(800, 15.0f, 15.0f).height, 9000);

    const StartScreen missing = configuredScreen(-1, 15.0f, 15.0f);
    EXPECT_EQ(missing.width, -15);
    EXPECT_LT(place(kFalse, -1).left, 0.0f);
    // Off centre, a form wider than the screen ends at a negative left.
    EXPECT_FLOAT_EQ(place(kTrue, -1).left, -7815.0f);
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

struct RecordingRuntime : RuntimeControl {
    void start(RuntimeEvents& events) override { started = &events; }
    void StopRuntime() override { ++stops; }
    RuntimeEvents* started = nullptr;
    int stops = 0;
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

    fs::path plant;
    RecordingMessageBoxes messages;
    RecordingStartForm view;
    RecordingRuntime runtime;
    RecordingApplication application;
    std::vector<std::string> reports;
    int centralShown = 0;
    ManualEventLoop loop;
    IniAccess ini{messages};
    OrvantaStart start{loop,
                       ini,
                       view,
                       messages,
                       runtime,
                       application,
                       [this] { ++centralShown; },
                       [this](const std::string& message) { reports.push_back(message); }};
};

TEST_F(StartFormTest, LoadReadsThePlantSettingsPlacesTheFormAndStartsTheRuntime) {
    writeParameters("[Project]\r\nWithDataInterface=true\r\nResolution=800\r\n");
    start.Form_Load(appPath());
    EXPECT_EQ(view.calls, (std::vector<std::string>{"move", "show"}));
    EXPECT_FLOAT_EQ(view.position.left, 4200.0f);
    EXPECT_FLOAT_EQ(view.position.top, 3823.0f);
    EXPECT_EQ(runtime.started, &start);
    EXPECT_TRUE(messages.shown.empty()) << "missing settings are never reported here";
}

TEST_F(StartFormTest, WithoutSettingsTheFormIsCentredOnAScreenOfMinusOnePixel) {
    start.Form_Load(appPath());
    EXPECT_FLOAT_EQ(view.position.left, (-15.0f - 7800.0f) / 2);
    EXPECT_FLOAT_EQ(view.position.top, (15360.0f - 4740.0f) / 2);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_NE(runtime.started, nullptr);
}

TEST_F(StartFormTest, AnOversizedScreenIsReportedAndTheRuntimeStillStarts) {
    writeParameters("[Project]\nResolution=4000\n");
    start.Form_Load(appPath());
    EXPECT_EQ(view.calls, std::vector<std::string>{"show"});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("4000"), std::string::npos) << reports[0];
    EXPECT_NE(runtime.started, nullptr);
}

TEST_F(StartFormTest, ASuccessfulStartShowsTheMainFormAndHidesTheStartForm) {
    start.Form_Load(appPath());
    view.calls.clear();
    runtime.started->StartCompleted(kTrue);
    EXPECT_EQ(centralShown, 1);
    EXPECT_EQ(view.calls, std::vector<std::string>{"hide"});
    EXPECT_TRUE(application.endedWith.empty());
}

TEST_F(StartFormTest, AFailedStartReportsItAndEndsWithoutAMainForm) {
    start.Form_Load(appPath());
    view.calls.clear();
    runtime.started->StartCompleted(kFalse);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Initialisierung fehlgeschlagen!");
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Critical);
    EXPECT_EQ(messages.shown[0].title, "Orvanta");
    EXPECT_EQ(view.calls, std::vector<std::string>{"unload"});
    EXPECT_EQ(centralShown, 0);
    EXPECT_EQ(application.endedWith, std::vector<int>{1});
}

TEST_F(StartFormTest, TheRuntimeStoppingUnloadsTheFormAndEndsTheProgram) {
    start.Form_Load(appPath());
    runtime.started->StartCompleted(kTrue);
    view.calls.clear();
    runtime.started->RuntimeStopped();
    EXPECT_EQ(view.calls, std::vector<std::string>{"unload"});
    EXPECT_EQ(application.endedWith, std::vector<int>{0});
}

TEST_F(StartFormTest, ARuntimeThatNeverReportsItsStopIsGivenUpOnAfterTenSeconds) {
    start.Form_Load(appPath());
    runtime.started->StartCompleted(kTrue);
    start.stopRuntime();
    EXPECT_EQ(runtime.stops, 1);
    loop.advance(OrvantaStart::kStopTimeoutMs - 1);
    EXPECT_TRUE(application.endedWith.empty());
    loop.advance(1);
    EXPECT_EQ(application.endedWith, std::vector<int>{0});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("did not report its stop"), std::string::npos);
}

TEST_F(StartFormTest, AProgramFolderWithoutBaseIsAnErrorBeforeAnythingStarts) {
    EXPECT_THROW(start.Form_Load("/Orvanta"), VbError);
    EXPECT_EQ(runtime.started, nullptr);
    EXPECT_TRUE(view.calls.empty());
}

}  // namespace
}  // namespace orvanta
