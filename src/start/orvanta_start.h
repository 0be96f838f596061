// The start form: the program's first window. It places itself on the configured screen, lets its
// runtime control start the process-variable runtime, and when the runtime has started shows the main
// form and hides itself; it comes back for the program end and ends the process once the runtime stops.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "ports/forms.h"
#include "ports/process_variables.h"

namespace orvanta {

class IniAccess;

class OrvantaStart : public RuntimeEvents {
public:
    OrvantaStart(EventLoop& loop, IniAccess& ini, StartFormView& view, MessageBoxes& messages,
                 RuntimeControl& VWSStart1, Application& application, std::function<void()> showCentral,
                 ErrorReporter report);

    // appPath: the program's own folder, without a trailing "/". Throws VbError when it has no base
    // folder. A configured screen too large for 16-bit twips is reported and leaves the form where the
    // window system put it. Ends by letting VWSStart1 start the runtime.
    void Form_Load(const std::string& appPath);
    void VWSStart1_StartCompleted(std::int16_t Success);
    void VWSStart1_RuntimeStopped();

    void show() { view_.show(); }
    // Asks the runtime to stop. A runtime that does not report its stop within kStopTimeoutMs is given
    // up on, so that a program asked to end always ends.
    void stopRuntime();
    static constexpr std::int32_t kStopTimeoutMs = 10000;

    // The runtime control reports here.
    void StartCompleted(std::int16_t Success) override { VWSStart1_StartCompleted(Success); }
    void RuntimeStopped() override { VWSStart1_RuntimeStopped(); }

private:
    EventLoop& loop_;
    IniAccess& ini_;
    StartFormView& view_;
    MessageBoxes& messages_;
    RuntimeControl& VWSStart1_;
    Application& application_;
    std::function<void()> showCentral_;
    ErrorReporter report_;
    std::unique_ptr<Timer> stopWatchdog_;
};

}  // namespace orvanta
