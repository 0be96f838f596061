// The second soak phase: the panel on the MQTT backend in real time against a private broker, with
// orvanta-sim playing the line and the visualisation at ten times their pace, while the broker is
// restarted again and again (without persistence: every restart forgets every retained value). The
// panel must keep running, run a pass every second the line is connected, keep its log below the limit
// and its memory flat, and when it ends the broker must hold the last value of every variable it wrote.
#include "soak/broker_soak.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "adapters/access/mdb_database.h"
#include "adapters/embedded/embedded_line_display.h"
#include "adapters/headless/headless_window_system.h"
#include "adapters/mqtt/mqtt_backend.h"
#include "adapters/mqtt/mqtt_payload.h"
#include "app/panel.h"
#include "core/clock.h"
#include "core/system_event_loop.h"
#include "soak/soak_common.h"
#include "support/mosquitto_broker.h"
#include "support/mqtt_peer.h"
#include "support/running_program.h"

namespace orvanta::soak {
namespace {

using namespace std::chrono_literals;

// The panel's variables as the panel uses them, with the names it wrote noted on the way.
class WriteLedger final : public ProcessVariables {
public:
    explicit WriteLedger(ProcessVariables& variables) : variables_(variables) {}

    Variant ReadVariable(std::string_view name) override { return variables_.ReadVariable(name); }
    std::int16_t WriteVariable(std::string_view name, const Variant& value) override {
        const std::int16_t status = variables_.WriteVariable(name, value);
        written_.emplace(name);
        ++writes_;
        return status;
    }
    VariableId resolve(std::string_view name) override {
        const VariableId id = variables_.resolve(name);
        names_.emplace(id, name);
        return id;
    }
    Variant read(VariableId id) override { return variables_.read(id); }
    std::int16_t readInteger(VariableId id) override { return variables_.readInteger(id); }
    std::int16_t write(VariableId id, const Variant& value) override {
        const std::int16_t status = variables_.write(id, value);
        written_.insert(names_.at(id));
        ++writes_;
        return status;
    }
    WatchId watch(std::string_view name, ChangeHandler handler) override {
        return variables_.watch(name, std::move(handler));
    }
    void unwatch(WatchId id) override { variables_.unwatch(id); }

