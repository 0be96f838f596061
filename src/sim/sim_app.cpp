// The simulator's composition: one MQTT connection whose presence is the line's, the process variables
// on it as the visualisation sees them, the line publisher as the demo simulator's listener.
//
// Nothing is played before the broker's retained variables are in: only then can the simulator tell
// which of the panel's variables the broker lacks. Those get their initial values, so that the panel
// finds every variable it reads, and whatever the broker already holds (a value left by an earlier run,
// or one a real controller publishes) stays as it is.
//
// Everything runs on one loop. Ctrl-C, SIGTERM or the end of --run-for stop the world first, then the
// connection, which announces that the line is gone; the program ends once the runtime says it stopped.
#include "sim/sim_app.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <utility>

#include "adapters/access/mdb_database.h"
#include "adapters/embedded/catalogue_file.h"
#include "adapters/embedded/line_description_file.h"
#include "adapters/mqtt/mqtt_connection.h"
#include "adapters/mqtt/mqtt_line_source.h"
#include "adapters/mqtt/mqtt_variables.h"
#include "core/clock.h"
#include "core/system_event_loop.h"
#include "core/vb_error.h"
#include "demo/demo_simulator.h"
#include "ports/forms.h"
#include "ports/variable_catalogue.h"
#include "program/backend_settings.h"
#include "program/exit_status.h"
#include "program/signal_watcher.h"
#include "refdata/alarm_definitions.h"
#include "service/log_settings.h"
#include "service/plant_files.h"
#include "service/program_log.h"
#include "sim/sim_command_line.h"

#ifndef ORVANTA_VERSION
#define ORVANTA_VERSION "0"
#endif

namespace orvanta {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPrefix = "orvanta-sim: ";

// The client languages the visualisation switches between, as in the embedded demo.
const std::vector<std::int32_t> kDemoLanguages{1031, 1033, 1036};

// The alarm definitions' reader shows its problems in the main form's fault label; here there is no
// form, so they are reported.
class ReportingFaultLabel final : public CentralFormView {
public:
    explicit ReportingFaultLabel(ErrorReporter report) : report_(std::move(report)) {}
    void show() override {}
    void setFocus() override {}
    void unload() override {}
    void setLabelFehlerCaption(const std::string& caption) override { report_(caption); }
    void setLabelFehlerVisible(bool) override {}
    void setConnectionShapeFillColor(std::int32_t) override {}

private:
    ErrorReporter report_;
};

// Which bits of which own machine exist: the plant's own alarm definitions say it. Without them the own
// machines raise no alarms, which is reported but does not stop the line.
AlarmDefinitions readAlarmDefinitions(const std::string& base, const ErrorReporter& report) {
    MdbDatabaseEngine databases(defaultMdbReaderPath());
    LogSettings noLog;
    SystemClock clock;
    ReportingFaultLabel faults(report);
    ProgramLog log(noLog, clock, faults, plantFile(base, kProgramFolder));
    AlarmDefinitions alarms;
    AlarmDefsEinlesen(alarms, databases, log, base, kAlarmMachines);
    return alarms;
}

// Writes the initial value of every variable of the catalogue that has no value on the broker yet;
// returns how many were written. A variable that cannot be written is reported and the rest go on.
std::size_t seedMissingVariables(ProcessVariables& variables, const std::vector<CatalogueEntry>& catalogue,
                                 const ErrorReporter& report) {
    std::size_t seeded = 0;
    for (const CatalogueEntry& entry : catalogue) {
        try {
            (void)variables.ReadVariable(entry.name);
            continue;
        } catch (const VbError&) {
            // Not on the broker (or not readable there): the panel would find nothing.
        }
        try {
            variables.WriteVariable(entry.name, entry.initialValue.isEmpty()
                                                    ? zeroValue(entry.type, entry.elementCount)
                                                    : entry.initialValue);
            ++seeded;
        } catch (const VbError& error) {
            report("Process variable '" + entry.name +
                   "' cannot be given its initial value: " + error.description());
        }
    }
    return seeded;
}

// What the plant folder gives the simulator; a problem is a message for the usage error.
struct Plant {
    std::string base;
    MqttSettings mqtt;
    LineDescription line;
    std::vector<CatalogueEntry> catalogue;
};

std::optional<Plant> readPlant(const SimCommandLine& options, std::ostream& err) {
    Plant plant;
    plant.base = fs::absolute(*options.baseFolder).lexically_normal().string();
    while (plant.base.size() > 1 && plant.base.back() == '/') plant.base.pop_back();
    std::error_code code;
    if (!fs::is_directory(plant.base, code)) {
        err << kPrefix << "the plant folder " << plant.base << " is not a folder" << std::endl;
        return std::nullopt;
    }
    const std::string iniFile = plantFile(plant.base, kOwnIniFile);
    try {
        const BackendSettings backend = loadBackendSettings(iniFile, options.backend);
        if (backend.kind != BackendKind::Mqtt) {
            err << kPrefix << "[Runtime] Backend of " << iniFile
                << " is embedded, and orvanta-sim plays the line over MQTT only: give --backend mqtt or set "
                   "Backend=mqtt there. The embedded demo runs inside the panel with `orvanta --simulate`"
                << std::endl;
            return std::nullopt;
        }
        plant.mqtt = backend.mqtt;
        // Two clients with one id would throw each other off the broker: the panel keeps the plant's.
        if (!plant.mqtt.clientId.empty()) plant.mqtt.clientId += "-sim";
        plant.line = loadLineDescription(plantFile(plant.base, kLineDescriptionFile));
        const std::string cataloguePath = plantFile(plant.base, kCatalogueFile);
        plant.catalogue =
            mergeCatalogues(builtinVariables(), loadCatalogueFile(cataloguePath), cataloguePath);
    } catch (const VbError& error) {
        err << kPrefix << error.description() << std::endl;
        return std::nullopt;
    }
    return plant;
}

// The runtime's events: the world starts once the broker's variables are in, and the program ends once
// the runtime has stopped.
class SimulatorRun final : public RuntimeEvents {
public:
    SimulatorRun(RunLoop& loop, MqttVariables& variables, DemoSimulator& simulator, MqttLinePublisher& line,
                 const Plant& plant, std::ostream& out, ErrorReporter report)
        : loop_(loop),
          variables_(variables),
          simulator_(simulator),
          line_(line),
          plant_(plant),
          out_(out),
          report_(std::move(report)) {}

