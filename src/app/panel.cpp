#include "app/panel.h"

#include <utility>

#include "core/vb_error.h"
#include "service/handler_frame.h"

namespace orvanta {

Panel::Panel(PanelParts parts)
    : parts_(std::move(parts)),
      ini_(parts_.messages),
      start_(
          parts_.loop, ini_, parts_.startView, parts_.messages, parts_.runtime, parts_.application,
          [this] { showCentral(); }, parts_.report) {}

void Panel::start() { start_.Form_Load(parts_.appPath); }

void Panel::showCentral() {
    if (!central_) {
        central_ = std::make_unique<OrvantaCentral>(CentralComponents{
            parts_.loop, parts_.variables, parts_.lineDisplay, parts_.centralView, parts_.clock,
            parts_.databases, ini_, parts_.windows, parts_.appPath, [this] { start_.show(); },
            [this] { start_.stopRuntime(); }, parts_.report, parts_.history});
        if (centralCreated_) centralCreated_(*central_);
    }
    central_->show();
}

// A failing step is written to the log, once the main form has one, and reported; the end goes on.
template <typename Step>
void Panel::endStep(const char* what, Step&& step) {
    try {
        step();
    } catch (...) {
        const VbError error = VbError::current("Orvanta");
        if (parts_.report) parts_.report(std::string("Program end, ") + what + ": " + error.description());
        if (central_) {
            HandlerFrame frame(central_->log(), "ProgrammEnde", Trace::System,
                               {.entryTrace = false, .exitTrace = false});
            frame.fault(error);
        }
    }
}

void Panel::ProgrammEnde() {
    if (central_) {
        central_->ProgrammEnde();
        return;
    }
    // Before the main form exists (a signal while the runtime starts) the end is the start form's part.
    // The runtime's start may complete in the events it lets run and show the main form: that goes too.
    endStep("showing the start form", [&] { start_.show(); });
    endStep("pending events", [&] { parts_.loop.processEvents(); });
    if (central_) {
        endStep("unloading the main form", [&] { central_->unload(); });
        endStep("pending events", [&] { parts_.loop.processEvents(); });
    }
    endStep("stopping the runtime", [&] { start_.stopRuntime(); });
}

}  // namespace orvanta
