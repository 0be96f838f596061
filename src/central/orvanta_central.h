// The main form: owner of the shared state, the reference data, the program log and the timers, and the
// place where the handlers of the running panel live. Created when the start form first shows it; its
// initialisation runs once, when it is first shown.
//
// Unloading it stops everything it started (timers, watches, the line display's events) but keeps the
// object: a handler may be on the stack when the program end unloads the form, and the object goes with
// the program.
//
// The orderly end of the program is the form's own: both its callers, the End button and the watch of the
// companion window, are its handlers. Only two of its steps lie beyond the form, the start form and the
// runtime, and those it is handed.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "central/central_state.h"
#include "central/cyclic_pass.h"
#include "core/clock.h"
#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "linebridge/line_bridge.h"
#include "ports/database.h"
#include "ports/forms.h"
#include "ports/line_display.h"
#include "ports/process_variables.h"
#include "ports/text_database.h"
#include "ports/window_system.h"
#include "refdata/alarm_definitions.h"
#include "refdata/languages.h"
#include "service/ini_access.h"
#include "service/program_log.h"

namespace orvanta {

struct CentralComponents {
    EventLoop& loop;
    ProcessVariables& variables;
    LineDisplay& BrenkoLineOCX;
    CentralFormView& view;
    const Clock& clock;
    DatabaseEngine& databases;
    IniAccess& ini;
    WindowSystem& windows;
    std::string appPath;                  // the program's own folder
    std::function<void()> showStartForm;  // the program end returns to it before this form goes
    std::function<void()> stopRuntime;    // the program end's last step; the process ends on its stop
    ErrorReporter report;                 // problems before the log is known
    HistoryObserver* history = nullptr;   // told the pass's and the bridge's results; none without history
};

class OrvantaCentral : public LineDisplayEvents {
public:
    explicit OrvantaCentral(const CentralComponents& components);
    ~OrvantaCentral() override;
    OrvantaCentral(const OrvantaCentral&) = delete;
    OrvantaCentral& operator=(const OrvantaCentral&) = delete;

    // Shown modeless by the start form, with the focus; the first showing initialises the form.
    void show();
    void unload();
    bool loaded() const { return loaded_; }

    // The orderly end: timers off, text database closed, start form back, this form unloaded, runtime
    // stopped; the process ends when the runtime reports its stop. Every step runs, whatever fails before
    // it, so a program asked to end always ends.
    void ProgrammEnde();

    void Form_Activate();

    // Timer ticks.
    void TimerErstemal_Timer();
    void TimerLeben_Timer();
    void TimerWebBrowser_Timer();

    // Changes of the watched variables, and the End button.
    void KeinSprung_Change(const Variant& value);
    void BildSprung_Change(const Variant& value);
    void NeuerFehlerInVisu_Change(const Variant& value);
    void SpracheGeandert_Change(const Variant& value);
    void cmdEnd_Click();

    // The line display's events.
    void BrenkoLineOCX_Connect(std::int16_t connected);
    void BrenkoLineOCX_NewLineParameter();
    void BrenkoLineOCX_NewLineData();
    void Connect(std::int16_t connected) override;
    void NewLineParameter() override;
    void NewLineData() override;

    CentralState& state() { return state_; }
    const CentralState& state() const { return state_; }
    ProgramLog& log() { return log_; }
    AlarmDefinitions& alarms() { return alarms_; }
    LanguageTable& languages() { return languages_; }
    LineBridge& lineBridge() { return bridge_; }
    CyclicPass& cyclicPass() { return pass_; }
    TextDatabaseHandle& VisuText() { return VisuText_; }

    Timer TimerErstemal;
    Timer TimerDaten;
    Timer TimerLeben;
    Timer TimerWebBrowser;

private:
    void watchVariables();
    void checkpoint(class HandlerFrame& frame, const std::string& text);
    template <typename Step>
    void endStep(const char* what, Step&& step);

    CentralComponents components_;
    CentralState state_;
    ProgramLog log_;
    AlarmDefinitions alarms_;
    LanguageTable languages_;
    TextDatabaseHandle VisuText_;
    LineBridge bridge_;
    CyclicPass pass_;
    std::vector<std::unique_ptr<VarServer>>
        watches_;  // NeuerFehlerInVisu, KeinSprung, BildSprung, SpracheGeandert
    bool initialised_ = false;
    bool loaded_ = true;
};

}  // namespace orvanta
