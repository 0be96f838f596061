// The main form's own handlers: the initialisation with its settings, the three timers and the four
// change handlers, each checked by everything it writes, calls and logs, in order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>

#include "central/orvanta_central.h"
#include "ports/variable_names.h"
#include "support/fixed_clock.h"
#include "support/in_memory_database.h"
#include "support/manual_event_loop.h"
#include "support/recording_forms.h"
#include "support/recording_variables.h"
#include "support/scripted_line_display.h"
#include "support/scripted_window_system.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using namespace orvanta::testing;
using Entries = std::vector<std::pair<std::string, std::string>>;

const std::string kTime = "14:03:07 07.12.2026 ";

fs::path freshFolder() {
    static std::atomic<int> counter{0};
    return fs::temp_directory_path() /
           ("orvanta-central-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
}

// The variables the form's handlers read and write, known before the form watches four of them.
RecordingVariables lineVariables() {
    RecordingVariables variables;
    for (auto name : {vars::kLiClientOk, vars::kLiStatus, vars::kLiABits, vars::kLiBSprung, vars::kLiNeuP,
                      vars::kLiNeuG, vars::kLiNeuS, vars::kLiGFontCh, vars::kLiLebenHi, vars::kLiLebenZu,
                      vars::kLiHStatus, vars::kLiHNummer, vars::kLiHMasch, vars::kLiBildSprung})
        variables.set(name, Variant::integer(0));
    variables.set(vars::kSprache, Variant::longInt(0));
    variables.set(vars::kLiGFontNa, Variant::text(""));
    for (auto name : {vars::kLiPEnable, vars::kLiPSymbol, vars::kLiPFremd, vars::kLiPFern, vars::kLiSCharset,
                      vars::kLiSStatus})
        variables.set(name, Variant::integerArray(std::vector<std::int16_t>(64, 0)));
    variables.set(vars::kLiGStatus, Variant::integerArray(std::vector<std::int16_t>(6, 0)));
    return variables;
}

Variant n(int value) { return Variant::longInt(value); }

// The loop and the form's view, each telling the test when the program end reaches it.
struct HookedLoop : ManualEventLoop {
    std::function<void()> onTimersChanged;

protected:
    void timersChanged() override {
        if (onTimersChanged) onTimersChanged();
    }
};
struct HookedCentralForm : RecordingCentralForm {
    std::function<void()> onUnload;
    void unload() override {
        RecordingCentralForm::unload();
        if (onUnload) onUnload();
    }
};
Variant t(const char* text) { return Variant::text(text); }

class MainFormTest : public ::testing::Test {
protected:
    MainFormTest() {
        fs::create_directories(base / "Parameter");
        fs::create_directories(base / "Program" / "Orvanta");
        // The plant's alarm definitions (none) and one language.
        databases.add((base / "Program" / "Pelmar.vws").string(),
                      Table{"Alarmdefs",
                            {"Ident", "Type", "VarName", "BitNo", "Priority", "AlarmText", "Fault", "Sensor1",
                             "Sensor2"},
                            {}});
        const std::string languages = (base / "Program" / "Tools" / "Languages.mdb").string();
        databases.add(languages,
                      Table{"TidxFonts", {"ID", "FontName", "CharSet"}, {{n(1), t("Arial"), n(0)}}});
        databases.add(languages,
                      Table{"TidxFontClasses", {"ID", "Name", "L1031"}, {{n(1), t("Standard"), n(1)}}});
        databases.add(languages, Table{"LookupLanguages",
                                       {"Language", "Name", "CodePage", "KBLayout"},
                                       {{n(1031), t("Deutsch"), t("1252"), n(1031)}}});
    }
    ~MainFormTest() override { fs::remove_all(base); }

    // The section "Project" of the plant's and of the program's own INI file.
    void programIni(const Entries& entries) { writeIni(base / "Parameter" / "Program.ini", entries); }
    void ownIni(const Entries& entries) {
        Entries all{{"LogFileSystem", "TRUE"}, {"LogFileData", "TRUE"}};
        all.insert(all.end(), entries.begin(), entries.end());
        writeIni(base / "Program" / "Orvanta" / "Orvanta.ini", all);
    }
    static void writeIni(const fs::path& file, const Entries& entries) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "[Project]\r\n";
        for (const auto& [entry, value] : entries) out << entry << "=" << value << "\r\n";
    }
    // A text database holding one text, at file below the base folder.
    void texts(const std::string& file) {
        databases.add((base / file).string(),
                      Table{"Texts",
                            {"TextKey", "LanguageId", "Text"},
                            {{Variant::text("K"), Variant::longInt(1031), Variant::text("Kette")}}});
    }
    // Logs to a file of the test's own folder, all categories, without reading any INI.
    void logEverything() {
        LogSettings& log = central.state().log;
        log.LogDateiName = (base / "Program" / "Orvanta" / "Orvanta.log").string();
        log.LogDateiGroesse = 2000;
        log.LogSystem = kTrue;
        log.Logdaten = kTrue;
    }

    std::vector<std::string> logLines(const fs::path& file) const {
        std::ifstream in(file, std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }
    std::vector<std::string> logLines() const {
        return logLines(base / "Program" / "Orvanta" / "Orvanta.log");
    }
    void clearLog() const { fs::remove(base / "Program" / "Orvanta" / "Orvanta.log"); }

    // The variable writes, as "<last part of the name>=<value>".
    std::vector<std::string> writes() const {
        std::vector<std::string> result;
        for (const RecordingVariables::Access& write : variables.writes()) {
            const auto at = write.name.find("<.");
            result.push_back(write.name.substr(at + 2, write.name.size() - at - 3) + "=" +
                             (write.value.isArray() ? "[..]" : toText(write.value)));
        }
        return result;
    }
    void forget() {
        variables.clear();
        display.clearCalls();
        windows.calls.clear();
        clearLog();
    }

    fs::path base = freshFolder();
    HookedLoop loop;
    RecordingVariables variables = lineVariables();
    ScriptedLineDisplay display;
    HookedCentralForm form;
    FixedClock clock;
    InMemoryDatabaseEngine databases;
    RecordingMessageBoxes messages;
    IniAccess ini{messages};
    ScriptedWindowSystem windows;
    // What the program end did beyond the form, in order; a step beyond it fails when told to.
    std::vector<std::string> journal;
    std::vector<std::string> reports;
    bool startFormFails = false;
    OrvantaCentral central{CentralComponents{
        loop, variables, display, form, clock, databases, ini, windows,
        (base / "Program" / "Orvanta").string(),
        [this] {
            journal.push_back("start form shown, texts " + std::string(textsOpen() ? "open" : "closed"));
            if (startFormFails) throw VbError(5, "No screen", "Forms");
        },
        [this] { journal.push_back("runtime stopped"); },
        [this](const std::string& report) { reports.push_back(report); }}};

    bool textsOpen() {
        try {
            central.VisuText().use().GetText(1031, "K", 0);
            return true;
        } catch (const VbError&) {
            return false;
        }
    }

    std::string runningTimers() const {
        std::string running;
        for (const Timer* timer :
             {&central.TimerErstemal, &central.TimerDaten, &central.TimerLeben, &central.TimerWebBrowser})
            if (timer->enabled()) running += (running.empty() ? "" : " ") + timer->name();
        return running;
    }
};

// --- Form_Activate ---------------------------------------------------------------------------------------

TEST_F(MainFormTest, TheInitialisationWithTheStudioAndItsCompanionWindow) {
    programIni({{"VWStudio", "TRUE"},
                {"NumberOfMachines", "3"},
                {"AutoJumpAlarms", "1"},
                {"AutoJumpWarnings", "1"}});
    ownIni({{"LogFileSize", "10"},
            {"LogFileOCXName", "/var/ocx.log"},
            {"LogFileOCXSize", "2000"},
            {"LogFileOCXData", "TRUE"},
            {"LogFileOCXSystem", "FALSE"}});
    texts("Program/Pelmar.vws");
    const std::int32_t window = windows.open("DCWindow");

    central.Form_Activate();

    const std::string b = base.string();
    const std::string cp = "S " + kTime + "FormActivate";
    EXPECT_EQ(logLines(), (std::vector<std::string>{cp + " Start ",
                                                    cp + " 1 ",
                                                    cp + " 2 ",
                                                    cp + " 3 ",
                                                    cp + " 4 " + b + "/Parameter/Program.ini ",
                                                    cp + " 5a True " + b,
                                                    cp + " 5c ",
                                                    cp + " 5d ",
                                                    cp + " 6 ",
                                                    "S " + kTime + "BildSprung_Change An ",
                                                    "S " + kTime + "BildSprung_Change En ",
                                                    cp + " 7 ",
                                                    cp + " 8 ",
                                                    cp + " 9 ",
                                                    cp + " 10 ",
                                                    cp + " 11 ",
                                                    "S " + kTime + "AlarmDefsEinlesen An ",
                                                    "S " + kTime + "AlarmDefsEinlesen En ",
                                                    cp + " 12 ",
                                                    "S " + kTime + "LanguageEinlesen An ",
                                                    "S " + kTime + "LanguageEinlesen En ",
                                                    cp + " 13 ",
                                                    cp + " En "}));
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_b_sprung=3", "li_status=5", "li_client_ok=0"}));
    EXPECT_EQ(display.writes(),
              (std::vector<std::string>{"LogPath(\"/var/ocx.log\")", "LogSize(2000)", "LogDataOn(True)",
                                        "LogSystemOn(False)", "Active(True)"}));
    EXPECT_EQ(windows.calls,
              (std::vector<std::string>{
                  "FindWindowA(DCWindow)", "SetForegroundWindow(" + std::to_string(window) + ")",
                  "SetActiveWindow(" + std::to_string(window) + ")", "minimiseMainWindow()"}));
    EXPECT_EQ(runningTimers(), "TimerErstemal TimerLeben TimerWebBrowser");

    const CentralState& state = central.state();
    EXPECT_EQ(state.plant.BasisVerzeichnis, b);
    EXPECT_EQ(state.plant.ProgrammIni, b + "/Parameter/Program.ini");
    EXPECT_EQ(state.log.LogDateiName, b + "/Program/Orvanta/Orvanta.log");
    EXPECT_EQ(state.log.LogDateiGroesse, 10);
    EXPECT_EQ(state.log.LogSystem, kTrue);
    EXPECT_EQ(state.log.Logdaten, kTrue);
    EXPECT_EQ(state.log.LogDateiOCXName, "/var/ocx.log");
    EXPECT_EQ(state.log.LogDateiOCXGroesse, 2000);
    EXPECT_EQ(state.plant.MitVWStudio, kTrue);
    EXPECT_EQ(state.plant.AnzahlMaschinen, 3);
    EXPECT_EQ(state.plant.FensterTitel, "DCWindow");
    EXPECT_EQ(state.plant.FensterHandle, window);
    EXPECT_EQ(state.jumps.SprungAlarme, kTrue);
    EXPECT_EQ(state.jumps.SprungWarnungen, kTrue);
    EXPECT_EQ(state.VisuTextFehler, 0);
    EXPECT_EQ(central.VisuText().use().GetText(1031, "K", 0), "Kette") << "the .vws file, opened";
    EXPECT_EQ(form.labelCaption, "Label1g") << "no fault shown";
}

TEST_F(MainFormTest, TheInitialisationWithoutTheStudioAndWithoutCompanionWindow) {
    programIni({{"NumberOfMachines", "5"}, {"AutoJumpAlarms", "2"}, {"AutoJumpWarnings", "-1"}});
    ownIni({{"LogFileName", (base / "own.log").string()}});
    texts("Program/Pelmar.mdb");
    windows.open("DCWindow");  // not the window searched for without the studio

    central.Form_Activate();

    const std::vector<std::string> lines = logLines(base / "own.log");
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[5], "S " + kTime + "FormActivate 5b False " + base.string());
    EXPECT_EQ(lines.back(), "S " + kTime + "FormActivate En ");
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_b_sprung=0", "li_status=5", "li_client_ok=0"}));
    EXPECT_EQ(
        display.writes(),
        (std::vector<std::string>{"LogPath(\"" + base.string() + "/Program/Orvanta/OrvantaOCX.log\")",
                                  "LogSize(100)", "LogDataOn(False)", "LogSystemOn(False)", "Active(True)"}));
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"FindWindowA(Vwwebbrowser)"}));
    EXPECT_EQ(runningTimers(), "TimerErstemal TimerLeben");
    const CentralState& state = central.state();
    EXPECT_EQ(state.plant.MitVWStudio, 0);
    EXPECT_EQ(state.plant.AnzahlMaschinen, 5);
    EXPECT_EQ(state.plant.FensterHandle, 0);
    EXPECT_EQ(state.log.LogDateiGroesse, 100);
    EXPECT_EQ(state.jumps.SprungAlarme, 0);
    EXPECT_EQ(state.jumps.SprungWarnungen, 0);
    EXPECT_EQ(central.VisuText().use().GetText(1031, "K", 0), "Kette") << "the .mdb file, opened";

    // Any handle above 0 is a window.
    windows.nextHandle = 1;
    windows.open("Vwwebbrowser");
    forget();
    central.Form_Activate();
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"FindWindowA(Vwwebbrowser)", "SetForegroundWindow(1)",
                                                       "SetActiveWindow(1)", "minimiseMainWindow()"}));
    EXPECT_EQ(runningTimers(), "TimerErstemal TimerLeben TimerWebBrowser");
}

