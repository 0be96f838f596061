// The panel on an MQTT broker of its own, measured from the outside, as the plant sees it:
//
// - from an alarm bit published by another client to the line alarm the panel publishes (li_l_neu = 1
//   after the alarm's li_l_fault), once when the pass comes with the timer and once when the
//   visualisation's echo of the previous line alarm runs the pass at once;
// - how many variable updates a second the panel's copy takes in, from another client publishing as fast
//   as it can until the copy holds the last value of every variable.
//
// Everything is the program's own: the system loop on a thread of its own, one MQTT connection with the
// process variables and the line on it, the whole panel on a copy of the demo plant. The other client is
// a plain libmosquitto client that timestamps what it receives on its network thread. Times are wall
// times of that client (manual time), so they include the broker, both network threads and the loop.
#include <benchmark/benchmark.h>
#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/mosquitto_broker.h"
#include "adapters/access/mdb_database.h"
#include "adapters/embedded/catalogue_file.h"
#include "adapters/embedded/embedded_line_display.h"
#include "adapters/headless/headless_views.h"
#include "adapters/headless/headless_window_system.h"
#include "adapters/mqtt/mqtt_connection.h"
#include "adapters/mqtt/mqtt_line_source.h"
#include "adapters/mqtt/mqtt_payload.h"
#include "adapters/mqtt/mqtt_variables.h"
#include "app/panel.h"
#include "core/clock.h"
#include "core/system_event_loop.h"
#include "core/vb_error.h"
#include "ports/variable_catalogue.h"
#include "ports/variable_names.h"
#include "ports/window_system.h"
#include "support/demo_plant.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::MosquittoBroker;

constexpr const char* kPrefix = "bench";

std::string varTopic(std::string_view name) { return std::string(kPrefix) + "/vars/" + std::string(name); }

double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The plant's side of the broker: publishes, and keeps every message it receives with the time it came.
class PlantClient {
public:
    struct Received {
        std::string topic;
        std::string payload;
        Clock::time_point at;
    };

    // noDelay: small messages go out at once instead of waiting to be sent with the next ones.
    explicit PlantClient(int port, bool noDelay = false) {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        if (noDelay) mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_connect_callback_set(client_, &PlantClient::onConnect);
        mosquitto_subscribe_callback_set(client_, &PlantClient::onSubscribe);
        mosquitto_publish_callback_set(client_, &PlantClient::onPublish);
        mosquitto_message_callback_set(client_, &PlantClient::onMessage);
        if (mosquitto_connect(client_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
            mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS)
            return;
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [this] { return connected_; });
    }
    ~PlantClient() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    PlantClient(const PlantClient&) = delete;
    PlantClient& operator=(const PlantClient&) = delete;

    bool connected() {
        const std::lock_guard lock(mutex_);
        return connected_;
    }

    // Returns once the broker granted the subscription.
    bool subscribe(const std::string& filter) {
        std::unique_lock lock(mutex_);
        const int before = subscriptions_;
        lock.unlock();
        if (mosquitto_subscribe(client_, nullptr, filter.c_str(), 1) != MOSQ_ERR_SUCCESS) return false;
        lock.lock();
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return subscriptions_ > before; });
    }

    // Does not wait: the library queues what the socket does not take at once.
    bool publish(const std::string& topic, const std::string& payload, int qos = 1) {
        {
            const std::lock_guard lock(mutex_);
            ++published_;
        }
        return mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                 payload.data(), qos, true) == MOSQ_ERR_SUCCESS;
    }

    // Whether everything published so far is out: acknowledged (QoS 1) or written to the socket (QoS 0).
    bool flushed(std::chrono::seconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return acknowledged_ >= published_; });
    }

    // When the last of what was published so far went out.
    Clock::time_point lastSent() {
        const std::lock_guard lock(mutex_);
        return lastSent_;
    }

    // The number of messages received so far: a mark to look for newer ones from.
    std::size_t mark() {
        const std::lock_guard lock(mutex_);
        return received_.size();
    }

    // The arrival of the line alarm with this fault number after mark: the pass writes li_l_fault first
    // and li_l_neu = 1 last.
    std::optional<Clock::time_point> waitForLineAlarm(std::size_t mark, int fault,
                                                      std::chrono::seconds timeout) {
        const std::string faultTopic = varTopic(vars::kLiLFault);
        const std::string newTopic = varTopic(vars::kLiLNeu);
        const std::string faultPayload = std::to_string(fault);
        std::unique_lock lock(mutex_);
        std::optional<Clock::time_point> seen;
        bool faultSeen = false;
        std::size_t next = mark;
        changed_.wait_for(lock, timeout, [&] {
            for (; next < received_.size() && !seen; ++next) {
                const Received& message = received_[next];
                if (message.topic == faultTopic)
                    faultSeen = message.payload == faultPayload;
                else if (message.topic == newTopic && message.payload == "1" && faultSeen)
                    seen = message.at;
            }
            return seen.has_value();
        });
        return seen;
    }

    // The arrival of the first message on topic after mark.
    std::optional<Clock::time_point> waitForTopic(std::size_t mark, const std::string& topic,
                                                  std::chrono::seconds timeout) {
        std::unique_lock lock(mutex_);
        std::optional<Clock::time_point> seen;
        std::size_t next = mark;
        changed_.wait_for(lock, timeout, [&] {
            for (; next < received_.size() && !seen; ++next)
                if (received_[next].topic == topic) seen = received_[next].at;
            return seen.has_value();
        });
        return seen;
    }

