#include "start/orvanta_start.h"

#include <string>
#include <utility>

#include "core/variant.h"
#include "core/vb_error.h"
#include "service/base_folder.h"
#include "service/ini_access.h"
#include "service/plant_files.h"
#include "start/start_placement.h"

namespace orvanta {

namespace {
// The process's exit status when the runtime could not start.
constexpr int kExitRuntimeFailed = 1;
}  // namespace

OrvantaStart::OrvantaStart(EventLoop& loop, IniAccess& ini, StartFormView& view, MessageBoxes& messages,
                           RuntimeControl& VWSStart1, Application& application,
                           std::function<void()> showCentral, ErrorReporter report)
    : loop_(loop),
      ini_(ini),
      view_(view),
      messages_(messages),
      VWSStart1_(VWSStart1),
      application_(application),
      showCentral_(std::move(showCentral)),
      report_(std::move(report)) {}

void OrvantaStart::Form_Load(const std::string& appPath) {
    const std::string parameterFile = plantFile(baseFolderOf(appPath), kProgramIniFile);
    const std::int16_t withDataInterface =
        ini_.LoadIniBoolean("Project", "WithDataInterface", parameterFile, kFalse);
    const std::int16_t resolution = ini_.LoadIniInteger("Project", "Resolution", parameterFile, kFalse);

    try {
        const StartScreen screen =
            configuredScreen(resolution, view_.TwipsPerPixelX(), view_.TwipsPerPixelY());
        view_.move(placeStartForm(withDataInterface, screen, view_.Width(), view_.Height()),
                   FormScreen{static_cast<float>(screen.width), static_cast<float>(screen.height),
                              withDataInterface != kTrue});
    } catch (const VbError& error) {
        report_("Start window: the screen of \"Resolution\" " + std::to_string(resolution) + " in " +
                parameterFile + " is larger than a window can be placed on (" + error.description() +
                "); the window stays where the desktop puts it");
    }
    view_.show();
    VWSStart1_.start(*this);
}

void OrvantaStart::VWSStart1_StartCompleted(std::int16_t Success) {
    if (Success != 0) {
        showCentral_();
        view_.hide();
        return;
    }
    messages_.show("Initialisierung fehlgeschlagen!", MessageIcon::Critical, kApplicationTitle);
    view_.unload();
    application_.end(kExitRuntimeFailed);
}

void OrvantaStart::stopRuntime() {
    if (!stopWatchdog_) {
        // Runs once: the stop it reports disables it.
        stopWatchdog_ = std::make_unique<Timer>(loop_, "StopWatchdog", kStopTimeoutMs, [this] {
            report_("The runtime did not report its stop within " + std::to_string(kStopTimeoutMs / 1000) +
                    " s; the program ends without it");
            VWSStart1_RuntimeStopped();
        });
    }
    stopWatchdog_->setEnabled(true);
    VWSStart1_.StopRuntime();
}

void OrvantaStart::VWSStart1_RuntimeStopped() {
    if (stopWatchdog_) stopWatchdog_->setEnabled(false);
    view_.unload();
    application_.end(0);
}

}  // namespace orvanta