TEST_F(MainFormTest, SettingsOutsideTheirRangesAreCorrectedAndTheJumpBitsAddUp) {
    struct Row {
        const char* logSize;  // nullptr: missing
        const char* machines;
        const char* alarms;
        const char* warnings;
        std::int32_t size;
        std::int16_t anzahl;
        std::int16_t jumps;
    };
    const Row rows[] = {{"5", "0", "1", "0", 100, 1, 1},
                        {"9", "6", "0", "1", 100, 1, 2},
                        {"10", "1", "1", "1", 10, 1, 3},
                        {"2000", "5", "-1", "2", 2000, 5, 0},
                        {"2001", "4", nullptr, nullptr, 100, 4, 0},
                        {"0", nullptr, "1", "1", 100, 1, 3},
                        {nullptr, "-3", "3", "1", 100, 1, 2},
                        {"11", "2", "1", "3", 11, 2, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("LogFileSize ") + (row.logSize ? row.logSize : "missing") +
                     ", NumberOfMachines " + (row.machines ? row.machines : "missing"));
        Entries plant;
        if (row.machines) plant.push_back({"NumberOfMachines", row.machines});
        if (row.alarms) plant.push_back({"AutoJumpAlarms", row.alarms});
        if (row.warnings) plant.push_back({"AutoJumpWarnings", row.warnings});
        programIni(plant);
        Entries own;
        if (row.logSize)
            own.push_back({"LogFileSize", row.logSize}), own.push_back({"LogFileOCXSize", row.logSize});
        ownIni(own);
        forget();
        central.Form_Activate();
        EXPECT_EQ(logLines().front(), "S " + kTime + "FormActivate Start ")
            << "no entry trace, also when known";
        const CentralState& state = central.state();
        EXPECT_EQ(state.log.LogDateiGroesse, row.size);
        EXPECT_EQ(state.log.LogDateiOCXGroesse, row.size);
        EXPECT_EQ(display.writes().at(1), "LogSize(" + std::to_string(row.size) + ")");
        EXPECT_EQ(state.plant.AnzahlMaschinen, row.anzahl);
        EXPECT_EQ(writes().front(), "li_b_sprung=" + std::to_string(row.jumps));
        EXPECT_EQ(state.jumps.SprungAlarme, vbBool((row.jumps & 1) != 0));
        EXPECT_EQ(state.jumps.SprungWarnungen, vbBool((row.jumps & 2) != 0));
    }
}