    void StartCompleted(std::int16_t Success) override {
        if (Success != kTrue) {
            report_("the demo line cannot be played without the broker");
            loop_.quit(kExitStartFailed);
            return;
        }
        if (ending_) return;
        const std::size_t seeded = seedMissingVariables(variables_, plant_.catalogue, report_);
        simulator_.start(line_);
        const MqttSettings& mqtt = plant_.mqtt;
        out_ << kPrefix << seeded << " of " << plant_.catalogue.size()
             << " process variables were not on the broker and got their initial values" << std::endl;
        out_ << kPrefix << "playing the demo line on " << mqtt.host << ":" << mqtt.port << " prefix "
             << mqtt.topicPrefix << std::endl;
    }

    void RuntimeStopped() override { loop_.quit(kExitOk); }

    // Stops the world, then the connection (the line goes offline); RuntimeStopped follows.
    void end() {
        if (ending_) return;
        ending_ = true;
        simulator_.stop();
        variables_.StopRuntime();
    }

private:
    RunLoop& loop_;
    MqttVariables& variables_;
    DemoSimulator& simulator_;
    MqttLinePublisher& line_;
    const Plant& plant_;
    std::ostream& out_;
    ErrorReporter report_;
    bool ending_ = false;
};

int playLine(const SimCommandLine& options, const Plant& plant, std::ostream& out, std::ostream& err) {
    const ErrorReporter report = [&err](const std::string& message) {
        err << kPrefix << message << std::endl;
    };
    const AlarmDefinitions alarms = readAlarmDefinitions(plant.base, report);

    SystemEventLoop loop;
    // The connection first: it is destroyed last, after its users, and its destruction ends the network
    // thread.
    MqttConnection connection(loop, plant.mqtt, plant.mqtt.topicPrefix + "/line/online", report);
    MqttVariables variables(loop, connection, report);
    MqttLinePublisher line(connection, plant.line);
    std::unique_ptr<DemoSimulator> simulator;
    try {
        simulator = std::make_unique<DemoSimulator>(loop, variables, plant.line, alarms, kDemoLanguages,
                                                    options.seed.value_or(std::random_device{}()),
                                                    options.rate, report);
    } catch (const VbError& error) {
        err << kPrefix << error.description() << std::endl;
        return kExitUsage;
    }
    SimulatorRun run(loop, variables, *simulator, line, plant, out, report);

    std::unique_ptr<Timer> runFor;
    if (options.runForSeconds) {
        runFor = std::make_unique<Timer>(loop, "RunFor", *options.runForSeconds * 1000, [&] {
            runFor->setEnabled(false);
            run.end();
        });
        runFor->setEnabled(true);
    }
    SignalWatcher signals(
        loop, [&run] { run.end(); }, kExitInterrupted);
    variables.start(run);
    return loop.run();
}

}  // namespace

int runOrvantaSim(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const SimCommandLineResult parsed = parseSimCommandLine(arguments);
    if (!parsed.error.empty()) {
        err << kPrefix << parsed.error << "\n\n" << simUsageText();
        return kExitUsage;
    }
    const SimCommandLine& options = parsed.options;
    if (options.help) {
        out << simUsageText();
        return kExitOk;
    }
    if (options.version) {
        out << "orvanta-sim " << ORVANTA_VERSION << std::endl;
        return kExitOk;
    }
    if (!options.baseFolder) {
        err << kPrefix << "--base DIR is required: the plant folder whose line is played\n\n"
            << simUsageText();
        return kExitUsage;
    }
    const std::optional<Plant> plant = readPlant(options, err);
    if (!plant) return kExitUsage;

    // Before any thread starts (the database reader's, the network client's): only the watcher takes them.
    SignalWatcher::blockSignals();
    return playLine(options, *plant, out, err);
}

}  // namespace orvanta
