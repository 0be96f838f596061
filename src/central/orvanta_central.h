// The main form: owner of the shared state and of the program log, and the place where the handlers of
// the running panel live. Created when the start form first shows it.
#pragma once

#include <string>

#include "central/central_state.h"
#include "components/clock.h"
#include "components/event_loop.h"
#include "components/forms.h"
#include "components/line_display.h"
#include "components/process_variables.h"
#include "service/program_log.h"

namespace orvanta {

struct CentralComponents {
    EventLoop& loop;
    ProcessVariables& variables;
    LineDisplay& BrenkoLineOCX;
    CentralFormView& view;
    const Clock& clock;
    std::string appPath;  // the program's own folder
};

class OrvantaCentral {
public:
    explicit OrvantaCentral(const CentralComponents& components);
    OrvantaCentral(const OrvantaCentral&) = delete;
    OrvantaCentral& operator=(const OrvantaCentral&) = delete;

    // Shown modeless by the start form, with the focus.
    void show();
    void unload();

    CentralState& state() { return state_; }
    const CentralState& state() const { return state_; }
    ProgramLog& log() { return log_; }

private:
    CentralComponents components_;
    CentralState state_;
    ProgramLog log_;
};

}  // namespace orvanta