TEST_F(MainFormTest, ATextDatabaseThatCannotBeInitialisedIsNotOpenedAndTheRestStillRuns) {
    programIni({});
    ownIni({});
    central.Form_Activate();  // no Pelmar.mdb

    const std::string file = base.string() + "/Program/Pelmar.mdb";
    std::vector<std::string> faults;
    for (const std::string& line : logLines())
        if (line.rfind("F ", 0) == 0) faults.push_back(line);
    const std::string init = kTime + "Fault 3024; Zervmdb.dll Init ; Database; Form_Activate";
    EXPECT_EQ(faults, (std::vector<std::string>{"F " + kTime + "Fault 3024; Could not find file '" + file +
                                                    "'; Database; Form_Activate",
                                                "F " + init}));
    EXPECT_EQ(form.labelCaption, init);
    EXPECT_EQ(central.state().VisuTextFehler, kTrue);
    EXPECT_EQ(logLines().back(), "S " + kTime + "FormActivate En ");
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_b_sprung=0", "li_status=5", "li_client_ok=0"}));
    EXPECT_EQ(runningTimers(), "TimerErstemal TimerLeben");
}

TEST_F(MainFormTest, ATextDatabaseThatCannotBeOpenedIsMarkedFailed) {
    programIni({{"VWStudio", "TRUE"}});
    ownIni({});
    central.Form_Activate();  // Pelmar.vws holds no texts

    std::vector<std::string> faults;
    for (const std::string& line : logLines())
        if (line.rfind("F ", 0) == 0) faults.push_back(line);
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_NE(faults[0].find("; Database; Form_Activate"), std::string::npos) << faults[0];
    EXPECT_EQ(faults[1], "F " + kTime + "Fault 3078; Zervmdb.dll Open ; Database; Form_Activate");
    EXPECT_EQ(central.state().VisuTextFehler, kTrue);
}

