// The main form: owner of the shared state, the reference data, the program log and the timers, and the
// place where the handlers of the running panel live. Created when the start form first shows it.
#pragma once

#include <memory>
#include <string>

#include "central/central_state.h"
#include "central/cyclic_pass.h"
#include "components/clock.h"
#include "components/database.h"
#include "components/event_loop.h"
#include "components/forms.h"
#include "components/line_display.h"
#include "components/process_variables.h"
#include "components/text_database.h"
#include "linebridge/line_bridge.h"
#include "refdata/alarm_definitions.h"
#include "refdata/languages.h"
#include "service/program_log.h"

namespace orvanta {

struct CentralComponents {
    EventLoop& loop;
    ProcessVariables& variables;
    LineDisplay& BrenkoLineOCX;
    CentralFormView& view;
    const Clock& clock;
    DatabaseEngine& databases;
    std::string appPath;  // the program's own folder
};

class OrvantaCentral : public LineDisplayEvents {
public:
    explicit OrvantaCentral(const CentralComponents& components);
    ~OrvantaCentral() override;
    OrvantaCentral(const OrvantaCentral&) = delete;
    OrvantaCentral& operator=(const OrvantaCentral&) = delete;

    // Shown modeless by the start form, with the focus.
    void show();
    void unload();

    // The line display's events.
    void BrenkoLineOCX_Connect(std::int16_t connected);
    void BrenkoLineOCX_NewLineParameter();
    void BrenkoLineOCX_NewLineData();
    void Connect(std::int16_t connected) override { BrenkoLineOCX_Connect(connected); }
    void NewLineParameter() override { BrenkoLineOCX_NewLineParameter(); }
    void NewLineData() override { BrenkoLineOCX_NewLineData(); }

    CentralState& state() { return state_; }
    ProgramLog& log() { return log_; }
    AlarmDefinitions& alarms() { return alarms_; }
    LanguageTable& languages() { return languages_; }
    LineBridge& lineBridge() { return bridge_; }
    CyclicPass& cyclicPass() { return pass_; }
    TextDatabaseHandle& VisuText() { return VisuText_; }

    Timer TimerDaten;

private:
    CentralComponents components_;
    CentralState state_;
    ProgramLog log_;
    AlarmDefinitions alarms_;
    LanguageTable languages_;
    TextDatabaseHandle VisuText_;
    LineBridge bridge_;
    CyclicPass pass_;
};

}  // namespace orvanta