private:
    static PlantClient& me(void* self) { return *static_cast<PlantClient*>(self); }
    template <typename Change>
    static void update(void* self, Change&& change) {
        PlantClient& client = me(self);
        {
            const std::lock_guard lock(client.mutex_);
            change(client);
        }
        client.changed_.notify_all();
    }

    static void onConnect(mosquitto*, void* self, int rc) {
        update(self, [rc](PlantClient& client) { client.connected_ = rc == 0; });
    }
    static void onSubscribe(mosquitto*, void* self, int, int, const int*) {
        update(self, [](PlantClient& client) { ++client.subscriptions_; });
    }
    static void onPublish(mosquitto*, void* self, int) {
        const Clock::time_point at = Clock::now();
        update(self, [at](PlantClient& client) {
            ++client.acknowledged_;
            client.lastSent_ = at;
        });
    }
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message) {
        const Clock::time_point at = Clock::now();
        update(self, [&](PlantClient& client) {
            client.received_.push_back(
                {message->topic,
                 std::string(static_cast<const char*>(message->payload),
                             message->payloadlen > 0 ? static_cast<std::size_t>(message->payloadlen) : 0),
                 at});
        });
    }

    mosquitto* client_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool connected_ = false;
    int subscriptions_ = 0;
    std::uint64_t published_ = 0;
    std::uint64_t acknowledged_ = 0;
    Clock::time_point lastSent_;
    std::vector<Received> received_;
};

// A copy of the demo plant, so that the panel's log goes to a folder of its own.
class DemoPlant {
public:
    DemoPlant() : base_(fs::temp_directory_path() / ("orvanta-mqtt-bench-" + std::to_string(getpid()))) {
        testing::copyDemoPlant(base_);
    }
    ~DemoPlant() {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }
    DemoPlant(const DemoPlant&) = delete;
    DemoPlant& operator=(const DemoPlant&) = delete;

    const fs::path& base() const { return base_; }

private:
    fs::path base_;
};

