#include "app/orvanta_app.h"

#include <unistd.h>

#include <QApplication>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "adapters/access/bounded_process.h"
#include "adapters/access/mdb_database.h"
#include "adapters/embedded/embedded_line_display.h"
#include "adapters/embedded/embedded_variables.h"
#include "adapters/embedded/line_description_file.h"
#include "adapters/headless/headless_views.h"
#include "adapters/headless/headless_window_system.h"
#include "adapters/headless/status_line.h"
#include "adapters/mqtt/mqtt_backend.h"
#include "adapters/mqtt/mqtt_history.h"
#include "adapters/mqtt/mqtt_wait_report.h"
#include "adapters/qt/line_picture_widget.h"
#include "adapters/qt/qt_central_form.h"
#include "adapters/qt/qt_event_loop.h"
#include "adapters/qt/qt_message_boxes.h"
#include "adapters/qt/qt_start_form.h"
#include "adapters/qt/screenshot.h"
#include "adapters/sqlite/sqlite_history_store.h"
#include "adapters/x11/x11_window_system.h"
#include "app/live_page.h"
#include "app/panel.h"
#include "app/plant_lock.h"
#include "app/program_reporter.h"
#include "app/refdata_dump.h"
#include "core/clock.h"
#include "core/system_event_loop.h"
#include "core/vb_error.h"
#include "demo/demo_simulator.h"
#include "history/alarm_texts.h"
#include "history/history_observers.h"
#include "history/history_recorder.h"
#include "history/history_sinks.h"
#include "ports/window_system.h"
#include "program/backend_settings.h"
#include "program/command_line.h"
#include "program/signal_watcher.h"
#include "refdata/alarm_definitions.h"
#include "service/base_folder.h"
#include "service/file_names.h"
#include "service/ini_access.h"
#include "service/plant_files.h"
#include "service/time_zone.h"

#ifndef ORVANTA_VERSION
#define ORVANTA_VERSION "0"
#endif

