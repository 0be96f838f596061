#include <gtest/gtest.h>

#include "central/orvanta_central.h"
#include "ports/variable_names.h"
#include "support/fixed_clock.h"
#include "support/in_memory_database.h"
#include "support/log_capture.h"
#include "support/manual_event_loop.h"
#include "support/recording_forms.h"
#include "support/recording_variables.h"
#include "support/scripted_line_display.h"
#include "support/scripted_window_system.h"

namespace orvanta {
namespace {

using namespace orvanta::testing;

// What the main form tells the history, with the line's status as the observer found it.
struct TellingObserver : HistoryObserver {
    void passCompleted(const PassOutcome&, const LineRecords& line) noexcept override {
        told.push_back("pass " + std::to_string(line.lineStatus));
    }
    void lineChanged(const LineRecords& line) noexcept override {
        told.push_back("changed " + std::to_string(line.lineStatus));
    }
    void lineConnected(bool connected) noexcept override { told.push_back(connected ? "connected" : "lost"); }
    std::vector<std::string> told;
};

class LineEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto name : {vars::kLiClientOk, vars::kLiStatus, vars::kLiABits, vars::kLiNeuP, vars::kLiNeuG,
                          vars::kLiNeuS, vars::kLiGFontCh})
            variables.set(name, Variant::integer(0));
        variables.set(vars::kLiGFontNa, Variant::text(""));
        for (auto name : {vars::kLiPEnable, vars::kLiPSymbol, vars::kLiPFremd, vars::kLiPFern,
                          vars::kLiSCharset, vars::kLiSStatus})
            variables.set(name, Variant::integerArray(std::vector<std::int16_t>(64, 0)));
        variables.set(vars::kLiGStatus, Variant::integerArray(std::vector<std::int16_t>(6, 0)));
        for (int k = 0; k < 6; ++k) variables.set(vars::indexed(vars::kLiGGrupNaBase, k), Variant::text(""));
        central.state().log = logFile.settings;
    }

    std::int16_t value(std::string_view name) const { return toInteger(variables.value(name)); }

    ManualEventLoop loop;
    RecordingVariables variables;
    ScriptedLineDisplay display;
    RecordingCentralForm form;
    FixedClock clock;
    InMemoryDatabaseEngine databases;
    LogCapture logFile;
    RecordingMessageBoxes messages;
    IniAccess ini{messages};
    ScriptedWindowSystem windows;
    TellingObserver history;
    OrvantaCentral central{CentralComponents{loop, variables, display, form, clock, databases, ini, windows,
                                             "/nowhere/Program/Orvanta", [] {}, [] {},
                                             [](const std::string&) {}, &history}};
};

TEST_F(LineEventsTest, ConnectingShowsGreenStartsThePassAndTellsTheRuntime) {
    display.raiseConnect(kTrue);
    EXPECT_EQ(form.connectionColour, 65280);
    EXPECT_TRUE(central.TimerDaten.enabled());
    EXPECT_EQ(value(vars::kLiClientOk), 1);
    EXPECT_EQ(central.state().line.LineConnected, kTrue);
    EXPECT_EQ(display.texts({line_member::kLanguageId}).size(), 0u) << "no parameter preparation";
    display.raiseConnect(kTrue);  // a second one repeats it all
    EXPECT_TRUE(central.TimerDaten.enabled());
    EXPECT_EQ(logFile.linesStartingWith("D 14:03:07 07.12.2026 BrenkoLineOCX_Connect An ").size(), 2u);
}

TEST_F(LineEventsTest, LosingTheLineShowsRedStopsThePassAndPreparesTheLineAgain) {
    display.raiseConnect(kTrue);
    display.raiseConnect(0);
    EXPECT_EQ(form.connectionColour, 192);
    EXPECT_FALSE(central.TimerDaten.enabled());
    EXPECT_EQ(value(vars::kLiClientOk), 0);
    EXPECT_EQ(display.texts({line_member::kLanguageId}).size(), 1u) << "the parameters were prepared";
    EXPECT_EQ(value(vars::kLiStatus), 5) << "and the values: a disconnected line is 5";
}

TEST_F(LineEventsTest, AConnectOfOneIsNoConnectionHereButCountsAsConnectedForTheGroups) {
    display.raiseConnect(1);
    EXPECT_EQ(form.connectionColour, 192);
    EXPECT_FALSE(central.TimerDaten.enabled());
    EXPECT_EQ(value(vars::kLiStatus), 0) << "LineConnected is not 0";
}

TEST_F(LineEventsTest, NewParametersAndNewDataRunTheirPreparations) {
    display.raiseNewLineData();
    EXPECT_EQ(display.texts({line_member::kLanguageId}).size(), 0u);
    EXPECT_EQ(
        logFile
            .linesStartingWith("D 14:03:07 07.12.2026 BrenkoLineOCX_NewLineData.LinienWerteAufbereiten An ")
            .size(),
        1u);
    display.raiseNewLineParameter();
    EXPECT_EQ(display.texts({line_member::kLanguageId}).size(), 1u);
    EXPECT_EQ(logFile
                  .linesStartingWith(
                      "D 14:03:07 07.12.2026 "
                      "BrenkoLineOCX_NewLineParameter.LinienParaAufbereiten.LinienWerteAufbereiten An ")
                  .size(),
              1u);
}

// The history is told each result after the handler has made it: the line's status it sees is the one
// the bridge has just written.
TEST_F(LineEventsTest, TheHistoryIsToldEveryResultAfterTheHandlerMadeIt) {
    display.raiseConnect(kTrue);
    display.raiseNewLineParameter();
    display.raiseNewLineData();
    loop.advance(1000);
    display.raiseConnect(0);
    display.raiseConnect(1);
    EXPECT_EQ(history.told,
              (std::vector<std::string>{"connected", "changed 0", "changed 0", "pass 0", "lost", "lost"}));
    history.told.clear();
    central.state().line.LineConnected = kTrue;
    display.raiseConnect(kTrue);
    EXPECT_EQ(history.told, (std::vector<std::string>{"connected"}));
}

}  // namespace
}  // namespace orvanta