// Problems the program reports, kept for the message of a benchmark that cannot go on.
class Reports {
public:
    ErrorReporter reporter() {
        return [this](const std::string& message) {
            const std::lock_guard lock(mutex_);
            lines_.push_back(message);
        };
    }
    std::string summary() {
        const std::lock_guard lock(mutex_);
        std::string text;
        for (const std::string& line : lines_) text += (text.empty() ? "" : "; ") + line;
        return text.empty() ? "nothing reported" : text;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Runs a system loop on a thread of its own until destroyed.
class LoopThread {
public:
    explicit LoopThread(SystemEventLoop& loop) : loop_(loop), thread_([&loop] { loop.run(); }) {}
    ~LoopThread() {
        loop_.quit(0);
        thread_.join();
    }
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    // Runs work on the loop and waits for its result.
    template <typename Work>
    auto call(Work&& work) {
        std::packaged_task<decltype(work())()> task(std::forward<Work>(work));
        auto result = task.get_future();
        loop_.post([&task] { task(); });
        return result.get();
    }

private:
    SystemEventLoop& loop_;
    std::thread thread_;
};

MqttSettings benchSettings(int port) {
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.topicPrefix = kPrefix;
    return settings;
}

class QuitOnEnd : public Application {
public:
    explicit QuitOnEnd(RunLoop& loop) : loop_(loop) {}
    void end(int exitCode) override { loop_.quit(exitCode); }

private:
    RunLoop& loop_;
};

// The whole panel on the demo plant over the broker, the plant's variables and line already there.
// othersNoDelay: the broker and the plant's client send small messages at once (TCP_NODELAY); by
// default both wait a little for more, which can hold a message back by tens of milliseconds.
struct PanelOnBroker {
    explicit PanelOnBroker(bool othersNoDelay) : broker(othersNoDelay ? "set_tcp_nodelay true\n" : "") {
        if (!broker.running()) return;
        plant = std::make_unique<PlantClient>(broker.port(), othersNoDelay);
        if (!plant->connected()) return;
        const std::string appPath = (demo.base() / "Program" / "Orvanta").string();
        // What the plant holds before the panel comes: every variable of the demo's catalogue, the line's
        // description and its presence.
        for (const CatalogueEntry& entry : mergeCatalogues(
                 builtinVariables(), loadCatalogueFile(appPath + std::string("/Variables.json")))) {
            const Variant value =
                entry.initialValue.isEmpty() ? zeroValue(entry.type, entry.elementCount) : entry.initialValue;
            plant->publish(varTopic(entry.name), encodeVariablePayload(entry.name, value));
        }
        std::ifstream description(appPath + "/Line.json", std::ios::binary);
        plant->publish(std::string(kPrefix) + "/line/config",
                       std::string(std::istreambuf_iterator<char>(description), {}));
        plant->publish(std::string(kPrefix) + "/line/online", "true");
        if (!plant->flushed(std::chrono::seconds(10))) return;
        for (std::string_view name : {vars::kLiLFault, vars::kLiLNeu})
            if (!plant->subscribe(varTopic(name))) return;
        if (!plant->subscribe(displayTopic)) return;

        connection = std::make_unique<MqttConnection>(
            loop, benchSettings(broker.port()), std::string(kPrefix) + "/panel/online", reports.reporter());
        variables = std::make_unique<MqttVariables>(loop, *connection, reports.reporter());
        lineSource = std::make_unique<MqttLineSource>(*connection, reports.reporter());
        line = std::make_unique<EmbeddedLineDisplay>(loop, std::nullopt, lineSource.get());
        followDisplay(*lineSource, *line);
        panel = std::make_unique<Panel>(PanelParts{loop, *variables, *variables, *line, startView,
                                                   centralView, messages, application, windows, databases,
                                                   clock, reports.reporter(), appPath});
        const std::size_t before = plant->mark();
        loop.post([this] { panel->start(); });
        thread = std::make_unique<LoopThread>(loop);
        // Ready when the first pass ran: every pass ends with the line display's update.
        ready = plant->waitForTopic(before, displayTopic, std::chrono::seconds(30)).has_value();
    }
    ~PanelOnBroker() { thread.reset(); }

    std::string whyNotReady() {
        if (!MosquittoBroker::installed()) return "mosquitto is not installed";
        if (!broker.running()) return "the broker did not start";
        if (!plant || !plant->connected()) return "the plant's client could not connect";
        return "the panel did not come up: " + reports.summary();
    }

    const std::string displayTopic = std::string(kPrefix) + "/line/display";
    MosquittoBroker broker;
    DemoPlant demo;
    std::unique_ptr<PlantClient> plant;
    Reports reports;
    SystemEventLoop loop;
    std::ostringstream shown;  // what the headless views would show; touched on the loop only
    HeadlessStartForm startView{shown};
    HeadlessCentralForm centralView{shown};
    HeadlessMessageBoxes messages{shown};
    QuitOnEnd application{loop};
    HeadlessWindowSystem windows;
    MdbDatabaseEngine databases{ORVANTA_MDB_READER};
    SystemClock clock;
    // The connection first: it outlives its users, as in the program.
    std::unique_ptr<MqttConnection> connection;
    std::unique_ptr<MqttVariables> variables;
    std::unique_ptr<MqttLineSource> lineSource;
    std::unique_ptr<EmbeddedLineDisplay> line;
    std::unique_ptr<Panel> panel;
    std::unique_ptr<LoopThread> thread;  // last: stopped before anything it runs goes away
    bool ready = false;
};

// Alarms of the demo plant's Alarmdefs, all of table 1.
struct DemoAlarm {
    const char* variable;
    int value;  // the alarm's bit set
    int fault;
    int machine;
};
constexpr DemoAlarm kRinserEmergencyStop{"Ch1.T_zyk_m1<.faults0>", 1, 101, 1};   // priority 100
constexpr DemoAlarm kFillerInfeedJam{"Ch1.T_zyk_m2<.faults0>", 1 << 6, 204, 2};  // priority 85
constexpr auto kTimeout = std::chrono::seconds(5);

struct Spread {
    double min = 1e300;
    double max = 0;
    void add(double ms) {
        min = std::min(min, ms);
        max = std::max(max, ms);
    }
    void report(benchmark::State& state) const {
        state.counters["min_ms"] = min;
        state.counters["max_ms"] = max;
    }
};

// The pass comes with TimerDaten. The alarm is raised at a random moment of the timer's period, so the
// mean is the mean over the period.
void BM_MqttAlarmToLineAlarm(benchmark::State& state) {
    PanelOnBroker bench(state.range(0) != 0);
    if (!bench.ready) {
        state.SkipWithError(bench.whyNotReady().c_str());
        return;
    }
    PlantClient& plant = *bench.plant;
    std::mt19937 random(1031);
    std::uniform_int_distribution<int> phaseMs(0, 999);
    Spread spread;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(phaseMs(random)));
        std::size_t mark = plant.mark();
        const Clock::time_point raised = Clock::now();
        plant.publish(varTopic(kRinserEmergencyStop.variable), std::to_string(kRinserEmergencyStop.value));
        const auto published = plant.waitForLineAlarm(mark, kRinserEmergencyStop.fault, kTimeout);
        if (!published) {
            state.SkipWithError(("no line alarm within 5 s: " + bench.reports.summary()).c_str());
            break;
        }
        const double ms = milliseconds(*published - raised);
        state.SetIterationTime(ms / 1000);
        spread.add(ms);

        // Back to no alarm: the next pass publishes the line without alarm.
        mark = plant.mark();
        plant.publish(varTopic(kRinserEmergencyStop.variable), "0");
        if (!plant.waitForLineAlarm(mark, 0, kTimeout)) {
            state.SkipWithError("the line alarm did not go");
            break;
        }
    }
    spread.report(state);
}
BENCHMARK(BM_MqttAlarmToLineAlarm)
    ->ArgName("others_nodelay")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// The filler's jam is the line alarm, published and not yet echoed; the rinser's emergency stop, of