namespace orvanta {
namespace {

namespace fs = std::filesystem;

// A relative name lies in the plant folder; an existing file is found whatever the case of its name.
std::string historyFile(const std::string& base, const std::string& name) {
    const fs::path path(name);
    return findFileIgnoringCase(path.is_absolute() ? name : (fs::path(base) / path).string());
}

// Where this executable lies, whatever --base says.
std::string executableFolder() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : executable.parent_path().string();
}

// The program's own folder: where the executable lies, or BASE/Program/Orvanta when --base names the
// plant, so that every path below is derived the same way in both cases.
std::string programFolder(const CommandLine& options) {
    if (options.baseFolder) {
        std::string base = fs::absolute(*options.baseFolder).lexically_normal().string();
        while (base.size() > 1 && base.back() == '/') base.pop_back();
        return plantFile(base, kProgramFolder);
    }
    const std::string executable = executableFolder();
    return executable.empty() ? fs::current_path().string() : executable;
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

// The program log's file as the main form will name it (from the own INI).
std::string logFileName(const std::string& base, MessageBoxes& messages) {
    constexpr std::int16_t kSilent = kFalse;
    IniAccess ini(messages);
    const std::string name =
        ini.LoadIniString("Project", "LogFileName", plantFile(base, kOwnIniFile), kSilent);
    return name.empty() ? plantFile(base, kLogFile) : name;
}

// Why lines could not be added to the log at path, without making it: empty when they could.
std::string unwritableBecause(const std::string& path) {
    std::error_code error;
    const fs::path log(path);
    const fs::path target = fs::exists(log, error) ? log : log.parent_path();
    if (::access(target.c_str(), W_OK) == 0) return {};
    return std::strerror(errno);
}

// The line's history, when [History] keeps it: the recorder on the loop's thread, the file written off
// it, and over MQTT the broker; the live page's recent episodes come from the same recorder, which runs
// for the page alone when no history is kept. To the panel it is the runtime: the history's run ends just
// before the runtime stops, so that its last records still go out on the connection the stop closes.
class History : public RuntimeControl {
public:
    History(EventLoop& loop, const HistorySettings& settings, const std::string& base, MqttBackend* mqtt,
            RuntimeControl& runtime, web::WebFeed* page, const ErrorReporter& report)
        : runtime_(runtime), mqtt_(mqtt) {
        if (page != nullptr) {
            sinks_.add(*page);
            observers_.add(*page);
        }
        if (!settings.enabled && page == nullptr) return;
        const std::string line = fs::path(base).filename().string();
        if (settings.enabled) {
            SqliteHistorySettings file;
            file.path = historyFile(base, settings.file);
            file.retentionDays = settings.retentionDays;
            store_ = std::make_unique<SqliteHistoryStore>(loop, report, std::move(file));
            sinks_.add(*store_);
        }
        if (settings.enabled && mqtt != nullptr) {
            publisher_ = std::make_unique<MqttHistoryPublisher>(mqtt->connection, line);
            sinks_.add(*publisher_);
        }
        HistoryRecorder::Settings recording{line, utcOffsetMinutes(), timeZoneName(),
                                            [this](const std::string& key) { return alarmTexts(key); }};
        recorder_ = std::make_unique<HistoryRecorder>(sinks_, loop, wallClock, std::move(recording));
        observers_.add(*recorder_);
        if (mqtt != nullptr) {
            mqtt->connection.onConnected([this] { recorder_->brokerConnected(true); });
            mqtt->connection.onLost([this] { recorder_->brokerConnected(false); });
        }
    }
    ~History() override {
        end();
        if (store_) store_->close();
    }

    HistoryObserver* observer() { return observers_.empty() ? nullptr : &observers_; }
    // The main form whose language table and text database give the alarms' texts. It lives as long as
    // the panel, and the recorder asks only while passes run.
    void textsOf(OrvantaCentral& central) { central_ = &central; }
    void begin() {
        if (!recorder_) return;
        recorder_->start();
        // Nothing is known of the line until the broker is reached.
        if (mqtt_ != nullptr) recorder_->brokerConnected(false);
    }
    void end() {
        if (recorder_) recorder_->end();
    }

    void start(RuntimeEvents& events) override { runtime_.start(events); }
    void StopRuntime() override {
        end();
        runtime_.StopRuntime();
    }

private:
    static history::Millis wallClock() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
    std::vector<history::LanguageText> alarmTexts(const std::string& key) {
        return central_ != nullptr ? orvanta::alarmTexts(*central_, key)
                                   : std::vector<history::LanguageText>{};
    }
    static std::int32_t utcOffsetMinutes() {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        return localtime_r(&now, &local) != nullptr ? static_cast<std::int32_t>(local.tm_gmtoff / 60) : 0;
    }

    RuntimeControl& runtime_;
    MqttBackend* mqtt_;
    HistorySinks sinks_;
    HistoryObservers observers_;
    std::unique_ptr<SqliteHistoryStore> store_;
    std::unique_ptr<MqttHistoryPublisher> publisher_;
    OrvantaCentral* central_ = nullptr;
    std::unique_ptr<HistoryRecorder> recorder_;  // last: it records into the sinks until it goes
};

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

    // A log that cannot be written is said once in the whole run, whichever of its writers finds out.
    bool logTroubleSaid = false;
    const auto logTrouble = [&err, &logTroubleSaid](const std::string& problem) {
        if (logTroubleSaid) return;
        logTroubleSaid = true;
        err << "Orvanta: error: " << problem << std::endl;
    };
    // The log the main form will name: that it cannot be written is said at once, without making it.
    const std::string logFile = logFileName(base, views.messages);
    if (const std::string problem = unwritableBecause(logFile); !problem.empty())
        logTrouble("Cannot write the log " + logFile + ": " + problem + "; the panel runs without it");

    const ErrorReporter report = programReporter(err, [&panelOfProgram]() -> ProgramLog* {
        OrvantaCentral* central = panelOfProgram != nullptr ? panelOfProgram->central() : nullptr;
        return central != nullptr && central->loaded() ? &central->log() : nullptr;
    });

    // A Ctrl-C stops the readers, so that a start blocked on a reader that hangs goes on to the end.
    HelperStop helpers;
    MdbDatabaseEngine databases(defaultMdbReaderPath(), {}, &helpers);
    // Embedded: the variables inside the program and the line from Line.json (played by the simulator on
    // request). MQTT: both from the broker, the line's description too.
    std::unique_ptr<EmbeddedVariables> embedded;
    std::unique_ptr<MqttBackend> mqtt;
    std::unique_ptr<DemoSimulator> simulator;
    std::optional<LineDescription> description;
    LineSource* lineSource = nullptr;
    if (backend.kind == BackendKind::Mqtt) {
        mqtt = std::make_unique<MqttBackend>(loop, backend.mqtt, report);
        lineSource = &mqtt->line;
    } else {
        embedded = openEmbeddedVariables(loop, base, report);
        description = lineDescription(base, err);
        if (options.simulate)
            simulator = demoSimulator(loop, *embedded, description, databases, base, err, report);
        lineSource = simulator.get();
    }
    ProcessVariables& variables = mqtt ? static_cast<ProcessVariables&>(mqtt->variables) : *embedded;
    EmbeddedLineDisplay line(loop, description, lineSource);
    LivePage page(loop, line, backend.web, base,
                  backend.history.enabled ? historyFile(base, backend.history.file) : std::string(), report,
                  out);
    History history(loop, backend.history, base, mqtt.get(),
                    mqtt ? static_cast<RuntimeControl&>(mqtt->variables) : *embedded, page.feed(), report);
    // Over MQTT every display on the network is shown the line as the panel shows it, and a person is
    // told what the panel waits for on the broker.
    std::optional<MqttWaitReport> waits;
    if (mqtt) {
        followDisplay(mqtt->line, line);
        waits.emplace(loop, mqtt->connection, mqtt->variables, mqtt->line, report);
    }

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

    Panel panel(PanelParts{loop, variables, history, line, views.start, centralView, views.messages,
                           application, windows, databases, clock, report, appPath, history.observer()});
    panelOfProgram = &panel;
    panel.onCentralCreated([&](OrvantaCentral& central) {
        central.log().onTrouble(logTrouble);
        history.textsOf(central);
        if (qtCentral) qtCentral->linePicture().setLanguages(&central.languages());
        if (page.feed() != nullptr) page.feed()->setLanguages(&central.languages());
    });

    // Without windows, what a person on a terminal sees of the line, once a second. A panel that runs for
    // years as a service writes into its journal only what changed, and a sign of life a minute.
    const bool onTerminal = &out == &std::cout && ::isatty(STDOUT_FILENO) == 1;
    std::string lastStatus;
    int unchangedSeconds = 0;
    Timer statusLines(loop, "StatusLine", 1000, [&] {
        if (panel.central() == nullptr || !panel.central()->loaded()) return;
        std::string status = statusLine(panel.central()->state(), line.picture());
        if (!onTerminal && status == lastStatus && ++unchangedSeconds < 60) return;
        unchangedSeconds = 0;
        out << status << std::endl;
        lastStatus = std::move(status);
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
    SignalWatcher signals(
        loop, [&] { panel.ProgrammEnde(); }, kExitInterrupted, &helpers);

    try {
        panel.start();
    } catch (const VbError& error) {
        err << "orvanta: " << error.description() << std::endl;
        return kExitUsage;
    }
    history.begin();
    const int status = loop.run();
    history.end();
    return signals.interrupted() ? kExitInterrupted : status;
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

    if (const std::string refused = refusedPlantFolder(base, executableFolder()); !refused.empty()) {
        err << "orvanta: " << refused << std::endl;
        return kExitUsage;
    }
    // Held until the process ends.
    const PlantLock lock = PlantLock::take(base);
    if (lock.state() == PlantLock::State::HeldElsewhere) {
        err << "orvanta: another orvanta"
            << (lock.holder() > 0 ? " (pid " + std::to_string(lock.holder()) + ")" : std::string())
            << " already runs on the plant folder " << base
            << "; one panel per plant folder (the lock file is " << lock.path() << ")" << std::endl;
        return kExitPlantInUse;
    }
    if (lock.state() == PlantLock::State::Unavailable)
        err << "Orvanta: error: cannot make the lock file " << lock.path() << " (" << lock.problem()
            << "): a second panel started on this plant folder would not be refused" << std::endl;

    SignalWatcher::blockSignals();
    const char* display = std::getenv("DISPLAY");
    const bool haveDisplay = display != nullptr && *display != '\0';
    const bool windowed = options.screenshot.has_value() || (!options.headless && haveDisplay);
    if (!windowed) {
        SystemEventLoop loop;
        HeadlessMessageBoxes messages(err);
        HeadlessStartForm startView(err);
        HeadlessCentralForm centralView(err);
        return runPanel(loop, PanelViews{startView, centralView, messages}, options, backend, appPath, base,
                        out, err);
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
    return runPanel(loop, PanelViews{startView, std::nullopt, messages}, options, backend, appPath, base, out,
                    err);
}

}  // namespace orvanta
