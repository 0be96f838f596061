#include "app/panel.h"

#include <utility>

#include "core/vb_error.h"

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
        central_ = std::make_unique<OrvantaCentral>(
            CentralComponents{parts_.loop, parts_.variables, parts_.line, parts_.centralView, parts_.clock,
                              parts_.databases, ini_, parts_.windows, parts_.appPath,
                              [this] { start_.show(); }, [this] { start_.stopRuntime(); }, parts_.report});
        if (centralCreated_) centralCreated_(*central_);
    }
    central_->show();
}

void Panel::ProgrammEnde() {
    if (central_) {
        central_->ProgrammEnde();
        return;
    }
    // Before the main form exists (a signal while the runtime starts) the end is the start form's part
    // alone, and with no log yet a failing step is only reported.
    const auto step = [this](const char* what, auto&& run) {
        try {
            run();
        } catch (...) {
            if (parts_.report)
                parts_.report(std::string("Program end, ") + what + ": " +
                              VbError::current("Orvanta").description());
        }
    };
    step("showing the start form", [&] { start_.show(); });
    step("pending events", [&] { parts_.loop.processEvents(); });
    step("stopping the runtime", [&] { start_.stopRuntime(); });
}

}  // namespace orvanta