// --- The timers -------------------------------------------------------------------------------------------

TEST_F(MainFormTest, TimerErstemalPreparesTheValuesRaisesNewGroupsOnceAndStops) {
    logEverything();
    central.TimerErstemal.setEnabled(true);
    loop.advance(9999);
    EXPECT_TRUE(logLines().empty());
    loop.advance(1);
    const std::vector<std::string> w = writes();
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w.back(), "li_neu_g=1");
    EXPECT_EQ(std::count(w.begin(), w.end(), "li_status=5"), 1) << "the value preparation ran";
    const std::vector<std::string> lines = logLines();
    EXPECT_EQ(lines.front(), "S " + kTime + "TimerErstemal_Timer An ");
    EXPECT_EQ(lines[1], "D " + kTime + "TimerErstemal_Timer.LinienWerteAufbereiten An ");
    EXPECT_EQ(lines[lines.size() - 2], "D " + kTime + "TimerErstemal_Timer.LinienWerteAufbereiten En ");
    EXPECT_EQ(lines.back(), "S " + kTime + "TimerErstemal_Timer En ");
    EXPECT_FALSE(central.TimerErstemal.enabled());

    forget();
    loop.advance(30000);
    EXPECT_TRUE(variables.writes().empty()) << "a one-shot";

    // A failing write does not keep it running.
    variables.failWritesOf(vars::kLiNeuG, VbError(5, "refused", "Runtime"));
    central.TimerErstemal.setEnabled(true);
    loop.advance(10000);
    EXPECT_FALSE(central.TimerErstemal.enabled());
    EXPECT_EQ(form.labelCaption, kTime + "Fault 5; refused; Runtime; TimerErstemal_Timer");
}

