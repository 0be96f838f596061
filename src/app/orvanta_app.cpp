#include "app/orvanta_app.h"

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <random>

#include "app/backend_settings.h"
#include "app/command_line.h"
#include "app/panel.h"
#include "app/refdata_dump.h"
#include "app/signal_watcher.h"
#include "app/status_line.h"
#include "components/access/mdb_database.h"
#include "components/clock.h"
#include "components/demo/demo_simulator.h"
#include "components/embedded/embedded_runtime.h"
#include "components/headless/headless_views.h"
#include "components/linemodel/line_description_file.h"
#include "components/linemodel/line_model.h"
#include "components/mqtt/mqtt_backend.h"
#include "components/qt/qt_event_loop.h"
#include "components/system_event_loop.h"
#include "components/vb_error.h"
#include "components/window_system.h"
#include "components/x11/x11_window_system.h"
#include "refdata/alarm_definitions.h"
#include "service/base_folder.h"
#include "service/plant_files.h"
#include "ui/line_picture_widget.h"
#include "ui/qt_central_form.h"
#include "ui/qt_message_boxes.h"
#include "ui/qt_start_form.h"
#include "ui/screenshot.h"

#ifndef ORVANTA_VERSION
#define ORVANTA_VERSION "0"
#endif

namespace orvanta {
namespace {

namespace fs = std::filesystem;

// The program's own folder: where the executable lies, or BASE/Program/Orvanta when --base names the
// plant, so that every path below is derived the same way in both cases.
std::string programFolder(const CommandLine& options) {
    if (options.baseFolder) {
        std::string base = fs::absolute(*options.baseFolder).lexically_normal().string();
        while (base.size() > 1 && base.back() == '/') base.pop_back();
        return plantFile(base, kProgramFolder);
    }
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path().string() : executable.parent_path().string();
}

class LoopApplication : public Application {
public:
    explicit LoopApplication(RunLoop& loop) : loop_(loop) {}
    void end(int exitCode) override { loop_.quit(exitCode); }

private:
    RunLoop& loop_;
};

std::optional<LineDescription> lineDescription(const std::string& base, std::ostream& err) {
    try {
        return loadLineDescription(plantFile(base, kLineDescriptionFile));
    } catch (const VbError& error) {
        err << "Orvanta: error: " << error.description() << "; the line stays disconnected" << std::endl;
        return std::nullopt;
    }
}

// The demo world: its machines know their alarm bits from the plant's own alarm definitions.
std::unique_ptr<DemoSimulator> demoSimulator(EventLoop& loop, ProcessVariables& variables,
                                             const std::optional<LineDescription>& description,
                                             DatabaseEngine& databases, const std::string& base,
                                             std::ostream& err, const ErrorReporter& report) {
    LogSettings noLog;
    SystemClock clock;
    HeadlessCentralForm faults(err);
    ProgramLog log(noLog, clock, faults, base);
    AlarmDefinitions alarms;
    AlarmDefsEinlesen(alarms, databases, log, base, kAlarmMachines);
    return std::make_unique<DemoSimulator>(loop, variables, description.value_or(LineDescription{}), alarms,
                                           std::vector<std::int32_t>{1031, 1033, 1036},
                                           std::random_device{}(), 1.0, report);
}

struct PanelViews {
    StartFormView& start;
    std::optional<std::reference_wrapper<CentralFormView>> central;  // none: the Qt main window is made here
    MessageBoxes& messages;
};

// Runs the panel on loop with the given views until the program ends; returns the exit status.
int runPanel(RunLoop& loop, PanelViews views, const CommandLine& options, const BackendSettings& backend,
             const std::string& appPath, const std::string& base, std::ostream& out, std::ostream& err) {
    LoopApplication application(loop);
    SystemClock clock;
    Panel* panelOfProgram = nullptr;
    const ErrorReporter report = [&err, &panelOfProgram](const std::string& message) {
        err << "Orvanta: error: " << message << std::endl;
        // Once the main form runs, its log keeps the message too: that is where a plant engineer looks
        // for what happened in the night (a broker that went away and came back).
        OrvantaCentral* central = panelOfProgram != nullptr ? panelOfProgram->central() : nullptr;
        if (central != nullptr && central->loaded()) {
            ProgramLog& log = central->log();
            log.LogEintrag(log.clock().longTime() + " " + log.clock().shortDate() + " " + message, 0, 0, 0, kTrue);
        }
    };

    MdbDatabaseEngine databases(defaultMdbReaderPath());
    // Embedded: the variables inside the program and the line from Line.json (played by the simulator on
    // request). MQTT: both from the broker, the line's description too.
    std::unique_ptr<EmbeddedRuntime> embedded;
    std::unique_ptr<MqttBackend> mqtt;
    std::unique_ptr<DemoSimulator> simulator;
    std::optional<LineDescription> description;
    LineSource* lineSource = nullptr;
    if (backend.kind == BackendKind::Mqtt) {
        mqtt = std::make_unique<MqttBackend>(loop, backend.mqtt, report);
        lineSource = &mqtt->line;
    } else {
        embedded = openEmbeddedRuntime(loop, base, report);
        description = lineDescription(base, err);
        if (options.simulate)
            simulator = demoSimulator(loop, *embedded, description, databases, base, err, report);
        lineSource = simulator.get();
    }
    ProcessVariables& variables = mqtt ? static_cast<ProcessVariables&>(mqtt->variables) : *embedded;
    RuntimeControl& runtime = mqtt ? static_cast<RuntimeControl&>(mqtt->variables) : *embedded;
    LineModel line(loop, description, lineSource);

    // The window system of the display, when there is one: the companion window is looked for there.
    const std::unique_ptr<X11WindowSystem> x11 = X11WindowSystem::open();
    HeadlessWindowSystem noWindows;
    WindowSystem& windows = x11 ? static_cast<WindowSystem&>(*x11) : noWindows;

    std::unique_ptr<QtCentralForm> qtCentral;
    if (!views.central) {
        qtCentral = std::make_unique<QtCentralForm>(line, [&panelOfProgram] {
            if (panelOfProgram != nullptr && panelOfProgram->central() != nullptr)
                panelOfProgram->central()->cmdEnd_Click();
        });
        if (x11) x11->setMainWindow(qtCentral->window().winId());
    }
    CentralFormView& centralView = views.central ? views.central->get() : *qtCentral;

    Panel panel(PanelParts{loop, variables, runtime, line, views.start, centralView, views.messages,
                           application, windows, databases, clock, report, appPath});
    panelOfProgram = &panel;
    if (qtCentral)
        panel.onCentralCreated(
            [&](OrvantaCentral& central) { qtCentral->linePicture().setLanguages(&central.languages()); });

    // Without windows, what a person on a terminal sees of the line, once a second.
    Timer statusLines(loop, "StatusLine", 1000, [&] {
        if (panel.central() != nullptr && panel.central()->loaded())
            out << statusLine(*panel.central(), line) << std::endl;
    });
    statusLines.setEnabled(!qtCentral);

    // --run-for ends the program in order after its time; --screenshot first saves the main window.
    std::unique_ptr<Timer> runFor;
    if (options.runForSeconds || options.screenshot) {
        runFor = std::make_unique<Timer>(loop, "RunFor", options.runForSeconds.value_or(3) * 1000, [&] {
            runFor->setEnabled(false);
            if (options.screenshot && qtCentral &&
                !saveWidgetScreenshot(qtCentral->window(), *options.screenshot))
                report("Cannot save the screenshot to " + *options.screenshot);
            panel.ProgrammEnde();
        });
        runFor->setEnabled(true);
    }
    SignalWatcher signals(loop, [&] { panel.ProgrammEnde(); }, kExitInterrupted);

    try {
        panel.start();
    } catch (const VbError& error) {
        err << "orvanta: " << error.description() << std::endl;
        return kExitUsage;
    }
    return loop.run();
}

}  // namespace

int runOrvanta(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const CommandLineResult parsed = parseCommandLine(arguments);
    if (!parsed.error.empty()) {
        err << "orvanta: " << parsed.error << "\n\n" << usageText();
        return kExitUsage;
    }
    const CommandLine& options = parsed.options;
    if (options.help) {
        out << usageText();
        return kExitOk;
    }
    if (options.version) {
        out << "orvanta " << ORVANTA_VERSION << std::endl;
        return kExitOk;
    }

    const std::string appPath = programFolder(options);
    std::string base;
    BackendSettings backend;
    try {
        base = baseFolderOf(appPath);
        backend = loadBackendSettings(plantFile(base, kOwnIniFile), options.backend);
    } catch (const VbError& error) {
        err << "orvanta: " << error.description() << std::endl;
        return kExitUsage;
    }

    if (options.dumpRefdata) {
        MdbDatabaseEngine engine(defaultMdbReaderPath());
        return dumpRefdata(base, engine, out, err);
    }
    if (options.simulate && backend.kind == BackendKind::Mqtt) {
        err << "orvanta: --simulate plays the demo world inside the program, with the embedded backend; "
               "over MQTT run orvanta-sim beside the program\n";
        return kExitUsage;
    }

    SignalWatcher::blockSignals();
    const char* display = std::getenv("DISPLAY");
    const bool haveDisplay = display != nullptr && *display != '\0';
    const bool windowed = options.screenshot.has_value() || (!options.headless && haveDisplay);
    if (!windowed) {
        SystemEventLoop loop;
        HeadlessMessageBoxes messages(err);
        HeadlessStartForm startView(err);
        HeadlessCentralForm centralView(err);
        return runPanel(loop, PanelViews{startView, centralView, messages}, options, backend, appPath, base, out,
                        err);
    }

    // Without a display a screenshot is still taken: on Qt's offscreen platform.
    if (!haveDisplay) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qtArgc = 1;
    static char qtProgram[] = "orvanta";
    static char* qtArgv[] = {qtProgram, nullptr};
    QApplication qtApplication(qtArgc, qtArgv);
    // The start form hides while the main form runs; the program ends when the runtime has stopped.
    QApplication::setQuitOnLastWindowClosed(false);
    QtEventLoop loop;
    QtMessageBoxes messages;
    QtStartForm startView("Version " ORVANTA_VERSION);
    return runPanel(loop, PanelViews{startView, std::nullopt, messages}, options, backend, appPath, base, out, err);
}

}  // namespace orvanta
