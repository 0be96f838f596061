// The live line page's figures: how soon a change of the line reaches a connected viewer's data, what two
// hundred viewers cost the panel, and how soon headless Chromium has drawn the page after its first byte.
//
// The panel's side runs as in the program: the loop on a thread of its own, the line display, the feed
// that makes the snapshots on the loop's thread and the server on its own thread. A change is what a pass
// does when a machine raises an alarm: the slot is handed its text and status, then DataUpdated.
//
// The viewers are plain stream clients (HTTP/1.0, so that the stream comes unchunked), in a process of
// their own for the two hundred, so that the panel's CPU time (getrusage) is its own.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "adapters/embedded/embedded_line_display.h"
#include "adapters/embedded/line_description_file.h"
#include "adapters/web/web_feed.h"
#include "adapters/web/web_server.h"
#include "core/system_event_loop.h"
#include "service/plant_files.h"
#include "support/demo_plant.h"

extern char** environ;

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kDemoPlant = std::string(ORVANTA_SOURCE_DIR) + "/demo/plant";

// The panel's side of the page, on a loop thread of its own.
class LivePanel {
public:
    LivePanel()
        : display_(loop_, loadLineDescription(plantFile(kDemoPlant, kLineDescriptionFile)), nullptr),
          server_(loop_, web::ServerSettings{},
                  [](const std::string& problem) { std::fprintf(stderr, "web: %s\n", problem.c_str()); }) {
        onLoop([this] {
            feed_ = std::make_unique<web::WebFeed>(
                loop_, display_, "bench", [this](std::string json) { server_.publish(std::move(json)); });
        });
    }
    ~LivePanel() {
        onLoop([this] { feed_.reset(); });
        loop_.quit(0);
        thread_.join();
    }

    std::uint16_t port() const { return server_.port(); }
    std::size_t streams() const { return server_.streams(); }