TEST_F(MainFormTest, TimerLebenEchoesTheLifeValueAndZeroWhenItCannotBeRead) {
    logEverything();
    variables.set(vars::kLiLebenHi, Variant::integer(37));
    central.TimerLeben.setEnabled(true);
    loop.advance(1000);
    EXPECT_EQ(variables.events(),
              (std::vector<RecordingVariables::Access>{
                  {RecordingVariables::Access::Read, std::string(vars::kLiLebenHi), Variant::integer(37)},
                  {RecordingVariables::Access::Write, std::string(vars::kLiLebenZu), Variant::integer(37)}}));
    EXPECT_EQ(logLines(), (std::vector<std::string>{"S " + kTime + "TimerLeben_Timer An ",
                                                    "S " + kTime + "TimerLeben_Timer En "}));

    forget();
    variables.failReadsOf(vars::kLiLebenHi, VbError(5, "gone", "Runtime"));
    loop.advance(1000);
    EXPECT_EQ(writes(), (std::vector<std::string>{"li_leben_zu=0"}));
    EXPECT_EQ(logLines(), (std::vector<std::string>{"S " + kTime + "TimerLeben_Timer An ",
                                                    "F " + kTime + "Fault 5; gone; Runtime; TimerLeben_Timer",
                                                    "S " + kTime + "TimerLeben_Timer En "}));
    EXPECT_TRUE(central.TimerLeben.enabled());
}

TEST_F(MainFormTest, TimerWebBrowserEndsTheProgramOnceWhenTheCompanionWindowHasGone) {
    logEverything();
    central.state().plant.FensterTitel = "DCWindow";
    windows.open("DCWindow");
    central.TimerWebBrowser.setEnabled(true);
    central.TimerErstemal.setEnabled(true);
    loop.advance(2000);
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"FindWindowA(DCWindow)"}));
    EXPECT_TRUE(journal.empty());

    windows.close("DCWindow");
    loop.advance(4000);
    EXPECT_EQ(journal, (std::vector<std::string>{"start form shown, texts closed", "runtime stopped"}))
        << "ended once";
    EXPECT_FALSE(central.loaded());
    EXPECT_EQ(logLines(),
              (std::vector<std::string>{
                  "S " + kTime + "TimerWebBrowser_Timer An ", "S " + kTime + "TimerWebBrowser_Timer En ",
                  "S " + kTime + "TimerWebBrowser_Timer An ", "S " + kTime + "TimerWebBrowser_Timer En "}));
}

