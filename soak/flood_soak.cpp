// The third soak phase: the real panel, headless, as a process of its own on the MQTT backend against a
// private broker, flooded in turn with changes of a watched variable, with changing line values, with
// garbage and with ever new variable names, each at up to 50 000 messages a second. orvanta-sim seeds the
// broker with every variable the panel reads and is ended before the panel starts; from then on the soak
// plays the visualisation (the heartbeat) and the line system itself, so that the last line values are
// its own and known. Throughout, the panel must echo the heartbeat at least every 2 s and keep its
// resident memory within 64 MiB of its start; within 5 s after each flood the broker must hold its answer
// to the last inputs: the echo and the statuses and messages of the last line values.
#include "soak/flood_soak.h"

#include <mosquitto.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/vb_error.h"
#include "soak/flood_judge.h"
#include "soak/soak_common.h"
#include "support/mosquitto_broker.h"
#include "support/mqtt_peer.h"
#include "support/running_program.h"

namespace orvanta::soak {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kFloodRate = 50000;  // messages a second, at most
// Twice the visualisation's pace, so that every pass of the panel finds a new value to echo and a gap of
// two seconds means a lost echo, not two clocks beating against each other.
constexpr auto kHeartbeatPeriod = 500ms;
constexpr auto kLongestEchoGap = 2000ms;
constexpr auto kCatchUp = 5s;
constexpr long kMemoryMarginKiB = 64 * 1024;
// A panel that runs away is killed there: the machine is shared, and the flood has failed long before.
constexpr long kStopAboveKiB = 1024 * 1024;

long milliseconds(Clock::duration duration) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(duration).count());
}

// The soak's own connection, served by libmosquitto's thread: it publishes the heartbeat and the line's
// presence and values, and watches what the panel answers, with the longest time between two new echoes.
class Observer {
public:
    Observer(int port, std::vector<std::string> topics) : topics_(std::move(topics)) {
        client_ = mosquitto_new("soak-observer", true, this);
        // Subscribed on every connection: libmosquitto's thread reconnects by itself.
        mosquitto_connect_callback_set(client_, [](mosquitto* client, void* self, int result) {
            if (result != 0) return;
            for (const std::string& topic : static_cast<Observer*>(self)->topics_)
                mosquitto_subscribe(client, nullptr, topic.c_str(), 1);
        });
        mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* message) {
            static_cast<Observer*>(self)->received(
                message->topic, std::string(static_cast<const char*>(message->payload),
                                            static_cast<std::size_t>(message->payloadlen)));
        });
        connected_ = mosquitto_connect(client_, "127.0.0.1", port, 10) == MOSQ_ERR_SUCCESS &&
                     mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
    }
    ~Observer() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    Observer(const Observer&) = delete;
    Observer& operator=(const Observer&) = delete;

    bool connected() const { return connected_; }

    // Retained at QoS 1, as the line system and the visualisation publish.
    void publish(const std::string& topic, const std::string& payload) {
        mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                          1, true);
    }

    std::optional<std::string> last(const std::string& topic) {
        const std::lock_guard lock(mutex_);
        const auto found = last_.find(topic);
        return found == last_.end() ? std::nullopt : std::optional(found->second);
    }
    int count(const std::string& topic) {
        const std::lock_guard lock(mutex_);
        return counts_[topic];
    }
    // The newest number on a counted topic (the heartbeat or its echo).
    std::optional<long> lastCount(const std::string& topic) {
        const std::lock_guard lock(mutex_);
        return counted_[topic].value;
    }
    // The longest time without a new number on a counted topic since the last restart, the time since the
    // last one included.
    Clock::duration longestGap(const std::string& topic, bool restart) {
        const std::lock_guard lock(mutex_);
        Counted& counted = counted_[topic];
        const Clock::duration longest = std::max(counted.longestGap, Clock::now() - counted.at);
        if (restart) counted.longestGap = {};
        return longest;
    }