// higher priority, is raised, and the visualisation at once echoes the jam as it would: li_l_neu back to
// 0, the machine, the status and last the fault number in li_h_nummer. The echo runs a pass at once,
// which publishes the emergency stop. Timed from raising the emergency stop to its publication.
void BM_MqttAlarmToLineAlarmWithEcho(benchmark::State& state) {
    PanelOnBroker bench(state.range(0) != 0);
    if (!bench.ready) {
        state.SkipWithError(bench.whyNotReady().c_str());
        return;
    }
    PlantClient& plant = *bench.plant;
    const auto echo = [&plant](int fault, int machine, int status) {
        plant.publish(varTopic(vars::kLiLNeu), "0");
        plant.publish(varTopic(vars::kLiHMasch), std::to_string(machine));
        plant.publish(varTopic(vars::kLiHStatus), std::to_string(status));
        plant.publish(varTopic(vars::kLiHNummer), std::to_string(fault));
    };
    Spread spread;
    for (auto _ : state) {
        std::size_t mark = plant.mark();
        plant.publish(varTopic(kFillerInfeedJam.variable), std::to_string(kFillerInfeedJam.value));
        if (!plant.waitForLineAlarm(mark, kFillerInfeedJam.fault, kTimeout)) {
            state.SkipWithError(("the first alarm was not published: " + bench.reports.summary()).c_str());
            break;
        }

        mark = plant.mark();
        const Clock::time_point raised = Clock::now();
        plant.publish(varTopic(kRinserEmergencyStop.variable), std::to_string(kRinserEmergencyStop.value));
        echo(kFillerInfeedJam.fault, kFillerInfeedJam.machine, 4);
        const auto published = plant.waitForLineAlarm(mark, kRinserEmergencyStop.fault, kTimeout);
        if (!published) {
            state.SkipWithError("the second alarm was not published");
            break;
        }
        const double ms = milliseconds(*published - raised);
        state.SetIterationTime(ms / 1000);
        spread.add(ms);

        // Both alarms go; the echo of "no alarm" runs the pass that publishes the line without alarm.
        mark = plant.mark();
        plant.publish(varTopic(kRinserEmergencyStop.variable), "0");
        plant.publish(varTopic(kFillerInfeedJam.variable), "0");
        echo(0, 0, 0);
        if (!plant.waitForLineAlarm(mark, 0, kTimeout)) {
            state.SkipWithError("the line alarm did not go");
            break;
        }
    }
    spread.report(state);
}
BENCHMARK(BM_MqttAlarmToLineAlarmWithEcho)
    ->ArgName("others_nodelay")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

struct StartEvents : RuntimeEvents {
    std::promise<std::int16_t> started;
    void StartCompleted(std::int16_t Success) override { started.set_value(Success); }
    void RuntimeStopped() override {}
};

// Another client publishes kUpdates values round-robin over kVariables variables as fast as it can, then
// a marker variable; the time runs from the first publication until the marker is in the panel's copy,
// so it takes in the publisher, the broker and the panel's network thread and loop.
// The broker keeps a client's messages in order, so then every variable holds its last value; that is
// checked after the time is taken. Argument: the QoS of the publications.
void BM_MqttVariableIntake(benchmark::State& state) {
    constexpr int kVariables = 1000;
    constexpr int kUpdates = 100000;
    const int qos = static_cast<int>(state.range(0));
    MosquittoBroker broker;
    if (!broker.running()) {
        state.SkipWithError(MosquittoBroker::installed() ? "the broker did not start"
                                                         : "mosquitto is not installed");
        return;
    }
    Reports reports;
    SystemEventLoop loop;
    MqttConnection connection(loop, benchSettings(broker.port()), std::string(kPrefix) + "/panel/online",
                              reports.reporter());
    MqttVariables variables(loop, connection, reports.reporter());
    StartEvents events;
    std::future<std::int16_t> started = events.started.get_future();
    loop.post([&] { variables.start(events); });
    LoopThread thread(loop);
    if (started.wait_for(std::chrono::seconds(15)) != std::future_status::ready || started.get() != kTrue) {
        state.SkipWithError(("the variables did not start: " + reports.summary()).c_str());
        return;
    }
    PlantClient plant(broker.port());
    if (!plant.connected()) {
        state.SkipWithError("the plant's client could not connect");
        return;
    }

    std::vector<std::string> topics;
    std::vector<ProcessVariables::VariableId> ids;
    for (int i = 0; i < kVariables; ++i) topics.push_back(varTopic("Intake" + std::to_string(i)));
    const std::string markerName = "IntakeDone";
    std::mutex mutex;
    std::condition_variable markerChanged;
    std::optional<std::pair<std::int32_t, Clock::time_point>> marker;
    thread.call([&] {
        for (int i = 0; i < kVariables; ++i) ids.push_back(variables.resolve("Intake" + std::to_string(i)));
        return variables.watch(markerName, [&](const Variant& value) {
            const Clock::time_point at = Clock::now();
            {
                const std::lock_guard lock(mutex);
                marker.emplace(toLong(value), at);
            }
            markerChanged.notify_all();
        });
    });

    std::int32_t round = 0;
    double sentMs = 0;
    for (auto _ : state) {
        ++round;
        // Values differ from round to round, so every update of the last sweep is a change of the copy.
        const auto valueOf = [round](int update) { return round * 1000 + update / kVariables; };
        const Clock::time_point begin = Clock::now();
        for (int update = 0; update < kUpdates; ++update)
            plant.publish(topics[static_cast<std::size_t>(update % kVariables)],
                          std::to_string(valueOf(update)), qos);
        plant.publish(varTopic(markerName), std::to_string(round), qos);

        std::unique_lock lock(mutex);
        const bool arrived = markerChanged.wait_for(lock, std::chrono::seconds(30),
                                                    [&] { return marker && marker->first == round; });
        if (arrived) state.SetIterationTime(milliseconds(marker->second - begin) / 1000);
        lock.unlock();

        const int stale = thread.call([&] {
            int wrong = 0;
            for (int i = 0; i < kVariables; ++i) {
                try {
                    if (toLong(variables.read(ids[static_cast<std::size_t>(i)])) !=
                        valueOf(kUpdates - kVariables + i))
                        ++wrong;
                } catch (const VbError&) {
                    ++wrong;
                }
            }
            return wrong;
        });
        if (!arrived || stale != 0) {
            state.SkipWithError(((arrived ? "" : "the last update did not arrive within 30 s; ") +
                                 std::to_string(stale) + " of " + std::to_string(kVariables) +
                                 " variables without their last value; " + reports.summary())
                                    .c_str());
            break;
        }
        if (!plant.flushed(std::chrono::seconds(60))) {
            state.SkipWithError("the plant's client could not send everything");
            break;
        }
        sentMs += milliseconds(plant.lastSent() - begin);
    }
    state.SetItemsProcessed(state.iterations() * kUpdates);
    // How long the publisher took to get everything out (QoS 0: written to its socket, QoS 1: acknowledged
    // by the broker): the intake can be no faster than this.
    state.counters["sent_ms"] = sentMs / static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
}
BENCHMARK(BM_MqttVariableIntake)
    ->ArgName("qos")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace orvanta