// --- The change handlers and the End button ---------------------------------------------------------------

TEST_F(MainFormTest, KeinSprungClearsTheAlarmBitsOnlyWhenSetAndAlwaysPreparesTheValues) {
    logEverything();
    variables.change(vars::kLiBildSprung, Variant::integer(0));  // the first preparation raises new groups
    forget();
    variables.change(vars::kLiBildSprung, Variant::integer(1));
    EXPECT_EQ(central.state().jumps.KeinSprungAktiv, kTrue);
    const std::vector<std::string> set = writes();
    ASSERT_GE(set.size(), 2u);
    EXPECT_EQ(set.front(), "li_a_bits=0");
    const std::vector<std::string> lines = logLines();
    EXPECT_EQ(lines.front(), "S " + kTime + "KeinSprung_Change An ");
    EXPECT_EQ(lines[1], "D " + kTime + "KeinSprung_Change.LinienWerteAufbereiten An ");
    EXPECT_EQ(lines.back(), "S " + kTime + "KeinSprung_Change En ");

    forget();
    variables.change(vars::kLiBildSprung, Variant::integer(0));
    EXPECT_EQ(central.state().jumps.KeinSprungAktiv, 0);
    EXPECT_EQ(writes(), std::vector<std::string>(set.begin() + 1, set.end()))
        << "the same value preparation, without the write of the alarm bits";
    EXPECT_EQ(logLines().size(), lines.size());

    forget();
    variables.change(vars::kLiBildSprung, Variant::integer(-2));
    EXPECT_EQ(central.state().jumps.KeinSprungAktiv, kTrue) << "any number other than 0";
    EXPECT_EQ(writes().front(), "li_a_bits=0");
}

TEST_F(MainFormTest, BildSprungTakesBitZeroForAlarmsAndBitOneForWarnings) {
    logEverything();
    const std::pair<int, std::pair<std::int16_t, std::int16_t>> cases[] = {
        {0, {0, 0}}, {1, {kTrue, 0}}, {2, {0, kTrue}}, {3, {kTrue, kTrue}}, {5, {kTrue, 0}}, {6, {0, kTrue}}};
    for (const auto& [value, flags] : cases) {
        variables.change(vars::kLiBSprung, Variant::integer(static_cast<std::int16_t>(value)));
        EXPECT_EQ(central.state().jumps.SprungAlarme, flags.first) << value;
        EXPECT_EQ(central.state().jumps.SprungWarnungen, flags.second) << value;
    }
    EXPECT_TRUE(variables.writes().empty());

    // A text that is no number: each bit test fails, and a failed condition enters its branch.
    forget();
    variables.change(vars::kLiBSprung, Variant::text("x"));
    EXPECT_EQ(central.state().jumps.SprungAlarme, kTrue);
    EXPECT_EQ(central.state().jumps.SprungWarnungen, kTrue);
    const std::string fault = "F " + kTime + "Fault 13; Type mismatch; Orvanta; BildSprung_Change";
    EXPECT_EQ(logLines(), (std::vector<std::string>{"S " + kTime + "BildSprung_Change An ", fault, fault,
                                                    "S " + kTime + "BildSprung_Change En "}));
}

TEST_F(MainFormTest, SpracheGeandertKeepsTheLanguageAnd1033ForNone) {
    logEverything();
    EXPECT_EQ(central.state().Sprache, "");
    variables.change(vars::kSprache, Variant::longInt(1031));
    EXPECT_EQ(central.state().Sprache, "1031");
    variables.change(vars::kSprache, Variant::integer(0));
    EXPECT_EQ(central.state().Sprache, "1033");
    variables.change(vars::kSprache, Variant::text("1036"));
    EXPECT_EQ(central.state().Sprache, "1036");
    forget();
    variables.change(vars::kSprache, Variant::text("none"));
    EXPECT_EQ(central.state().Sprache, "1033");
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "S " + kTime + "SpracheGeandert_Change An ",
                              "F " + kTime + "Fault 13; Type mismatch; Orvanta; SpracheGeandert_Change",
                              "S " + kTime + "SpracheGeandert_Change En "}));
}