private:
    struct Counted {
        std::optional<long> value;
        Clock::time_point at = Clock::now();
        Clock::duration longestGap{};
    };

    void received(const std::string& topic, std::string payload) {
        const std::lock_guard lock(mutex_);
        ++counts_[topic];
        if (topic == varTopic(vars::kLiLebenZu) || topic == varTopic(vars::kLiLebenHi)) {
            std::string problem;
            const std::optional<Variant> value = decodeVariablePayload(payload, problem);
            long number = -1;
            try {
                if (value && !value->isArray()) number = toInteger(*value);
            } catch (const VbError&) {
                // not a number: counts as none
            }
            const Clock::time_point now = Clock::now();
            Counted& counted = counted_[topic];
            if (counted.value != number) {
                if (counted.value) counted.longestGap = std::max(counted.longestGap, now - counted.at);
                counted.value = number;
                counted.at = now;
            }
        }
        last_[topic] = std::move(payload);
    }

    const std::vector<std::string> topics_;
    mosquitto* client_;
    bool connected_ = false;
    std::mutex mutex_;
    std::map<std::string, std::string> last_;
    std::map<std::string, int> counts_;
    std::map<std::string, Counted> counted_;
};

// The visualisation's heartbeat, counted up on a thread of its own.
class Heartbeat {
public:
    explicit Heartbeat(Observer& observer)
        : thread_([this, &observer](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  const long next = value % 30000 + 1;
                  observer.publish(varTopic(vars::kLiLebenHi), std::to_string(next));
                  value = next;
                  std::this_thread::sleep_for(kHeartbeatPeriod);
              }
          }) {}
    std::atomic<long> value{0};

private:
    std::jthread thread_;
};

struct FloodFigures {
    std::int64_t sent = 0;
    double seconds = 0;
    int failures = 0;  // publishes refused, reconnections
    std::string problem;
};

// Publishes one flood at QoS 0 for length, at most kFloodRate a second. The client has no thread of its
// own: a publish writes straight to the socket, and nothing more is published while the socket is full,
// so that the count is what left this process, not what piled up in it.
FloodFigures publishFlood(int port, FloodKind kind, Clock::duration length, const LineValuesMaker& line,
                          std::int64_t first, const std::stop_token& stop) {
    FloodFigures figures;
    mosquitto* client = mosquitto_new("soak-flood", true, nullptr);
    if (mosquitto_connect(client, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) {
        figures.problem = "the publisher could not connect";
        mosquitto_destroy(client);
        return figures;
    }
    const Clock::time_point start = Clock::now();
    for (Clock::time_point now = start; now - start < length && !stop.stop_requested(); now = Clock::now()) {
        const auto due =
            static_cast<std::int64_t>(std::chrono::duration<double>(now - start).count() * kFloodRate);
        if (figures.sent >= due || mosquitto_want_write(client)) {
            // Ahead of the rate, or the socket is full: let the network catch up for a moment.
            if (mosquitto_loop(client, 1, 1) != MOSQ_ERR_SUCCESS) {
                ++figures.failures;
                mosquitto_reconnect(client);
            }
            continue;
        }
        for (int batch = 0; batch < 200 && figures.sent < due; ++batch) {
            const FloodMessage message = floodMessage(kind, first + figures.sent, line);
            if (mosquitto_publish(client, nullptr, message.topic.c_str(),
                                  static_cast<int>(message.payload.size()), message.payload.data(), 0,
                                  message.retain) != MOSQ_ERR_SUCCESS) {
                ++figures.failures;
                break;
            }
            ++figures.sent;
        }
        mosquitto_loop(client, 0, 1);  // the broker's answers and the keep-alive
    }
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    while (mosquitto_want_write(client) && mosquitto_loop(client, 100, 1) == MOSQ_ERR_SUCCESS) {
    }
    mosquitto_disconnect(client);
    mosquitto_destroy(client);
    return figures;
}

// The processor time another process has used so far, in seconds; 0 once it has ended.
double processorSecondsOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    std::istringstream fields(stat.substr(std::min(stat.size(), stat.rfind(')') + 1)));
    std::string skipped;
    for (int field = 3; field < 14; ++field) fields >> skipped;  // state .. cmajflt
    long user = 0;
    long system = 0;
    fields >> user >> system;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The resident set of another process in KiB; -1 once it has ended.
long residentKiBOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    return -1;
}

std::uintmax_t fileBytes(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

// Lines of a file from byte offset on, and the last of them.
std::pair<long, std::string> linesFrom(const fs::path& path, std::uintmax_t offset) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    long count = 0;
    std::string last;
    for (std::string line; std::getline(in, line); ++count) last = line;
    return {count, last};
}

// What the broker holds against the last inputs; the echo may be a pass behind the newest heartbeat.
std::string difference(Observer& observer, long heartbeat, const std::string& lineValues,
                       const std::vector<int>& foreign) {
    const long oldest = heartbeat - 2000 / static_cast<long>(kHeartbeatPeriod.count());
    return lastValuesDifference([&](const std::string& topic) { return observer.last(topic); },
                                observer.lastCount(varTopic(vars::kLiLebenZu)), oldest, lineValues, foreign);
}

// The real panel, headless, with its standard output and error appended to files: a pipe that nobody
// reads while the soak measures would stop it.
class PanelProcess {
public:
    PanelProcess(const PlantCopy& plant, const fs::path& out, const fs::path& err)
        : program_("/bin/sh", {"-c", "exec \"$0\" --base \"$1\" --backend mqtt --headless >>\"$2\" 2>>\"$3\"",
                               ORVANTA_BINARY, plant.base(), out.string(), err.string()}) {}
    long residentKiB() const { return residentKiBOf(program_.pid()); }
    double processorSeconds() const { return processorSecondsOf(program_.pid()); }
    void kill() {
        program_.signal(SIGKILL);
        program_.waitForExit(10s);
    }
    // Ctrl-C, and the exit status; -1 when it does not end within 20 s.
    int end() {
        program_.signal(SIGINT);
        return program_.waitForExit(20s);
    }

private:
    testing::RunningProgram program_;
};

}  // namespace

