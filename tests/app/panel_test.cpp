// The whole panel on the demo plant, on the manual loop: the embedded runtime with the plant's variables,
// the real alarm definitions, texts and languages, a scriptable line display and scripted windows.
#include "app/panel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "adapters/access/mdb_database.h"
#include "adapters/embedded/embedded_variables.h"
#include "adapters/embedded/line_description_file.h"
#include "ports/variable_names.h"
#include "service/plant_files.h"
#include "support/demo_plant.h"
#include "support/fixed_clock.h"
#include "support/manual_event_loop.h"
#include "support/recording_forms.h"
#include "support/scripted_line_display.h"
#include "support/scripted_window_system.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using namespace orvanta::testing;

struct HookedLoop : ManualEventLoop {
    std::function<void()> onTimersChanged;

protected:
    void timersChanged() override {
        if (onTimersChanged) onTimersChanged();
    }
};

// The start form's view, the main form's view and the runtime's control, each telling the test when the
// program end reaches it; the start form's showing fails when asked to.
struct HookedStartForm : RecordingStartForm {
    std::function<void()> onShow;
    void show() override {
        RecordingStartForm::show();
        if (onShow) onShow();
    }
};
struct HookedCentralForm : RecordingCentralForm {
    std::function<void()> onUnload;
    void unload() override {
        RecordingCentralForm::unload();
        if (onUnload) onUnload();
    }
};
struct HookedRuntimeControl : RuntimeControl {
    RuntimeControl* runtime = nullptr;
    std::function<void()> onStop;
    void start(RuntimeEvents& events) override { runtime->start(events); }
    void StopRuntime() override {
        if (onStop) onStop();
        runtime->StopRuntime();
    }
};

// The timers of the main form that run, in the order the program end switches them off.
std::string runningTimers(const OrvantaCentral& central) {
    std::string running;
    for (const Timer* timer :
         {&central.TimerWebBrowser, &central.TimerLeben, &central.TimerDaten, &central.TimerErstemal})
        if (timer->enabled()) running += " " + timer->name();
    return running;
}

class PanelTest : public ::testing::Test {
protected:
    PanelTest() {
        testing::copyDemoPlant(plant);
        open();
    }
    ~PanelTest() override { fs::remove_all(plant); }

    // The panel on the plant folder as it is now.
    void open() {
        panel.reset();
        display.line = loadLineDescription(plantFile(plant.string(), kLineDescriptionFile));
        runtime = openEmbeddedVariables(loop, plant.string(),
                                        [this](const std::string& m) { reports.push_back(m); });
        control.runtime = runtime.get();
        panel = std::make_unique<Panel>(PanelParts{loop, *runtime, control, display, startView, centralView,
                                                   messages, application, windows, databases, clock,
                                                   [this](const std::string& m) { reports.push_back(m); },
                                                   plantFile(plant.string(), kProgramFolder)});
    }

    std::vector<std::string> logLines() const {
        std::ifstream in(plantFile(plant.string(), kLogFile), std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }
    int count(const std::string& text) const {
        int found = 0;
        for (const std::string& line : logLines()) found += line.find(text) != std::string::npos ? 1 : 0;
        return found;
    }
    std::int16_t value(std::string_view name) { return toInteger(runtime->ReadVariable(name)); }
    void write(std::string_view name, std::int16_t value) {
        runtime->WriteVariable(name, Variant::integer(value));
    }

    fs::path plant = fs::temp_directory_path() / ("orvanta-panel-" + std::to_string(getpid()));
    HookedLoop loop;
    std::vector<std::string> reports;
    std::unique_ptr<EmbeddedVariables> runtime;
    HookedRuntimeControl control;
    ScriptedLineDisplay display;
    HookedStartForm startView;
    HookedCentralForm centralView;
    RecordingMessageBoxes messages;
    RecordingApplication application;
    ScriptedWindowSystem windows;
    MdbDatabaseEngine databases{ORVANTA_MDB_READER};
    FixedClock clock;
    std::unique_ptr<Panel> panel;
};

TEST_F(PanelTest, TheWholePanelRunsFromStartToEndOnTheDemoPlant) {
    windows.open("DCWindow");  // the demo plant runs with VWStudio: its companion is "DCWindow"
    panel->start();
    loop.runPending();  // the runtime reports its start
    OrvantaCentral* central = panel->central();
    ASSERT_NE(central, nullptr);

    // Initialisation, with its checkpoints in order.
    std::vector<std::string> checkpoints;
    for (const std::string& line : logLines())
        if (line.find(" FormActivate") != std::string::npos)
            checkpoints.push_back(line.substr(line.find("FormActivate")));
    const std::string base = plant.string();
    EXPECT_EQ(checkpoints,
              (std::vector<std::string>{
                  "FormActivate Start ", "FormActivate 1 ", "FormActivate 2 ", "FormActivate 3 ",
                  "FormActivate 4 " + base + "/Parameter/Program.ini ", "FormActivate 5a True " + base,
                  "FormActivate 5c ", "FormActivate 5d ", "FormActivate 6 ", "FormActivate 7 ",
                  "FormActivate 8 ", "FormActivate 9 ", "FormActivate 10 ", "FormActivate 11 ",
                  "FormActivate 12 ", "FormActivate 13 ", "FormActivate En "}));
    EXPECT_EQ(count("F "), 0) << logLines().back();
    EXPECT_TRUE(display.active);
    EXPECT_EQ(value(vars::kLiBSprung), 3);
    EXPECT_EQ(central->state().jumps.SprungAlarme, kTrue);
    EXPECT_TRUE(central->TimerWebBrowser.enabled());
    EXPECT_EQ(windows.calls.back(), "minimiseMainWindow()");
    EXPECT_EQ(startView.calls.back(), "hide");

    // The line connects and reports its parameters, as a line display does; a pass runs every second.
    display.raiseConnect(kTrue);
    display.raiseNewLineParameter();
    EXPECT_EQ(value(vars::kLiClientOk), 1);
    loop.advance(1000);
    EXPECT_EQ(display.dataUpdatedCount, 1);
    EXPECT_EQ(display.texts({line_member::kPutMachineStatus}).front(), "PutMachineStatus(2, 1)")
        << "the Rinser idles";

    // An emergency stop on the Rinser is published, then echoed: the echo runs a pass at once.
    write("Ch1.T_zyk_m1<.faults0>", 1);
    loop.advance(1000);
    EXPECT_EQ(value(vars::kLiLFault), 101);
    EXPECT_EQ(value(vars::kLiLNeu), 1);
    write(vars::kLiLNeu, 0);
    write(vars::kLiHNummer, 101);
    write(vars::kLiHMasch, 1);
    write(vars::kLiHStatus, 4);
    loop.runPending();
    EXPECT_EQ(display.dataUpdatedCount, 3) << "the echo's own pass";
    loop.advance(2000);
    EXPECT_EQ(value(vars::kLiLNeu), 0) << "echoed: not published again";

    // The heartbeat is echoed.
    write(vars::kLiLebenHi, 37);
    loop.advance(1000);
    EXPECT_EQ(value(vars::kLiLebenZu), 37);

    // TimerErstemal ran once, ten seconds after the initialisation.
    loop.advance(20000);
    EXPECT_EQ(count("TimerErstemal_Timer An "), 1);
    EXPECT_FALSE(central->TimerErstemal.enabled());

    // A language change reaches the slots at the next pass.
    runtime->WriteVariable(vars::kSprache, Variant::longInt(1036));
    loop.advance(1000);
    EXPECT_EQ(central->state().Sprache, "1036");
    const auto texts = display.texts({line_member::kPutMachineText});
    EXPECT_NE(std::find(texts.begin(), texts.end(), "PutMachineText(2, \"Arrêt d'urgence activé\")"),
              texts.end());

    // The companion window closes: the program ends in order within two seconds.
    windows.close("DCWindow");
    loop.advance(2000);
    EXPECT_FALSE(central->loaded());
    EXPECT_EQ(centralView.calls.back(), "unload");
    EXPECT_EQ(application.endedWith, std::vector<int>{0});
    EXPECT_EQ(startView.calls.back(), "unload");
    EXPECT_TRUE(reports.empty()) << reports.front();
}

// The window's line picture takes the language table (the fonts of the alarm texts) from here.
TEST_F(PanelTest, WhoWaitsForTheMainFormGetsItOnceBeforeItsInitialisation) {
    std::vector<std::pair<OrvantaCentral*, std::size_t>> created;  // the form and its log lines then
    panel->onCentralCreated(
        [&](OrvantaCentral& central) { created.emplace_back(&central, logLines().size()); });
    panel->start();
    EXPECT_TRUE(created.empty()) << "not before the runtime has started";
    loop.runPending();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created.front().first, panel->central());
    EXPECT_EQ(created.front().second, 0u) << "before the initialisation wrote its first line";
    EXPECT_GT(panel->central()->languages().LanguageCount, 3) << "the table it was handed is filled now";
    panel->central()->show();
    EXPECT_EQ(created.size(), 1u);
}

TEST_F(PanelTest, TheEndButtonEndsTheProgramEvenWhenTheTextDatabaseFailed) {
    fs::remove(plant / "Program" / "Pelmar.vws");
    panel->start();
    loop.runPending();
    OrvantaCentral* central = panel->central();
    ASSERT_NE(central, nullptr);
    EXPECT_EQ(central->state().VisuTextFehler, kTrue);
    EXPECT_EQ(count("Zervmdb.dll Init ;"), 1);
    EXPECT_EQ(count("FormActivate En "), 1) << "the initialisation still ran to its end";
    central->cmdEnd_Click();
    loop.runPending();
    EXPECT_EQ(application.endedWith, std::vector<int>{0});
}

TEST_F(PanelTest, TheProgramEndStopsTheTimersClosesTheTextsReturnsToTheStartFormAndStopsTheRuntimeLast) {
    windows.open("DCWindow");
    panel->start();
    loop.runPending();
    OrvantaCentral& central = *panel->central();
    display.raiseConnect(kTrue);
    ASSERT_EQ(runningTimers(central), " TimerWebBrowser TimerLeben TimerDaten TimerErstemal");

    std::vector<std::string> journal;
    std::string running = runningTimers(central);
    loop.onTimersChanged = [&] {
        if (runningTimers(central) == running) return;
        running = runningTimers(central);
        journal.push_back("running:" + running);
    };
    startView.onShow = [&] {
        try {
            central.VisuText().use().GetText(1031, "M1_F01", 0);
            journal.push_back("start form shown, texts open");
        } catch (const VbError&) {
            journal.push_back("start form shown, texts closed");
        }
    };
    centralView.onUnload = [&] {
        journal.push_back("main form unloaded");
        loop.post([&] { journal.push_back("events after the unload"); });
    };
    control.onStop = [&] { journal.push_back("runtime stopped"); };
    loop.post([&] { journal.push_back("events before the unload"); });

    panel->ProgrammEnde();  // as a signal or the end of --run-for asks for it
    EXPECT_EQ(journal,
              (std::vector<std::string>{
                  "running: TimerLeben TimerDaten TimerErstemal", "running: TimerDaten TimerErstemal",
                  "running: TimerErstemal", "start form shown, texts closed", "events before the unload",
                  "running:", "main form unloaded", "events after the unload", "runtime stopped"}));
    loop.runPending();
    EXPECT_EQ(application.endedWith, std::vector<int>{0});
    EXPECT_TRUE(reports.empty()) << reports.front();
}

// A signal while the runtime starts: the start's report comes in the pending events the end lets run,
// and the main form it shows goes again before the runtime is stopped. A step that fails then is logged
// in that form's log, and the end goes on.
TEST_F(PanelTest, AnEndAskedForWhileTheRuntimeStartsUnloadsTheMainFormItShowedAndStopsTheRuntime) {
    std::vector<std::string> journal;
    startView.onShow = [&] { journal.push_back(panel->central() ? "start form, main form" : "start form"); };
    centralView.onUnload = [&] {
        journal.push_back("main form unloaded");
        loop.post([&] { journal.push_back("events after the unload"); });
        throw VbError(5, "No screen", "Forms");
    };
    control.onStop = [&] { journal.push_back("runtime stopped"); };
    panel->start();
    ASSERT_EQ(panel->central(), nullptr);
    journal.clear();  // the start form's own showing
    panel->ProgrammEnde();
    EXPECT_EQ(journal, (std::vector<std::string>{"start form", "main form unloaded",
                                                 "events after the unload", "runtime stopped"}));
    ASSERT_NE(panel->central(), nullptr);
    EXPECT_FALSE(panel->central()->loaded());
    const std::vector<std::string> lines = logLines();
    const auto initialised = std::find(lines.begin(), lines.end(), "S 14:03:07 07.12.2026 FormActivate En ");
    ASSERT_NE(initialised, lines.end());
    EXPECT_EQ(
        std::vector<std::string>(initialised + 1, lines.end()),
        (std::vector<std::string>{"S 14:03:07 07.12.2026 BildSprung_Change An ",  // its own write's event
                                  "S 14:03:07 07.12.2026 BildSprung_Change En ",
                                  "F 14:03:07 07.12.2026 Fault 5; No screen; Forms; ProgrammEnde"}));
    EXPECT_EQ(reports, (std::vector<std::string>{"Program end, unloading the main form: No screen"}));
    loop.runPending();
    EXPECT_EQ(application.endedWith, std::vector<int>{0});
}

TEST_F(PanelTest, LogSizesOutsideTenTo2000KiBBecome100) {
    for (const auto& [written, used] : {std::pair(9, 100), std::pair(10, 10), std::pair(2000, 2000),
                                        std::pair(2001, 100), std::pair(-1, 100)}) {
        std::ofstream(plant / "Program" / "Orvanta" / "Orvanta.ini", std::ios::binary)
            << "[Project]\r\nLogFileSize=" << written << "\r\nLogFileOCXSize=" << written << "\r\n";
        open();
        panel->start();
        loop.runPending();
        ASSERT_NE(panel->central(), nullptr);
        EXPECT_EQ(panel->central()->state().log.LogDateiGroesse, used) << written;
        EXPECT_EQ(panel->central()->state().log.LogDateiOCXGroesse, used) << written;
    }
}

TEST_F(PanelTest, APlantCopiedWithEveryNameInLowerCaseShowsItsAlarmTexts) {
    std::vector<fs::path> entries{fs::recursive_directory_iterator(plant),
                                  fs::recursive_directory_iterator{}};
    std::sort(entries.rbegin(), entries.rend());  // a folder's entries before the folder
    for (const fs::path& entry : entries) {
        std::string name = entry.filename().string();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        fs::rename(entry, entry.parent_path() / name);
    }
    ASSERT_TRUE(fs::exists(plant / "program" / "pelmar.vws"));
    open();
    windows.open("DCWindow");
    panel->start();
    loop.runPending();
    OrvantaCentral* central = panel->central();
    ASSERT_NE(central, nullptr);
    EXPECT_EQ(central->state().VisuTextFehler, 0);
    EXPECT_EQ(count("F "), 0) << logLines().back();
    EXPECT_TRUE(fs::exists(plant / "program" / "orvanta" / "Orvanta.log"));

    display.raiseConnect(kTrue);
    display.raiseNewLineParameter();
    write("Ch1.T_zyk_m1<.faults0>", 1);
    loop.advance(1000);
    const auto texts = display.texts({line_member::kPutMachineText});
    EXPECT_NE(std::find(texts.begin(), texts.end(), "PutMachineText(2, \"Emergency stop pressed\")"),
              texts.end())
        << ::testing::PrintToString(texts);
    EXPECT_TRUE(reports.empty()) << reports.front();
}

}  // namespace
}  // namespace orvanta