    const std::set<std::string, std::less<>>& written() const { return written_; }
    std::int64_t writes() const { return writes_; }

private:
    ProcessVariables& variables_;
    std::map<VariableId, std::string> names_;
    std::set<std::string, std::less<>> written_;
    std::int64_t writes_ = 0;
};

class QuittingApplication final : public Application {
public:
    explicit QuittingApplication(RunLoop& loop) : loop_(loop) {}
    void end(int exitCode) override {
        status = exitCode;
        loop_.quit(exitCode);
    }
    int status = -1;

private:
    RunLoop& loop_;
};

// Restarts the broker every `period` on a thread of its own, so that the panel's loop never waits for it.
class BrokerRestarts {
public:
    BrokerRestarts(testing::MosquittoBroker& broker, std::chrono::seconds period, int count)
        : thread_([this, &broker, period, count] {
              for (int i = 0; i < count; ++i) {
                  std::unique_lock lock(mutex_);
                  if (wake_.wait_for(lock, period, [this] { return stop_; })) return;
                  broker.stop();
                  wake_.wait_for(lock, 3s, [this] { return stop_; });
                  broker.start();
                  ++restarts;
              }
          }) {}
    ~BrokerRestarts() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    std::atomic<int> restarts{0};

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace

bool runBrokerSoak(int realMinutes, double rate) {
    if (!testing::MosquittoBroker::installed()) {
        std::cout << "broker: mosquitto is not installed" << std::endl;
        return false;
    }
    testing::MosquittoBroker broker;
    PlantCopy plant("broker");
    constexpr int kLogLimitKiB = 100;
    plant.writeProgramIni("[Project]\nLogFileSize=" + std::to_string(kLogLimitKiB) +
                          "\nLogFileSystem=True\nLogFileData=True\n[Runtime]\nBackend=mqtt\n[Mqtt]\n"
                          "Host=127.0.0.1\nPort=" +
                          std::to_string(broker.port()) + "\nClientId=soak-panel\nTopicPrefix=soak\n");

    testing::RunningProgram simulator(
        ORVANTA_SIM_BINARY, {"--base", plant.base(), "--rate", std::to_string(rate), "--seed", "20261207"});
    if (!simulator.waitForOutput("playing the demo line", 20s)) {
        std::cout << "broker: orvanta-sim did not start: " << simulator.stderrText << std::endl;
        return false;
    }

    SystemEventLoop loop;
    std::vector<std::string> reports;
    const ErrorReporter report = [&reports](const std::string& message) { reports.push_back(message); };
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    settings.clientId = "soak-panel";
    settings.topicPrefix = "soak";
    MqttBackend mqtt(loop, settings, report);
    WriteLedger variables(mqtt.variables);
    EmbeddedLineDisplay line(loop, std::nullopt, &mqtt.line);
    followDisplay(mqtt.line, line);
    MdbDatabaseEngine databases(ORVANTA_MDB_READER);
    SystemClock clock;
    HeadlessStartForm startView(nowhere());
    HeadlessCentralForm centralView(nowhere());
    HeadlessMessageBoxes messages(nowhere());
    HeadlessWindowSystem windows;
    QuittingApplication application(loop);
    Panel panel(PanelParts{loop, variables, mqtt.variables, line, startView, centralView, messages,
                           application, windows, databases, clock, report, plant.appPath()});

    // Measured on the loop, every 100 ms: passes, connection, log; every 10 s the memory.
    std::int64_t passes = 0;
    std::int64_t lastPassMs = loop.nowMs();
    std::int64_t longestWithoutPassMs = 0;
    std::int64_t connectedMs = 0;
    int connections = 0;
    bool wasConnected = false;
    std::uintmax_t largestLog = 0;
    std::vector<long> resident;
    std::int64_t sampledAtMs = loop.nowMs();
    bool ending = false;  // the end blocks the loop for a while: that is not the panel losing passes
    Timer sampler(loop, "SoakSampler", 100, [&] {
        if (ending) return;
        const std::int64_t now = loop.nowMs();
        if (line.dataUpdatedCount() != passes || !wasConnected) {
            passes = line.dataUpdatedCount();
            lastPassMs = now;
        }
        if (line.connected()) {
            connectedMs += now - sampledAtMs;
            longestWithoutPassMs = std::max(longestWithoutPassMs, now - lastPassMs);
            if (!wasConnected) ++connections;
        }
        wasConnected = line.connected();
        sampledAtMs = now;
        largestLog = std::max(largestLog, plant.logBytes());
    });
    Timer memory(loop, "SoakMemory", 10000, [&] { resident.push_back(residentKiB()); });

    // The end: the simulator first, so that the panel's last writes are the last of all; then the panel.
    const auto period = std::chrono::seconds(realMinutes * 60 / 5);
    std::optional<BrokerRestarts> restarts(std::in_place, broker, period, 4);
    int restartsDone = 0;
    Timer end(loop, "SoakEnd", realMinutes * 60 * 1000, [&] {
        end.setEnabled(false);
        ending = true;
        restartsDone = restarts->restarts;
        restarts.reset();
        simulator.signal(SIGINT);
        simulator.waitForExit(10s);
        std::this_thread::sleep_for(3s);
        panel.ProgrammEnde();
    });
    sampler.setEnabled(true);
    memory.setEnabled(true);
    end.setEnabled(true);
    panel.start();
    loop.run();

    // What the broker holds now, against what the panel's copy says of every variable it wrote.
    testing::MqttPeer peer(broker.port());
    peer.subscribe("soak/vars/#");
    std::this_thread::sleep_for(2s);
    int missing = 0;
    std::string firstMissing;
    for (const std::string& name : variables.written()) {
        const std::string payload = peer.last("soak/vars/" + name);
        std::string problem;
        const std::optional<Variant> held = decodeVariablePayload(payload, problem);
        const Variant copy = mqtt.variables.ReadVariable(name);
        if (!held || *held != copy) {
            if (missing++ < 5)
                firstMissing += "\n    " + name + ": the panel has " + encodeVariablePayload(name, copy) +
                                ", the broker " + (payload.empty() ? "nothing" : payload);
        }
    }

    const long residentWarm = resident.size() > 6 ? resident[6] : -1;  // after a minute
    long residentLargest = 0;
    for (std::size_t i = 6; i < resident.size(); ++i)
        residentLargest = std::max(residentLargest, resident[i]);
    int unexpectedReports = 0;
    for (const std::string& message : reports)
        if (message.find("MQTT broker") == std::string::npos) ++unexpectedReports;
    const std::int64_t connectedSeconds = connectedMs / 1000;
    std::cout << "broker: " << realMinutes << " real minutes at rate " << rate << ", " << restartsDone
              << " broker restarts\n"
              << "  passes " << passes << " in " << connectedSeconds << " s connected over " << connections
              << " connections, longest time without one " << longestWithoutPassMs << " ms\n"
              << "  the panel wrote " << variables.writes() << " times to " << variables.written().size()
              << " variables; the broker holds the last value of all but " << missing << firstMissing << "\n"
              << "  largest log " << largestLog << " bytes (limit " << kLogLimitKiB * 1024 << ")\n"
              << "  resident after a minute " << residentWarm << " KiB, largest after it " << residentLargest
              << " KiB\n"
              << "  reports " << reports.size() << ", of them not about the broker " << unexpectedReports
              << std::endl;
    for (const std::string& message : reports)
        if (message.find("MQTT broker") == std::string::npos)
            std::cout << "  report: " << message << std::endl;

    constexpr std::uintmax_t kLongestLine = 4096;
    return verdict("broker",
                   {{"the program ended in order", application.status == 0},
                    {"the line came back after every broker restart",
                     restartsDone == 4 && connections == restartsDone + 1},
                    {"no pass lost: never more than a second (and the sampling) without one",
                     passes > connectedSeconds && longestWithoutPassMs <= 1200},
                    {"every write reached the broker", missing == 0 && variables.writes() > 0},
                    {"the log stayed below its limit", largestLog <= kLogLimitKiB * 1024 + kLongestLine},
                    {"memory stayed flat (under 2 MiB of growth after the first minute)",
                     residentWarm > 0 && residentLargest - residentWarm < 2048},
                    {"nothing reported but the broker's going and coming", unexpectedReports == 0}});
}

}  // namespace orvanta::soak
