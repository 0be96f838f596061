#include "central/orvanta_central.h"

#include <algorithm>

#include "core/vb_error.h"
#include "ports/variable_names.h"
#include "refdata/access_text_database.h"
#include "refdata/alarm_definitions.h"
#include "refdata/languages.h"
#include "service/base_folder.h"
#include "service/handler_frame.h"
#include "service/plant_files.h"

namespace orvanta {
namespace {

constexpr const char* kSection = "Project";
constexpr std::int16_t kSilent = kFalse;  // missing settings fall back to their defaults unreported

}  // namespace

OrvantaCentral::OrvantaCentral(const CentralComponents& components)
    : TimerErstemal(components.loop, "TimerErstemal", 10000, [this] { TimerErstemal_Timer(); }),
      TimerDaten(components.loop, "TimerDaten", 1000, [this] { pass_.TimerDaten_Timer(); }),
      TimerLeben(components.loop, "TimerLeben", 1000, [this] { TimerLeben_Timer(); }),
      TimerWebBrowser(components.loop, "TimerWebBrowser", 2000, [this] { TimerWebBrowser_Timer(); }),
      components_(components),
      log_(state_.log, components.clock, components.view, components.appPath),
      VisuText_(
          [&databases = components.databases] { return std::make_unique<AccessTextDatabase>(databases); }),
      bridge_(state_.line, state_.jumps, languages_, components.variables, components.BrenkoLineOCX, log_),
      pass_(state_, alarms_, components.variables, components.BrenkoLineOCX, VisuText_, log_, TimerDaten) {
    components_.BrenkoLineOCX.subscribe(*this);
    pass_.observe(components.history);
    watchVariables();
}

OrvantaCentral::~OrvantaCentral() = default;

// The four VWSVarServer controls of the form. A variable that cannot be watched costs that watch only.
void OrvantaCentral::watchVariables() {
    const std::pair<std::string_view, void (OrvantaCentral::*)(const Variant&)> watched[] = {
        {vars::kLiHNummer, &OrvantaCentral::NeuerFehlerInVisu_Change},
        {vars::kLiBildSprung, &OrvantaCentral::KeinSprung_Change},
        {vars::kLiBSprung, &OrvantaCentral::BildSprung_Change},
        {vars::kSprache, &OrvantaCentral::SpracheGeandert_Change},
    };
    for (const auto& [name, handler] : watched) {
        try {
            watches_.push_back(std::make_unique<VarServer>(
                components_.variables, std::string(name),
                [this, handler = handler](const Variant& value) { (this->*handler)(value); }));
        } catch (...) {
            const VbError error = VbError::current("Orvanta");
            if (components_.report)
                components_.report("Cannot watch " + std::string(name) + ": " + error.description());
        }
    }
}

void OrvantaCentral::show() {
    components_.view.show();
    components_.view.setFocus();
    // On the original platform this ran on every activation; a window here is activated whenever it gets
    // the focus, and a second initialisation would read every alarm definition twice.
    if (!initialised_) {
        initialised_ = true;
        Form_Activate();
    }
}

void OrvantaCentral::unload() {
    if (!loaded_) return;
    loaded_ = false;
    for (Timer* timer : {&TimerErstemal, &TimerDaten, &TimerLeben, &TimerWebBrowser})
        timer->setEnabled(false);
    watches_.clear();
    components_.view.unload();
}

void OrvantaCentral::checkpoint(HandlerFrame& frame, const std::string& text) {
    frame.trace("FormActivate", text);
}

void OrvantaCentral::Form_Activate() {
    // No entry trace: the log is not known until its settings are read.
    HandlerFrame frame(log_, "Form_Activate", Trace::System, {.entryTrace = false, .exitTrace = false});
    IniAccess& ini = components_.ini;
    PlantSettings& plant = state_.plant;
    LogSettings& logSettings = state_.log;

    frame.step([&] { plant.BasisVerzeichnis = baseFolderOf(components_.appPath); });
    plant.ProgrammIni = plantFile(plant.BasisVerzeichnis, kProgramIniFile);
    const std::string ownIni = plantFile(plant.BasisVerzeichnis, kOwnIniFile);

    // A log's name from the own INI, or its default file in the program's folder.
    const auto logName = [&](const char* entry, PlantPath defaultFile) {
        const std::string name = ini.LoadIniString(kSection, entry, ownIni, kSilent);
        return name.empty() ? plantFile(plant.BasisVerzeichnis, defaultFile) : name;
    };
    const auto logSize = [&](const char* entry) {
        return logSizeOrDefault(ini.LoadIniInteger(kSection, entry, ownIni, kSilent));
    };
    frame.step([&] { logSettings.LogDateiName = logName("LogFileName", kLogFile); });
    frame.step([&] { logSettings.LogDateiGroesse = logSize("LogFileSize"); });
    frame.step(
        [&] { logSettings.LogSystem = ini.LoadIniBoolean(kSection, "LogFileSystem", ownIni, kSilent); });
    frame.step([&] { logSettings.Logdaten = ini.LoadIniBoolean(kSection, "LogFileData", ownIni, kSilent); });
    frame.step([&] { logSettings.LogDateiOCXName = logName("LogFileOCXName", kLineDisplayLogFile); });
    frame.step([&] { logSettings.LogDateiOCXGroesse = logSize("LogFileOCXSize"); });
    checkpoint(frame, " Start ");

    LineDisplay& line = components_.BrenkoLineOCX;
    frame.step([&] { line.LogPath(logSettings.LogDateiOCXName); });
    checkpoint(frame, " 1 ");
    frame.step([&] { line.LogSize(logSettings.LogDateiOCXGroesse); });
    checkpoint(frame, " 2 ");
    frame.step(
        [&] { line.LogDataOn(ini.LoadIniBoolean(kSection, "LogFileOCXData", ownIni, kSilent) == kTrue); });
    checkpoint(frame, " 3 ");
    frame.step([&] {
        line.LogSystemOn(ini.LoadIniBoolean(kSection, "LogFileOCXSystem", ownIni, kSilent) == kTrue);
    });
    checkpoint(frame, " 4 " + plant.ProgrammIni + " ");

    frame.step(
        [&] { plant.MitVWStudio = ini.LoadIniBoolean(kSection, "VWStudio", plant.ProgrammIni, kSilent); });
    frame.step([&] {
        // Outside 1..5: one machine.
        const std::int16_t machines =
            ini.LoadIniInteger(kSection, "NumberOfMachines", plant.ProgrammIni, kSilent);
        plant.AnzahlMaschinen = machines > 5 ? std::int16_t{1} : std::max<std::int16_t>(machines, 1);
    });

    // The text database has a fault handling of its own: once it failed it is not used again.
    const bool withStudio = plant.MitVWStudio == kTrue;
    checkpoint(frame, (withStudio ? " 5a True " : " 5b False ") + plant.BasisVerzeichnis);
    const std::string textFile =
        plantFile(plant.BasisVerzeichnis, withStudio ? kProjectFile : kProjectDatabaseFile);
    try {
        if (state_.VisuTextFehler == 0) VisuText_.use().Init(textFile);
    } catch (...) {
        state_.VisuTextFehler = kTrue;
        frame.reportTextDatabaseFault(VbError::current("Orvanta"), "Init");
    }
    checkpoint(frame, " 5c ");
    try {
        if (state_.VisuTextFehler == 0) VisuText_.use().Open();
    } catch (...) {
        state_.VisuTextFehler = kTrue;
        frame.reportTextDatabaseFault(VbError::current("Orvanta"), "Open");
    }
    checkpoint(frame, " 5d ");

    std::int16_t jumps = 0;
    frame.step([&] {
        if (ini.LoadIniInteger(kSection, "AutoJumpAlarms", plant.ProgrammIni, kSilent) == 1) jumps += 1;
    });
    frame.step([&] {
        if (ini.LoadIniInteger(kSection, "AutoJumpWarnings", plant.ProgrammIni, kSilent) == 1) jumps += 2;
    });
    frame.step([&] { components_.variables.WriteVariable(vars::kLiBSprung, Variant::integer(jumps)); });
    checkpoint(frame, " 6 ");
    frame.step([&] { BildSprung_Change(Variant::integer(jumps)); });
    checkpoint(frame, " 7 ");

    plant.FensterTitel = withStudio ? "DCWindow" : "Vwwebbrowser";
    checkpoint(frame, " 8 ");
    frame.step([&] { plant.FensterHandle = components_.windows.FindWindowA(plant.FensterTitel); });
    checkpoint(frame, " 9 ");
    if (plant.FensterHandle > 0) {
        frame.step([&] { TimerWebBrowser.setEnabled(true); });
        frame.step([&] { components_.windows.SetForegroundWindow(plant.FensterHandle); });
        frame.step([&] { components_.windows.SetActiveWindow(plant.FensterHandle); });
        frame.step([&] { components_.windows.minimiseMainWindow(); });
    }

    checkpoint(frame, " 10 ");
    frame.step([&] { components_.variables.WriteVariable(vars::kLiStatus, Variant::integer(5)); });
    frame.step([&] { components_.variables.WriteVariable(vars::kLiClientOk, Variant::integer(0)); });
    checkpoint(frame, " 11 ");
    frame.step([&] {
        AlarmDefsEinlesen(alarms_, components_.databases, log_, plant.BasisVerzeichnis,
                          plant.AnzahlMaschinen);
    });
    frame.step([&] { pass_.prepare(); });
    checkpoint(frame, " 12 ");
    frame.step([&] { LanguageEinlesen(languages_, components_.databases, log_, plant.BasisVerzeichnis); });
    checkpoint(frame, " 13 ");

    frame.step([&] { line.Active(true); });
    frame.step([&] { TimerLeben.setEnabled(true); });
    frame.step([&] { TimerErstemal.setEnabled(true); });
    checkpoint(frame, " En ");
}

void OrvantaCentral::TimerErstemal_Timer() {
    HandlerFrame frame(log_, "TimerErstemal_Timer", Trace::System);
    frame.step([&] { bridge_.LinienWerteAufbereiten("TimerErstemal_Timer"); });
    frame.step([&] { components_.variables.WriteVariable(vars::kLiNeuG, Variant::integer(1)); });
    frame.step([&] { TimerErstemal.setEnabled(false); });
}

void OrvantaCentral::TimerLeben_Timer() {
    HandlerFrame frame(log_, "TimerLeben_Timer", Trace::System);
    std::int16_t life = 0;
    frame.step([&] { life = toInteger(components_.variables.ReadVariable(vars::kLiLebenHi)); });
    frame.step([&] { components_.variables.WriteVariable(vars::kLiLebenZu, Variant::integer(life)); });
}

void OrvantaCentral::TimerWebBrowser_Timer() {
    HandlerFrame frame(log_, "TimerWebBrowser_Timer", Trace::System);
    std::int32_t window{};
    frame.step([&] { window = components_.windows.FindWindowA(state_.plant.FensterTitel); });
    // The end switches this timer off first of all.
    if (window == 0) frame.step([&] { ProgrammEnde(); });
}

void OrvantaCentral::KeinSprung_Change(const Variant& value) {
    HandlerFrame frame(log_, "KeinSprung_Change", Trace::System);
    JumpFlags& jumps = state_.jumps;
    frame.step([&] { jumps.KeinSprungAktiv = vbBool(toBoolean(value)); });
    if (frame.condition([&] { return jumps.KeinSprungAktiv == kTrue; }))
        frame.step([&] { components_.variables.WriteVariable(vars::kLiABits, Variant::integer(0)); });
    frame.step([&] { bridge_.LinienWerteAufbereiten("KeinSprung_Change"); });
}

void OrvantaCentral::BildSprung_Change(const Variant& value) {
    HandlerFrame frame(log_, "BildSprung_Change", Trace::System);
    JumpFlags& jumps = state_.jumps;
    jumps.SprungAlarme = frame.condition([&] { return (toLong(value) & 1) == 1; }) ? kTrue : kFalse;
    jumps.SprungWarnungen = frame.condition([&] { return (toLong(value) & 2) == 2; }) ? kTrue : kFalse;
}

void OrvantaCentral::NeuerFehlerInVisu_Change(const Variant& /*value*/) {
    HandlerFrame frame(log_, "NeuerFehlerInVisu_Change", Trace::Data);
    if (TimerDaten.enabled()) frame.step([&] { pass_.TimerDaten_Timer(); });
}

void OrvantaCentral::SpracheGeandert_Change(const Variant& value) {
    HandlerFrame frame(log_, "SpracheGeandert_Change", Trace::System);
    frame.step([&] { state_.Sprache = toText(value); });
    if (frame.condition([&] { return toDouble(Variant::text(state_.Sprache)) == 0; }))
        state_.Sprache = "1033";
}

void OrvantaCentral::cmdEnd_Click() { ProgrammEnde(); }

// A failing step is written to the log (and reported) and the end goes on with the next one.
template <typename Step>
void OrvantaCentral::endStep(const char* what, Step&& step) {
    try {
        step();
    } catch (...) {
        const VbError error = VbError::current("Orvanta");
        if (components_.report)
            components_.report(std::string("Program end, ") + what + ": " + error.description());
        HandlerFrame frame(log_, "ProgrammEnde", Trace::System, {.entryTrace = false, .exitTrace = false});
        frame.fault(error);
    }
}

// The timers go first, so that no pass starts while the events below run; the start form is shown
// before this form unloads, so that the program always has a window until the runtime has stopped.
void OrvantaCentral::ProgrammEnde() {
    endStep("timers", [&] {
        TimerWebBrowser.setEnabled(false);
        TimerLeben.setEnabled(false);
        TimerDaten.setEnabled(false);
    });
    // A text database that failed is not touched.
    if (state_.VisuTextFehler == 0) endStep("closing the text database", [&] { VisuText_.use().Close(); });
    endStep("showing the start form", [&] { components_.showStartForm(); });
    endStep("pending events", [&] { components_.loop.processEvents(); });
    endStep("unloading the main form", [&] { unload(); });
    endStep("pending events", [&] { components_.loop.processEvents(); });
    endStep("stopping the runtime", [&] { components_.stopRuntime(); });
}

void OrvantaCentral::Connect(std::int16_t connected) {
    if (loaded_) BrenkoLineOCX_Connect(connected);
}
void OrvantaCentral::NewLineParameter() {
    if (loaded_) BrenkoLineOCX_NewLineParameter();
}
void OrvantaCentral::NewLineData() {
    if (loaded_) BrenkoLineOCX_NewLineData();
}

void OrvantaCentral::BrenkoLineOCX_Connect(std::int16_t connected) {
    HandlerFrame frame(log_, "BrenkoLineOCX_Connect", Trace::Data);
    state_.line.LineConnected = connected;
    ProcessVariables& variables = components_.variables;
    if (connected == kTrue) {
        frame.step([&] { components_.view.setConnectionShapeFillColor(kLineConnectedColour); });
        frame.step([&] { TimerDaten.setEnabled(true); });
        frame.step([&] { variables.WriteVariable(vars::kLiClientOk, Variant::integer(1)); });
    } else {
        frame.step([&] { components_.view.setConnectionShapeFillColor(kLineDisconnectedColour); });
        frame.step([&] { TimerDaten.setEnabled(false); });
        frame.step([&] { variables.WriteVariable(vars::kLiClientOk, Variant::integer(0)); });
        frame.step([&] { bridge_.LinienParaAufbereiten("BrenkoLineOCX_Connect"); });
    }
    if (components_.history != nullptr) components_.history->lineConnected(connected == kTrue);
}

void OrvantaCentral::BrenkoLineOCX_NewLineParameter() {
    HandlerFrame frame(log_, "BrenkoLineOCX_NewLineParameter", Trace::Data);
    frame.step([&] { bridge_.LinienParaAufbereiten("BrenkoLineOCX_NewLineParameter"); });
    if (components_.history != nullptr) components_.history->lineChanged(state_.line);
}

void OrvantaCentral::BrenkoLineOCX_NewLineData() {
    HandlerFrame frame(log_, "BrenkoLineOCX_NewLineData", Trace::Data);
    frame.step([&] { bridge_.LinienWerteAufbereiten("BrenkoLineOCX_NewLineData"); });
    if (components_.history != nullptr) components_.history->lineChanged(state_.line);
}

}  // namespace orvanta
