// The panel's two forms wired to the outside components, whatever they are: the running program gives
// it the system loop, the embedded runtime and the line model; the end-to-end test gives it the manual
// loop and doubles.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "central/orvanta_central.h"
#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "ports/database.h"
#include "ports/forms.h"
#include "ports/line_display.h"
#include "ports/process_variables.h"
#include "ports/window_system.h"
#include "service/ini_access.h"
#include "start/orvanta_start.h"

namespace orvanta {

struct PanelParts {
    EventLoop& loop;
    ProcessVariables& variables;
    RuntimeControl& runtime;
    LineDisplay& lineDisplay;
    StartFormView& startView;
    CentralFormView& centralView;
    MessageBoxes& messages;
    Application& application;
    WindowSystem& windows;
    DatabaseEngine& databases;
    const Clock& clock;
    ErrorReporter report;
    std::string appPath;                 // the program's own folder
    HistoryObserver* history = nullptr;  // told the main form's results, when the history is kept
};

class Panel {
public:
    explicit Panel(PanelParts parts);
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // Loads the start form, which starts the runtime; VbError when the program folder has no base.
    void start();

    // The orderly end, for those outside the forms (a signal, the end of --run-for): the main form's
    // own once it exists; before, the start form's part of it (every step runs, whatever fails).
    void ProgrammEnde();

    // Called once the main form exists, before it initialises.
    void onCentralCreated(std::function<void(OrvantaCentral&)> created) {
        centralCreated_ = std::move(created);
    }

    OrvantaStart& startForm() { return start_; }
    // The main form, once the start form has shown it.
    OrvantaCentral* central() { return central_.get(); }

private:
    void showCentral();
    template <typename Step>
    void endStep(const char* what, Step&& step);

    PanelParts parts_;
    IniAccess ini_;
    OrvantaStart start_;
    std::unique_ptr<OrvantaCentral> central_;
    std::function<void(OrvantaCentral&)> centralCreated_;
};

}  // namespace orvanta