TEST_F(MainFormTest, ANewFaultNumberRunsAPassOnlyOnceTheLineHasConnected) {
    logEverything();
    variables.change(vars::kLiHNummer, Variant::integer(7));
    EXPECT_EQ(display.dataUpdatedCount, 0);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"D " + kTime + "NeuerFehlerInVisu_Change An ",
                                                    "D " + kTime + "NeuerFehlerInVisu_Change En "}));
    forget();
    central.TimerDaten.setEnabled(true);
    variables.change(vars::kLiHNummer, Variant::integer(8));
    EXPECT_EQ(display.dataUpdatedCount, 1);
    EXPECT_TRUE(central.TimerDaten.enabled());
    const std::vector<std::string> lines = logLines();
    EXPECT_EQ(lines[1], "D " + kTime + "TimerDaten_Timer An ");
    EXPECT_EQ(lines.back(), "D " + kTime + "NeuerFehlerInVisu_Change En ");
}

// --- The program end
// ----------------------------------------------------------------------------------------

TEST_F(MainFormTest, TheEndButtonStopsTheTimersClosesTheTextsReturnsToTheStartFormAndStopsTheRuntimeLast) {
    logEverything();
    texts("Program/Pelmar.vws");
    central.VisuText().use().Init((base / "Program" / "Pelmar.vws").string());
    central.VisuText().use().Open();
    for (Timer* timer :
         {&central.TimerErstemal, &central.TimerDaten, &central.TimerLeben, &central.TimerWebBrowser})
        timer->setEnabled(true);
    ASSERT_TRUE(textsOpen());

    std::string running = runningTimers();
    loop.onTimersChanged = [&] {
        if (runningTimers() == running) return;
        running = runningTimers();
        journal.push_back("running: " + running);
    };
    form.onUnload = [&] {
        journal.push_back("main form unloaded");
        loop.post([&] { journal.push_back("events after the unload"); });
    };
    loop.post([&] { journal.push_back("events before the unload"); });

    central.cmdEnd_Click();
    EXPECT_EQ(journal,
              (std::vector<std::string>{
                  "running: TimerErstemal TimerDaten TimerLeben", "running: TimerErstemal TimerDaten",
                  "running: TimerErstemal", "start form shown, texts closed", "events before the unload",
                  "running: ", "main form unloaded", "events after the unload", "runtime stopped"}));
    EXPECT_FALSE(central.loaded());
    EXPECT_TRUE(logLines().empty()) << "the end writes no traces";
    EXPECT_TRUE(variables.events().empty());
    EXPECT_TRUE(reports.empty());
}

// A text database that failed is left alone; a step that fails is logged and the end goes on.
TEST_F(MainFormTest, TheProgramEndGoesOnPastAFailingStep) {
    logEverything();
    central.state().VisuTextFehler = kTrue;
    startFormFails = true;
    central.cmdEnd_Click();
    EXPECT_EQ(journal, (std::vector<std::string>{"start form shown, texts closed", "runtime stopped"}));
    EXPECT_EQ(form.calls, std::vector<std::string>{"unload"});
    EXPECT_EQ(logLines(), std::vector<std::string>{"F " + kTime + "Fault 5; No screen; Forms; ProgrammEnde"});
    EXPECT_EQ(reports, std::vector<std::string>{"Program end, showing the start form: No screen"});
}

TEST_F(MainFormTest, TheFormInitialisesOnItsFirstShowingOnlyAndUnloadsOnce) {
    programIni({});
    ownIni({});
    central.show();
    central.show();
    const std::vector<std::string> lines = logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "S " + kTime + "FormActivate En "), 1);
    central.unload();
    central.unload();
    EXPECT_EQ(form.calls, (std::vector<std::string>{"show", "setFocus", "show", "setFocus", "unload"}));
    EXPECT_EQ(runningTimers(), "");
    EXPECT_FALSE(central.loaded());

    // Unloaded, it no longer answers its watches or the line.
    forget();
    variables.change(vars::kLiBSprung, Variant::integer(3));
    display.raiseConnect(kTrue);
    display.raiseNewLineParameter();
    display.raiseNewLineData();
    EXPECT_EQ(central.state().jumps.SprungAlarme, 0);
    EXPECT_EQ(central.state().line.LineConnected, 0);
    EXPECT_EQ(runningTimers(), "");
    EXPECT_TRUE(logLines().empty());
    EXPECT_TRUE(display.calls.empty());
}

}  // namespace
}  // namespace orvanta