bool runFloodSoak(int floodSeconds) {
    if (!testing::MosquittoBroker::installed()) {
        std::cout << "flood: mosquitto is not installed" << std::endl;
        return false;
    }
    testing::MosquittoBroker broker;
    PlantCopy plant("flood");
    plant.writeProgramIni(
        "[Project]\nLogFileSize=100\nLogFileSystem=True\nLogFileData=False\n"
        "[Runtime]\nBackend=mqtt\n[Mqtt]\nHost=127.0.0.1\nPort=" +
        std::to_string(broker.port()) + "\nClientId=soak-panel\nTopicPrefix=soak\n");
    const LineDescription description = loadLineDescription(plantFile(plant.base(), kLineDescriptionFile));
    const LineValuesMaker line(description);
    const std::vector<int> foreign = line.indices();
    if (foreign.empty()) {
        std::cout << "flood: the demo line has no foreign machine to show line values" << std::endl;
        return false;
    }
    parseLineValues(line(0), "the soak's line values");  // throws if the soak's own values are not valid

    // The simulator gives every variable the panel reads a value and describes the line, then leaves.
    {
        testing::RunningProgram simulator(ORVANTA_SIM_BINARY, {"--base", plant.base(), "--seed", "20261207"});
        if (!simulator.waitForOutput("playing the demo line", 20s)) {
            std::cout << "flood: orvanta-sim did not start: " << simulator.stderrText << std::endl;
            return false;
        }
        simulator.signal(SIGINT);
        simulator.waitForExit(10s);
    }

    std::vector<std::string> watched{varTopic(vars::kLiLebenZu), varTopic(vars::kLiLebenHi),
                                     varTopic(vars::kLiSStatus), lineTopic("display")};
    for (const int m : foreign) watched.push_back(varTopic(vars::indexed(vars::kLiSMessageBase, m)));
    Observer observer(broker.port(), watched);
    if (!observer.connected()) {
        std::cout << "flood: the soak could not connect to its broker" << std::endl;
        return false;
    }
    std::string lastLineValues = line(0);
    std::int64_t nextLineValues = 1;
    observer.publish(lineTopic("values"), lastLineValues);
    observer.publish(lineTopic("online"), "true");
    Heartbeat heartbeat(observer);

    const fs::path out = plant.appPath() + "/panel.out";
    const fs::path err = plant.appPath() + "/panel.err";
    const auto lastError = [&] {
        return linesFrom(err, fileBytes(err) > 2000 ? fileBytes(err) - 2000 : 0).second;
    };
    // A panel that has ended, or was stopped for its memory, is started again for the next flood, so that
    // every flood has figures of its own.
    std::optional<PanelProcess> panel;
    long residentStart = 0;
    const auto startPanel = [&]() {
        panel.reset();
        panel.emplace(plant, out, err);
        std::string problem = "nothing yet";
        for (const auto until = Clock::now() + 30s; !problem.empty() && Clock::now() < until;) {
            std::this_thread::sleep_for(100ms);
            problem = difference(observer, heartbeat.value, lastLineValues, foreign);
        }
        std::this_thread::sleep_for(3s);
        residentStart = panel->residentKiB();
        if (problem.empty() && residentStart > 0) {
            std::cout << "flood: the panel is up, resident " << residentStart << " KiB" << std::endl;
            return true;
        }
        std::cout << "flood: the panel did not show the line within 30 s: "
                  << (residentStart > 0 ? problem : "it has ended")
                  << "; its standard error ends with: " << lastError() << std::endl;
        panel.reset();
        return false;
    };
    std::cout << "flood: " << floodSeconds << " s per flood at up to " << kFloodRate << " messages a second"
              << std::endl;

    bool passed = true;
    for (const Flood& flood : kFloods) {
        if (!panel && !startPanel()) return false;
        const std::uintmax_t errBefore = fileBytes(err);
        const int displaysBefore = observer.count(lineTopic("display"));
        observer.longestGap(varTopic(vars::kLiLebenZu), true);
        observer.longestGap(varTopic(vars::kLiLebenHi), true);
        long residentPeak = panel->residentKiB();
        const double processorBefore = panel->processorSeconds();
        double processor = 0;  // used since the flood began, as last sampled
        const Clock::time_point floodStart = Clock::now();
        bool alive = residentPeak > 0;
        bool stopped = false;

        const std::int64_t first = flood.kind == FloodKind::LineValues ? nextLineValues : 0;
        FloodFigures figures;
        std::atomic<bool> published{false};
        std::jthread publisher([&](std::stop_token stop) {
            figures = publishFlood(broker.port(), flood.kind, std::chrono::seconds(floodSeconds), line, first,
                                   stop);
            published = true;
        });
        // Stops the flood if it still runs; the last line values are those it has published.
        const auto endFlood = [&] {
            if (!publisher.joinable()) return;
            publisher.request_stop();
            publisher.join();
            if (flood.kind == FloodKind::LineValues && figures.sent > 0) {
                nextLineValues = first + figures.sent;
                lastLineValues = line(nextLineValues - 1);
            }
        };
        // Sampled every 100 ms through the flood and the 5 s after it.
        std::optional<Clock::time_point> floodEnd;
        std::optional<long> caughtUpMs;
        // The soak's check of itself: a subscriber of its own from the flood's end on tells when the broker
        // has the last line values, so that the panel is judged only by values the broker had in time.
        std::optional<testing::MqttPeer> lineWatcher;
        std::optional<long> brokerHadLineMs;
        const auto watchLine = [&] {
            if (!lineWatcher) {
                lineWatcher.emplace(broker.port());
                lineWatcher->subscribe(lineTopic("values"));
            }
            const std::vector<std::string> seen = lineWatcher->history(lineTopic("values"));
            if (!brokerHadLineMs && std::find(seen.begin(), seen.end(), lastLineValues) != seen.end())
                brokerHadLineMs = milliseconds(Clock::now() - *floodEnd);
        };
        std::string problem;
        while (alive && (!floodEnd || Clock::now() - *floodEnd < kCatchUp)) {
            std::this_thread::sleep_for(100ms);
            const long resident = panel->residentKiB();
            alive = resident > 0;
            if (alive) processor = std::max(processor, panel->processorSeconds() - processorBefore);
            residentPeak = std::max(residentPeak, resident);
            if (resident - residentStart > kStopAboveKiB) {
                panel->kill();
                alive = false;
                stopped = true;
            }
            if (!floodEnd && published) {
                endFlood();
                floodEnd = Clock::now();
            }
            if (floodEnd) watchLine();
            if (floodEnd && !caughtUpMs) {
                problem = difference(observer, heartbeat.value, lastLineValues, foreign);
                if (problem.empty()) caughtUpMs = milliseconds(Clock::now() - *floodEnd);
            }
        }
        endFlood();
        if (!floodEnd) floodEnd = Clock::now();
        while (!brokerHadLineMs && Clock::now() - *floodEnd < kCatchUp) {
            watchLine();
            std::this_thread::sleep_for(50ms);
        }
        const long longestGapMs = milliseconds(observer.longestGap(varTopic(vars::kLiLebenZu), true));
        const long heartbeatGapMs = milliseconds(observer.longestGap(varTopic(vars::kLiLebenHi), true));
        const double wall = std::chrono::duration<double>(Clock::now() - floodStart).count();
        const auto [errLines, lastErr] = linesFrom(err, errBefore);

        std::cout << "flood " << flood.name << ": " << figures.sent << " messages in " << figures.seconds
                  << " s, " << static_cast<long>(figures.sent / std::max(figures.seconds, 0.001))
                  << " a second"
                  << (figures.failures > 0 ? ", " + std::to_string(figures.failures) + " publish failures"
                                           : "")
                  << (figures.problem.empty() ? "" : ", " + figures.problem) << "\n"
                  << "  heartbeat echo: longest gap " << longestGapMs
                  << " ms (the heartbeat itself, back from the broker: " << heartbeatGapMs
                  << " ms); the panel used " << static_cast<int>(100 * processor / std::max(wall, 0.001))
                  << "% of a processor through the flood and the 5 s after it\n"
                  << "  resident: start " << residentStart << " KiB, peak " << residentPeak << " KiB ("
                  << (residentPeak - residentStart) / 1024 << " MiB more)"
                  << (stopped ? "; the panel was killed at " + std::to_string(kStopAboveKiB / 1024) +
                                    " MiB more, to spare the machine"
                      : alive ? ""
                              : "; the panel has ended")
                  << "\n  after the flood: "
                  << (caughtUpMs ? "the broker held the echo and the last line values after " +
                                       std::to_string(*caughtUpMs) + " ms"
                      : alive ? "not caught up within 5 s: " + problem
                              : "not judged, the panel is gone")
                  << "; the broker had the last line values "
                  << (brokerHadLineMs ? "after " + std::to_string(*brokerHadLineMs) + " ms"
                                      : "not within 5 s")
                  << "\n  line/display published " << observer.count(lineTopic("display")) - displaysBefore
                  << " times; standard error " << errLines << " lines"
                  << (lastErr.empty() ? "" : " (last: " + lastErr.substr(0, 160) + ")") << std::endl;
        passed =
            verdict(std::string("flood ") + flood.name,
                    {{"the panel kept running to the end", alive},
                     {"the publisher reached the broker", figures.problem.empty() && figures.sent > 0},
                     {"the heartbeat was echoed at least every 2 s", longestGapMs <= kLongestEchoGap.count()},
                     {"resident memory stayed within 64 MiB of its start",
                      residentPeak - residentStart <= kMemoryMarginKiB},
                     {"within 5 s the broker held the echo and the last line values", caughtUpMs.has_value()},
                     {"within 5 s the broker had the last line values published (a check of the soak itself)",
                      brokerHadLineMs.has_value()}}) &&
            passed;
        if (!alive) panel.reset();
    }
    if (!panel) return false;
    const int status = panel->end();
    std::cout << "flood: the panel ended with status " << status << std::endl;
    return verdict("flood", {{"the panel ended in order on Ctrl-C", status == 0}}) && passed;
}

}  // namespace orvanta::soak