    // What a pass does when an own machine raises an alarm: its slot gets the text and the fault status.
    void raiseAlarm(std::int16_t slot, const std::string& text) {
        loop_.post([this, slot, text] {
            display_.PutMachineText(slot, text);
            display_.PutMachineStatus(slot, 4);
            display_.DataUpdated(true);
        });
    }

private:
    template <typename Task>
    void onLoop(Task task) {
        std::promise<void> done;
        loop_.post([&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
    }

    SystemEventLoop loop_;
    EmbeddedLineDisplay display_;
    web::WebServer server_;
    std::unique_ptr<web::WebFeed> feed_;
    std::thread thread_{[this] { loop_.run(); }};
};

int connectTo(std::uint16_t port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    const std::string request =
        "GET /events HTTP/1.0\r\nHost: localhost\r\nAccept: text/event-stream\r\n\r\n";
    if (::send(socket, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        ::close(socket);
        return -1;
    }
    return socket;
}

// Reads from socket until text has come, or the time is up; what came is kept in buffer.
bool readUntil(int socket, std::string& buffer, const std::string& text, Clock::time_point deadline) {
    char chunk[65536];
    while (buffer.find(text) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd ready{socket, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t got = ::recv(socket, chunk, sizeof chunk, 0);
        if (got <= 0) return false;
        // Only the tail can still hold the start of the text.
        if (buffer.size() > (1 << 20)) buffer.erase(0, buffer.size() - text.size());
        buffer.append(chunk, static_cast<std::size_t>(got));
    }
    return true;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void BM_WebChangeToViewer(benchmark::State& state) {
    constexpr int kChanges = 40;
    for (auto _ : state) {
        LivePanel panel;
        const int viewer = connectTo(panel.port());
        std::string received;
        if (viewer < 0 || !readUntil(viewer, received, "\ndata: ", Clock::now() + std::chrono::seconds(5))) {
            state.SkipWithError("the stream did not start");
            return;
        }
        std::vector<double> latencies;
        for (int change = 1; change <= kChanges; ++change) {
            const std::string text = "Bench alarm " + std::to_string(change) + ".";
            received.clear();
            const auto begin = Clock::now();
            panel.raiseAlarm(static_cast<std::int16_t>(2 + change % 3), text);  // the own machines
            if (!readUntil(viewer, received, text, begin + std::chrono::seconds(2))) {
                state.SkipWithError("a change did not reach the viewer within 2 s");
                break;
            }
            latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::close(viewer);
        state.counters["median_ms"] = median(latencies);
        state.counters["max_ms"] =
            latencies.empty() ? 0 : *std::max_element(latencies.begin(), latencies.end());
    }
}
BENCHMARK(BM_WebChangeToViewer)->Iterations(1)->Unit(benchmark::kMillisecond);

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The viewers' process: connects count streams to the port it is told, counts the snapshots each gets
// until told to stop, and writes the fewest and the most back.
[[noreturn]] void viewers(int commands, int answers, int count) {
    std::uint16_t port = 0;
    if (::read(commands, &port, sizeof port) != sizeof port) _exit(1);
    std::vector<int> sockets;
    std::vector<long> events(static_cast<std::size_t>(count), 0);
    std::vector<pollfd> ready;
    for (int i = 0; i < count; ++i) {
        const int socket = connectTo(port);
        if (socket < 0) _exit(2);
        sockets.push_back(socket);
        ready.push_back({socket, POLLIN, 0});
    }
    ready.push_back({commands, POLLIN, 0});
    std::vector<char> tail(static_cast<std::size_t>(count), '\n');
    char chunk[65536];
    for (;;) {
        if (::poll(ready.data(), ready.size(), 1000) < 0) _exit(3);
        if (ready.back().revents != 0) break;
        for (std::size_t i = 0; i < sockets.size(); ++i) {
            if (ready[i].revents == 0) continue;
            const ssize_t got = ::recv(sockets[i], chunk, sizeof chunk, 0);
            if (got <= 0) {
                ready[i].fd = -1;
                continue;
            }
            // Every snapshot begins a line with "data: ".
            const std::string_view text(chunk, static_cast<std::size_t>(got));
            for (std::size_t at = 0; at + 6 <= text.size(); ++at)
                if (text.compare(at, 6, "data: ") == 0 && (at == 0 ? tail[i] == '\n' : text[at - 1] == '\n'))
                    ++events[i];
            tail[i] = text.back();
        }
    }
    const long counts[2] = {*std::min_element(events.begin(), events.end()),
                            *std::max_element(events.begin(), events.end())};
    if (::write(answers, counts, sizeof counts) != sizeof counts) _exit(4);
    _exit(0);
}

void BM_Web200Viewers(benchmark::State& state) {
    constexpr int kViewers = 200;
    constexpr int kUpdates = 10;  // one a second
    for (auto _ : state) {
        // The viewers' process is made before any thread, so that it starts from a quiet copy.
        int commands[2];
        int answers[2];
        if (::pipe(commands) != 0 || ::pipe(answers) != 0) {
            state.SkipWithError("no pipe");
            return;
        }
        const pid_t child = ::fork();
        if (child == 0) viewers(commands[0], answers[1], kViewers);
        ::close(commands[0]);
        ::close(answers[1]);

        long before = 0;
        long withViewers = 0;
        double cpu = 0;
        double wall = 0;
        {
            LivePanel panel;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            before = withViewers = residentKiB();  // the panel and its page, without a viewer
            const std::uint16_t port = panel.port();
            if (::write(commands[1], &port, sizeof port) != sizeof port) state.SkipWithError("viewers lost");
            const auto deadline = Clock::now() + std::chrono::seconds(20);
            while (panel.streams() < kViewers && Clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (panel.streams() < kViewers) state.SkipWithError("not every viewer was connected");
            std::this_thread::sleep_for(std::chrono::milliseconds(500));

            const double cpuBefore = cpuSeconds();
            const auto begin = Clock::now();
            for (int update = 1; update <= kUpdates; ++update) {
                panel.raiseAlarm(static_cast<std::int16_t>(2 + update % 3),
                                 "Update " + std::to_string(update));
                std::this_thread::sleep_until(begin + std::chrono::seconds(update));
                withViewers = std::max(withViewers, residentKiB());
            }
            cpu = cpuSeconds() - cpuBefore;
            wall = std::chrono::duration<double>(Clock::now() - begin).count();
            const char stop = 's';
            if (::write(commands[1], &stop, 1) != 1) state.SkipWithError("viewers lost");
            long counts[2] = {0, 0};
            if (::read(answers[0], counts, sizeof counts) != sizeof counts) state.SkipWithError("no counts");
            // The snapshot at connection and one for each update.
            state.counters["fewest_snapshots"] = static_cast<double>(counts[0]);
            state.counters["expected_snapshots"] = 1 + kUpdates;
            state.counters["viewers_missing_updates"] = counts[0] < 1 + kUpdates ? 1 : 0;
        }
        ::waitpid(child, nullptr, 0);
        ::close(commands[1]);
        ::close(answers[0]);
        state.counters["cpu_percent_of_a_core"] = 100.0 * cpu / wall;
        state.counters["memory_growth_MiB"] = static_cast<double>(withViewers - before) / 1024.0;
    }
}
BENCHMARK(BM_Web200Viewers)->Iterations(1)->Unit(benchmark::kMillisecond);

// The page load: the real program on a copy of the demo plant, and headless Chromium asked for the page
// again and again; the page notes how long after the first byte its picture was drawn.
void BM_WebPageLoad(benchmark::State& state) {
    constexpr int kLoads = 5;
    if (!fs::exists("/usr/bin/chromium")) {
        state.SkipWithError("no /usr/bin/chromium");
        return;
    }
    const fs::path root = fs::temp_directory_path() / ("orvanta-web-bench-" + std::to_string(::getpid()));
    fs::remove_all(root);
    testing::copyDemoPlant(root / "plant");
    for (auto _ : state) {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const std::string base = (root / "plant").string();
        std::vector<std::string> args{ORVANTA_BINARY, "--base", base, "--headless", "--simulate"};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t panel = 0;
        posix_spawn(&panel, ORVANTA_BINARY, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);

        // "Orvanta: the live line is at http://127.0.0.1:PORT/"
        std::string printed;
        const std::regex urlPattern("http://127\\.0\\.0\\.1:[0-9]+/");
        std::smatch url;
        char chunk[4096];
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!std::regex_search(printed, url, urlPattern) && Clock::now() < deadline) {
            pollfd ready{out[0], POLLIN, 0};
            if (::poll(&ready, 1, 200) <= 0) continue;
            const ssize_t got = ::read(out[0], chunk, sizeof chunk);
            if (got <= 0) break;
            printed.append(chunk, static_cast<std::size_t>(got));
        }
        std::vector<double> drawn;
        if (!url.empty()) {
            const std::string address = url.str();
            for (int load = 0; load < kLoads; ++load) {
                const fs::path profile = root / ("profile-" + std::to_string(load));
                const std::string command =
                    "/usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                    "--disable-background-networking --disable-component-update --disable-sync "
                    "--user-data-dir=" +
                    profile.string() + " --dump-dom " + address + " 2>/dev/null";
                std::string dom;
                if (FILE* chromium = ::popen(command.c_str(), "r")) {
                    while (const std::size_t got = std::fread(chunk, 1, sizeof chunk, chromium))
                        dom.append(chunk, got);
                    ::pclose(chromium);
                }
                std::smatch after;
                if (std::regex_search(dom, after, std::regex("data-drawn-after-ms=\"([0-9.]+)\"")))
                    drawn.push_back(std::stod(after[1].str()));
            }
        }
        ::kill(panel, SIGTERM);
        ::waitpid(panel, nullptr, 0);
        ::close(out[0]);
        if (drawn.size() != static_cast<std::size_t>(kLoads)) {
            state.SkipWithError("the page did not report its drawing in every load");
            break;
        }
        state.counters["median_ms"] = median(drawn);
        state.counters["max_ms"] = *std::max_element(drawn.begin(), drawn.end());
    }
    fs::remove_all(root);
}
BENCHMARK(BM_WebPageLoad)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvanta
